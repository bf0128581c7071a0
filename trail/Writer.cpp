// The trail; see TrailWriter.h.
#include "trail/Writer.h"

#include <ctime>
#include <utility>

#include "platform/Phases.h"

namespace trail {
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
  Members& Text(Key key, std::string_view value) { return Text(KeyOf(key), value); }
  template <class Type>
  Members& Word(Key key, std::optional<Type> value) {
    return Text(KeyOf(key), value ? WordOf(*value) : std::string_view());
  }
  Members& Number(Key key, std::optional<long long> value) { return Number(KeyOf(key), value); }
  Members& Text(std::string_view key, std::string_view value) {
    Name(key);
    if (value.empty()) {
      out_ += "null";
    } else {
      AppendString(out_, value);
    }
    return *this;
  }
  Members& Number(std::string_view key, std::optional<long long> value) {
    Name(key);
    out_ += value ? std::to_string(*value) : "null";
    return *this;
  }
  Members& Object(std::string_view key, const std::string& members) {
    Name(key);
    out_ += members;
    return *this;
  }
  std::string Close() { return out_ + "}"; }

 private:
  void Name(std::string_view key) {
    out_ += out_.size() > 1 ? ",\"" : "\"";
    out_ += key;
    out_ += "\":";
  }
  std::string out_ = "{";
};

}  // namespace

std::string UtcTime(std::int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  char text[32] = "";
  if (const std::tm* utc = std::gmtime(&time)) {
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  }
  return text;
}

std::string FormatLine(const Line& line, std::int64_t now) {
  Members members;
  members.Text(Key::Time, UtcTime(now))
      .Word(Key::Program, line.program)
      .Text(Key::Version, line.version)
      .Word(Key::Command, line.command)
      .Text(Key::Computer, line.computer)
      .Text(Key::User, line.user)
      .Text(Key::Station, line.station)
      .Text(Key::Run, line.run)
      .Number(Key::Sequence, line.sequence)
      .Text(Key::Unit, line.unit)
      .Text(Key::Path, line.path)
      .Text(Key::Identity, line.identity)
      .Text(Key::VersionBefore, line.versionBefore)
      .Text(Key::VersionAfter, line.versionAfter)
      .Word(Key::State, line.state)
      .Word(Key::Check, line.check   ? line.check
                        : line.state ? CheckOf(*line.state)
                                     : std::nullopt)
      .Word(Key::Result, line.result)
      .Number(Key::ExitCode, line.exitCode)
      .Number(Key::DurationMs, line.durationMs)
      .Text(Key::Reason, line.reason)
      .Text(Key::Warning, line.warning);
  if (line.notified) members.Object(KeyOf(Key::Notified), *line.notified ? "true" : "false");
  if (!line.interruptedProgram.empty()) {
    members.Object(KeyOf(Key::PreviousAttempt),
                   Members()
                       .Text(KeyOf(Key::State), WordOf(State::Interrupted))
                       .Text(KeyOf(Key::Program), line.interruptedProgram)
                       .Text(StartedKey, UtcTime(line.interruptedStarted))
                       .Close());
  }
  if (line.programmed != 0) members.Text(Key::Programmed, UtcTime(line.programmed));
  if (line.repeated) members.Object(KeyOf(Key::Repeated), "true");
  return members.Close();
}

Line RunLine(Program program, Command command, platform::VersionRecord& versionRecord,
             platform::LogFile& log) {
  Line line;
  line.program = program;
  const auto version = versionRecord.ReadOwnFileVersion();
  line.version = version ? platform::VersionText(*version) : std::string();
  line.command = command;
  line.computer = log.ComputerName();
  line.user = log.UserName();
  return line;
}

std::string RunLog::SharedLog(std::string& error) {
  if (shared_.empty()) shared_ = log_.SharedLog(error);
  return shared_;
}

std::string Trail::Write(const Line& line, std::int64_t now) {
  ReportEvent(line);
  const std::string text = FormatLine(line, now);
  std::string error;
  const std::string shared = log_.SharedLog(error);
  platform::EndOfPhase("data folder");
  if (!shared.empty()) error = log_.AppendLine(shared, text, platform::SharedLogRotateAt);
  platform::EndOfPhase("line");
  sharedTrouble_ = error.empty() ? std::string() : (shared.empty() ? error : shared + ": " + error);
  return extraFile_.empty() ? std::string() : log_.AppendLine(extraFile_, text, 0);
}

std::optional<platform::Event> EventOf(const Line& line) {
  using platform::Event;
  if (line.result) {
    switch (*line.result) {
      case Result::Updated:
        return Event::Updated;
      case Result::PendingPowerCycle:
        return Event::PendingPowerCycle;
      case Result::Failed:
        return Event::Failed;
      case Result::DidNotTake:
        return Event::DidNotTake;
      default:
        break;  // a device skipped for another program's programming is a busy update
    }
  }
  if (line.state == State::Busy && line.command == Command::Update) return Event::Busy;
  return std::nullopt;
}

void Trail::ReportEvent(const Line& line) {
  const std::string program(line.program ? WordOf(*line.program) : std::string_view());
  platform::EventText text{program, line.path, line.identity, line.versionBefore, {}};
  if (!line.interruptedProgram.empty()) {
    platform::EventText earlier = text;
    earlier.detail = line.interruptedProgram + " at " + UtcTime(line.interruptedStarted);
    events_.Report(platform::Event::Interrupted, earlier);
  }
  const std::optional<platform::Event> event = EventOf(line);
  if (!event) return;
  switch (*event) {
    case platform::Event::Updated:
    case platform::Event::PendingPowerCycle:
      text.detail = line.versionAfter;  // the firmware programmed
      break;
    case platform::Event::Failed:
      text.detail = line.reason.empty() ? "programming failed" : line.reason;
      break;
    case platform::Event::DidNotTake:
      text.detail = line.reason;  // what was expected, and what the device reports
      break;
    default:
      break;
  }
  events_.Report(*event, text);
}

}  // namespace trail
