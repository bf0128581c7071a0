// Reading a fleet's logs and summing them up, and the report command; see FleetReport.h.
#include "cli/FleetReport.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "trail/Reader.h"

namespace cli {
namespace {

constexpr std::int64_t Day = 24LL * 60 * 60;

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// A name the report reads from a folder: the log and its older file, in any case.
bool IsLogName(const std::string& file) {
  const std::string upper = Upper(file);
  return upper.ends_with(".LOG") || upper.ends_with(".LOG.1");
}

// The names of the PC a file is of, upper case: the folders it was found in below the folder
// named on the command line, and its own name without .log or .log.1 unless that is the shared
// log's name, which every PC's log has. None: the file says nothing of its PC.
std::vector<std::string> NamesOf(const std::string& root, const std::string& file) {
  std::vector<std::string> names;
  std::string_view below = file;
  if (file != root && file.starts_with(root)) below.remove_prefix(root.size());
  std::size_t start = 0;
  for (std::size_t at = 0; at <= below.size(); ++at) {
    if (at < below.size() && below[at] != '\\' && below[at] != '/') continue;
    if (at > start) names.push_back(Upper(below.substr(start, at - start)));
    start = at + 1;
  }
  if (names.empty()) return names;
  std::string& own = names.back();
  for (const std::string_view end : {".LOG.1", ".LOG"}) {
    if (own.ends_with(end)) {
      own.resize(own.size() - end.size());
      break;
    }
  }
  if (own == "FLASHWRIGHT") names.pop_back();
  return names;
}

// `text` cut to at most `bytes`, at a character's start, with an ellipsis when cut.
void Clip(std::string& text, std::size_t bytes) {
  if (text.size() <= bytes) return;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  text += "\xE2\x80\xA6";
}

Class ClassOf(trail::Standing standing, std::int64_t time, std::int64_t now, int pendingDays) {
  using trail::Standing;
  switch (standing) {
    case Standing::Failed:
      return Class::Failed;
    case Standing::DidNotTake:
      return Class::DidNotTake;
    case Standing::Interrupted:
      return Class::Interrupted;
    case Standing::NotUpdatable:
      return Class::NotUpdatable;
    case Standing::NeedsUpdate:
      return Class::NeedsUpdate;
    case Standing::WaitsForPowerCycle:
      return now - time > pendingDays * Day ? Class::Overdue : Class::WaitsForPowerCycle;
    case Standing::Done:
      break;
  }
  return Class::Done;
}

// Says on standard error that `path` could not be read or written (`what`), and why.
void TellNot(platform::ConsoleOutput& output, std::string_view what, const std::string& path,
             const std::string& why) {
  std::string line = "flashwright-cli: cannot ";
  line.append(what).append(" ").append(path).append(": ").append(why).append("\n");
  output.Err(line);
}

// A file's chunks into the reader.
class Feed final : public platform::Files::Chunks {
 public:
  explicit Feed(FleetReader& reader) : reader_(reader) {}
  void Take(std::string_view chunk) override {
    reader_.Take(chunk);
    taken_ = true;
  }
  bool Taken() const { return taken_; }

 private:
  FleetReader& reader_;
  bool taken_ = false;
};

using FailureKey = std::pair<std::int64_t, std::size_t>;
bool NewerFirst(const std::pair<FailureKey, Row>& a, const std::pair<FailureKey, Row>& b) {
  return a.first > b.first;
}

}  // namespace

FleetReader::FleetReader(std::int64_t now, int pendingDays, const FleetLimits& limits)
    : now_(now), limits_(limits) {
  summary_.pendingDays = pendingDays;
  summary_.limits = limits;
}

void FleetReader::Begin(std::string file, std::vector<std::string> names) {
  ++summary_.files;
  file_ = std::move(file);
  names_ = std::move(names);
  pending_.clear();
  overLong_ = false;
}

void FleetReader::Take(std::string_view chunk) {
  while (!chunk.empty()) {
    const std::size_t end = chunk.find('\n');
    const std::string_view piece = chunk.substr(0, end);
    if (end != std::string_view::npos && pending_.empty() && !overLong_) {
      AddLine(piece);  // a whole line within the chunk: read where it is
    } else if (!overLong_) {
      if (pending_.size() + piece.size() > trail::LongestLine) {
        overLong_ = true;
        pending_.clear();
        pending_.shrink_to_fit();
      } else {
        pending_.append(piece);
      }
      if (end != std::string_view::npos && !overLong_) AddLine(pending_);
    }
    if (end == std::string_view::npos) return;
    if (overLong_) ++summary_.tooLong;
    overLong_ = false;
    pending_.clear();
    chunk.remove_prefix(end + 1);
  }
}

void FleetReader::End() {
  if (overLong_) ++summary_.tooLong;
  if (!pending_.empty() && !overLong_) AddLine(pending_);
  pending_.clear();
  overLong_ = false;
}

void FleetReader::NotRead(const std::string& path, const std::string& why) {
  summary_.notRead.emplace_back(path, why);
}

void FleetReader::Keep(std::map<std::string, Row>& rows, std::size_t limit, std::size_t& dropped,
                       const std::string& key, const Row& row) {
  const auto found = rows.find(key);
  if (found == rows.end()) {
    if (rows.size() >= limit) {
      ++dropped;
    } else {
      rows.emplace(key, row);
    }
  } else if (found->second.line.time <= row.line.time) {
    found->second = row;  // of two lines of one time, the one read later
  }
}

void FleetReader::AddLine(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  if (text.find_first_not_of(" \t") == std::string_view::npos) return;
  Row row;
  trail::Line& line = row.line;
  switch (trail::ReadLine(text, line)) {
    case trail::Reading::TooLong:
      ++summary_.tooLong;
      return;
    case trail::Reading::Unreadable:
      ++summary_.unreadable;
      return;
    case trail::Reading::BadTime:
      ++summary_.badTime;
      return;
    case trail::Reading::Read:
      break;
  }
  if (line.time > now_ + Day) {
    ++summary_.ahead;
    return;
  }
  ++summary_.lines;
  const std::size_t order = ++order_;
  summary_.newest = std::max(summary_.newest, line.time);
  const std::string computer = Upper(line.computer);
  if (!names_.empty() && std::find(names_.begin(), names_.end(), computer) == names_.end()) {
    ++summary_.foreign;
    row.flagged = "names another PC than " + file_;
  }
  for (std::string* text : {&line.version, &line.computer, &line.user, &line.station, &line.run,
                            &line.unit, &line.path, &line.identity, &line.versionBefore,
                            &line.versionAfter, &line.warning, &line.interruptedProgram}) {
    Clip(*text, limits_.text);
  }
  Clip(line.reason, limits_.text * 4);
  Clip(row.flagged, limits_.text * 2);

  const std::optional<trail::Standing> standing = trail::StandingOf(line.state, line.result);
  if (standing) row.standing = ClassOf(*standing, line.time, now_, summary_.pendingDays);
  if (standing && (row.standing == Class::Failed || row.standing == Class::DidNotTake ||
                   row.standing == Class::Interrupted || row.standing == Class::NotUpdatable)) {
    // The newest failures, oldest on top of the heap.
    const FailureKey key(line.time, order);
    if (failures_.size() < limits_.failures) {
      failures_.emplace_back(key, row);
      std::push_heap(failures_.begin(), failures_.end(), NewerFirst);
    } else {
      ++summary_.olderFailures;
      if (!failures_.empty() && failures_.front().first < key) {
        std::pop_heap(failures_.begin(), failures_.end(), NewerFirst);
        failures_.back() = {key, row};
        std::push_heap(failures_.begin(), failures_.end(), NewerFirst);
      }
    }
  }

  auto known = computers_.find(computer);
  if (known == computers_.end()) {
    if (computers_.size() >= limits_.computers) {
      ++summary_.computersDropped;
      return;
    }
    known = computers_.emplace(computer, Computer()).first;
    known->second.name = line.computer;
  }
  Computer& pc = known->second;
  if (line.command == trail::Command::Station || !line.run.empty()) {
    if (!standing) return;
    char sequence[16] = "";
    std::snprintf(sequence, sizeof sequence, "%010d", line.sequence.value_or(0));
    Keep(units_, limits_.units, summary_.unitsDropped,
         line.station + '\n' + line.run + '\n' + sequence + '\n' + line.unit, row);
    return;
  }
  if (line.path.empty() && line.identity.empty()) {
    if (!pc.hasRun || pc.run.line.time <= line.time) {
      pc.run = std::move(row);
      pc.hasRun = true;
    }
    return;
  }
  pc.device = true;
  pc.deviceTime = std::max(pc.deviceTime, line.time);
  if (!standing) return;  // another unit's line, not at its path: its device tells nothing
  Keep(devices_, limits_.devices, summary_.devicesDropped,
       computer + '\n' + line.path + '\n' + line.identity, row);
}

FleetSummary FleetReader::Summary() const {
  FleetSummary summary = summary_;
  summary.computers = computers_.size();
  for (const auto& [key, row] : devices_) summary.devices.push_back(row);
  for (const auto& [key, pc] : computers_) {
    // A run that stopped before it reached a device stands for the PC while nothing later names a
    // device; a PC that never named one, and whose last run did not fail, has none.
    const bool runFailed = pc.hasRun && pc.run.line.state != trail::State::NoDevice &&
                           trail::StandingOf(pc.run.line.state, pc.run.line.result).has_value();
    if (runFailed && (!pc.device || pc.run.line.time > pc.deviceTime)) {
      summary.devices.push_back(pc.run);
    } else if (!pc.device && pc.hasRun) {
      summary.noDevice.push_back(pc.name);
    }
  }
  std::stable_sort(summary.devices.begin(), summary.devices.end(), [](const Row& a, const Row& b) {
    if (a.standing != b.standing) return a.standing < b.standing;
    return Upper(a.line.computer) < Upper(b.line.computer);
  });
  for (const Row& row : summary.devices) ++summary.counts[row.standing];
  for (const auto& [key, row] : units_) summary.units.push_back(row);
  std::vector<std::pair<FailureKey, Row>> failures = failures_;
  std::sort(failures.begin(), failures.end(), NewerFirst);
  for (auto& [key, row] : failures) summary.failures.push_back(std::move(row));
  return summary;
}

ExitCode WriteFleetReport(const Options& options, const platform::ConsoleServices& services) {
  platform::ConsoleOutput& output = services.output;
  std::vector<std::string> paths = options.paths;
  const bool ownLog = paths.empty();
  if (ownLog) {
    std::string error;
    const std::string log = services.log.SharedLog(error);
    if (log.empty()) {
      output.Err("flashwright-cli: this PC's log cannot be read: " + error + "\n");
      return ProgrammingFailed;
    }
    paths = {log, log + ".1"};
  }
  FleetReader reader(std::time(nullptr), options.pendingDays);
  for (const std::string& path : paths) {
    std::vector<std::string> found;
    if (const std::string error = services.files.Find(path, found); !error.empty()) {
      // This PC's older log is there only once the log has been rotated.
      if (ownLog && path != paths.front() && found.empty()) continue;
      TellNot(output, "read", path, error);
      reader.NotRead(path, error);
    }
    for (const std::string& file : found) {
      // A file named on the command line is read whatever its name.
      if (file != path && !IsLogName(file)) continue;
      reader.Begin(file, ownLog ? std::vector<std::string>() : NamesOf(path, file));
      Feed feed(reader);
      const std::string error = services.files.ReadChunks(file, feed);
      reader.End();
      if (!error.empty()) {
        // What was read of it stays read; the page names it as not read whole.
        const std::string why = feed.Taken() ? "read only in part: " + error : error;
        TellNot(output, "read", file, why);
        reader.NotRead(file, why);
      }
    }
  }
  const FleetSummary summary = reader.Summary();
  const std::size_t skipped =
      summary.tooLong + summary.unreadable + summary.badTime + summary.ahead;
  if (skipped > 0) {
    output.Err("flashwright-cli: skipped " + std::to_string(skipped) +
               " line(s): " + std::to_string(summary.tooLong) + " too long, " +
               std::to_string(summary.unreadable) + " not readable, " +
               std::to_string(summary.badTime) + " without a valid time, " +
               std::to_string(summary.ahead) + " dated more than a day ahead\n");
  }
  if (summary.foreign > 0) {
    output.Err("flashwright-cli: " + std::to_string(summary.foreign) +
               " line(s) name another PC than the file or folder they were read from\n");
  }
  if (summary.computersDropped + summary.devicesDropped + summary.unitsDropped > 0) {
    output.Err(
        "flashwright-cli: the report holds " + std::to_string(summary.limits.computers) + " PCs, " +
        std::to_string(summary.limits.devices) + " devices and " +
        std::to_string(summary.limits.units) + " station units; " +
        std::to_string(summary.computersDropped + summary.devicesDropped + summary.unitsDropped) +
        " line(s) beyond them were left out\n");
  }
  if (summary.lines == 0) {
    output.Err("flashwright-cli: no log line could be read, so no report was written\n");
    return ProgrammingFailed;
  }
  for (const auto& [file, text] : {std::pair(options.csvFile, FleetCsv(summary)),
                                   std::pair(options.htmlFile, FleetPage(summary))}) {
    if (const std::string error = services.files.Write(file, text); !error.empty()) {
      TellNot(output, "write", file, error);
      return ProgrammingFailed;
    }
    output.Out(file + "\n");
  }
  return Success;
}

}  // namespace cli
