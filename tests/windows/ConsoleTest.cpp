// The command line in a real console. Ctrl+C is typed as a terminal types it: the byte 0x03 on a
// pseudo console's input, which the console host turns into the key and the control event for
// every process attached, and which cuts a pending console read short as a key press does (a
// control event sent with GenerateConsoleCtrlEvent, or a key record written with
// WriteConsoleInputW, does not). Text outside ASCII is read back from a console's screen buffer,
// where only WriteConsoleW puts it as written whatever the console's code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "harness/Driver.h"
#include "tests/windows/Checks.h"
#include "tests/windows/Kit.h"

#ifndef PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE
#define PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE 0x00020016
#endif

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::win32::Utf8ToWide;
using platform::win32::WideToUtf8;

constexpr char CliName[] = "flashwright-cli.exe";
constexpr char LibraryName[] = "ZRFWUpdateDll.dll";
constexpr DWORD RunTimeoutMs = 60000;
constexpr DWORD EndTimeoutMs = 20000;
constexpr e2e::Millis StepTimeout = 30s;
// This program started again as a console's first process (see HostConsole).
constexpr wchar_t HostVariable[] = L"FLASHWRIGHT_WINTESTS_CONSOLE_HOST";
constexpr wchar_t CommandVariable[] = L"FLASHWRIGHT_WINTESTS_CONSOLE_COMMAND";

using Environment = std::vector<std::pair<std::wstring, std::wstring>>;

std::wstring Variable(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

// This process's environment with `extra` set, as CreateProcessW takes it.
std::wstring EnvironmentBlock(const Environment& extra) {
  auto upperName = [](const std::wstring& entry) {
    std::wstring name = entry.substr(0, entry.find(L'=', 1));
    CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    return name;
  };
  std::map<std::wstring, std::wstring> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      entries[upperName(entry)] = entry;
    }
    FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : extra) entries[upperName(name + L"=")] = name + L"=" + value;
  std::wstring result;
  for (const auto& [name, entry] : entries) result += entry + L'\0';
  return result + L'\0';
}

bool WriteUtf8(const std::wstring& file, const std::string& text) {
  HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                  written == text.size();
  return CloseHandle(out) && ok;
}

// ---- the console host ---------------------------------------------------------------------------

// Started with a console of its own and HostVariable naming a file, this program runs the command
// line in CommandVariable on that console, waits for it, and writes what the console's screen
// buffer then holds into the file (UTF-8, a line per row, trailing blanks dropped): the screen as
// the console keeps it, read while the console still exists. Its exit code is the command's;
// 0xC0DE when the host itself failed, which the file then says.
DWORD HostConsole(const std::wstring& screenFile) {
  auto failed = [&](const std::string& what) {
    WriteUtf8(screenFile, "console host: " + kit::LastError(what) + "\n");
    return DWORD{0xC0DE};
  };
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE out =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inheritable, OPEN_EXISTING, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) return failed("opening CONOUT$");
  HANDLE in =
      CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inheritable, OPEN_EXISTING, 0, nullptr);
  if (in == INVALID_HANDLE_VALUE) return failed("opening CONIN$");
  // Rows wider than any line the command writes, so that none wraps. A console a terminal hosts
  // may keep its own width; a wrapped line then fails the comparison, visibly.
  SetConsoleScreenBufferSize(out, COORD{250, 500});

  std::wstring command = Variable(CommandVariable);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = out;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return failed("starting " + WideToUtf8(command));
  }
  CloseHandle(info.hThread);
  DWORD exitCode = 0xDEAD;
  if (WaitForSingleObject(info.hProcess, RunTimeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(info.hProcess, 0xDEAD);
    WaitForSingleObject(info.hProcess, 5000);
  } else if (!GetExitCodeProcess(info.hProcess, &exitCode)) {
    return failed("reading the command's exit code");
  }
  CloseHandle(info.hProcess);

  CONSOLE_SCREEN_BUFFER_INFO buffer{};
  if (!GetConsoleScreenBufferInfo(out, &buffer)) return failed("GetConsoleScreenBufferInfo");
  std::wstring screen;
  for (SHORT row = 0; row <= buffer.dwCursorPosition.Y; ++row) {
    std::wstring line(static_cast<std::size_t>(buffer.dwSize.X), L' ');
    DWORD read = 0;
    if (!ReadConsoleOutputCharacterW(out, line.data(), static_cast<DWORD>(line.size()),
                                     COORD{0, row}, &read)) {
      return failed("ReadConsoleOutputCharacterW at row " + std::to_string(row));
    }
    line.resize(read);
    line.erase(line.find_last_not_of(L' ') + 1);
    screen += line + L'\n';
  }
  if (!WriteUtf8(screenFile, WideToUtf8(screen))) return failed("writing the screen's file");
  return exitCode;
}

// Before the tests' main: in the console host's role, this process does only that.
const bool consoleHost = [] {
  const std::wstring screenFile = Variable(HostVariable);
  if (screenFile.empty()) return false;
  ExitProcess(HostConsole(screenFile));
  return true;
}();

// A started process, ended if it is still running when this goes.
class Child {
 public:
  Child() = default;
  explicit Child(HANDLE process) : process_(process) {}
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() { Reset(nullptr); }

  void Reset(HANDLE process) {
    if (process_ != nullptr) {
      if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 0xDEAD);
        WaitForSingleObject(process_, 5000);
      }
      CloseHandle(process_);
    }
    process_ = process;
  }
  // Its exit code once it has ended within `timeoutMs`, else nothing.
  std::optional<DWORD> WaitForExit(DWORD timeoutMs) const {
    DWORD code = 0;
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_, &code)) {
      return std::nullopt;
    }
    return code;
  }

 private:
  HANDLE process_ = nullptr;
};

// ---- the pseudo console -------------------------------------------------------------------------

// What a terminal would show of the console's output, without the control sequences and without
// blanks and line ends (the console host may move the cursor instead of writing spaces, and
// breaks lines at its width), so that a phrase is looked for as its letters.
std::string Letters(const std::string& output) {
  std::string letters;
  for (std::size_t at = 0; at < output.size();) {
    const auto c = static_cast<unsigned char>(output[at]);
    if (c == 0x1B && at + 1 < output.size() && output[at + 1] == '[') {  // CSI ... final byte
      at += 2;
      while (at < output.size() && (output[at] < 0x40 || output[at] > 0x7E)) ++at;
      ++at;
    } else if (c == 0x1B && at + 1 < output.size() && output[at + 1] == ']') {  // OSC ... BEL/ST
      at += 2;
      while (at < output.size() && output[at] != '\a' && output[at] != 0x1B) ++at;
      at += at < output.size() && output[at] == 0x1B ? 2 : 1;
    } else if (c == 0x1B) {
      at += 2;
    } else {
      if (c > 0x20) letters += static_cast<char>(c);
      ++at;
    }
  }
  return letters;
}

// A program on a pseudo console, as a terminal runs it: what it writes is read as it comes, and
// the test types into it.
class PseudoConsole {
 public:
  PseudoConsole() = default;
  PseudoConsole(const PseudoConsole&) = delete;
  PseudoConsole& operator=(const PseudoConsole&) = delete;

  // Starts `commandLine` in `dir` with `extra` in its environment; empty when it runs, else why
  // not.
  std::string Start(std::wstring commandLine, const fs::path& dir, const Environment& extra) {
    using Create = HRESULT(WINAPI*)(COORD, HANDLE, HANDLE, DWORD, void**);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto create = reinterpret_cast<Create>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "CreatePseudoConsole")));
    close_ = reinterpret_cast<Close>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "ClosePseudoConsole")));
    if (create == nullptr || close_ == nullptr) return "this Windows has no pseudo consoles";

    HANDLE inputRead = nullptr;
    HANDLE outputWrite = nullptr;
    if (!CreatePipe(&inputRead, &input_, nullptr, 0)) return kit::LastError("CreatePipe");
    if (!CreatePipe(&output_, &outputWrite, nullptr, 0)) {
      CloseHandle(inputRead);
      return kit::LastError("CreatePipe");
    }
    const HRESULT created = create(COORD{200, 50}, inputRead, outputWrite, 0, &console_);
    // The console host has its own copies; ours would keep the output open after it ends.
    CloseHandle(inputRead);
    CloseHandle(outputWrite);
    if (FAILED(created)) {
      console_ = nullptr;
      return "CreatePseudoConsole failed: " + kit::ErrorText(static_cast<DWORD>(created));
    }
    reader_ = CreateThread(nullptr, 0, &PseudoConsole::Read, this, 0, nullptr);
    if (reader_ == nullptr) return kit::LastError("starting the output's reader");

    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) {
      return kit::LastError("InitializeProcThreadAttributeList");
    }
    std::string error;
    if (!UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_PSEUDOCONSOLE, console_,
                                   sizeof console_, nullptr, nullptr)) {
      error = kit::LastError("UpdateProcThreadAttribute");
    } else {
      STARTUPINFOEXW startup{};
      startup.StartupInfo.cb = sizeof startup;
      // No standard handles given: the program opens the pseudo console's, not copies of ours
      // (which the kit's runner may have redirected).
      startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
      startup.lpAttributeList = attributes;
      std::wstring environment = EnvironmentBlock(extra);
      PROCESS_INFORMATION info{};
      if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                         EXTENDED_STARTUPINFO_PRESENT | CREATE_UNICODE_ENVIRONMENT,
                         environment.data(), dir.wstring().c_str(), &startup.StartupInfo, &info)) {
        CloseHandle(info.hThread);
        process_.Reset(info.hProcess);
      } else {
        error = kit::LastError("starting " + WideToUtf8(commandLine));
      }
    }
    DeleteProcThreadAttributeList(attributes);
    return error;
  }

  ~PseudoConsole() {
    process_.Reset(nullptr);
    // Closing the console ends its host, which closes the output; the reader, still reading,
    // drains what the host writes until then (a host blocked on a full pipe would never end).
    // The reader answers the host's questions on the input, so the input closes after it.
    if (console_ != nullptr) close_(console_);
    if (reader_ != nullptr) {
      if (WaitForSingleObject(reader_, 5000) != WAIT_OBJECT_0) {
        CancelSynchronousIo(reader_);
        WaitForSingleObject(reader_, 5000);
      }
      CloseHandle(reader_);
    }
    if (input_ != nullptr) CloseHandle(input_);
    if (output_ != nullptr) CloseHandle(output_);
  }

  // Types `bytes` as a terminal sends them.
  std::string Type(const std::string& bytes) {
    DWORD written = 0;
    if (!WriteFile(input_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size()) {
      return kit::LastError("writing to the pseudo console's input");
    }
    return {};
  }

  // Whether the console's output has shown `phrase` (compared by its letters, see Letters)
  // `times` times within `timeout`.
  bool Shows(const std::string& phrase, e2e::Millis timeout = StepTimeout, std::size_t times = 1) {
    const std::string wanted = Letters(phrase);
    return e2e::WaitUntil(
        [&] {
          const std::string shown = Letters(Output());
          std::size_t found = 0;
          for (std::size_t at = shown.find(wanted); at != std::string::npos;
               at = shown.find(wanted, at + 1)) {
            ++found;
          }
          return found >= times;
        },
        timeout);
  }

  std::string Output() {
    const std::lock_guard lock(mutex_);
    return outputText_;
  }
  std::optional<DWORD> WaitForExit(DWORD timeoutMs) const {
    return process_.WaitForExit(timeoutMs);
  }

 private:
  using Close = void(WINAPI*)(void*);

  static DWORD WINAPI Read(void* context) {
    auto* self = static_cast<PseudoConsole*>(context);
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(self->output_, buffer, sizeof buffer, &read, nullptr) && read > 0) {
      std::string answers;
      {
        const std::lock_guard lock(self->mutex_);
        self->outputText_.append(buffer, read);
        answers = self->Answers();
      }
      DWORD written = 0;
      if (!answers.empty()) {
        WriteFile(self->input_, answers.data(), static_cast<DWORD>(answers.size()), &written,
                  nullptr);
      }
    }
    return 0;
  }

  // A terminal's answers to the questions the console host asked since the last look: where the
  // cursor is, and what the terminal is (a host may wait for them before it goes on).
  std::string Answers() {
    std::string answers;
    auto count = [&](const char* question) {
      std::size_t found = 0;
      for (std::size_t at = outputText_.find(question); at != std::string::npos;
           at = outputText_.find(question, at + 1)) {
        ++found;
      }
      return found;
    };
    for (std::size_t asked = count("\x1b[6n"); cursorAnswers_ < asked; ++cursorAnswers_) {
      answers += "\x1b[1;1R";
    }
    for (std::size_t asked = count("\x1b[c") + count("\x1b[0c"); terminalAnswers_ < asked;
         ++terminalAnswers_) {
      answers += "\x1b[?61;1c";
    }
    return answers;
  }

  Close close_ = nullptr;
  void* console_ = nullptr;
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
  HANDLE reader_ = nullptr;
  std::mutex mutex_;
  std::string outputText_;
  std::size_t cursorAnswers_ = 0;
  std::size_t terminalAnswers_ = 0;
  Child process_;
};

// ---- the tests ----------------------------------------------------------------------------------

// The command line and the simulator in a scratch folder, with a world of the test's.
class Console : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.CopyIn(kit::ProgramsDir() / CliName);
    dir_.CopyIn(kit::ProgramsDir() / LibraryName);
  }

  void WriteWorld(const std::string& text) const {
    std::ofstream(World(), std::ios::binary | std::ios::trunc) << text;
  }
  fs::path World() const { return dir_.Path() / "world.ini"; }
  fs::path Log() const { return dir_.Path() / "station.log"; }
  Environment Simulator() const {
    return {{L"FLASHWRIGHT_SIM_SCENARIO", World().wstring()},
            {L"FLASHWRIGHT_SIM_LOG", (dir_.Path() / "sim.log").wstring()}};
  }
  std::wstring CommandLine(const std::string& args) const {
    return L"\"" + (dir_.Path() / CliName).wstring() + L"\" " + Utf8ToWide(args);
  }

  e2e::TempDir dir_{"console"};
};

// The station's Ctrl+C, typed on a console: each test starts on a PC without programming records
// and leaves none.
class ConsoleStation : public Console {
 protected:
  void SetUp() override {
    NEEDS_WINDOWS("pseudo consoles, through which Ctrl+C is typed");
    if (!kit::RunsElevated()) GTEST_SKIP() << "needs an administrator: the station programs";
    Console::SetUp();
    e2e::ForgetAttemptRecords();
    // Started with Ctrl+C ignored (a process group of its own, as a runner may start it), this
    // process would hand that on to the command line; a console's user never does.
    if (!SetConsoleCtrlHandler(nullptr, FALSE)) {
      std::cout << kit::LastError("SetConsoleCtrlHandler(NULL, FALSE)")
                << ": Ctrl+C is left as this process was started\n";
    }
  }
  void TearDown() override { e2e::ForgetAttemptRecords(); }

  std::string Start(const std::string& args) {
    return console_.Start(CommandLine(args + " --log \"" + Log().string() + "\""), dir_.Path(),
                          Simulator());
  }
  std::string Describe() { return "the console showed:\n" + console_.Output(); }

  PseudoConsole console_;
};

// Ctrl+C while the station waits at the console for a unit's label: the console's read ends, and
// so does the run, with no unit on record and its code for that, 0 (the control handler is the
// program's: the system's would end it with STATUS_CONTROL_C_EXIT).
TEST_F(ConsoleStation, CtrlCAtTheLabelPromptEndsTheRun) {
  WriteWorld("");
  ASSERT_EQ(Start("station --unit-id prompt"), "");
  ASSERT_TRUE(console_.Shows("Unit 1: scan its label")) << Describe();
  ASSERT_EQ(console_.Type("\x03"), "");
  EXPECT_EQ(console_.WaitForExit(EndTimeoutMs), std::optional<DWORD>(0))
      << "the run did not end with 0 after Ctrl+C at the prompt (0xC000013A: the system's "
         "handler ended it; nothing: it still waited)\n"
      << Describe();
  EXPECT_TRUE(console_.Shows("0 units: 0 passed, 0 failed.", 1s)) << Describe();
  EXPECT_EQ(kit::ReadBytes(Log()).find("\"unit\""), std::string::npos) << "a unit is on record:\n"
                                                                       << kit::ReadBytes(Log());
}

// A unit programmed with a Ctrl+C typed meanwhile, which is refused (the device is being
// written), then a Ctrl+C while the station waits for its power cycle: the run ends at once with
// 3010, the unit counted as not verified, and its programming already in the log.
TEST_F(ConsoleStation, CtrlCIsRefusedWhileProgrammingAndEndsTheWaitForThePowerCycle) {
  WriteWorld("[device]\nprogram-ms = 3000\n");
  ASSERT_EQ(Start("station --count 1"), "");
  ASSERT_TRUE(console_.Shows("Do not unplug the device or switch it off.")) << Describe();
  ASSERT_EQ(console_.Type("\x03"), "");
  EXPECT_TRUE(console_.Shows("Ctrl+C ignored: the device is being programmed.")) << Describe();
  ASSERT_TRUE(console_.Shows("Power-cycle the device now.")) << Describe();
  ASSERT_EQ(console_.Type("\x03"), "");
  EXPECT_EQ(console_.WaitForExit(EndTimeoutMs), std::optional<DWORD>(3010)) << Describe();
  EXPECT_TRUE(console_.Shows("1 unit: 0 passed, 0 failed, 1 not verified.", 1s)) << Describe();
  const std::string log = kit::ReadBytes(Log());
  EXPECT_NE(log.find("\"result\":\"updated\""), std::string::npos) << log;
}

// A device's identification outside ASCII (the library's bytes, read in the ANSI code page): the
// line `status` writes on a console's screen is the line it writes, as UTF-8, to a file.
TEST_F(Console, TextOutsideAsciiIsOnTheScreenAsWritten) {
  NEEDS_WINDOWS("a console's screen buffer");
  WriteWorld("[device]\nvendor-hex = C9 54 C9\n");
  const fs::path out = dir_.Path() / "status.txt";
  e2e::Process::Environment simulator;
  for (const auto& [name, value] : Simulator())
    simulator.emplace_back(WideToUtf8(name), WideToUtf8(value));
  DWORD redirectedCode = 0xDEAD;
  try {
    e2e::Process cli = e2e::Process::Launch(dir_.Path() / CliName, dir_.Path(), simulator, "status",
                                            {out, dir_.Path() / "status.err"});
    redirectedCode = cli.WaitForExit(std::chrono::milliseconds(RunTimeoutMs)).value_or(0xDEAD);
  } catch (const std::exception& failed) {
    FAIL() << failed.what();
  }
  const std::string written = kit::ReadBytes(out);
  const std::string vendor = platform::win32::CodePageToUtf8(CP_ACP, "\xC9T\xC9");
  std::string line;
  for (std::size_t start = 0; start < written.size();) {
    const std::size_t end = std::min(written.find('\n', start), written.size());
    const std::string candidate = written.substr(start, end - start);
    if (candidate.find(vendor) != std::string::npos) line = candidate;
    start = end + 1;
  }
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  ASSERT_FALSE(line.empty()) << "status wrote no line with " << vendor << " (exit code "
                             << redirectedCode << "):\n"
                             << written;

  // The same command on a console of its own, hosted by this program (see HostConsole).
  wchar_t self[MAX_PATH] = L"";
  ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u)
      << kit::LastError("GetModuleFileNameW");
  const fs::path screenFile = dir_.Path() / "screen.txt";
  Environment environment = Simulator();
  environment.emplace_back(HostVariable, screenFile.wstring());
  environment.emplace_back(CommandVariable, CommandLine("status"));
  std::wstring block = EnvironmentBlock(environment);
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMINNOACTIVE;
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                             CREATE_NEW_CONSOLE | CREATE_UNICODE_ENVIRONMENT, block.data(),
                             dir_.Path().wstring().c_str(), &startup, &info))
      << kit::LastError("starting this program as a console's host");
  CloseHandle(info.hThread);
  const Child host(info.hProcess);
  const std::optional<DWORD> consoleCode = host.WaitForExit(RunTimeoutMs + 10000);
  const std::string screen = kit::ReadBytes(screenFile);
  ASSERT_EQ(consoleCode, std::optional<DWORD>(redirectedCode)) << "the console showed:\n" << screen;
  bool shown = false;
  for (std::size_t start = 0; start < screen.size() && !shown;) {
    const std::size_t end = std::min(screen.find('\n', start), screen.size());
    shown = screen.compare(start, end - start, line) == 0 && end - start == line.size();
    start = end + 1;
  }
  EXPECT_TRUE(shown) << "the line\n" << line << "\nis not on the console's screen:\n" << screen;
}

}  // namespace
