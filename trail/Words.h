// The trail's vocabulary: every state, result, check, command and program a log line, an event,
// a --json document, the machine's status summary or the fleet report names, typed, with the one
// table of their words (Words.cpp). Nothing above this room spells one of these words; what reads
// a line back turns its words into these types here.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "device/Scan.h"
#include "update/Attempts.h"

namespace trail {

// A device's state as its checks or the records concluded, or, for a line of a run that did
// nothing with a device, why (NoDevice, Busy, Error).
enum class State : std::uint8_t {
  UpToDate,
  UpdateRequired,
  UnsupportedChip,
  InternalCode,
  VersionReadFailed,
  ImageMismatch,
  IdentityFailed,
  PendingPowerCycle,  // programmed successfully; runs the new firmware after its power cycle
  Interrupted,        // an attempt on it was cut short
  DidNotTake,  // programmed successfully earlier, yet after its power cycle it reports the old
  NoDevice,
  Busy,   // another Flashwright program is programming (a device, or this one)
  Error,  // the run stopped before it reached a device (see the line's reason)
};

// What a run did with a device, or, on a line of its own, how an earlier successful programming's
// record ended (Confirmed, DidNotTake, AnotherUnit).
enum class Result : std::uint8_t {
  Skipped,
  UpToDate,
  NotUpdatable,
  Updated,
  Verified,
  PendingPowerCycle,
  Failed,
  Confirmed,
  DidNotTake,
  AnotherUnit,
};

// The check whose conclusion gave a device's state.
enum class Check : std::uint8_t { ChipType, RunningMode, FirmwareVersion, Image, Identification };

// The command a line's run was; the window's attempts are Update.
enum class Command : std::uint8_t { Status, Update, Detect, Station };

// The program that wrote a line.
enum class Program : std::uint8_t { Window, Cli };

// Each word, as the log, the documents and the status summary spell it.
std::string_view WordOf(State state);
std::string_view WordOf(Result result);
std::string_view WordOf(Check check);
std::string_view WordOf(Command command);
std::string_view WordOf(Program program);

// A word read back (from a log line of this version or an older one); nullopt for a word this
// version does not know.
std::optional<State> StateNamed(std::string_view word);
std::optional<Result> ResultNamed(std::string_view word);
std::optional<Check> CheckNamed(std::string_view word);
std::optional<Command> CommandNamed(std::string_view word);
std::optional<Program> ProgramNamed(std::string_view word);

// Every word of each kind, in the order of its type: what the log's schema must list.
std::span<const std::string_view> StateWords();
std::span<const std::string_view> ResultWords();
std::span<const std::string_view> CheckWords();
std::span<const std::string_view> CommandWords();
std::span<const std::string_view> ProgramWords();

// The state of one device whose checks ended in `outcome` (never NoDevice or MultipleDevices,
// which are what a scan of several devices concludes: those read as Error).
State StateOf(device::ScanOutcome outcome);
// The state the records give a device (nullopt for Nothing).
std::optional<State> StateOf(update::Remembered remembered);
// The check that decided `state`; nullopt for the states the records decide and the run's own.
std::optional<Check> CheckOf(State state);

// Where a device stands, as a person reads it: the classes in the order of what needs a person
// first. Updated and pending-power-cycle are one class: the device waits for its power cycle.
enum class Standing : std::uint8_t {
  Failed,        // programming failed, or the run stopped with an error
  DidNotTake,    // programmed, power-cycled, and still at its old version
  Interrupted,   // an attempt on it was cut short
  NotUpdatable,  // a check refused it (chip, running code, version, image, identification)
  NeedsUpdate,   // at an old version, not yet updated (or another program was at it)
  WaitsForPowerCycle,
  Done,  // at the target
};
// A device's standing from its line's result, else its state (nullopt: neither tells, as on an
// another-unit line or a run line without a device).
std::optional<Standing> StandingOf(std::optional<State> state, std::optional<Result> result);
// "failed", "did-not-take", "interrupted", "not-updatable", "needs-update",
// "waits-for-power-cycle", "done".
std::string_view WordOf(Standing standing);
std::span<const std::string_view> StandingWords();

}  // namespace trail
