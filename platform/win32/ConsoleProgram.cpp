// The console program's entry on Windows: the last-resort handlers, the elevation check, and the
// services it builds around the program's own main; see ConsoleProgram.h. Each console piece has a
// room of its own (ConsoleStreams, ConsoleInput, ConsoleInterrupts, DeviceChangeWindow,
// AppendOnlyLog).
#include "platform/win32/ConsoleProgram.h"

#include <windows.h>

#include <csignal>
#include <exception>
#include <string>

#include "platform/Phases.h"
#include "platform/win32/ConsoleInput.h"
#include "platform/win32/ConsoleInterrupts.h"
#include "platform/win32/ConsoleStreams.h"
#include "platform/win32/ConsoleUser.h"
#include "platform/win32/DataFolder.h"
#include "platform/win32/DeviceChangeWindow.h"
#include "platform/win32/ModuleLoading.h"
#include "platform/win32/NamedFiles.h"
#include "platform/win32/Owners.h"
#include "platform/win32/StatusRegistry.h"
#include "platform/win32/SupportDesk.h"
#include "platform/win32/SystemServices.h"
#include "platform/win32/Text.h"

namespace platform::win32 {
namespace {

// The last resort: an exception nobody caught, on any thread, or an abort. Their default ends the
// process with 3, which means "no compatible device" to our callers; this says what happened on
// standard error and ends with 1.
[[noreturn]] void EndWithFailure(std::string_view message) {
  WriteStream(STD_ERROR_HANDLE, "flashwright-cli: unexpected failure: ");
  WriteStream(STD_ERROR_HANDLE, message);
  WriteStream(STD_ERROR_HANDLE, "\n");
  // Nothing else runs: neither the library's detach code nor destructors of a broken state.
  TerminateProcess(GetCurrentProcess(), 1);
  for (;;) Sleep(INFINITE);
}

std::string MessageOf(const std::exception_ptr& exception) {
  try {
    if (exception) std::rethrow_exception(exception);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
  }
  return "an exception of an unknown kind";
}

void InstallLastResort() {
  std::set_terminate([] { EndWithFailure(MessageOf(std::current_exception())); });
  std::signal(SIGABRT, [](int) { EndWithFailure("aborted"); });
}

// The elevation of the process's own token.
class ProcessTokenElevation final : public Elevation {
 public:
  bool IsElevated() override {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
    const UniqueHandle token(opened);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
  }
  std::string ProgramFolderOpenToOthers() override {
    const std::wstring program = ExecutablePath();
    const std::size_t separator = program.rfind(L'\\');
    FolderFacts folder;
    std::string error;
    // A folder whose security cannot be read is not named: the warning is about those who can.
    if (separator == std::wstring::npos ||
        !ReadFolderFacts(program.substr(0, separator), folder, error)) {
      return {};
    }
    return ProgramFolderWarning(folder);
  }
};

}  // namespace

std::vector<std::string> Utf8Arguments(int count, wchar_t** arguments) {
  std::vector<std::string> utf8;
  for (int i = 1; i < count; ++i) utf8.push_back(WideToUtf8(arguments[i]));
  return utf8;
}

int RunConsoleProgram(const std::function<int(const ConsoleServices&)>& program,
                      std::chrono::milliseconds settle) {
  EndOfPhase("process start to main");
  InstallLastResort();
  try {
    RestrictDllSearch();
    // Torn down in the reverse order: the library's services, then the window, the interrupt
    // handler and the progress line, which may still write to the streams.
    StandardStreams output;
    ConsoleProgressLine progress(output);
    ConsoleInterrupts interrupts(output);
    ConsoleLineInput input(interrupts.NotedEvent());
    DeviceChangeWindow deviceChanges(interrupts, settle);
    ProcessTokenElevation elevation;
    SystemServices system;
    NamedFiles files;
    SystemSupportDesk support;
    TerminalConsoleUser consoleUser;
    RegistryStatusStore status;
    // Each member has an interface type of its own, so a slip in the order does not compile.
    const ConsoleServices services{system.modules,
                                   system.faults,
                                   system.versionRecord,
                                   deviceChanges,
                                   system.programmingLock,
                                   system.attempts,
                                   output,
                                   progress,
                                   interrupts,
                                   deviceChanges,
                                   elevation,
                                   system.log,
                                   system.events,
                                   files,
                                   input,
                                   support,
                                   consoleUser,
                                   status};
    return program(services);
  } catch (...) {
    WriteStream(STD_ERROR_HANDLE, "flashwright-cli: unexpected failure: " +
                                      MessageOf(std::current_exception()) + "\n");
    return 1;
  }
}

}  // namespace platform::win32
