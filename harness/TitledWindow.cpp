// Test-owned top-level windows on their own threads; see TitledWindow.h.
#include "harness/TitledWindow.h"

#include <stdexcept>

namespace e2e {
namespace {

constexpr char WindowClass[] = "FlashwrightE2eTitledWindow";

void RegisterWindowClass(WNDPROC procedure) {
  static std::once_flag once;
  std::call_once(once, [procedure] {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    windowClass.lpszClassName = WindowClass;
    RegisterClassExA(&windowClass);
  });
}

}  // namespace

TitledWindow::TitledWindow(std::string title, OnClose onClose, Millis hangFor)
    : title_(std::move(title)), onClose_(onClose), hangFor_(hangFor) {
  RegisterWindowClass(WindowProc);
  stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  thread_ = std::thread([this, ready] { Run(ready); });
  WaitForSingleObject(ready, 10000);
  CloseHandle(ready);
  if (window_ == nullptr) {
    SetEvent(stop_);
    thread_.join();
    CloseHandle(stop_);
    throw std::runtime_error("could not create the window \"" + title_ + "\"");
  }
}

TitledWindow::~TitledWindow() {
  SetEvent(stop_);
  if (thread_.joinable()) thread_.join();
  CloseHandle(stop_);
}

std::vector<std::chrono::steady_clock::time_point> TitledWindow::CloseRequests() const {
  std::lock_guard lock(mutex_);
  return closeRequests_;
}

void TitledWindow::Run(HANDLE ready) {
  // Out of the way of the program's window, and never activated, so it takes no focus from it.
  HWND window = CreateWindowExA(WS_EX_NOACTIVATE, WindowClass, title_.c_str(), WS_OVERLAPPEDWINDOW,
                                0, 0, 240, 80, nullptr, nullptr, GetModuleHandleA(nullptr), this);
  window_ = window;
  if (window) ShowWindow(window, SW_SHOWNOACTIVATE);
  SetEvent(ready);
  if (!window) return;

  if (hangFor_ > Millis::zero()) {
    // Hung: nothing sent to the window is handled meanwhile.
    WaitForSingleObject(stop_, static_cast<DWORD>(hangFor_.count()));
  }
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &stop_, FALSE, INFINITE, QS_ALLINPUT);
    if (woken != WAIT_OBJECT_0 + 1) break;  // stopped (or failed)
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  if (IsWindow(window)) DestroyWindow(window);
}

LRESULT CALLBACK TitledWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<TitledWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self != nullptr && message == WM_CLOSE) {
    {
      std::lock_guard lock(self->mutex_);
      self->closeRequests_.push_back(std::chrono::steady_clock::now());
    }
    if (self->onClose_ == OnClose::Stay) return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace e2e
