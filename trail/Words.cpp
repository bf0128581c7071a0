// The trail's one table of words; see Words.h.
#include "trail/Words.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace trail {
namespace {

// Each type's words, indexed by its value.
constexpr std::string_view States[] = {"up-to-date",
                                       "update-required",
                                       "unsupported-chip",
                                       "internal-code",
                                       "version-read-failed",
                                       "image-mismatch",
                                       "identity-failed",
                                       "pending-power-cycle",
                                       "interrupted",
                                       "did-not-take",
                                       "no-device",
                                       "busy",
                                       "error"};
static_assert(std::size(States) == static_cast<std::size_t>(State::Error) + 1);

constexpr std::string_view Results[] = {
    "skipped", "up-to-date", "not-updatable", "updated",     "verified", "pending-power-cycle",
    "failed",  "confirmed",  "did-not-take",  "another-unit"};
static_assert(std::size(Results) == static_cast<std::size_t>(Result::AnotherUnit) + 1);

constexpr std::string_view Checks[] = {"chip-type", "running-mode", "firmware-version", "image",
                                       "identification"};
static_assert(std::size(Checks) == static_cast<std::size_t>(Check::Identification) + 1);

constexpr std::string_view Commands[] = {"status", "update", "detect", "station"};
static_assert(std::size(Commands) == static_cast<std::size_t>(Command::Station) + 1);

constexpr std::string_view Programs[] = {"Flashwright", "flashwright-cli"};
static_assert(std::size(Programs) == static_cast<std::size_t>(Program::Cli) + 1);

constexpr std::string_view Standings[] = {"failed",        "did-not-take", "interrupted",
                                          "not-updatable", "needs-update", "waits-for-power-cycle",
                                          "done"};
static_assert(std::size(Standings) == static_cast<std::size_t>(Standing::Done) + 1);

template <class Type, std::size_t Size>
std::optional<Type> Named(const std::string_view (&words)[Size], std::string_view word) {
  const auto found = std::find(std::begin(words), std::end(words), word);
  if (found == std::end(words)) return std::nullopt;
  return static_cast<Type>(found - std::begin(words));
}

}  // namespace

std::string_view WordOf(State state) { return States[static_cast<std::size_t>(state)]; }
std::string_view WordOf(Result result) { return Results[static_cast<std::size_t>(result)]; }
std::string_view WordOf(Check check) { return Checks[static_cast<std::size_t>(check)]; }
std::string_view WordOf(Command command) { return Commands[static_cast<std::size_t>(command)]; }
std::string_view WordOf(Program program) { return Programs[static_cast<std::size_t>(program)]; }
std::string_view WordOf(Standing standing) { return Standings[static_cast<std::size_t>(standing)]; }

std::optional<State> StateNamed(std::string_view word) { return Named<State>(States, word); }
std::optional<Result> ResultNamed(std::string_view word) { return Named<Result>(Results, word); }
std::optional<Check> CheckNamed(std::string_view word) { return Named<Check>(Checks, word); }
std::optional<Command> CommandNamed(std::string_view word) {
  return Named<Command>(Commands, word);
}
std::optional<Program> ProgramNamed(std::string_view word) {
  return Named<Program>(Programs, word);
}

std::span<const std::string_view> StateWords() { return States; }
std::span<const std::string_view> ResultWords() { return Results; }
std::span<const std::string_view> CheckWords() { return Checks; }
std::span<const std::string_view> CommandWords() { return Commands; }
std::span<const std::string_view> ProgramWords() { return Programs; }
std::span<const std::string_view> StandingWords() { return Standings; }

State StateOf(device::ScanOutcome outcome) {
  using device::ScanOutcome;
  constexpr std::pair<ScanOutcome, State> Of[] = {
      {ScanOutcome::UnsupportedChip, State::UnsupportedChip},
      {ScanOutcome::WrongCodeMode, State::InternalCode},
      {ScanOutcome::VersionReadFailed, State::VersionReadFailed},
      {ScanOutcome::ImageMismatch, State::ImageMismatch},
      {ScanOutcome::IdentityFailed, State::IdentityFailed},
      {ScanOutcome::UpdateRequired, State::UpdateRequired},
      {ScanOutcome::UpToDate, State::UpToDate}};
  for (const auto& [listed, state] : Of) {
    if (listed == outcome) return state;
  }
  return State::Error;
}

std::optional<State> StateOf(update::Remembered remembered) {
  using update::Remembered;
  switch (remembered) {
    case Remembered::Interrupted:
      return State::Interrupted;
    case Remembered::PendingPowerCycle:
      return State::PendingPowerCycle;
    case Remembered::DidNotTake:
      return State::DidNotTake;
    case Remembered::UnderWay:
      return State::Busy;
    case Remembered::Nothing:
      break;
  }
  return std::nullopt;
}

std::optional<Check> CheckOf(State state) {
  switch (state) {
    case State::UnsupportedChip:
      return Check::ChipType;
    case State::InternalCode:
      return Check::RunningMode;
    case State::VersionReadFailed:
    case State::UpdateRequired:
    case State::UpToDate:
      return Check::FirmwareVersion;
    case State::ImageMismatch:
      return Check::Image;
    case State::IdentityFailed:
      return Check::Identification;
    default:
      break;
  }
  return std::nullopt;
}

std::optional<Standing> StandingOf(std::optional<State> state, std::optional<Result> result) {
  if (result) {
    switch (*result) {
      case Result::Failed:
        return Standing::Failed;
      case Result::DidNotTake:
        return Standing::DidNotTake;
      case Result::NotUpdatable:
        return Standing::NotUpdatable;
      case Result::Updated:
      case Result::PendingPowerCycle:
        return Standing::WaitsForPowerCycle;
      case Result::UpToDate:
      case Result::Verified:
      case Result::Confirmed:
        return Standing::Done;
      case Result::AnotherUnit:
        return std::nullopt;
      case Result::Skipped:
        break;  // the state tells
    }
  }
  if (!state) return std::nullopt;
  switch (*state) {
    case State::UpToDate:
      return Standing::Done;
    case State::UpdateRequired:
    case State::Busy:
      return Standing::NeedsUpdate;
    case State::PendingPowerCycle:
      return Standing::WaitsForPowerCycle;
    case State::Interrupted:
      return Standing::Interrupted;
    case State::DidNotTake:
      return Standing::DidNotTake;
    case State::Error:
      return Standing::Failed;
    case State::NoDevice:
      return std::nullopt;
    default:
      return Standing::NotUpdatable;
  }
}

}  // namespace trail
