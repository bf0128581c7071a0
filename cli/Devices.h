// The attached devices as the commands see them, and what a command did with each: typed, so that
// the report turns them into words, lines and exit codes in one place.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/Scan.h"
#include "updatelib/Gateway.h"

namespace cli {

// What a command did with one device.
// In the order of ResultWord's table.
enum class DeviceResult {
  Skipped,       // not chosen, or another program held the programming lock
  UpToDate,      // already at the target
  NotUpdatable,  // a check failed
  Updated,       // programmed; runs the target after a power cycle
  Verified,      // station: programmed and checked after its power cycle
  Failed,        // programming failed, or the device was wrong after its power cycle
};

// One usable device of the library's list.
struct Entry {
  int index = 0;  // 1-based slot of the library's list
  device::DevicePath path{};
  device::DeviceCheck check;
  std::optional<DeviceResult> result;
  long long durationMs = 0;

  // The library's bytes, as it gave them (the path is handed back to it).
  std::string Identity() const;
  std::string Firmware() const;
  bool Updatable() const { return device::Updatable(check.outcome); }
  bool NeedsUpdate() const { return device::NeedsUpdate(check.outcome); }
};

// Every usable device of the library's list, checked in the scan's order.
std::vector<Entry> Inspect(updatelib::LibraryGateway& library);

}  // namespace cli
