// flashwright-cli.exe, the command-line program: the same engine as the window, for scripts,
// fleets and production lines. A wide entry point: arguments (a log path, say) arrive whole in any
// language, whatever the ANSI code page.
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "device/Scan.h"
#include "platform/win32/ConsoleProgram.h"
#include "platform/win32/RecorderSwitch.h"

int wmain(int argc, wchar_t** argv) {
  const std::vector<std::string> arguments = platform::win32::Utf8Arguments(argc, argv);
  // The command line, for a recording made of this run (an argument with a space quoted).
  std::wstring command;
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (!command.empty()) command += L' ';
    command += argument.empty() || argument.find_first_of(L" \t") != std::wstring::npos
                   ? L'"' + argument + L'"'
                   : argument;
  }
  SetEnvironmentVariableW(platform::win32::RecordedCommandVariable, command.c_str());
  return platform::win32::RunConsoleProgram(
      [&](const platform::ConsoleServices& services) { return cli::Main(arguments, services); },
      std::chrono::milliseconds(device::RescanDelay));
}
