#include "tests/windows/Kit.h"

#include <windows.h>

#include "harness/Driver.h"

namespace kit {

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool RunsElevated() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool elevated =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0 &&
      elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return elevated;
}

std::filesystem::path ProgramsDir() { return e2e::ExecutableDir(); }
std::filesystem::path FixturesDir() { return e2e::ExecutableDir().parent_path() / "fixtures"; }
std::filesystem::path PackagesDir() { return e2e::ExecutableDir().parent_path() / "msi"; }

}  // namespace kit
