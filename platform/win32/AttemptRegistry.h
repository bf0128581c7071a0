// The attempt records in the registry: HKLM\SOFTWARE\Flashwright\Attempts, one subkey per device
// (named by a hash of its path), which only administrators can write. Both programs are 32-bit;
// the 64-bit view is used so that the key is where the documentation says on 64-bit Windows too.
// When a device last arrived comes from the configuration manager where Windows keeps it (not
// under Wine: there only a complete device list without the device tells it was gone).
#pragma once

#include <windows.h>

#include "platform/AttemptStore.h"
#include "platform/win32/Owners.h"

namespace platform::win32 {

class RegistryAttemptStore final : public AttemptStore {
 public:
  static constexpr wchar_t RootKey[] = L"SOFTWARE\\Flashwright";
  static constexpr wchar_t AttemptsKey[] = L"SOFTWARE\\Flashwright\\Attempts";

  std::vector<AttemptRecord> Load() override;
  std::string Save(const AttemptRecord& record) override;
  void Remove(const std::string& key) override;
  std::string KeyOf(const std::string& path) override;
  std::optional<std::int64_t> LastArrival(const std::string& path) override;
  ProcessIdentity Self() override;
  bool Running(const ProcessIdentity& process) override;
  std::int64_t Now() override;

 private:
  // cfgmgr32.dll, loaded when an arrival is first asked for (null where it cannot be).
  UniqueResource<HMODULE, CloseWith<&FreeLibrary>> configManager_;
  bool configLoaded_ = false;
};

}  // namespace platform::win32
