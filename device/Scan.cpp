// The device scan and firmware status check; see Scan.h.
#include "device/Scan.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace device {
namespace {

bool Terminated(const char* buffer, std::size_t size) {
  return std::memchr(buffer, '\0', size) != nullptr;
}

// Compares the first characters of `version` with the target; a shorter text differs at its end.
bool IsTargetVersion(const char* version) {
  for (std::size_t i = 0; i < TargetFirmwareVersion.size(); ++i) {
    if (version[i] != TargetFirmwareVersion[i]) return false;  // also stops at the terminator
  }
  return true;
}

}  // namespace

DeviceCheck CheckDeviceFirmware(updatelib::LibraryGateway& library, char* workingPath) {
  DeviceCheck check;
  // The library is promised 80 bytes and cannot tell there are more; only those 80 are read.
  char version[updatelib::VersionBufferSize + updatelib::BufferSlack] = {};

  int chip = 0;
  library.ZR_GetChipType(workingPath, &chip);
  check.chipType = chip;
  if (std::find(std::begin(AcceptedChipTypes), std::end(AcceptedChipTypes), chip) ==
      std::end(AcceptedChipTypes)) {
    check.outcome = ScanOutcome::UnsupportedChip;
    return check;
  }
  int mode = 0;
  library.ZR_GetRunningCodeMode(workingPath, &mode);
  check.runningMode = mode;
  if (mode != RequiredRunningCodeMode) {
    check.outcome = ScanOutcome::WrongCodeMode;
    return check;
  }
  if (library.ZR_GetFWVersion(workingPath, version) == 0) {
    check.outcome = ScanOutcome::VersionReadFailed;
    return check;
  }
  check.firmware.emplace();
  std::memcpy(check.firmware->data(), version, updatelib::VersionBufferSize - 1);
  if (library.ZR_CheckLoadBinFileMatch(workingPath, 0) == 0) {
    check.outcome = ScanOutcome::ImageMismatch;
    return check;
  }
  // Only the first 11 characters are compared, so a text with no terminator is read no further;
  // a newer version is offered the update as well: there is one right version.
  check.outcome = IsTargetVersion(version) ? ScanOutcome::UpToDate : ScanOutcome::UpdateRequired;
  return check;
}

std::optional<DeviceIdentity> ReadDeviceIdentity(updatelib::LibraryGateway& library,
                                                 char* workingPath) {
  // Promised 40 bytes; the rest is room for a library that writes more.
  unsigned char buffer[updatelib::InquiryBufferSize + updatelib::BufferSlack] = {};
  DeviceIdentity text{};
  int length = 0;
  if (library.ZR_Inquiry(workingPath, buffer, static_cast<int>(updatelib::InquiryBufferSize),
                         &length) == 0) {
    return std::nullopt;
  }
  // Bytes 8-15: vendor identification; 16-31: product identification.
  std::memcpy(text.data(), buffer + 8, 24);

  std::size_t end = strnlen(text.data(), 24);
  std::size_t begin = 0;
  while (begin < end && static_cast<unsigned char>(text[begin]) < 33) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) < 33) --end;
  DeviceIdentity trimmed{};
  std::memcpy(trimmed.data(), text.data() + begin, end - begin);
  return trimmed;
}

DeviceList ListDevices(updatelib::LibraryGateway& library) {
  // Each slot is a separate zero-filled buffer holding an empty text, larger than the 260 bytes
  // the library is promised; all are released before this returns.
  constexpr std::size_t SlotSize = updatelib::PathBufferSize + updatelib::BufferSlack;
  std::array<std::unique_ptr<char[]>, updatelib::DeviceListSlotCount> slotBuffers;
  std::array<char*, updatelib::DeviceListSlotCount> slots{};
  for (std::size_t i = 0; i < slots.size(); ++i) {
    slotBuffers[i] = std::make_unique<char[]>(SlotSize);
    slots[i] = slotBuffers[i].get();
  }

  DeviceList list;
  int count = 0;
  library.ZR_GetDeviceList(slots.data(), &count);
  list.count = count;
  list.listed = static_cast<std::size_t>(std::clamp(count, 0, static_cast<int>(slots.size())));
  // The paths are read from the buffers themselves: the library may have overwritten the array
  // of pointers it was handed.
  for (std::size_t i = 0; i < list.listed; ++i) {
    const char* slot = slotBuffers[i].get();
    list.usable[i] = Terminated(slot, updatelib::PathBufferSize);
    // A terminated slot has at most 259 characters; the rest of the copy stays zero.
    if (list.usable[i]) std::strncpy(list.paths[i].data(), slot, list.paths[i].size() - 1);
  }
  return list;
}

DeviceCheck CheckDevice(updatelib::LibraryGateway& library, const DevicePath& path) {
  updatelib::WorkingPath workingPath(path);
  DeviceCheck check = CheckDeviceFirmware(library, workingPath.Get());
  if (!Updatable(check.outcome)) return check;
  check.identity = ReadDeviceIdentity(library, workingPath.Get());
  if (!check.identity) check.outcome = ScanOutcome::IdentityFailed;
  return check;
}

ScanReport ScanDevices(updatelib::LibraryGateway& library) {
  ScanReport report;
  const DeviceList list = ListDevices(library);
  report.count = list.count;
  if (list.count > 1) {
    report.outcome = ScanOutcome::MultipleDevices;
    return report;
  }
  // No device, or a count or path the library should never give: nothing usable either way.
  if (list.count <= 0 || !list.usable[0]) return report;

  report.path = list.paths[0];
  const DeviceCheck check = CheckDevice(library, report.path);
  report.outcome = check.outcome;
  if (check.identity) report.identity = *check.identity;
  if (check.firmware) report.firmware = *check.firmware;
  return report;
}

}  // namespace device
