// The console program's entry: its services on Windows, around the program's own main. Needs no
// Windows header of its callers.
#pragma once

#include <functional>

#include "platform/Console.h"

namespace platform::win32 {

// Sets up the services (the library from the program's own folder, the fault barrier, the
// machine-wide programming lock, the console, a hidden window for device changes and the
// shutdown block) and runs `program` with them; returns its exit code.
int RunConsoleProgram(const std::function<int(const ConsoleServices&)>& program);

}  // namespace platform::win32
