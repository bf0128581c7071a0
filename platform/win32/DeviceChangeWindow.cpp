// The command line's hidden window; see DeviceChangeWindow.h.
#include "platform/win32/DeviceChangeWindow.h"

#include <dbt.h>

#include <algorithm>

#include "platform/win32/DeviceNotifications.h"

namespace platform::win32 {
namespace {

constexpr char ClassName[] = "FlashwrightCliDevices";
constexpr UINT_PTR SettleTimerId = 1;

// The window whose procedure runs, while it lives.
DeviceChangeWindow* current = nullptr;

}  // namespace

DeviceChangeWindow::~DeviceChangeWindow() {
  Unblock();
  notification_.Reset();
  window_.Reset();
  if (current == this) current = nullptr;
}

void DeviceChangeWindow::Watch() {
  if (window_) return;
  current = this;
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &WindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = ClassName;
  RegisterClassExA(&windowClass);
  window_.Reset(CreateWindowExA(0, ClassName, "flashwright-cli", WS_POPUP, 0, 0, 0, 0, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr));
  notification_.Reset(RegisterUsbDeviceNotification(window_.Get()));
}

DeviceChanges::Wait DeviceChangeWindow::WaitForChange(std::chrono::milliseconds settle,
                                                      std::chrono::milliseconds timeout) {
  Watch();
  settle_ = static_cast<UINT>(settle.count());
  settled_ = false;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  HANDLE noted = interrupts_.NotedEvent();
  for (;;) {
    if (interrupts_.Requested()) return Wait::Interrupted;
    if (settled_) return Wait::Changed;
    const auto now = std::chrono::steady_clock::now();
    // A change that came keeps the wait going until it has settled.
    if (now >= deadline && !changing_) return Wait::TimedOut;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    const DWORD wait = changing_ ? 100 : static_cast<DWORD>(std::max<long long>(left.count(), 1));
    MsgWaitForMultipleObjectsEx(1, &noted, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

void DeviceChangeWindow::Block(std::string_view reason) {
  if (sleepAndShutdown_.Held()) return;
  Watch();
  sleepAndShutdown_.Hold(window_.Get(), reason);
}

void DeviceChangeWindow::Unblock() { sleepAndShutdown_.Release(); }

LRESULT CALLBACK DeviceChangeWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                                LPARAM lParam) {
  DeviceChangeWindow* self = current;
  if (self != nullptr && message == WM_DEVICECHANGE) {
    if (wParam == DBT_DEVNODES_CHANGED || wParam == DBT_DEVICEREMOVECOMPLETE) {
      // A burst of changes settles once it has been quiet for the delay.
      self->changing_ = true;
      SetTimer(window, SettleTimerId, self->settle_, nullptr);
    }
    return TRUE;
  }
  if (self != nullptr && message == WM_TIMER && wParam == SettleTimerId) {
    KillTimer(window, SettleTimerId);
    self->changing_ = false;
    self->settled_ = true;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace platform::win32
