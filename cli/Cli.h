// flashwright-cli: the command-line program for scripts, fleets and production lines, on the same
// engine as the window (the gateway, the device checks, the programming under the machine-wide
// lock). Portable: the entry point hands it the platform's services. The commands are one table
// (CommandTable.h), parsed in CommandLine.cpp and run by a Session (Session.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/CommandTable.h"
#include "cli/ExitCodes.h"
#include "platform/Console.h"
#include "platform/Platform.h"

namespace cli {

// station --unit-id: what names each unit in its lines.
enum class UnitIds {
  None,      // nothing: the device's own path and identification only
  Prompt,    // a line read from standard input before each unit (a scanner or the keyboard)
  Sequence,  // numbers counted up from --unit-id sequence:START
};

struct Options {
  const CommandRow* command = nullptr;  // a row of CommandTable()
  bool json = false;
  std::optional<int> device;  // --device N, 1-based
  bool all = false;
  bool force = false;  // update: program a device pending its power cycle too
  // Tell the person at the console when a device waits for its power cycle and the run has no
  // desktop of its own (--notify user; the row's default without --notify).
  bool notify = false;
  std::optional<int> count;  // station --count N
  UnitIds unitIds = UnitIds::None;
  long long unitStart = 1;  // station --unit-id sequence:START
  // station --unit-id-pattern: what a label read with --unit-id prompt must match, whole
  // (ECMAScript); empty: any label
  std::string unitIdPattern;
  std::string station;  // station --station NAME; empty: the computer's name
  bool beep = false;    // station --beep: a sound for each unit that fails
  std::string logFile;
  std::vector<std::string> paths;                    // report: logs and folders of logs
  std::string csvFile = "flashwright-report.csv";    // report --csv
  std::string htmlFile = "flashwright-report.html";  // report --html
  int pendingDays = 3;                               // report --pending-days
  std::string supportStep;                           // support: "record" or "collect"
  std::string supportValue;  // support record: "on" or "off"; support collect: the ZIP, if named
  int supportMaxMiB = 200;   // support collect --max-size: the recordings' total, newest first
  bool supportKeepNames = false;  // support collect --keep-names: the logs' names as they are
  bool supportAll = false;  // support collect --all: recordings from before the switch's time too
};

// The command line parsed: options to run, or an exit code and what to print (help, the version,
// or a usage error, which goes to standard error).
struct CommandLine {
  std::optional<Options> options;
  ExitCode exitCode = Success;
  std::string text;
  bool json = false;  // --json was given, also when the rest did not parse
};
CommandLine ParseCommandLine(const std::vector<std::string>& arguments, const std::string& version);

// A usage error as the program reports it: a line on standard error, or a JSON document.
std::string UsageErrorDocument(const std::string& message);

using Services = platform::ConsoleServices;

// Runs a command and returns the exit code.
int Run(const Options& options, const Services& services);

// The whole program: parses `arguments` (without the program's name), runs the command, and
// returns the exit code.
int Main(const std::vector<std::string>& arguments, const Services& services);

}  // namespace cli
