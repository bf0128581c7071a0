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

// Whether a record's attempt ended with its device programmed.
bool Succeeded(const platform::AttemptRecord& record);

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
  DidNotTake,  // programmed successfully and power-cycled since, yet it reports its old version
  UnderWay,    // another Flashwright program that still runs is programming it right now
};

// A device as a run found it.
struct SeenDevice {
  updatelib::DevicePath path{};
  bool atTarget = false;  // it reports the target version
  std::string identity;   // its identification, the library's bytes trimmed; empty: not read
  std::string version;    // the version it reports, the library's bytes; empty: not read
};

// Why a review ended a record.
enum class Ending {
  Confirmed,    // the unit the record names reports the target: the update took
  AnotherUnit,  // another unit is at the path: another identification, or the record's
                // identification with a version other than the one it had before the update
  DidNotTake,   // the unit the record names reports its version from before the update after a
                // power cycle (seen gone, or arrived again after the programming ended)
};

// A record a review ended, and what the device at its path reports now (the library's bytes).
struct Ended {
  platform::AttemptRecord record;
  Ending why = Ending::Confirmed;
  std::string identity;
  std::string version;
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

  // Reads the records and ends those the devices found end, returning those that say something
  // (`complete`: `attached` is the library's whole list, so a device not in it is gone).
  //
  // A record names its unit by identification and version before, not by path, which is reused.
  // A successful programming stays pending only while the device at its path reports the record's
  // identification and version before. That unit at the target ends it (confirmed); another
  // identification, or another version, ends it (another unit); a complete list without it is
  // remembered in the record (seen gone: unplugged, a power cycle), and the unit then seen again
  // at its version before ends it (did not take), as does the unit at its version before having
  // arrived later than the programming ended, where the store can tell. A device whose
  // identification cannot be read is no one's: the record neither ends nor applies.
  //
  // An interrupted record applies to a device of its identification, or of one that cannot be
  // read (a unit cut short may not identify itself); it ends when that unit reports the target
  // (confirmed). A failed or station record ends when its device reports the target or is gone.
  // Any record ends past RecordLifetimeSeconds, except one under way in a live process. A record
  // kept under a name that is not its path's (KeyOf) is not this device's: it is ignored and left
  // alone.
  std::vector<Ended> Review(const std::vector<SeenDevice>& attached, bool complete);
  // After Review: what the records say of the device at `path`, and the record itself.
  Remembered StateOf(const updatelib::DevicePath& path) const;
  const platform::AttemptRecord* RecordOf(const updatelib::DevicePath& path) const;
  // Whether another Flashwright program that still runs is programming some device now (reads the
  // records afresh; needs no Review).
  bool UnderWayElsewhere() const;
  // The latest successful programming of the unit now at `device.path` (its identification and
  // version before) by another program than this one, ended less than `withinSeconds` ago. Reads
  // the records afresh and changes none: for a program that heeds no pending records (the
  // station) yet has a word to say.
  std::optional<platform::AttemptRecord> ProgrammedElsewhere(const SeenDevice& device,
                                                             std::int64_t withinSeconds) const;

  // Writes the intent before the programming call; throws RecordFailure when it cannot be kept.
  void Begin(const updatelib::DevicePath& path, std::string_view identity,
             std::string_view versionBefore);
  // Completes the record begun last with the call's outcome. Returns an error text, empty when the
  // record was kept; the outcome stands either way.
  std::string End(bool updated);

 private:
  // Written by this process (the attempt it is making).
  bool Ours(const platform::AttemptRecord& record) const;
  // Begun by another program that still runs (its id and creation time): its attempt is under
  // way.
  bool RunsElsewhere(const platform::AttemptRecord& record) const;
  // What the review concludes of one record and the device at its path (none: not attached).
  struct Judgement {
    bool remove = false;  // forget it (by the key it was read under)
    bool applies = true;  // it speaks of the device at its path in this run
    std::optional<Ending> ending;
  };
  Judgement Judge(platform::AttemptRecord& record, const SeenDevice* seen, bool complete,
                  std::int64_t now);
  // A successful programming that leaves its device pending a power cycle.
  static bool LeavesPending(const platform::AttemptRecord& record);

  platform::AttemptStore& store_;
  Program program_;
  std::vector<platform::AttemptRecord> records_;     // those that apply to the devices
  std::vector<platform::AttemptRecord> didNotTake_;  // ended this run: their unit needs the update
  std::optional<platform::AttemptRecord> current_;
};

}  // namespace update
