// Device notifications: a window registered for arrivals and removals of USB devices, for the main
// window (through the form) and the command line's hidden window.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/Platform.h"

namespace platform::win32 {

// Registers `window` for arrivals and removals of USB devices; null when that fails. The caller
// owns the registration (UniqueDeviceNotification).
HDEVNOTIFY RegisterUsbDeviceNotification(HWND window);

class UsbDeviceNotifications final : public DeviceNotifications {
 public:
  void SetRecipient(HWND window) { window_ = window; }
  std::uintptr_t Register() override;
  void Unregister(std::uintptr_t handle) override;

 private:
  HWND window_ = nullptr;
};

}  // namespace platform::win32
