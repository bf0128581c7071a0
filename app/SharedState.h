// The state the window's scan, update run and device-change handling share; owned by the form.
#pragma once

#include <cstdint>

#include "device/Scan.h"
#include "updatelib/EntryPoints.h"

namespace app {

struct SharedState {
  // True while an update runs; device changes are then swallowed.
  bool UpdateInProgress = false;
  // 0 unless the last scan found a device needing an update.
  std::int32_t SelectedDeviceCount = 0;
  // That device's NUL-terminated path; all zero otherwise.
  updatelib::DevicePath SelectedDevicePath{};
  // Trimmed vendor and product identification of the last device identified.
  device::DeviceIdentity DeviceInfoText{};
};

}  // namespace app
