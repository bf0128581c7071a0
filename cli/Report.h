// What the commands report: the JSON document, the text table, the result lines, the station's
// lines and the log lines, each a table over the engine's outcomes and the commands' typed
// results and exit codes. The commands decide (Session.cpp, Station.cpp); this only writes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/Cli.h"
#include "cli/Devices.h"

namespace cli {

// The words --json, --log and the text table use for a device's state and for a result.
std::string_view StateWord(device::ScanOutcome outcome);
std::string_view ResultWord(DeviceResult result);

class Report {
 public:
  Report(const Options& options, platform::ConsoleOutput& output, platform::LogFile& log)
      : options_(options), output_(output), log_(log) {}

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
  // station without --json: the count at its end.
  void StationSummary(int done, bool anyFailed, bool unverified);
  // With --log: appends the attempt (`versionBefore` is the library's text). A log that cannot be
  // written is told on standard error; false then (the caller stops the work).
  bool Log(const Entry& entry, const std::string& versionBefore);
  // With --log: a device that was programmed earlier now reports the target, after its power
  // cycle: the update is confirmed. False, as Log, when the line could not be written.
  bool LogConfirmed(const platform::AttemptRecord& record);

 private:
  std::string Identity(const Entry& entry);
  // Each tells a line that could not be written on standard error, and returns false then.
  bool AppendToLog(const std::string& line);
  bool LogFailed(const std::string& why);
  void Output(const std::string& text);
  void OutputFailed(const std::string& why);

  const Options& options_;
  platform::ConsoleOutput& output_;
  platform::LogFile& log_;
};

}  // namespace cli
