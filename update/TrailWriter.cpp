// The trail; see TrailWriter.h.
#include "update/TrailWriter.h"

#include <ctime>
#include <utility>

#include "platform/Phases.h"

namespace update {
namespace {

// Appends `text` as a JSON string: ASCII only, each other character as \u escapes (two for one
// beyond the first plane), a byte that does not start or continue a UTF-8 sequence as U+FFFD.
void AppendString(std::string& out, std::string_view text) {
  auto escape = [&out](unsigned unit) {
    constexpr char Hex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += Hex[(unit >> shift) & 0xF];
  };
  out += '"';
  for (std::size_t at = 0; at < text.size();) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) {
      if (byte == '"' || byte == '\\') {
        out += '\\';
        out += static_cast<char>(byte);
      } else if (byte < 0x20 || byte == 0x7F) {
        escape(byte);
      } else {
        out += static_cast<char>(byte);
      }
      ++at;
      continue;
    }
    // The sequence's length and its smallest code point (an overlong form is not UTF-8).
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 0;
    constexpr unsigned Smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    unsigned point = length == 0 || byte >= 0xF8 ? 0 : byte & (0x7F >> length);
    std::size_t taken = 1;
    while (length > 0 && taken < length && at + taken < text.size() &&
           (static_cast<unsigned char>(text[at + taken]) & 0xC0) == 0x80) {
      point = (point << 6) | (static_cast<unsigned char>(text[at + taken]) & 0x3F);
      ++taken;
    }
    if (length == 0 || byte >= 0xF8 || taken < length || point < Smallest[length] ||
        point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
      escape(0xFFFD);
      at += length == 0 ? 1 : taken;
      continue;
    }
    if (point >= 0x10000) {
      escape(0xD800 + ((point - 0x10000) >> 10));
      escape(0xDC00 + ((point - 0x10000) & 0x3FF));
    } else {
      escape(point);
    }
    at += taken;
  }
  out += '"';
}

// The line's members in order, each `"key":value` with a comma before all but the first.
class Members {
 public:
  Members& Text(std::string_view key, std::string_view value) {
    Key(key);
    if (value.empty()) {
      out_ += "null";
    } else {
      AppendString(out_, value);
    }
    return *this;
  }
  Members& Number(std::string_view key, std::optional<long long> value) {
    Key(key);
    out_ += value ? std::to_string(*value) : "null";
    return *this;
  }
  Members& Object(std::string_view key, const std::string& members) {
    Key(key);
    out_ += members;
    return *this;
  }
  std::string Close() { return out_ + "}"; }

 private:
  void Key(std::string_view key) {
    out_ += out_.size() > 1 ? ",\"" : "\"";
    out_ += key;
    out_ += "\":";
  }
  std::string out_ = "{";
};

}  // namespace

std::string_view CheckOf(std::string_view state) {
  constexpr std::pair<std::string_view, std::string_view> Checks[] = {
      {"unsupported-chip", "chip-type"},           {"internal-code", "running-mode"},
      {"version-read-failed", "firmware-version"}, {"image-mismatch", "image"},
      {"identity-failed", "identification"},       {"update-required", "firmware-version"},
      {"up-to-date", "firmware-version"}};
  for (const auto& [word, check] : Checks) {
    if (word == state) return check;
  }
  return {};
}

std::string UtcTime(std::int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  char text[32] = "";
  if (const std::tm* utc = std::gmtime(&time)) {
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  }
  return text;
}

std::string FormatTrailLine(const TrailLine& line, std::int64_t now) {
  Members members;
  members.Text("time", UtcTime(now))
      .Text("program", line.program)
      .Text("version", line.version)
      .Text("command", line.command)
      .Text("computer", line.computer)
      .Text("user", line.user)
      .Text("station", line.station)
      .Text("run", line.run)
      .Number("sequence", line.sequence)
      .Text("unit", line.unit)
      .Text("path", line.path)
      .Text("identity", line.identity)
      .Text("versionBefore", line.versionBefore)
      .Text("versionAfter", line.versionAfter)
      .Text("state", line.state)
      .Text("check", line.check.empty() ? CheckOf(line.state) : line.check)
      .Text("result", line.result)
      .Number("exitCode", line.exitCode)
      .Number("durationMs", line.durationMs)
      .Text("reason", line.reason)
      .Text("warning", line.warning);
  if (!line.interruptedProgram.empty()) {
    members.Object("previousAttempt", Members()
                                          .Text("state", "interrupted")
                                          .Text("program", line.interruptedProgram)
                                          .Text("started", UtcTime(line.interruptedStarted))
                                          .Close());
  }
  if (line.programmed != 0) members.Text("programmed", UtcTime(line.programmed));
  if (line.repeated) members.Object("repeated", "true");
  return members.Close();
}

TrailLine RunLine(std::string program, std::string command, platform::VersionRecord& versionRecord,
                  platform::LogFile& log) {
  TrailLine line;
  line.program = std::move(program);
  const auto version = versionRecord.ReadOwnFileVersion();
  line.version = version ? platform::VersionText(*version) : std::string();
  line.command = std::move(command);
  line.computer = log.ComputerName();
  line.user = log.UserName();
  return line;
}

std::string RunLog::SharedLog(std::string& error) {
  if (shared_.empty()) shared_ = log_.SharedLog(error);
  return shared_;
}

std::string Trail::Write(const TrailLine& line, std::int64_t now) {
  ReportEvent(line);
  const std::string text = FormatTrailLine(line, now);
  std::string error;
  const std::string shared = log_.SharedLog(error);
  platform::EndOfPhase("data folder");
  if (!shared.empty()) error = log_.AppendLine(shared, text, platform::SharedLogRotateAt);
  platform::EndOfPhase("line");
  sharedTrouble_ = error.empty() ? std::string() : (shared.empty() ? error : shared + ": " + error);
  return extraFile_.empty() ? std::string() : log_.AppendLine(extraFile_, text, 0);
}

void Trail::ReportEvent(const TrailLine& line) {
  platform::EventText text{line.program, line.path, line.identity, line.versionBefore, {}};
  if (!line.interruptedProgram.empty()) {
    platform::EventText earlier = text;
    earlier.detail = line.interruptedProgram + " at " + UtcTime(line.interruptedStarted);
    events_.Report(platform::Event::Interrupted, earlier);
  }
  if (line.result == "updated" || line.result == "pending-power-cycle") {
    text.detail = line.versionAfter;  // the firmware programmed
    events_.Report(
        line.result == "updated" ? platform::Event::Updated : platform::Event::PendingPowerCycle,
        text);
  } else if (line.result == "failed") {
    text.detail = line.reason.empty() ? "programming failed" : line.reason;
    events_.Report(platform::Event::Failed, text);
  } else if (line.result == "did-not-take") {
    text.detail = line.reason;  // what was expected, and what the device reports
    events_.Report(platform::Event::DidNotTake, text);
  } else if (line.state == "busy" && line.command == "update") {
    events_.Report(platform::Event::Busy, text);
  }
}

}  // namespace update
