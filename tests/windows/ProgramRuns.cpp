// What the Windows tests of the programs' traces share; see ProgramRuns.h.
#include "tests/windows/ProgramRuns.h"

#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

#include "platform/win32/AttemptRegistry.h"
#include "platform/win32/DataFolder.h"
#include "tests/windows/Kit.h"

namespace kit {
namespace {

constexpr wchar_t MachineKey[] = L"SOFTWARE\\Flashwright";

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool MachineKeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, MachineKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

}  // namespace

std::filesystem::path DataFolderPath() {
  wchar_t data[MAX_PATH] = L"";
  const DWORD length = GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  return std::filesystem::path(data) / "Flashwright";
}

bool Virtualized() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  const platform::win32::UniqueHandle token(raw);
  DWORD enabled = 0;
  DWORD size = 0;
  return GetTokenInformation(token.Get(), TokenVirtualizationEnabled, &enabled, sizeof enabled,
                             &size) &&
         enabled != 0;
}

std::string FreshDevicePath(const char* tag) {
  return std::string("\\\\.\\FWT-") + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
         std::to_string(GetTickCount64());
}

SimulatedCli::SimulatedCli(const std::string& tag) : dir_(tag) {
  dir_.CopyIn(ProgramsDir() / "flashwright-cli.exe");
  dir_.CopyIn(ProgramsDir() / "ZRFWUpdateDll.dll");
}

void SimulatedCli::WriteWorld(const std::string& text) const {
  std::ofstream(dir_.Path() / "world.ini", std::ios::binary | std::ios::trunc) << text;
}

e2e::Process SimulatedCli::Start(const std::string& args) {
  ++runs_;
  return e2e::Process::Launch(dir_.Path() / "flashwright-cli.exe", dir_.Path(),
                              {{"FLASHWRIGHT_SIM_SCENARIO", (dir_.Path() / "world.ini").string()},
                               {"FLASHWRIGHT_SIM_LOG", (dir_.Path() / "sim.log").string()},
                               {"FLASHWRIGHT_RECORDING", ""}},
                              args, {OutFile(), ErrFile()});
}

SimulatedCli::Ending SimulatedCli::Run(const std::string& args, std::chrono::milliseconds timeout) {
  const auto started = std::chrono::steady_clock::now();
  e2e::Process program = Start(args);
  Ending ending;
  ending.processId = program.Id();
  ending.exitCode = program.WaitForExit(timeout);
  ending.took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  if (!ending.exitCode) program.Kill();
  ending.out = Out();
  ending.err = Err();
  return ending;
}

std::filesystem::path SimulatedCli::OutFile() const {
  return dir_.Path() / ("out" + std::to_string(runs_) + ".txt");
}
std::filesystem::path SimulatedCli::ErrFile() const {
  return dir_.Path() / ("err" + std::to_string(runs_) + ".txt");
}
std::string SimulatedCli::Out() const { return ReadFile(OutFile()); }
std::string SimulatedCli::Err() const { return ReadFile(ErrFile()); }
std::string SimulatedCli::SimLog() const { return ReadFile(dir_.Path() / "sim.log"); }

std::string OneDeviceWorld(const std::string& path, const std::string& product,
                           const std::string& more) {
  return "[device]\npath = " + path + "\nvendor = FWTEST\nproduct = " + product +
         "\nversion = 00.01.01.04\n" + more + (more.empty() ? "" : "\n");
}

LeftAsFound::LeftAsFound(std::string devicePath)
    : devicePath_(std::move(devicePath)),
      folderWasThere_(std::filesystem::exists(DataFolderPath())),
      keyWasThere_(MachineKeyExists()) {}

LeftAsFound::~LeftAsFound() {
  if (!devicePath_.empty()) {
    platform::win32::RegistryAttemptStore store;
    store.Remove(store.KeyOf(devicePath_));
  }
  if (!keyWasThere_) e2e::DeleteMachineKey(MachineKey);
  if (folderWasThere_ || DataFolderPath().empty()) return;
  // A program that just ended may hold its files for a moment longer.
  for (int attempt = 0; attempt < 40; ++attempt) {
    std::error_code error;
    std::filesystem::remove_all(DataFolderPath(), error);
    if (!error) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

WithoutAdministratorRights::WithoutAdministratorRights() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(),
                        TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT,
                        &raw)) {
    why_ = "OpenProcessToken: " + ErrorText(GetLastError());
    return;
  }
  const platform::win32::UniqueHandle own(raw);
  alignas(SID) BYTE administrators[SECURITY_MAX_SID_SIZE] = {};
  alignas(SID) BYTE medium[SECURITY_MAX_SID_SIZE] = {};
  DWORD size = sizeof administrators;
  DWORD mediumSize = sizeof medium;
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
      !CreateWellKnownSid(WinMediumLabelSid, nullptr, medium, &mediumSize)) {
    why_ = "CreateWellKnownSid: " + ErrorText(GetLastError());
    return;
  }
  SID_AND_ATTRIBUTES denyOnly{administrators, 0};
  HANDLE restricted = nullptr;
  if (!CreateRestrictedToken(own.Get(), DISABLE_MAX_PRIVILEGE, 1, &denyOnly, 0, nullptr, 0, nullptr,
                             &restricted)) {
    why_ = "CreateRestrictedToken: " + ErrorText(GetLastError());
    return;
  }
  const platform::win32::UniqueHandle primary(restricted);
  HANDLE duplicated = nullptr;
  if (!DuplicateTokenEx(primary.Get(), TOKEN_IMPERSONATE | TOKEN_QUERY | TOKEN_ADJUST_DEFAULT,
                        nullptr, SecurityImpersonation, TokenImpersonation, &duplicated)) {
    why_ = "DuplicateTokenEx: " + ErrorText(GetLastError());
    return;
  }
  const platform::win32::UniqueHandle impersonation(duplicated);
  TOKEN_MANDATORY_LABEL label{{medium, SE_GROUP_INTEGRITY}};
  if (!SetTokenInformation(impersonation.Get(), TokenIntegrityLevel, &label,
                           sizeof label + GetLengthSid(medium))) {
    why_ = "SetTokenInformation (medium integrity): " + ErrorText(GetLastError());
    return;
  }
  if (!SetThreadToken(nullptr, impersonation.Get())) {
    why_ = "SetThreadToken: " + ErrorText(GetLastError());
    return;
  }
  impersonating_ = true;
}

WithoutAdministratorRights::~WithoutAdministratorRights() {
  if (impersonating_) RevertToSelf();
}

}  // namespace kit
