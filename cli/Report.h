// What the commands report: the JSON document, the text table, the result lines, the station's
// lines and the log lines, each a table over the engine's outcomes and the commands' typed
// results and exit codes. The commands decide (Session.cpp, Station.cpp); this only writes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "cli/Devices.h"
#include "trail/Writer.h"

namespace cli {

// A unit at the station: its number in the run (from 1), the identity it was given (UTF-8; empty:
// none), and whether an earlier unit of the run had that identity.
struct StationUnit {
  int sequence = 0;
  std::string id;
  bool repeated = false;
};

// The station's units so far, by verdict, and how many had an identity given before.
struct StationTally {
  int passed = 0;
  int failed = 0;
  int unverified = 0;
  int repeated = 0;
  int Units() const { return passed + failed + unverified; }
};

// UTF-8 text for a line of the text output: a control character (a newline inside an
// identification, an escape sequence, C0 or C1) would break the line or drive the terminal, so it
// shows as U+FFFD.
std::string Printable(const std::string& text);

// A station unit's verdict as the operator reads it: PASS, FAIL or NOT VERIFIED.
std::string_view StationWord(ExitCode exitCode);

// A device's result as the trail and --json tell it.
trail::Result ResultOf(DeviceResult result);

// Where a device stands after the run: its result's class, else its state's.
trail::Standing StandingOf(const Entry& entry);

class Report {
 public:
  Report(const Options& options, platform::ConsoleOutput& output, platform::LogFile& log,
         platform::EventLog& events)
      : options_(options), output_(output), log_(log), runLog_(log), trail_(runLog_, events) {}

  // The end of a status or update run: the document (--json) or the error on standard error.
  // Output that cannot be made or written is told on standard error and changes nothing.
  void End(ExitCode exitCode, const std::vector<Entry>& entries, const std::string& error = {});
  // detect, when no attached device needs the update: its one line, for `attached` devices of
  // which `pending` wait for their power cycle.
  void Detected(std::size_t attached, std::size_t pending);
  // status without --json: the devices as a table.
  void Table(const std::vector<Entry>& entries);
  // update without --json: what was done with one chosen device.
  void Result(const Entry& entry);
  // On standard error, before a device is programmed.
  void Programming(const Entry& entry);
  // station: one unit's verdict (`exitCode`: 0 passed, 1 failed, 3010 not verified), a line of
  // text or one JSON document.
  void Station(const Entry& entry, StationOutcome outcome, ExitCode exitCode);
  // station: the unit whose lines come next (its output line, JSON line and log lines).
  void BeginUnit(StationUnit unit) { unit_ = std::move(unit); }
  // station, on standard error: the unit's identity was given to an earlier unit of the run, whose
  // verdict was `earlier`.
  void Repeated(ExitCode earlier);
  // station, on standard error: `program` (a record's name of it) programmed the unit
  // `secondsAgo`, and it still reports its old firmware; it is programmed again.
  void RecentlyProgrammed(const std::string& program, std::int64_t secondsAgo);
  // station without --json, on standard error: the unit's verdict and the figures so far after
  // each unit (on a console a banner, in colour where it takes colour, with why a unit failed),
  // and at the end the figures of the run (`stoppedUnverified`: the last unit waits for its power
  // cycle). With --beep, a failed unit also sounds, --json or not.
  void StationTallyLine(ExitCode exitCode, const StationTally& tally);
  void StationSummary(const StationTally& tally, bool stoppedUnverified);
  // The trail's lines (trail/Writer.h): to the shared log, and to the --log file, whose line
  // that cannot be written is told on standard error and returns false (the caller stops the work);
  // the shared log's trouble is told once and stops nothing. The fields every line of the run has,
  // the program folder's `warning` among them; before any line.
  void BeginTrail(platform::VersionRecord& versionRecord, std::string warning);
  // The --log file cannot be written: the lines go to the shared log alone.
  void ForgetLogFile() { trail_.AlsoTo({}); }
  // A device the run did something with: its result, the exit code the run has with it, and why it
  // failed (`versionBefore` is the library's text).
  bool Log(const Entry& entry, const std::string& versionBefore, ExitCode exitCode,
           const std::string& reason = {});
  // status and detect: each device's state, with the run's exit code.
  bool LogStates(const std::vector<Entry>& entries, ExitCode exitCode);
  // A run that did nothing with a device: none was there, the lock was busy, or it stopped
  // (`state` NoDevice, Busy or Error, and why).
  bool LogRun(trail::State state, ExitCode exitCode, const std::string& reason);
  // The record of an earlier successful attempt has ended, and why: its unit reports the target
  // after its power cycle (result confirmed), another unit is at its path (another-unit), or its
  // unit reports the version it had before after a power cycle (did-not-take, which is also an
  // error event). The line tells of an earlier run, so it has no exit code.
  bool LogEnded(const update::Ended& ended);
  // Whether the person at the PC was told of the power cycles owed (nullopt: no one was to be
  // told), and why not: on the lines of the devices that wait for theirs.
  void Notified(std::optional<bool> told, std::string whyNot) {
    notified_ = told;
    notNotified_ = std::move(whyNot);
  }
  // How many lines of devices or of the run (not confirmations) this run has written or tried to.
  int Lines() const { return lines_; }

 private:
  std::string Identity(const Entry& entry);
  trail::Line DeviceLine(const Entry& entry, const std::string& versionBefore);
  // Writes `line`; each tells a line that could not be written on standard error, and returns
  // false then.
  bool Write(const trail::Line& line);
  bool LogFailed(const std::string& why);
  void Output(const std::string& text);
  void OutputFailed(const std::string& why);

  const Options& options_;
  platform::ConsoleOutput& output_;
  platform::LogFile& log_;
  trail::RunLog runLog_;  // the shared log found once for the run
  trail::Trail trail_;
  trail::Line run_;          // the fields every line of the run has
  StationUnit unit_;         // station: the unit at hand
  bool sharedTold_ = false;  // the shared log's trouble was told
  int lines_ = 0;
  std::int64_t written_ = 0;
  std::string why_;  // station: why the unit at hand has its verdict
  std::optional<platform::ConsoleOutput::Screen>
      screen_;  // station: what standard error is  // when the last line was written: a station's
                // JSON line has it too
  std::optional<bool> notified_;
  std::string notNotified_;
};

}  // namespace cli
