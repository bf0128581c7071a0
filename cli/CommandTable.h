// The commands as one table: a row gives a command's name (also its word in a JSON document's
// "command"), its help, the options it takes, how it holds the programming lock (or that it needs
// no device at all), the program its attempt records name, whether it always exits 0, and its
// handler. The command line is parsed from it and the session runs it; adding a command is a row
// (Commands.cpp) and its handler.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "cli/ExitCodes.h"
#include "trail/Words.h"
#include "update/Attempts.h"

namespace platform {
struct ConsoleServices;
}

namespace cli {

class Session;
struct Options;

// The options a command takes besides --help, as bits of a row's `options`.
enum CommandOption : unsigned {
  JsonOption = 1,      // --json: one JSON document to standard output
  LogOption = 2,       // --log FILE: a JSON line per device attempted
  ChoiceOptions = 4,   // --device N or --all, and --force
  CountOption = 8,     // --count N
  ReportOptions = 16,  // PATH..., --csv FILE and --html FILE
  SupportSteps = 32,   // record on|off, or collect [FILE]
  NotifyOption = 64,   // --notify none|user: tell the person at the PC of a power cycle owed
};

struct CommandRow {
  std::string_view name;
  std::string_view help;
  unsigned options = 0;
  // The lock is held for the whole command, taken before the handler runs; else the handler takes
  // it itself, for each look and each unit.
  bool lockedThroughout = true;
  update::Program program = update::Program::Update;
  // The command its log lines name, for a command that writes them.
  std::optional<trail::Command> trail = std::nullopt;
  // A detection script's contract: exit code 0 whatever happened (see Session::Detect).
  bool alwaysSucceeds = false;
  // Without --notify, the person at the PC is told when a device waits for its power cycle.
  bool notifiesByDefault = false;
  ExitCode (Session::*handler)() = nullptr;
  // A command that touches no device runs this instead of a session's handler: it needs no
  // administrator rights, no library and no lock.
  ExitCode (*runAlone)(const Options&, const platform::ConsoleServices&) = nullptr;

  bool Takes(CommandOption option) const { return (options & option) != 0; }
};

// Every command, in the order --help lists them.
std::span<const CommandRow> CommandTable();

}  // namespace cli
