// The commands' output; see Report.h.
#include "cli/Report.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <nlohmann/json.hpp>
#include <utility>

namespace cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view Target = device::TargetFirmwareVersion;

std::string TextOf(const char* buffer, std::size_t size) {
  return std::string(buffer, strnlen(buffer, size));
}

// Every document and log line: ASCII only (\u escapes), so no console or shell code page can
// garble it, and a byte that is not UTF-8 (which the converted text never has) cannot throw.
std::string Dump(const Json& json) {
  return json.dump(-1, ' ', true, Json::error_handler_t::replace);
}

// A result document's frame: what ran, the target, the exit code and the devices.
Json Document(Json command, ExitCode exitCode, Json devices) {
  return {{"command", std::move(command)},
          {"target", Target},
          {"exitCode", exitCode},
          {"devices", std::move(devices)}};
}

// `text` (UTF-8) padded with spaces to `width` characters, so that columns line up whatever the
// bytes per character.
std::string PadRight(const std::string& text, std::size_t width) {
  std::size_t characters = 0;
  for (const char c : text) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++characters;
  }
  return characters >= width ? text : text + std::string(width - characters, ' ');
}

// The library's texts of an entry converted from its code page, for output.
struct EntryText {
  std::string path, identity, firmware;
  EntryText(const Entry& entry, platform::ConsoleOutput& output)
      : path(output.FromAnsi(TextOf(entry.path.data(), entry.path.size()))),
        identity(output.FromAnsi(entry.Identity())),
        firmware(output.FromAnsi(entry.Firmware())) {}
};

// A device's state: what its checks concluded, unless the records say more: another program is
// programming it (busy), or it reports the old version and waits for its power cycle, its last
// update was cut short, or that update did not take.
trail::State DeviceState(const Entry& entry) {
  if (entry.UnderWay() || entry.Pending() ||
      ((entry.Interrupted() || entry.DidNotTake()) && entry.NeedsUpdate())) {
    if (const auto remembered = trail::StateOf(entry.remembered)) return *remembered;
  }
  return trail::StateOf(entry.check.outcome);
}

}  // namespace

// UTF-8 text for a line of the text output: a control character (a newline inside an
// identification, an escape sequence) would break the line or drive the terminal, so it shows as
// U+FFFD.
std::string Printable(const std::string& text) {
  std::string printable;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      printable += "\xEF\xBF\xBD";
    } else {
      printable += c;
    }
  }
  // C1 controls (U+0080..U+009F, UTF-8 C2 80..C2 9F) likewise.
  for (std::size_t at = printable.find('\xC2'); at != std::string::npos;
       at = printable.find('\xC2', at + 1)) {
    if (at + 1 < printable.size() && static_cast<unsigned char>(printable[at + 1]) < 0xA0) {
      printable.replace(at, 2, "\xEF\xBF\xBD");
    }
  }
  return printable;
}

trail::Standing StandingOf(const Entry& entry) {
  return trail::StandingOf(DeviceState(entry),
                           entry.result ? std::optional(ResultOf(*entry.result)) : std::nullopt)
      .value_or(trail::Standing::Failed);
}

namespace {

Json ToJson(const Entry& entry, platform::ConsoleOutput& output) {
  auto orNull = [](const auto& value) { return value ? Json(*value) : Json(nullptr); };
  const EntryText text(entry, output);
  Json json = {{"index", entry.index},
               {"path", text.path},
               {"identity", entry.check.identity ? Json(text.identity) : Json(nullptr)},
               {"chipType", orNull(entry.check.chipType)},
               {"runningMode", orNull(entry.check.runningMode)},
               {"firmware", entry.check.firmware ? Json(text.firmware) : Json(nullptr)},
               {"state", trail::WordOf(DeviceState(entry))}};
  if (entry.remembered != update::Remembered::Nothing && entry.record) {
    json["attempt"] = {{"state", trail::WordOf(*trail::StateOf(entry.remembered))},
                       {"program", entry.record->program},
                       {"started", trail::UtcTime(entry.record->started)}};
  }
  if (entry.result) {
    json["result"] = trail::WordOf(ResultOf(*entry.result));
    json["durationMs"] = entry.durationMs;
  }
  return json;
}

}  // namespace

trail::Result ResultOf(DeviceResult result) {
  using trail::Result;
  constexpr Result Results[] = {Result::Skipped, Result::UpToDate, Result::NotUpdatable,
                                Result::Updated, Result::Verified, Result::PendingPowerCycle,
                                Result::Failed};
  static_assert(std::size(Results) == static_cast<std::size_t>(DeviceResult::Failed) + 1);
  return Results[static_cast<std::size_t>(result)];
}

std::string_view StationWord(ExitCode exitCode) {
  return exitCode == Success ? "PASS" : exitCode == ProgrammingFailed ? "FAIL" : "NOT VERIFIED";
}

std::string UsageErrorDocument(const std::string& message) {
  Json document = Document(nullptr, Usage, Json::array());
  document["error"] = {{"message", message}};
  return Dump(document) + "\n";
}

void Report::End(ExitCode exitCode, const std::vector<Entry>& entries, const std::string& error) {
  try {
    if (options_.json) {
      Json document = Document(options_.command->name, exitCode, Json::array());
      for (const Entry& entry : entries) document["devices"].push_back(ToJson(entry, output_));
      if (!error.empty()) document["error"] = {{"message", error}};
      Output(Dump(document) + "\n");
    } else if (!error.empty()) {
      output_.Err("flashwright-cli: " + error + "\n");
    }
  } catch (const std::exception& failure) {
    OutputFailed(failure.what());
  }
}

void Report::Detected(std::size_t attached, std::size_t pending) {
  // Whole literals, so that the documentation's quotes of them can be found in the program.
  constexpr std::string_view EveryDeviceCurrent = "Firmware 00.01.01.07 on every attached device";
  constexpr std::string_view WaitsForPowerCycle =
      "Firmware 00.01.01.07 programmed; waiting for the device's power cycle";
  static_assert(EveryDeviceCurrent.substr(9, Target.size()) == Target);
  static_assert(WaitsForPowerCycle.substr(9, Target.size()) == Target);
  try {
    Output(std::string(pending > 0    ? WaitsForPowerCycle
                       : attached > 0 ? EveryDeviceCurrent
                                      : "No device needs the update") +
           "\n");
  } catch (const std::exception& failure) {
    OutputFailed(failure.what());
  }
}

void Report::Table(const std::vector<Entry>& entries) {
  if (options_.json) return;
  std::string text = "Target firmware " + std::string(Target) + "\n";
  auto row = [&](const std::string& index, const std::string& identity, const std::string& chip,
                 const std::string& mode, const std::string& firmware, std::string_view state) {
    text += PadRight(index, 3) + " " + PadRight(identity, 26) + " " + PadRight(chip, 5) + " " +
            PadRight(mode, 5) + " " + PadRight(firmware, 13) + " " + std::string(state) + "\n";
  };
  row("#", "Identification", "Chip", "Mode", "Firmware", "State");
  for (const Entry& entry : entries) {
    auto number = [](const std::optional<std::int32_t>& value) {
      return value ? std::to_string(*value) : std::string("-");
    };
    const EntryText converted(entry, output_);
    row(std::to_string(entry.index), Printable(converted.identity), number(entry.check.chipType),
        number(entry.check.runningMode), entry.check.firmware ? Printable(converted.firmware) : "-",
        trail::WordOf(DeviceState(entry)));
  }
  Output(text);
}

void Report::Result(const Entry& entry) {
  if (options_.json || !entry.result) return;
  std::string line = "Device " + std::to_string(entry.index) + " (" + Identity(entry) + "): ";
  switch (*entry.result) {
    case DeviceResult::Updated:
      line += "updated to " + std::string(Target) + "; power-cycle it to run the new firmware.";
      break;
    case DeviceResult::UpToDate:
      line += "already at " + std::string(Target) + ".";
      break;
    case DeviceResult::NotUpdatable:
      line += "cannot be updated (" +
              std::string(trail::WordOf(trail::StateOf(entry.check.outcome))) + ").";
      break;
    case DeviceResult::Pending:
      line +=
          "programmed earlier and waits for its power cycle; not programmed again (--force "
          "would). Power-cycle it to run the new firmware.";
      break;
    case DeviceResult::Skipped:
      if (entry.UnderWay()) {
        line +=
            "another Flashwright program is programming it right now; not touched. Run the "
            "update again once it has finished.";
        break;
      }
      [[fallthrough]];
    case DeviceResult::Verified:
    case DeviceResult::Failed:
      line += "update failed.";
      break;
  }
  Output(line + "\n");
}

void Report::Programming(const Entry& entry) {
  output_.Err("Device " + std::to_string(entry.index) + " (" + Identity(entry) + "): programming " +
              std::string(Target) + ". Do not unplug the device or switch it off.\n");
}

void Report::Station(const Entry& entry, StationOutcome outcome, ExitCode exitCode) {
  std::string why;
  switch (outcome) {
    case StationOutcome::NotUpdatable:
      why = "cannot be updated: " + std::string(trail::WordOf(trail::StateOf(entry.check.outcome)));
      break;
    case StationOutcome::AlreadyCurrent:
      why = "already at " + std::string(Target);
      break;
    case StationOutcome::ProgrammingFailed:
      why = "programming failed";
      break;
    case StationOutcome::Verified:
      why = std::string(Target) + " verified";
      break;
    case StationOutcome::WrongAfterPowerCycle:
      why = "after the power cycle the device reports " +
            Printable(output_.FromAnsi(entry.Firmware()));
      break;
    case StationOutcome::Unverified:
      why = "programmed, not verified: stopped before its power cycle was checked";
      break;
  }
  why_ = why;
  try {
    if (options_.json) {
      Json line = Document(options_.command->name, exitCode, Json::array({ToJson(entry, output_)}));
      // Stamped as the unit's log lines are, so that the two pair without the log at hand.
      line["time"] = trail::UtcTime(written_ != 0 ? written_ : std::time(nullptr));
      line["station"] = run_.station;
      line["run"] = run_.run;
      line["sequence"] = unit_.sequence;
      line["unit"] = {{"sequence", unit_.sequence},
                      {"id", unit_.id.empty() ? Json(nullptr) : Json(unit_.id)},
                      {"repeated", unit_.repeated}};
      if (exitCode != Success) line["error"] = {{"message", why}};
      Output(Dump(line) + "\n");
    } else {
      std::string word(StationWord(exitCode));
      word.resize(std::max<std::size_t>(word.size(), 4) + 2, ' ');
      Output(word + (unit_.id.empty() ? "" : Printable(unit_.id) + "  ") + Identity(entry) + "  " +
             why + "\n");
    }
  } catch (const std::exception& failure) {
    OutputFailed(failure.what());
  }
}

void Report::Repeated(ExitCode earlier) {
  const std::string unit = "unit " + Printable(unit_.id);
  output_.Err(earlier == ProgrammingFailed
                  ? unit + " failed earlier in this run: it is tried again.\n"
                  : unit + " was already done in this run (" + std::string(StationWord(earlier)) +
                        "): programmed twice?\n");
}

void Report::RecentlyProgrammed(const std::string& program, std::int64_t secondsAgo) {
  const std::int64_t minutes = secondsAgo / 60;
  const std::string when = minutes == 0   ? "less than a minute ago"
                           : minutes == 1 ? "1 minute ago"
                                          : std::to_string(minutes) + " minutes ago";
  const std::string sequence = std::to_string(unit_.sequence);
  const bool named = !unit_.id.empty() && unit_.id != sequence;
  output_.Err("unit " + sequence + (named ? " (" + Printable(unit_.id) + ")" : "") +
              ": programmed by " + Printable(program) + " " + when +
              " and still at its old firmware: perhaps it only waits for its power cycle. It is "
              "programmed again.\n");
}

namespace {

// "6 passed, 1 failed", and the units not verified when there are any.
std::string Figures(const StationTally& tally) {
  return std::to_string(tally.passed) + " passed, " + std::to_string(tally.failed) + " failed" +
         (tally.unverified > 0 ? ", " + std::to_string(tally.unverified) + " not verified" : "");
}

}  // namespace

void Report::StationTallyLine(ExitCode exitCode, const StationTally& tally) {
  if (options_.beep && exitCode == ProgrammingFailed) output_.Beep();
  if (options_.json) return;
  const std::string sequence = std::to_string(unit_.sequence);
  const bool named = !unit_.id.empty() && unit_.id != sequence;
  if (!screen_) screen_ = output_.ErrorScreen();
  if (*screen_ == platform::ConsoleOutput::Screen::Redirected) {
    output_.Err("unit " + sequence + (named ? " (" + Printable(unit_.id) + ")" : "") + ": " +
                std::string(StationWord(exitCode)) + ", " + Figures(tally) + "\n");
    return;
  }
  // On a console, a banner the operator reads from across the bench: the verdict and the unit,
  // why a unit failed, and the figures; green, red or yellow where the console takes colour.
  std::vector<std::string> lines = {"", "  " + std::string(StationWord(exitCode)) + "   unit " +
                                            sequence +
                                            (named ? "   " + Printable(unit_.id) : std::string())};
  if (exitCode != Success && !why_.empty()) lines.push_back("  " + why_);
  lines.push_back("  " + Figures(tally));
  lines.emplace_back();
  constexpr std::size_t Width = 64;
  for (std::string& line : lines) {
    std::size_t characters = 0;
    for (const char c : line) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    if (characters < Width) line.append(Width - characters, ' ');
  }
  std::string banner;
  if (*screen_ == platform::ConsoleOutput::Screen::Colour) {
    const char* colour = exitCode == Success             ? "\x1b[1;97;42m"
                         : exitCode == ProgrammingFailed ? "\x1b[1;97;41m"
                                                         : "\x1b[1;30;43m";
    for (const std::string& line : lines) banner += colour + line + "\x1b[0m\n";
  } else {
    const std::string rule(Width, exitCode == Success ? '=' : '#');
    banner = rule + "\n";
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) banner += lines[i] + "\n";
    banner += rule + "\n";
  }
  output_.Err(banner);
}

void Report::StationSummary(const StationTally& tally, bool stoppedUnverified) {
  if (options_.json) return;
  const int units = tally.Units();
  const int repeated = tally.repeated;
  output_.Err(std::to_string(units) + (units == 1 ? " unit: " : " units: ") + Figures(tally) + "." +
              (repeated > 0 ? " " + std::to_string(repeated) +
                                  (repeated == 1 ? " identity was" : " identities were") +
                                  " given to an earlier unit too."
                            : "") +
              (stoppedUnverified ? " The last unit was programmed but not verified: power-cycle "
                                   "it and check it with status."
                                 : "") +
              "\n");
}

void Report::BeginTrail(platform::VersionRecord& versionRecord, std::string warning) {
  run_ =
      trail::RunLine(trail::Program::Cli, options_.command->trail.value_or(trail::Command::Status),
                     versionRecord, log_);
  run_.warning = std::move(warning);
  if (options_.command->program == update::Program::Station) {
    run_.station = options_.station.empty() ? run_.computer : options_.station;
    // The start and the clock's finest ticks: two runs of one station never share it.
    const auto ticks = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "-%08llx", ticks & 0xFFFFFFFFull);
    run_.run = trail::UtcTime(std::time(nullptr)) + suffix;
  }
  trail_.AlsoTo(options_.logFile);
}

trail::Line Report::DeviceLine(const Entry& entry, const std::string& versionBefore) {
  trail::Line line = run_;
  const EntryText text(entry, output_);
  line.path = text.path;
  line.identity = text.identity;
  line.versionBefore = output_.FromAnsi(versionBefore);
  line.state = DeviceState(entry);
  if (unit_.sequence > 0) {
    line.sequence = unit_.sequence;
    line.unit = unit_.id;
    line.repeated = unit_.repeated;
  }
  if (entry.result) {
    line.result = ResultOf(*entry.result);
    line.durationMs = entry.durationMs;
    switch (*entry.result) {
      case DeviceResult::Updated:
      case DeviceResult::Pending:
        line.versionAfter = std::string(Target);
        break;
      case DeviceResult::UpToDate:
      case DeviceResult::Verified:
        line.versionAfter = text.firmware;
        break;
      default:
        break;
    }
  }
  if (notified_ && StandingOf(entry) == trail::Standing::WaitsForPowerCycle) {
    line.notified = *notified_;
    if (!*notified_) {
      line.warning += (line.warning.empty() ? "" : "; ") + notNotified_;
    }
  }
  // The first line after an attempt that was cut short says so.
  if (entry.Interrupted() && entry.record) {
    line.interruptedProgram = entry.record->program;
    line.interruptedStarted = entry.record->started;
  }
  return line;
}

bool Report::Log(const Entry& entry, const std::string& versionBefore, ExitCode exitCode,
                 const std::string& reason) {
  ++lines_;
  trail::Line line = DeviceLine(entry, versionBefore);
  line.exitCode = exitCode;
  line.reason = reason;
  return Write(line);
}

bool Report::LogStates(const std::vector<Entry>& entries, ExitCode exitCode) {
  bool written = true;
  for (const Entry& entry : entries) {
    written = Log(entry, entry.Firmware(), exitCode) && written;
  }
  return written;
}

bool Report::LogRun(trail::State state, ExitCode exitCode, const std::string& reason) {
  ++lines_;
  trail::Line line = run_;
  line.state = state;
  line.exitCode = exitCode;
  line.reason = reason;
  return Write(line);
}

bool Report::LogEnded(const update::Ended& ended) {
  const platform::AttemptRecord& record = ended.record;
  trail::Line line = run_;
  line.path = output_.FromAnsi(record.path);
  line.identity = output_.FromAnsi(record.identity);
  line.versionBefore = output_.FromAnsi(record.versionBefore);
  line.programmed = record.ended != 0 ? record.ended : record.started;
  const std::string reports = output_.FromAnsi(ended.version);
  switch (ended.why) {
    case update::Ending::Confirmed:
      line.versionAfter = std::string(Target);
      line.state = trail::State::UpToDate;
      line.result = trail::Result::Confirmed;
      break;
    case update::Ending::DidNotTake:
      line.versionAfter = reports;
      line.state = trail::State::DidNotTake;
      line.result = trail::Result::DidNotTake;
      line.reason = "expected " + std::string(Target) + ", the device reports " + reports;
      break;
    case update::Ending::AnotherUnit:
      // The unit the record names is not at its path: its state is not known.
      line.result = trail::Result::AnotherUnit;
      line.reason = "another unit is at the device path now (" + output_.FromAnsi(ended.identity) +
                    ", firmware " + reports + "): whether this unit's update took was not seen";
      break;
  }
  return Write(line);
}

bool Report::Write(const trail::Line& line) {
  written_ = std::time(nullptr);
  const std::string error = trail_.Write(line, written_);
  if (!trail_.SharedLogTrouble().empty() && !sharedTold_) {
    sharedTold_ = true;
    output_.Err("flashwright-cli: the shared log is not written: " + trail_.SharedLogTrouble() +
                "\n");
  }
  return error.empty() || LogFailed(error);
}

bool Report::LogFailed(const std::string& why) {
  output_.Err("flashwright-cli: cannot write the log " + options_.logFile + ": " + why + "\n");
  return false;
}

std::string Report::Identity(const Entry& entry) {
  return Printable(output_.FromAnsi(entry.Identity()));
}

void Report::Output(const std::string& text) {
  if (!output_.Out(text)) OutputFailed("writing failed");
}

void Report::OutputFailed(const std::string& why) {
  output_.Err("flashwright-cli: cannot write the output: " + why +
              " (the exit code still tells the result)\n");
}

}  // namespace cli
