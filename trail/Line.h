// One line of the trail, typed: what the writer (Writer.h) writes and the reader (Reader.h) reads
// back, of this version or an older one. Its keys are spelled once, here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "trail/Words.h"

namespace trail {

// A line's keys, in the order the writer writes them.
enum class Key : std::uint8_t {
  Time,
  Program,
  Version,
  Command,
  Computer,
  User,
  Station,
  Run,
  Sequence,
  Unit,
  Path,
  Identity,
  VersionBefore,
  VersionAfter,
  State,
  Check,
  Result,
  ExitCode,
  DurationMs,
  Reason,
  Warning,
  Notified,
  PreviousAttempt,  // an object: state "interrupted", program, started
  Programmed,
  Repeated,
};
inline constexpr std::string_view Keys[] = {"time",
                                            "program",
                                            "version",
                                            "command",
                                            "computer",
                                            "user",
                                            "station",
                                            "run",
                                            "sequence",
                                            "unit",
                                            "path",
                                            "identity",
                                            "versionBefore",
                                            "versionAfter",
                                            "state",
                                            "check",
                                            "result",
                                            "exitCode",
                                            "durationMs",
                                            "reason",
                                            "warning",
                                            "notified",
                                            "previousAttempt",
                                            "programmed",
                                            "repeated"};
static_assert(std::size(Keys) == static_cast<std::size_t>(Key::Repeated) + 1);
constexpr std::string_view KeyOf(Key key) { return Keys[static_cast<std::size_t>(key)]; }
// The previous attempt's own keys.
inline constexpr std::string_view StartedKey = "started";

// One line. Text is UTF-8; what is unknown or empty is written as null.
struct Line {
  std::int64_t time = 0;  // seconds since 1970-01-01 UTC; the writer writes its own `now`
  std::optional<Program> program;
  std::string version;  // the program's file version
  std::optional<Command> command;
  std::string computer;
  std::string user;
  std::string station;  // the station's name, at a station
  // At a station: the run (its start and a random part, so that runs at one station never share
  // it), the unit's number within it, the identity given to the unit (scanned, typed or
  // numbered), and whether that identity was given to an earlier unit of the run. A unit's
  // lines (programmed, then verified or failed) share run and sequence.
  std::string run;
  std::optional<int> sequence;
  std::string unit;
  bool repeated = false;
  // The device's; all empty for a run without a device.
  std::string path;
  std::string identity;
  std::string versionBefore;
  std::string versionAfter;
  std::optional<State> state;    // none on another-unit lines, whose unit is not at its path
  std::optional<Check> check;    // the check that decided the state (none: the state's own)
  std::optional<Result> result;  // none when nothing was to be done (status, detect)
  std::optional<int> exitCode;   // the run's; none for the window
  long long durationMs = 0;
  std::string reason;   // why it failed or was refused
  std::string warning;  // something the administrator should know about this PC
  // Whether the PC's user was told to power-cycle a device left waiting for it: none when no one
  // was to be told (an interactive run, --notify none, nothing waits).
  std::optional<bool> notified;
  // An earlier attempt on the device that was cut short: which program made it, and when.
  std::string interruptedProgram;
  std::int64_t interruptedStarted = 0;
  std::int64_t programmed = 0;  // confirmed, did-not-take, another-unit lines: when programmed
};

}  // namespace trail
