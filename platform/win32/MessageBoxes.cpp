// Message boxes that count as the program's own windows while they are up, and the closer of a
// window by its title that spares those own windows.
#include "platform/win32/MessageBoxes.h"

#include <algorithm>
#include <vector>

#include "platform/UniqueResource.h"

namespace platform::win32 {
namespace {

BOOL CALLBACK CollectEnabledWindow(HWND window, LPARAM list) {
  // Hidden ones too: a window shown while the box is up must not take input either.
  if (IsWindowEnabled(window)) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  }
  return TRUE;
}

// While alive, counts the first top-level window the calling thread creates among the program's
// own windows: the message box the call shows, which is created before the box handles any
// message. Nested captures (a box shown behind a box) each get their own box.
class FirstWindowCapture {
 public:
  // The hook sees nothing before this constructor returns: no window is created meanwhile.
  explicit FirstWindowCapture(OwnWindows& ownWindows)
      : ownWindows_(ownWindows),
        previous_(current_),
        hook_(SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId())) {
    current_ = this;
  }
  ~FirstWindowCapture() {
    if (hook_) UnhookWindowsHookEx(hook_);
    current_ = previous_;
    if (captured_) ownWindows_.Remove(captured_);
  }
  FirstWindowCapture(const FirstWindowCapture&) = delete;
  FirstWindowCapture& operator=(const FirstWindowCapture&) = delete;

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && current_ && !current_->captured_) {
      const auto* create = reinterpret_cast<const CBT_CREATEWNDA*>(lParam);
      if ((create->lpcs->style & WS_CHILD) == 0) {
        current_->captured_ = reinterpret_cast<HWND>(wParam);
        current_->ownWindows_.Add(current_->captured_);
      }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }

  static thread_local FirstWindowCapture* current_;
  OwnWindows& ownWindows_;
  FirstWindowCapture* previous_;
  HHOOK hook_;
  HWND captured_ = nullptr;
};

thread_local FirstWindowCapture* FirstWindowCapture::current_ = nullptr;

}  // namespace

void OwnWindows::Remove(HWND window) {
  windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
}

bool OwnWindows::Contains(HWND window) const {
  return std::find(windows_.begin(), windows_.end(), window) != windows_.end();
}
int MessageBoxes::ShowOwnBox(HWND owner, const char* text, const char* caption, UINT style) {
  const FirstWindowCapture capture(ownWindows_);
  return MessageBoxA(owner, text, caption, style);
}

void MessageBoxes::ShowPlain(std::string_view text, std::string_view caption) {
  const std::string message(text);
  const std::string title(caption);
  ShowOwnBox(nullptr, message.c_str(), title.c_str(), MB_OK);
}

void MessageBoxes::ShowError(std::string_view text) {
  const std::string message(text);
  // Every window of the program is disabled while the box is up; their messages go on.
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow,
                    reinterpret_cast<LPARAM>(&disabled));
  for (HWND window : disabled) EnableWindow(window, FALSE);
  const ScopeExit enableAgain([&] {
    for (HWND window : disabled) {
      if (IsWindow(window)) EnableWindow(window, TRUE);
    }
  });
  // The application window is gone when the failure ended the program's start.
  HWND owner = IsWindow(owner_) ? owner_ : nullptr;
  ShowOwnBox(owner, message.c_str(), title_.c_str(), MB_OK | MB_ICONSTOP);  // modal to the owner
}
void TitledWindowCloser::CloseWindowTitled(const char* title) {
  // FindWindowEx compares the whole title, letter case ignored, over top-level windows. The
  // program's own are skipped (named message.exe, its application window and boxes are titled
  // so); any other window of this process, such as a note of the library's, is asked too.
  HWND window = nullptr;
  do {
    window = FindWindowExA(nullptr, window, nullptr, title);
    if (window == nullptr) return;
  } while (ownWindows_.Contains(window));
  DWORD_PTR ignored = 0;
  // Never hang on another program: a hung window is given up on at once, a slow one after the
  // wait. Messages sent to this thread meanwhile are still handled.
  SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, WaitMilliseconds,
                      &ignored);
}

}  // namespace platform::win32
