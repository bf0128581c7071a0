// The device scan: find the single attached device, check its firmware and identification, and
// turn the outcome into three status lines and the button the user gets.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "app/SharedState.h"
#include "platform/Platform.h"
#include "updatelib/Gateway.h"

namespace device {

enum class ScanOutcome { Ready, NoDevice, MultipleDevices, CheckFailed, IdentityFailed };

// What CheckDeviceFirmware concluded; 0 before the check.
enum FirmwareCheckResult : std::int32_t {
  NotChecked = 0,
  UpToDate = 1,
  UpdateRequired = 2,
  UnsupportedChip = 3,
  WrongCodeMode = 4,
  VersionReadFailed = 5,
  ImageMismatch = 6,
};

inline constexpr std::string_view TargetFirmwareVersion = "00.01.01.07";
inline constexpr std::int32_t AcceptedChipTypes[] = {11, 13};
inline constexpr std::int32_t RequiredRunningCodeMode = 2;

// What a scan found, before anything is shown.
struct ScanReport {
  ScanOutcome outcome = ScanOutcome::Ready;
  std::int32_t result = NotChecked;
  std::int32_t count = 0;  // as the library reported it
  std::array<char, updatelib::PathBufferSize> path{};
};

// The three status lines and whether Update (rather than Exit) is offered.
struct ScanView {
  std::array<std::string_view, 3> lines;
  bool offerUpdate = false;
};

// Checks chip type, running code mode, firmware version and image fit, stopping at the first
// failing step. Returns true when every step passed; `result` is then UpToDate or
// UpdateRequired, otherwise the failure.
bool CheckDeviceFirmware(updatelib::LibraryGateway& library, char* path, std::int32_t& result);

// Reads the device's vendor and product identification into `state.DeviceInfoText`, trimmed of
// leading and trailing blanks and control bytes. On failure returns false and leaves it as it was.
bool ReadDeviceIdentity(updatelib::LibraryGateway& library, char* path, app::SharedState& state);

// Asks the library for the devices and checks the single one. A count the library should never
// report (below 0) or a path with no terminator inside its buffer counts as no usable device.
ScanReport ScanDevices(updatelib::LibraryGateway& library, app::SharedState& state);

// The lines and button for a scan's outcome. Line 2 of a Ready outcome views `state`.
ScanView ViewOf(const ScanReport& report, const app::SharedState& state);

// Records the device of a Ready, UpdateRequired report as the selection and shows the report's
// lines and button (each button's enabled state before its visibility, Update before Exit).
void ShowScanReport(const ScanReport& report, app::SharedState& state,
                    platform::Controls& controls);

// The whole scan as the window runs it: hides both buttons and both status areas, clears the
// selection, scans, records a device needing an update, and shows the outcome. When the scan
// throws (the library faulted), the window shows "no device" with Exit and nothing selected before
// the exception goes on, so the window is never left without lines or a button.
void RefreshBtnClick(updatelib::LibraryGateway& library, app::SharedState& state,
                     platform::Controls& controls);

}  // namespace device
