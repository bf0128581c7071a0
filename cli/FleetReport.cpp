// Reading a fleet's logs and summing them up, and the report command; see FleetReport.h.
#include "cli/FleetReport.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

namespace cli {
namespace {

// A log file larger than this is not a log of ours (the shared log rotates at 1 MiB); reading it
// whole could exhaust a 32-bit program's memory.
constexpr std::uint64_t MaxLogSize = 256ULL * 1024 * 1024;

// Every outcome a line can end in, from the best to the worst, with its tone: the results first,
// then the states of status runs and of runs that found no one device.
struct OutcomeRow {
  std::string_view word;
  Tone tone;
};
constexpr OutcomeRow Outcomes[] = {
    {"updated", Tone::Good},
    {"verified", Tone::Good},
    {"confirmed", Tone::Good},
    {"up-to-date", Tone::Good},
    {"pending-power-cycle", Tone::Waiting},
    {"update-required", Tone::Waiting},
    {"skipped", Tone::Waiting},
    {"busy", Tone::Waiting},
    {"no-device", Tone::Waiting},
    {"interrupted", Tone::Bad},
    {"did-not-take", Tone::Bad},
    {"not-updatable", Tone::Bad},
    {"unsupported-chip", Tone::Bad},
    {"internal-code", Tone::Bad},
    {"version-read-failed", Tone::Bad},
    {"image-mismatch", Tone::Bad},
    {"identity-failed", Tone::Bad},
    {"failed", Tone::Bad},
    {"error", Tone::Bad},
};

std::size_t RankOf(std::string_view outcome) {
  const auto found = std::find_if(std::begin(Outcomes), std::end(Outcomes),
                                  [&](const OutcomeRow& row) { return row.word == outcome; });
  return static_cast<std::size_t>(found - std::begin(Outcomes));
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// A name the report reads from a folder: the log and its older file, in any case.
bool IsLogName(const std::string& file) {
  const std::string upper = Upper(file);
  return upper.ends_with(".LOG") || upper.ends_with(".LOG.1");
}

// Says on standard error that `path` could not be read or written (`what`), and why.
void TellNot(platform::ConsoleOutput& output, std::string_view what, const std::string& path,
             const std::string& why) {
  std::string line = "flashwright-cli: cannot ";
  line.append(what).append(" ").append(path).append(": ").append(why).append("\n");
  output.Err(line);
}

}  // namespace

std::string LogLine::Outcome() const {
  if (!result.empty()) return result;
  return state.empty() ? "unknown" : state;
}

bool LogLine::Failure() const {
  return result == "failed" || result == "not-updatable" ||
         (result.empty() && ToneOf(state) == Tone::Bad);
}

Tone ToneOf(std::string_view outcome) {
  const std::size_t rank = RankOf(outcome);
  return rank < std::size(Outcomes) ? Outcomes[rank].tone : Tone::Other;
}

std::optional<LogLine> ReadLogLine(std::string_view text) {
  // Invalid UTF-8, which our programs never write, is not read either.
  const auto json = nlohmann::ordered_json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return std::nullopt;
  auto field = [&](const char* key) {
    const auto found = json.find(key);
    return found != json.end() && found->is_string() ? found->get<std::string>() : std::string();
  };
  LogLine line;
  line.time = field("time");
  if (line.time.empty()) return std::nullopt;
  const std::array<std::pair<std::string*, const char*>, 15> fields = {{
      {&line.program, "program"},
      {&line.version, "version"},
      {&line.command, "command"},
      {&line.computer, "computer"},
      {&line.user, "user"},
      {&line.station, "station"},
      {&line.path, "path"},
      {&line.identity, "identity"},
      {&line.versionBefore, "versionBefore"},
      {&line.versionAfter, "versionAfter"},
      {&line.state, "state"},
      {&line.check, "check"},
      {&line.result, "result"},
      {&line.reason, "reason"},
      {&line.warning, "warning"},
  }};
  for (const auto& [value, key] : fields) *value = field(key);
  if (const auto code = json.find("exitCode"); code != json.end() && code->is_number_integer()) {
    line.exitCode = code->get<long long>();
  }
  return line;
}

void FleetReader::Add(std::string_view contents) {
  ++summary_.files;
  if (contents.starts_with("\xEF\xBB\xBF")) contents.remove_prefix(3);
  while (!contents.empty()) {
    const std::size_t end = std::min(contents.find('\n'), contents.size());
    std::string_view text = contents.substr(0, end);
    contents.remove_prefix(std::min(end + 1, contents.size()));
    if (text.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    std::optional<LogLine> line = ReadLogLine(text);
    if (!line) {
      ++summary_.unreadable;
      continue;
    }
    ++summary_.lines;
    summary_.newest = std::max(summary_.newest, line->time);
    if (line->Failure()) summary_.failures.push_back(*line);
    // The later of two lines of one time is the one read later.
    LogLine& latest = byName_[Upper(line->computer)];
    if (latest.time <= line->time) latest = std::move(*line);
  }
}

void FleetReader::NotRead(const std::string& path, const std::string& why) {
  summary_.notRead.emplace_back(path, why);
}

FleetSummary FleetReader::Summary() const {
  FleetSummary summary = summary_;
  std::map<std::string, std::size_t> counts;
  for (const auto& [name, line] : byName_) {
    summary.latest.push_back(line);
    ++counts[line.Outcome()];
  }
  summary.outcomes.assign(counts.begin(), counts.end());
  std::stable_sort(summary.outcomes.begin(), summary.outcomes.end(),
                   [](const auto& a, const auto& b) { return RankOf(a.first) < RankOf(b.first); });
  std::stable_sort(summary.failures.begin(), summary.failures.end(),
                   [](const LogLine& a, const LogLine& b) { return a.time > b.time; });
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
  FleetReader reader;
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
      std::string contents;
      if (const std::string error = services.files.Read(file, MaxLogSize, contents);
          !error.empty()) {
        TellNot(output, "read", file, error);
        reader.NotRead(file, error);
        continue;
      }
      reader.Add(contents);
    }
  }
  const FleetSummary summary = reader.Summary();
  if (summary.unreadable > 0) {
    output.Err("flashwright-cli: skipped " + std::to_string(summary.unreadable) +
               " line(s) that could not be read\n");
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
