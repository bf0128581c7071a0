// flashwright-cli.exe, the command-line program: the same engine as the window, for scripts,
// fleets and production lines.
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "platform/win32/ConsoleProgram.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return platform::win32::RunConsoleProgram(
      [&](const platform::ConsoleServices& services) { return cli::Main(arguments, services); });
}
