// The machine's summary for inventory tools in the registry: HKLM\SOFTWARE\Flashwright\Status, in
// the 64-bit view as the attempt records are, beside them under the key only administrators (and
// SYSTEM) may write. Its values, each replaced at every run that looked at the devices:
//   Target       REG_SZ     the firmware version the program brings devices to
//   State        REG_SZ     the worst device's word (failed, did-not-take, interrupted,
//                           not-updatable, needs-update, waits-for-power-cycle, done), or
//                           no-device when none was attached
//   Devices      REG_SZ     one of those words per device, by spaces, device 1 first
//   DeviceCount  REG_DWORD  how many devices were attached
//   LastLook     REG_SZ     when, UTC, YYYY-MM-DDTHH:MM:SSZ
//   ExitCode     REG_DWORD  that run's exit code
//   Program      REG_SZ     flashwright-cli
//   Command      REG_SZ     status, update, detect or station
#pragma once

#include "platform/Deployment.h"

namespace platform::win32 {

class RegistryStatusStore final : public StatusStore {
 public:
  static constexpr wchar_t StatusKey[] = L"SOFTWARE\\Flashwright\\Status";

  std::string Write(const StatusSummary& summary) override;
};

}  // namespace platform::win32
