// The console program's entry: its services on Windows, around the program's own main. Needs no
// Windows header of its callers.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/Console.h"

namespace platform::win32 {

// The arguments of a wide entry point (without the program's name) as UTF-8.
std::vector<std::string> Utf8Arguments(int count, wchar_t** arguments);

// Installs the last-resort handlers (an exception nobody catches, on any thread, or an abort is
// reported on standard error and ends the process with 1, never with the runtime's 3), sets up
// the services (the library from the program's own folder, the fault barrier, the machine-wide
// programming lock, the attempt records, the console, a hidden window for device changes and the
// shutdown block) and runs `program` with them; returns its exit code, or 1 when it throws.
// `settle` is the quiet after a burst of device changes that counts as settled when no wait names
// its own (the engine's rescan delay).
int RunConsoleProgram(const std::function<int(const ConsoleServices&)>& program,
                      std::chrono::milliseconds settle);

}  // namespace platform::win32
