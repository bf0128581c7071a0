// The machine's summary in the registry; see StatusRegistry.h.
#include "platform/win32/StatusRegistry.h"

#include <windows.h>

#include <string>

#include "platform/UniqueResource.h"
#include "platform/win32/DataFolder.h"
#include "platform/win32/Owners.h"

namespace platform::win32 {
namespace {

std::string ErrorText(LSTATUS status) { return SystemErrorText(static_cast<DWORD>(status)); }

LSTATUS WriteText(HKEY key, const wchar_t* name, const std::string& ascii) {
  const std::wstring wide(ascii.begin(), ascii.end());
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                        static_cast<DWORD>(wide.size() + 1) * sizeof(wchar_t));
}

LSTATUS WriteNumber(HKEY key, const wchar_t* name, std::uint32_t number) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                        sizeof number);
}

}  // namespace

std::string RegistryStatusStore::Write(const StatusSummary& summary) {
  // Made as the attempt records' key is: under HKLM\SOFTWARE, whose security lets only SYSTEM and
  // Administrators write, which the key takes on.
  HKEY raw = nullptr;
  LSTATUS status =
      RegCreateKeyExW(HKEY_LOCAL_MACHINE, StatusKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &raw, nullptr);
  if (status != ERROR_SUCCESS) return "HKLM\\SOFTWARE\\Flashwright\\Status: " + ErrorText(status);
  const UniqueKey key(raw);
  // The state last: a reader that sees it sees the rest of the same run.
  const LSTATUS results[] = {
      WriteText(key.Get(), L"Target", summary.target),
      WriteText(key.Get(), L"Devices", summary.devices),
      WriteNumber(key.Get(), L"DeviceCount", summary.deviceCount),
      WriteText(key.Get(), L"LastLook", summary.lastLook),
      WriteNumber(key.Get(), L"ExitCode", summary.exitCode),
      WriteText(key.Get(), L"Program", summary.program),
      WriteText(key.Get(), L"Command", summary.command),
      WriteText(key.Get(), L"State", summary.state),
  };
  for (const LSTATUS result : results) {
    if (result != ERROR_SUCCESS) return "HKLM\\SOFTWARE\\Flashwright\\Status: " + ErrorText(result);
  }
  return {};
}

}  // namespace platform::win32
