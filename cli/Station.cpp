// The station: device after device at a production line, each checked, programmed, and checked
// again after its power cycle, under the programming lock for each look and each unit. The unit's
// verdict is decided here; the report writes it. See Session.h.
#include <chrono>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "cli/Session.h"

namespace cli {
namespace {

using Mode = platform::Interrupts::Mode;
using Wait = platform::DeviceChanges::Wait;

// How long the station waits for a device change before it looks again anyway, and how quiet the
// changes must have been before it looks: the window's rescan delay.
constexpr std::chrono::milliseconds StationPoll{5000};
constexpr std::chrono::milliseconds Settle{device::RescanDelay};
// How long the station waits for the lock between looks at Ctrl+C.
constexpr std::chrono::milliseconds StationLockPoll{1000};

// Each outcome of a unit at the station: its verdict as an exit code (0 passed, 1 failed, 3010
// not verified) and what its log line and JSON give as its result.
struct StationRow {
  StationOutcome outcome;
  ExitCode exitCode;
  DeviceResult result;
};
// The first row is also what an outcome missing from the table gets: a failure.
constexpr StationRow StationRows[] = {
    {StationOutcome::ProgrammingFailed, ProgrammingFailed, DeviceResult::Failed},
    {StationOutcome::NotUpdatable, ProgrammingFailed, DeviceResult::NotUpdatable},
    {StationOutcome::AlreadyCurrent, Success, DeviceResult::UpToDate},
    {StationOutcome::Verified, Success, DeviceResult::Verified},
    {StationOutcome::WrongAfterPowerCycle, ProgrammingFailed, DeviceResult::Failed},
    {StationOutcome::Unverified, Updated, DeviceResult::Updated},
};

const StationRow& RowOf(StationOutcome outcome) {
  for (const StationRow& row : StationRows) {
    if (row.outcome == outcome) return row;
  }
  return StationRows[0];
}

// How recent a programming by another Flashwright program is worth a word before the station
// programs the unit again.
constexpr std::int64_t RecentlyProgrammedSeconds = std::int64_t{30} * 60;

// The longest label taken, in characters: a label is printed on a unit, and anything longer is a
// mis-scan (or no label at all), which must not go into a log line.
constexpr std::size_t MaxLabelCharacters = 256;

std::size_t Utf8Characters(std::string_view text) {
  std::size_t characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
  return characters;
}

// Why a label read for a unit is not taken, or nothing when it is. `pattern` is matched against
// the whole label; a match the regular expression library gives up on refuses the label.
std::string TooLong() {
  return "longer than " + std::to_string(MaxLabelCharacters) + " characters";
}

std::optional<std::string> LabelRefusal(std::string_view label, const std::string& patternText,
                                        const std::regex* pattern) {
  if (Utf8Characters(label) > MaxLabelCharacters) return TooLong();
  if (pattern == nullptr) return std::nullopt;
  bool matches = false;
  try {
    matches = std::regex_match(label.begin(), label.end(), *pattern);
  } catch (const std::regex_error&) {
    return "too complex to match against --unit-id-pattern " + patternText;
  }
  if (matches) return std::nullopt;
  return "\"" + Printable(std::string(label)) + "\" does not match --unit-id-pattern " +
         patternText;
}

}  // namespace

// Takes the programming lock for a look or a unit, waiting while another program holds it (with
// a note, once). False at a Ctrl+C, or when the lock cannot be had at all (then told).
bool Session::TakeStationLock() {
  bool told = false;
  for (;;) {
    stationLock_.emplace(services_.programmingLock, told ? StationLockPoll : LockWait);
    const std::optional<ExitCode> refusal = Refusal(stationLock_->Result());
    if (!refusal) return true;
    stationLock_.reset();
    if (*refusal != Locked) {
      services_.output.Err("flashwright-cli: " + refusalText_ + "\n");
      lockFailed_ = true;
      return false;
    }
    if (!told) {
      services_.output.Err(
          "Another Flashwright program is programming a device: waiting for it to finish "
          "(Ctrl+C stops).\n");
      told = true;
    }
    if (services_.interrupts.Requested()) return false;
  }
}

// Lists the devices until `done` says so, waiting for device changes between looks; false at
// a Ctrl+C. Each look holds the programming lock; it is still held when this returns true, so
// that the unit found is programmed before any other program touches it.
template <class Done>
bool Session::WaitForDevices(Done&& done, const std::string& prompt) {
  bool prompted = false;
  for (;;) {
    if (!TakeStationLock()) return false;
    bool complete = false;
    std::vector<Entry> entries = Inspect(library_, &complete);
    if (done(entries)) {
      entries_ = std::move(entries);
      return true;
    }
    stationLock_.reset();
    if (!prompted && !prompt.empty()) services_.output.Err(prompt);
    prompted = true;
    if (services_.deviceChanges.WaitForChange(Settle, StationPoll) == Wait::Interrupted ||
        services_.interrupts.Requested()) {
      return false;
    }
  }
}

// Waits for exactly one device; several ask for the others to go. False at a Ctrl+C.
bool Session::WaitForOneDevice() {
  bool severalTold = false;
  return WaitForDevices(
      [&](const std::vector<Entry>& entries) {
        if (entries.size() > 1 && !severalTold) {
          services_.output.Err("Several devices are attached: unplug all but one.\n");
          severalTold = true;
        }
        return entries.size() == 1;
      },
      "Waiting for a device...\n");
}

bool Session::WaitForDeviceGone(const device::DevicePath& path, const std::string& prompt) {
  return WaitForDevices(
      [&](const std::vector<Entry>& entries) {
        for (const Entry& entry : entries) {
          if (entry.path == path) return false;
        }
        return true;
      },
      prompt);
}

bool Session::WaitForPowerCycle() {
  services_.output.Err("Programmed. Power-cycle the device now.\n");
  for (;;) {
    switch (services_.deviceChanges.WaitForChange(Settle, StationPoll)) {
      case Wait::Changed:
        return true;
      case Wait::Interrupted:
        return false;
      case Wait::TimedOut:
        if (services_.interrupts.Requested()) return false;
        break;
    }
  }
}

// One device at the station, from its check to its outcome, with the lock its look took. A
// programming attempt is logged as soon as it has ended, before the wait for the power cycle; the
// check after it is a second line. Each line is written once the lock is let go.
StationOutcome Session::StationDevice() {
  Entry entry = entries_.front();
  const std::string versionBefore = entry.Firmware();
  const auto started = Clock::now();
  auto finish = [&](StationOutcome outcome) {
    stationLock_.reset();
    entry.result = RowOf(outcome).result;
    entry.durationMs = MillisecondsSince(started);
    const std::string reason = outcome == StationOutcome::ProgrammingFailed ? "programming failed"
                               : outcome == StationOutcome::WrongAfterPowerCycle
                                   ? "after the power cycle the device reports " +
                                         services_.output.FromAnsi(entry.Firmware())
                                   : std::string();
    logFailed_ = !report_.Log(entry, versionBefore, RowOf(outcome).exitCode, reason) || logFailed_;
    report_.Station(entry, outcome, RowOf(outcome).exitCode);
    return outcome;
  };
  if (!entry.Updatable()) return finish(StationOutcome::NotUpdatable);
  if (!entry.NeedsUpdate()) return finish(StationOutcome::AlreadyCurrent);
  // The station programs every unit that needs it, whatever the records say; but a unit that
  // another Flashwright program programmed minutes ago most likely waits for its power cycle
  // only, and the operator hears so before it is programmed a second time.
  if (const auto earlier = attempts_.ProgrammedElsewhere(
          {entry.path, false, entry.Identity(), entry.Firmware()}, RecentlyProgrammedSeconds)) {
    report_.RecentlyProgrammed(earlier->program, services_.attempts.Now() - earlier->ended);
  }
  const update::UpdateOutcome outcome = Program(entry, versionBefore);
  stationLock_.reset();
  if (outcome != update::UpdateOutcome::Updated) {
    return finish(StationOutcome::ProgrammingFailed);
  }
  logFailed_ = !report_.Log(entry, versionBefore, Updated) || logFailed_;
  // The new firmware runs after a power cycle: once the device has gone and come back (as
  // device changes tell; a quick one may never show it missing from a list), it is checked.
  if (!WaitForPowerCycle() || !WaitForOneDevice()) {
    report_.Station(entry, StationOutcome::Unverified, RowOf(StationOutcome::Unverified).exitCode);
    return StationOutcome::Unverified;
  }
  entry.check = entries_.front().check;
  return finish(entry.Updatable() && !entry.NeedsUpdate() ? StationOutcome::Verified
                                                          : StationOutcome::WrongAfterPowerCycle);
}

// The unit's identity, asked for before the station looks for it: the operator scans the label
// with the unit still in hand and then plugs it in, and a unit found is programmed at once, never
// held waiting for a name. An empty line asks again; so does a label that is too long or does not
// match --unit-id-pattern, saying why, and nothing is programmed or counted for it. False at the
// input's end or a Ctrl+C: the station stops there, every earlier unit on record.
bool Session::IdentifyUnit(StationUnit& unit) {
  if (options_.unitIds == UnitIds::Sequence) {
    unit.id = std::to_string(options_.unitStart + unit.sequence - 1);
  }
  std::optional<std::regex> pattern;
  if (options_.unitIds == UnitIds::Prompt && !options_.unitIdPattern.empty()) {
    pattern.emplace(options_.unitIdPattern, std::regex::ECMAScript);
  }
  using Read = platform::LineInput::Read;
  while (options_.unitIds == UnitIds::Prompt && unit.id.empty()) {
    const std::string asked = "Unit " + std::to_string(unit.sequence);
    services_.output.Err(asked + ": scan its label (or type it and Enter), then plug it in.\n");
    const Read read = services_.input.ReadLine(unit.id);
    if (read != Read::Line && read != Read::TooLong) return false;
    const std::size_t first = unit.id.find_first_not_of(" \t");
    unit.id = read == Read::TooLong || first == std::string::npos
                  ? std::string()
                  : unit.id.substr(first, unit.id.find_last_not_of(" \t") + 1 - first);
    const std::optional<std::string> refusal =
        read == Read::TooLong ? std::optional<std::string>(TooLong())
        : unit.id.empty()
            ? std::nullopt
            : LabelRefusal(unit.id, options_.unitIdPattern, pattern ? &*pattern : nullptr);
    if (refusal) {
      services_.output.Err(asked + ": label refused: " + *refusal + ". Scan it again.\n");
      unit.id.clear();
    }
  }
  return true;
}

// Each unit that reached a verdict counts as done, a programmed one that was not verified
// included; the exit code is the worst verdict: 1 for a failure, else 3010 for an unverified
// unit (it needs its power cycle and a check), else 0. A log line that cannot be written ends
// the run with 1 once its unit has its verdict, before the next unit. An identity given to an
// earlier unit of the run is told before the unit is programmed (it may be one programmed twice)
// and its lines say so; the unit is programmed all the same.
ExitCode Session::Station() {
  afterProgramming_ = Mode::Note;
  services_.interrupts.Set(afterProgramming_);
  services_.deviceChanges.Watch();
  StationTally tally;
  std::map<std::string, ExitCode> verdicts;  // each identity given in the run, its last verdict
  bool unverified = false;
  for (int sequence = 1; !options_.count || tally.Units() < *options_.count; ++sequence) {
    StationUnit unit;
    unit.sequence = sequence;
    if (!IdentifyUnit(unit)) break;
    const auto earlier = verdicts.find(unit.id);
    unit.repeated = earlier != verdicts.end();
    report_.BeginUnit(unit);
    if (unit.repeated) report_.Repeated(earlier->second);
    if (!WaitForOneDevice()) break;
    const ExitCode verdict = RowOf(StationDevice()).exitCode;
    stationLock_.reset();
    ++(verdict == Success             ? tally.passed
       : verdict == ProgrammingFailed ? tally.failed
                                      : tally.unverified);
    tally.repeated += unit.repeated ? 1 : 0;
    if (!unit.id.empty()) verdicts[unit.id] = verdict;
    report_.StationTallyLine(verdict, tally);
    if (verdict == Updated) {
      unverified = true;
      break;
    }
    if (logFailed_) break;
    if (options_.count && tally.Units() >= *options_.count) break;
    if (!WaitForDeviceGone(entries_.front().path, "Unplug the device and plug in the next.\n")) {
      break;
    }
    stationLock_.reset();
  }
  stationLock_.reset();
  if (logFailed_) {
    services_.output.Err("flashwright-cli: stopped: the log " + options_.logFile +
                         " could not be written for the last unit, and no further unit is "
                         "programmed\n");
  }
  report_.StationSummary(tally, unverified);
  return tally.failed > 0 || lockFailed_ || logFailed_ ? ProgrammingFailed
         : unverified                                  ? Updated
                                                       : Success;
}

}  // namespace cli
