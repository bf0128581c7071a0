// The report command: the log lines of many PCs read into one picture of the fleet (each device's
// latest line, in the order of what needs a person; the PCs without a device apart; the stations'
// units by run; the history of failures), written as a CSV table and a self-contained HTML page.
// Nothing read is trusted: files are read chunk by chunk, lines and what is kept of them are
// bounded, times must be real and not ahead, and a line that names another PC than its file is
// flagged. FleetReport.cpp reads and sums up, FleetPage.cpp writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/Cli.h"
#include "trail/Line.h"

namespace cli {

// Where a device stands in the report, in the order of what needs a person first: the standings
// of trail::Standing, with a device that has waited too long for its power cycle among those that
// need a person.
enum class Class : std::uint8_t {
  Failed,
  DidNotTake,
  Interrupted,
  Overdue,  // waits for its power cycle for longer than --pending-days
  NotUpdatable,
  NeedsUpdate,
  WaitsForPowerCycle,
  Done,
};
// Whether a person should look at a device of `standing`.
constexpr bool NeedsAPerson(Class standing) { return standing <= Class::NotUpdatable; }

// The bounds of what the report keeps.
struct FleetLimits {
  std::size_t failures = 500;     // the newest failures kept; the rest are counted
  std::size_t computers = 20000;  // computers, then devices and units, beyond are counted
  std::size_t devices = 20000;
  std::size_t units = 20000;
  std::size_t text = 256;  // bytes kept of each text of a line (its reason: four times as many)
};

// A line as the report keeps it.
struct Row {
  trail::Line line;
  Class standing = Class::Done;
  std::string flagged;  // why the line is doubted (it names another PC than its file), if it is
};

struct FleetSummary {
  std::size_t files = 0;       // files read
  std::size_t lines = 0;       // lines read
  std::size_t tooLong = 0;     // lines skipped unparsed: too long
  std::size_t unreadable = 0;  // lines skipped: not a line, or too deeply nested
  std::size_t badTime = 0;     // lines skipped: no time, or not a real one
  std::size_t ahead = 0;       // lines skipped: a time more than a day ahead of now (flagged)
  std::size_t foreign = 0;     // lines read that name another PC than their file (flagged)
  std::size_t computersDropped = 0, devicesDropped = 0, unitsDropped = 0;  // over the bounds
  std::vector<std::pair<std::string, std::string>> notRead;  // files or folders, and why
  std::size_t computers = 0;
  std::vector<Row> devices;             // each device's latest line, by class, then by name
  std::vector<std::string> noDevice;    // the PCs that never named a device, by name
  std::map<Class, std::size_t> counts;  // devices per class
  std::vector<Row> units;               // each station unit's latest line, by station and run
  std::vector<Row> failures;            // the newest failures, newest first
  std::size_t olderFailures = 0;        // and how many older ones there were
  std::int64_t newest = 0;              // the newest line's time
  int pendingDays = 3;
  FleetLimits limits;
};

// Reads the files of a fleet's logs, each chunk by chunk, and sums them up.
class FleetReader {
 public:
  FleetReader(std::int64_t now, int pendingDays, const FleetLimits& limits = {});

  // Starts `file`: `names` are the PCs its name and folders name, upper case (none: any PC's lines
  // are in place in it).
  void Begin(std::string file, std::vector<std::string> names);
  // Part of the file; a line may cross chunks.
  void Take(std::string_view chunk);
  // The file's end (a last line without its line break is read).
  void End();
  void NotRead(const std::string& path, const std::string& why);
  FleetSummary Summary() const;

 private:
  void AddLine(std::string_view text);
  void Keep(std::map<std::string, Row>& rows, std::size_t limit, std::size_t& dropped,
            const std::string& key, const Row& row);

  struct Computer {
    std::string name;
    bool device = false;          // it named a device
    std::int64_t deviceTime = 0;  // the latest line that named one
    Row run;                      // its latest line that names no device (no device, a run's error)
    bool hasRun = false;
  };

  std::int64_t now_;
  FleetLimits limits_;
  FleetSummary summary_;            // the counts and what was not read
  std::string file_;                // the current file
  std::vector<std::string> names_;  // the PCs it is of
  std::string pending_;             // the current line's start, from an earlier chunk
  bool overLong_ = false;           // the current line is over the bound: skipped to its end
  std::size_t order_ = 0;  // lines read so far: of two lines of one time, the later read is later
  std::map<std::string, Computer> computers_;  // by upper-case name
  std::map<std::string, Row> devices_;         // by computer, path and identity
  std::map<std::string, Row> units_;           // by station, run and sequence
  std::vector<std::pair<std::pair<std::int64_t, std::size_t>, Row>>
      failures_;  // a heap, oldest top
};

// The CSV table (RFC 4180, every field quoted and guarded) of each device, each PC without one and
// each station unit; and the HTML page.
std::string FleetCsv(const FleetSummary& summary);
std::string FleetPage(const FleetSummary& summary);

// The report command: reads options.paths (this PC's shared log when none is given) and writes
// the two files, which it prints the names of.
ExitCode WriteFleetReport(const Options& options, const platform::ConsoleServices& services);

}  // namespace cli
