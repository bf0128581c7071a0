// The attached devices as the commands see them, and what a command did with each: typed, so that
// the commands decide over them and the report turns them into words and lines, each in one place.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device/Scan.h"
#include "update/Attempts.h"
#include "updatelib/Gateway.h"

namespace cli {

// What a command did with one device.
// In the order of ResultOf's table (Report.cpp).
enum class DeviceResult {
  Skipped,       // not chosen, or another program held the programming lock
  UpToDate,      // already at the target
  NotUpdatable,  // a check failed
  Updated,       // programmed; runs the target after a power cycle
  Verified,      // station: programmed and checked after its power cycle
  Pending,       // programmed earlier, waits for its power cycle: not programmed again
  Failed,        // programming failed, or the device was wrong after its power cycle
};

// How a unit left the station, and why.
enum class StationOutcome {
  NotUpdatable,          // failed: a check failed
  AlreadyCurrent,        // passed: already at the target
  ProgrammingFailed,     // failed
  Verified,              // passed: programmed, and at the target after its power cycle
  WrongAfterPowerCycle,  // failed: programmed, then not at the target
  Unverified,            // programmed, then Ctrl+C before its power cycle was checked
};

// What one device contributes to a command's exit code; the worst device decides (ExitCodeOf).
enum class Verdict {
  UpToDate,
  NeedsUpdate,
  Interrupted,  // an attempt on it was cut short: it needs the update
  DidNotTake,   // its update did not take after its power cycle: it needs the update
  Busy,         // another Flashwright program is programming it right now
  NotUpdatable,
  PendingPowerCycle,
  Updated,
  Failed,
};

// One usable device of the library's list.
struct Entry {
  int index = 0;  // 1-based slot of the library's list
  device::DevicePath path{};
  device::DeviceCheck check;
  std::optional<DeviceResult> result;
  long long durationMs = 0;
  // What the records say of it, and the record itself when there is one.
  update::Remembered remembered = update::Remembered::Nothing;
  std::optional<platform::AttemptRecord> record;

  // The library's bytes, as it gave them (the path is handed back to it).
  std::string Identity() const;
  std::string Firmware() const;
  bool Updatable() const { return device::Updatable(check.outcome); }
  bool NeedsUpdate() const { return device::NeedsUpdate(check.outcome); }
  // Programmed successfully earlier and still at the old version: it waits for its power cycle.
  bool Pending() const {
    return NeedsUpdate() && remembered == update::Remembered::PendingPowerCycle;
  }
  bool Interrupted() const { return remembered == update::Remembered::Interrupted; }
  // Programmed successfully earlier, power-cycled, and still at the old version.
  bool DidNotTake() const { return remembered == update::Remembered::DidNotTake; }
  // Another Flashwright program that still runs is programming it right now.
  bool UnderWay() const { return remembered == update::Remembered::UnderWay; }
};

// Every usable device of the library's list, checked in the scan's order. `complete` tells whether
// that is the library's whole list (every slot usable, a count from 0 to 16).
std::vector<Entry> Inspect(updatelib::LibraryGateway& library, bool* complete = nullptr);

// Reads the attempt records against `entries` (update::Attempts::Review: the records the devices
// end are ended) and sets what they say of each entry. Returns the records ended, each with why:
// confirmed, another unit at the path, or the update did not take.
std::vector<update::Ended> Review(std::vector<Entry>& entries, update::Attempts& attempts,
                                  bool complete);

}  // namespace cli
