// The state the scan, the update run and device-change monitoring share; owned by the window.
#pragma once

#include <array>
#include <cstdint>

#include "updatelib/EntryPoints.h"

namespace core {

struct SharedState {
  // True while an update runs; device changes are then swallowed.
  bool UpdateInProgress = false;
  // 0 unless the last scan found a device needing an update.
  std::int32_t SelectedDeviceCount = 0;
  // That device's NUL-terminated path; all zero otherwise.
  updatelib::DevicePath SelectedDevicePath{};
  // Trimmed vendor and product identification of the last device identified (24 bytes at most).
  std::array<char, 25> DeviceInfoText{};
};

}  // namespace core
