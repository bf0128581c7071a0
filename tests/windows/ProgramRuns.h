// What the Windows tests of the programs' traces share: flashwright-cli.exe run against the
// simulator from a scratch folder, a Windows error as a failure message gives it, the token of a
// user without administrator rights, and guards that leave the machine's Flashwright folder and
// key as a test found them.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "harness/Driver.h"
#include "tests/windows/Checks.h"

namespace kit {

// %ProgramData%\Flashwright, from the shell's known folder.
std::filesystem::path DataFolderPath();

// Whether Windows redirects this process's denied writes under HKLM\SOFTWARE and system folders
// to the user's own copies (UAC virtualization), which would answer a standard user's attempt in
// the real key's or folder's place. windows_tests.exe's manifest turns it off.
bool Virtualized();

// A device path no earlier run used (the process id and the time in it), so that the records and
// events a test looks for are its own.
std::string FreshDevicePath(const char* tag);

// flashwright-cli.exe and the simulator copied from the kit into a scratch folder, with the world
// the simulator reads and its call log there.
class SimulatedCli {
 public:
  struct Ending {
    std::optional<DWORD> exitCode;  // nothing: still running at the deadline (then killed)
    std::chrono::milliseconds took{};
    DWORD processId = 0;
    std::string out, err;
  };

  explicit SimulatedCli(const std::string& tag);
  void WriteWorld(const std::string& text) const;
  // Starts the program with `args`; its output goes to files read by Out and Err.
  e2e::Process Start(const std::string& args);
  // Runs it to its end within `timeout`.
  Ending Run(const std::string& args,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(60000));
  std::string Out() const;
  std::string Err() const;
  std::string SimLog() const;
  const std::filesystem::path& Folder() const { return dir_.Path(); }

 private:
  std::filesystem::path OutFile() const;
  std::filesystem::path ErrFile() const;

  e2e::TempDir dir_;
  int runs_ = 0;
};

// A world of one device at `path` that needs its update (firmware 00.01.01.04), with more keys
// (e.g. "program-ms = 60000") after it.
std::string OneDeviceWorld(const std::string& path, const std::string& product = "Bench Unit",
                           const std::string& more = {});

// Whatever of %ProgramData%\Flashwright and HKLM\SOFTWARE\Flashwright was not there when this was
// made is removed when it goes; what was there is left (a test's lines in the log, say). The
// attempt record of `devicePath`, when given, is removed either way.
class LeftAsFound {
 public:
  explicit LeftAsFound(std::string devicePath = {});
  LeftAsFound(const LeftAsFound&) = delete;
  LeftAsFound& operator=(const LeftAsFound&) = delete;
  ~LeftAsFound();

 private:
  std::string devicePath_;
  bool folderWasThere_ = false;
  bool keyWasThere_ = false;
};

// The calling thread acts as this administrator would without administrator rights (the
// Administrators group for denying only, no privileges beyond the least, medium integrity), as a
// standard user's program does, until it goes. Ok() false, with the reason in Why(), when the
// token cannot be made.
class WithoutAdministratorRights {
 public:
  WithoutAdministratorRights();
  WithoutAdministratorRights(const WithoutAdministratorRights&) = delete;
  WithoutAdministratorRights& operator=(const WithoutAdministratorRights&) = delete;
  ~WithoutAdministratorRights();
  bool Ok() const { return why_.empty(); }
  const std::string& Why() const { return why_; }

 private:
  std::string why_;
  bool impersonating_ = false;
};

}  // namespace kit
