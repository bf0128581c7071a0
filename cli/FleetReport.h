// The report command: the log lines of many PCs read into one summary of the fleet (each PC's
// latest line, how many PCs are at each outcome, every failure with its reason), written as a CSV
// table and a self-contained HTML page. FleetReport.cpp reads and sums up, FleetPage.cpp writes.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Cli.h"

namespace cli {

// A log line as read, of this version or an older one. A field the line does not have, has as
// null or "" (older versions' empty value), or has as a value of another type is empty.
struct LogLine {
  std::string time, program, version, command, computer, user, station, path, identity,
      versionBefore, versionAfter, state, check, result, reason, warning;
  std::optional<long long> exitCode;

  // What the line ended in: its result, else (a status run) the device's state.
  std::string Outcome() const;
  // Whether the line tells of a failure: programming failed, the device cannot be updated, an
  // earlier attempt was cut short, or the run failed before it reached a device.
  bool Failure() const;
};

// A line of a log: nullopt when it is not a JSON object with a time (cut off, not JSON, or
// something else altogether). Keys it does not know are ignored.
std::optional<LogLine> ReadLogLine(std::string_view text);

// How an outcome reads at a glance, which colours its bar.
enum class Tone { Good, Waiting, Bad, Other };
Tone ToneOf(std::string_view outcome);

struct FleetSummary {
  std::size_t files = 0;       // files read
  std::size_t lines = 0;       // lines read
  std::size_t unreadable = 0;  // lines skipped: they could not be read
  std::vector<std::pair<std::string, std::string>> notRead;  // files or folders, and why
  std::vector<LogLine> latest;  // each computer's latest line, by computer name
  // How many computers' latest lines end in each outcome: the known outcomes from the best to
  // the worst, then any other in alphabetical order.
  std::vector<std::pair<std::string, std::size_t>> outcomes;
  std::vector<LogLine> failures;  // every failure, newest first
  std::string newest;             // the newest line's time
};

// Adds the files of a fleet's logs one by one and sums them up.
class FleetReader {
 public:
  // A file's contents: one line per log line; blank lines are not counted.
  void Add(std::string_view contents);
  void NotRead(const std::string& path, const std::string& why);
  FleetSummary Summary() const;

 private:
  FleetSummary summary_;                   // all but latest and outcomes
  std::map<std::string, LogLine> byName_;  // each computer's latest line, by upper-case name
};

// The summary as a CSV table (RFC 4180) of each computer's latest line, and as an HTML page.
std::string FleetCsv(const FleetSummary& summary);
std::string FleetPage(const FleetSummary& summary);

// The report command: reads options.paths (this PC's shared log when none is given) and writes
// the two files, which it prints the names of.
ExitCode WriteFleetReport(const Options& options, const platform::ConsoleServices& services);

}  // namespace cli
