// The trail the programs leave for administrators: a line for each device a run looked at (or one
// for a run that found none) in the shared log and in a file the administrator names, and each
// programming attempt's outcome in the event log. One format for both programs; the lines are
// described by cli/flashwright-log.schema.json.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/Trail.h"
#include "trail/Line.h"

namespace trail {

// `seconds` since 1970-01-01 UTC as "YYYY-MM-DDTHH:MM:SSZ".
std::string UtcTime(std::int64_t seconds);

// The line as JSON, ASCII only (the rest as \u escapes, bytes that are not UTF-8 as U+FFFD), at
// `now` (seconds since 1970-01-01 UTC).
std::string FormatLine(const Line& line, std::int64_t now);

// A line with what every line of a run has: `program` and its file version (from `versionRecord`),
// `command`, and the computer and account (from `log`).
Line RunLine(Program program, Command command, platform::VersionRecord& versionRecord,
             platform::LogFile& log);

// The log as one run sees it: the shared log's folders are made and checked before the run's
// first line, and the path found is kept for its later lines. Once the check has found that only
// SYSTEM and Administrators may change the folders, no one else can make them otherwise while the
// run goes on; each line's file is still opened without following links. A shared log that could
// not be had is asked for again at the next line. Everything else passes through to `log`.
class RunLog final : public platform::LogFile {
 public:
  explicit RunLog(platform::LogFile& log) : log_(log) {}

  std::string ComputerName() override { return log_.ComputerName(); }
  std::string UserName() override { return log_.UserName(); }
  std::string FromAnsi(std::string_view bytes) override { return log_.FromAnsi(bytes); }
  std::string SharedLog(std::string& error) override;
  std::string CheckWritable(const std::string& file) override { return log_.CheckWritable(file); }
  std::string AppendLine(const std::string& file, std::string_view line,
                         std::uint64_t rotateAt) override {
    return log_.AppendLine(file, line, rotateAt);
  }
  void DebugOutput(std::string_view text) override { log_.DebugOutput(text); }

 private:
  platform::LogFile& log_;
  std::string shared_;
};

// The event a line is reported as (besides an interrupted earlier attempt, which is its own):
// programming's outcome, a did-not-take, or an update kept from its device by another program.
std::optional<platform::Event> EventOf(const Line& line);

class Trail {
 public:
  Trail(platform::LogFile& log, platform::EventLog& events) : log_(log), events_(events) {}

  // Also writes every line to `file` (empty: none).
  void AlsoTo(std::string file) { extraFile_ = std::move(file); }
  // Where the shared log cannot be used, why (each Write tries it again).
  const std::string& SharedLogTrouble() const { return sharedTrouble_; }

  // Writes `line` to the shared log and to the extra file, and reports a programming attempt's
  // outcome to the event log. Returns why the extra file could not be written, empty when it was:
  // the administrator asked for that file, so the caller stops the work. The shared log's trouble
  // stops nothing (anyone able to disturb it would otherwise stop every update); it is kept in
  // SharedLogTrouble for the caller to tell.
  std::string Write(const Line& line, std::int64_t now);

 private:
  void ReportEvent(const Line& line);

  platform::LogFile& log_;
  platform::EventLog& events_;
  std::string extraFile_;
  std::string sharedTrouble_;
};

}  // namespace trail
