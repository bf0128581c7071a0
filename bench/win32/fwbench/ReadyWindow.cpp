// Finds a measured program's window and waits for it to be ready; see ReadyWindow.h.
#include "bench/win32/fwbench/ReadyWindow.h"

#include <string>

#include "bench/win32/fwbench/Clock.h"

namespace fwbench {
namespace {

using namespace std::chrono_literals;

struct FindContext {
  DWORD processId;
  const char* className;
  HWND found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM parameter) {
  auto* context = reinterpret_cast<FindContext*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != context->processId || !IsWindowVisible(window)) return TRUE;
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::string(name) != context->className) return TRUE;
  context->found = window;
  return FALSE;
}

// The text of another process's control. For a window of another process GetWindowText reads
// the text the system keeps for it and sends nothing, so it never waits on a busy program.
std::string ControlText(HWND control) {
  char text[256] = {};
  GetWindowTextA(control, text, sizeof text);
  return text;
}

// A top-level window of `processId` and class `className` that is visible, or nullptr. One
// EnumWindows pass on this desktop only: cheap enough to poll every millisecond.
HWND FindVisibleWindow(DWORD processId, const char* className) {
  FindContext context{processId, className, nullptr};
  EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&context));
  return context.found;
}

}  // namespace

HWND WaitReady(const e2e::Process& process, const char* className, const char* line3) {
  const double deadline = NowMs() + ReadyTimeoutMs;
  while (NowMs() < deadline) {
    if (HWND window = FindVisibleWindow(process.Id(), className)) {
      HWND line = line3 ? e2e::FindDescendantById(window, Line3Id) : nullptr;
      if (!line3 || (line && ControlText(line) == line3)) {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
        return window;
      }
    }
    if (!process.Running()) return nullptr;
    Sleep(1);
  }
  return nullptr;
}

void CloseProgram(e2e::Process& process, HWND window) {
  if (window) PostMessageA(window, WM_CLOSE, 0, 0);
  if (!process.WaitForExit(10s)) process.Kill();
}

}  // namespace fwbench
