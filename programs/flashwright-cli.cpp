// flashwright-cli.exe, the command-line program: the same engine as the window, for scripts,
// fleets and production lines. A wide entry point: arguments (a log path, say) arrive whole in any
// language, whatever the ANSI code page.
#include <chrono>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "device/Scan.h"
#include "platform/win32/ConsoleProgram.h"

int wmain(int argc, wchar_t** argv) {
  const std::vector<std::string> arguments = platform::win32::Utf8Arguments(argc, argv);
  return platform::win32::RunConsoleProgram(
      [&](const platform::ConsoleServices& services) { return cli::Main(arguments, services); },
      std::chrono::milliseconds(device::RescanDelay));
}
