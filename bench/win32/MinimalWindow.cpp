// The floor for start-up and idle measurements: registers a class, opens one visible window and
// runs a message loop until the window is closed (or two minutes have passed, so a forgotten
// instance ends by itself). Nothing else: no resources, no libraries beyond the system's. Built
// with FWBENCH_PROBE (and bench/win32/Probe.cpp) it also marks where its start-up phases end.
#include <windows.h>

#ifdef FWBENCH_PROBE
#include "bench/win32/Probe.h"
#define END_OF_PHASE(name) fwbench::probe::EndOfPhase(name)
#else
#define END_OF_PHASE(name)
#endif

namespace {

constexpr char ClassName[] = "FwbMinimalWindow";
constexpr UINT_PTR LifetimeTimerId = 1;
constexpr UINT LifetimeMs = 120000;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == LifetimeTimerId) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  END_OF_PHASE("process start to main");
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = ClassName;
  if (!RegisterClassExA(&windowClass)) return 1;

  HWND window = CreateWindowExA(0, ClassName, "Minimal", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  END_OF_PHASE("window");
  // A one-shot safety net; it fires long after any measurement has ended.
  SetTimer(window, LifetimeTimerId, LifetimeMs, nullptr);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  END_OF_PHASE("window shown and painted");

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
