// Device notifications: the registration of a window for arrivals and removals of USB devices.
#include "platform/win32/DeviceNotifications.h"

#include <dbt.h>

#include "platform/win32/UsbDeviceInterface.h"

namespace platform::win32 {

HDEVNOTIFY RegisterUsbDeviceNotification(HWND window) {
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  static_assert(sizeof filter == 32, "the filter record is 32 bytes");
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = UsbDeviceInterfaceClass;
  return RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

std::uintptr_t UsbDeviceNotifications::Register() {
  return reinterpret_cast<std::uintptr_t>(RegisterUsbDeviceNotification(window_));
}

void UsbDeviceNotifications::Unregister(std::uintptr_t handle) {
  if (handle != 0) UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(handle));
}

}  // namespace platform::win32
