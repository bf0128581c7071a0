// The records of programming attempts and what they mean for a device: the intent is written
// before the programming call and completed with its outcome after it, so a run cut short leaves
// a trace, and a device that was programmed is not programmed again before its power cycle.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AttemptStore.h"
#include "updatelib/Gateway.h"

namespace update {

// Which program makes the attempts; each record names it.
enum class Program { Window, Update, Station };
std::string_view ProgramName(Program program);

// A successful programming leaves its device pending a power cycle for at most this long (a week):
// many PCs keep their USB ports powered through a restart, so a restart ends nothing, and a
// deployment that restarts on 3010 must not program, restart and program again. Past it, a device
// still at the old version needs the update again. Interrupted attempts are forgotten after as
// long.
inline constexpr std::int64_t RecordLifetimeSeconds = std::int64_t{7} * 24 * 60 * 60;

// What the records say of an attached device.
enum class Remembered {
  Nothing,
  Interrupted,        // an attempt never completed, and the program that made it is gone
  PendingPowerCycle,  // programmed successfully; runs the new firmware after a power cycle
};

// A device as a run found it.
struct SeenDevice {
  updatelib::DevicePath path{};
  bool atTarget = false;  // it reports the target version
};

// A record a review ended because the device reported the target: the update is confirmed.
struct Confirmed {
  platform::AttemptRecord record;
};

// The intent could not be written (update::ProgramDevice decides whether programming goes on).
class RecordFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The records as one run sees them. Callers hold the programming lock while they use it, so that
// no other program writes the records meanwhile.
class Attempts {
 public:
  Attempts(platform::AttemptStore& store, Program program) : store_(store), program_(program) {}

  // Reads the records and ends those the devices found end: a pending or interrupted record whose
  // device reports the target (confirmed, returned), a completed one whose device is not attached
  // when `complete` says `attached` is the library's whole list (unplugged: a power cycle), and any
  // past RecordLifetimeSeconds.
  std::vector<Confirmed> Review(const std::vector<SeenDevice>& attached, bool complete);
  // After Review: what the records say of the device at `path`, and the record itself.
  Remembered StateOf(const updatelib::DevicePath& path) const;
  const platform::AttemptRecord* RecordOf(const updatelib::DevicePath& path) const;

  // Whether another program that still runs is programming a device now (reads the records).
  bool UnderWayElsewhere() const;

  // Writes the intent before the programming call; throws RecordFailure when it cannot be kept.
  void Begin(const updatelib::DevicePath& path, std::string_view identity,
             std::string_view versionBefore);
  // Completes the record begun last with the call's outcome. Returns an error text, empty when the
  // record was kept; the outcome stands either way.
  std::string End(bool updated);

 private:
  // Written by this process (the attempt it is making).
  bool Ours(const platform::AttemptRecord& record) const;
  // Begun by another program that still runs: its attempt is under way.
  bool UnderWayElsewhere(const platform::AttemptRecord& record) const;
  // A successful programming that leaves its device pending a power cycle.
  static bool LeavesPending(const platform::AttemptRecord& record);

  platform::AttemptStore& store_;
  Program program_;
  std::vector<platform::AttemptRecord> records_;
  std::optional<platform::AttemptRecord> current_;
};

}  // namespace update
