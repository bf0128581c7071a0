// What the programs leave for administrators: the log's lines (the shared log in the data folder,
// and a file an administrator names) and the Application event log. Windows implementations in
// platform/win32, fakes in the unit tests; what goes into them is the engine's
// (trail/Writer.h).
//
// Text crosses these interfaces as UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The shared log rotates when it has reached this size: it becomes the one older file (its name
// with ".1"), replacing the one before. Two files of lines of a few hundred bytes each: thousands
// of runs.
inline constexpr std::uint64_t SharedLogRotateAt = 1024ULL * 1024;

// The log of attempts, shared by every program on the machine.
class LogFile {
 public:
  virtual ~LogFile() = default;
  // The computer's name for the log's lines; empty when it cannot be read.
  virtual std::string ComputerName() = 0;
  // The account the program runs as (DOMAIN\name); empty when it cannot be read.
  virtual std::string UserName() = 0;
  // The library's text (bytes in the system's ANSI code page) as UTF-8, as ConsoleOutput::FromAnsi.
  virtual std::string FromAnsi(std::string_view bytes) = 0;
  // The shared log (on Windows %ProgramData%\Flashwright\Logs\flashwright.log), its folders made
  // with their own security when missing and checked before each use: owned by Administrators or
  // SYSTEM, not a link, and no one else may write there. Returns its path, or empty with the
  // reason in `error` when the folder cannot be made or trusted.
  virtual std::string SharedLog(std::string& error) = 0;
  // Opens `file` for appending, creating it when missing, and checks that lines can be added,
  // writing nothing: it must be a file on a disk (not a device such as NUL, which would keep
  // nothing) with room left for lines. Returns an error text, empty when it can be written. A
  // later AppendLine can still fail (the disk may fill meanwhile).
  virtual std::string CheckWritable(const std::string& file) = 0;
  // Appends `line` and a newline to `file` in one piece: lines from programs writing at the same
  // time never interleave. A file that has reached `rotateAt` bytes (0: never) is first renamed
  // to its name with ".1", replacing that one. A file another program holds is waited for at most
  // LogWaitBudget (platform/LogAppend.h) in all, over every line of the run. The line always
  // starts a line of its own, and a write that fails leaves nothing of it. Returns an error text,
  // empty on success.
  //
  // Both open the file without following links: a link, a file with more than one name, or a
  // handle whose final path is not the one asked for is refused with an error.
  virtual std::string AppendLine(const std::string& file, std::string_view line,
                                 std::uint64_t rotateAt) = 0;
  // Tells `text` to a debugger or tracing tool watching the program: where the window, which has
  // no console, says what kept its log from being written.
  virtual void DebugOutput(std::string_view text) = 0;
};

// The events reported to the Application log, with their IDs (the message table's).
enum class Event : std::uint16_t {
  Updated = 1000,            // programmed; runs the new firmware after its power cycle
  Failed = 1001,             // programming failed
  PendingPowerCycle = 1002,  // not programmed again: programmed earlier, waits for a power cycle
  Interrupted = 1003,        // an earlier attempt on the device was cut short
  Busy = 1004,               // not updated: another of our programs was programming
  DidNotTake = 1005,  // programmed earlier, yet after its power cycle it reports its old version
};

// An event's insertion strings, %1 to %5 in the message table.
struct EventText {
  std::string program;        // %1: "Flashwright" or "flashwright-cli"
  std::string path;           // %2: the device path
  std::string identity;       // %3: the device's identification
  std::string versionBefore;  // %4: the firmware it reported before
  std::string detail;         // %5: the event's own detail (the target, a reason, a time)
};

class EventLog {
 public:
  virtual ~EventLog() = default;
  // Reports `event` under the source "Flashwright". The log file holds the same: a report that
  // cannot be made is not an error of the run.
  virtual void Report(Event event, const EventText& text) = 0;
};

}  // namespace platform
