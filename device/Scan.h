// The device scan: list the attached devices, check the single one's firmware and read its
// identification, and say what that concludes. What is shown of it is the caller's matter.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "updatelib/Gateway.h"

namespace device {

// What a scan concludes, in the order of its checks: how many devices the library listed, then
// the one device's chip, running code, firmware version, image fit and identification, and last the
// verdict on its firmware. A device the command line lists on its own ends in one of the states
// from UnsupportedChip on.
enum class ScanOutcome {
  NoDevice,
  MultipleDevices,
  UnsupportedChip,
  WrongCodeMode,
  VersionReadFailed,
  ImageMismatch,
  IdentityFailed,
  UpdateRequired,
  UpToDate,
};

// Every check passed and the device can be programmed (it may not need to be).
constexpr bool Updatable(ScanOutcome outcome) {
  return outcome == ScanOutcome::UpdateRequired || outcome == ScanOutcome::UpToDate;
}
constexpr bool NeedsUpdate(ScanOutcome outcome) { return outcome == ScanOutcome::UpdateRequired; }

inline constexpr std::string_view TargetFirmwareVersion = "00.01.01.07";
inline constexpr std::int32_t AcceptedChipTypes[] = {11, 13};
inline constexpr std::int32_t RequiredRunningCodeMode = 2;

// A burst of device changes has settled once none has come for this long: the window rescans
// then, and the command line waits as long before it lists the devices again.
inline constexpr unsigned RescanDelay = 200;  // milliseconds

// The trimmed vendor and product identification (24 bytes at most, NUL-terminated).
using DeviceIdentity = std::array<char, 25>;
using updatelib::DevicePath;
// A firmware version text as the library gave it (79 characters at most, NUL-terminated).
using FirmwareVersion = std::array<char, updatelib::VersionBufferSize>;

// The devices the library reports: its count as given and a copy of each path it wrote, up to
// the 16 slots. A slot whose path has no terminator inside its 260 bytes is not usable.
struct DeviceList {
  std::int32_t count = 0;
  std::size_t listed = 0;  // the count, kept to 0..16
  std::array<DevicePath, updatelib::DeviceListSlotCount> paths{};
  std::array<bool, updatelib::DeviceListSlotCount> usable{};
};

// What the checks of one device read and concluded, as far as they got.
struct DeviceCheck {
  ScanOutcome outcome = ScanOutcome::UnsupportedChip;
  std::optional<std::int32_t> chipType;
  std::optional<std::int32_t> runningMode;
  std::optional<FirmwareVersion> firmware;  // when the library gave a version
  std::optional<DeviceIdentity> identity;   // read once the checks passed; nothing when that failed
};

// What a scan found, before anything is shown.
struct ScanReport {
  ScanOutcome outcome = ScanOutcome::NoDevice;
  std::int32_t count = 0;      // as the library reported it
  DevicePath path{};           // the one device's, when the library listed exactly one usable path
  DeviceIdentity identity{};   // read when the outcome is UpdateRequired or UpToDate
  FirmwareVersion firmware{};  // the one device's version text, when the library gave one
};

// Checks chip type, running code mode, firmware version and image fit, stopping at the first
// failing step: the outcome is that step's failure, or UpToDate or UpdateRequired when every step
// passed. The library gets `workingPath` and may write into it.
DeviceCheck CheckDeviceFirmware(updatelib::LibraryGateway& library, char* workingPath);

// The device's vendor and product identification, trimmed of leading and trailing blanks and
// control bytes; nothing when the library could not read it.
std::optional<DeviceIdentity> ReadDeviceIdentity(updatelib::LibraryGateway& library,
                                                 char* workingPath);

// Asks the library for the devices, in 16 separately allocated slots with room to spare.
DeviceList ListDevices(updatelib::LibraryGateway& library);

// The checks of one device, in the scan's order: the firmware checks, then, when they passed, the
// identification (IdentityFailed when it could not be read).
DeviceCheck CheckDevice(updatelib::LibraryGateway& library, const DevicePath& path);

// Asks the library for the devices and checks the single one. A count the library should never
// report (below 0) or a path with no terminator inside its buffer counts as no usable device.
ScanReport ScanDevices(updatelib::LibraryGateway& library);

}  // namespace device
