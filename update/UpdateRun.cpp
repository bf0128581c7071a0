// The firmware update run; see UpdateRun.h.
#include "update/UpdateRun.h"

#include <cstring>

#include "platform/UniqueResource.h"

namespace update {

bool PrepareCustomizedSettings(updatelib::LibraryGateway& library, const char*) {
  library.ZR_InitialCustomizedSettingTable();
  return true;
}

UpdateOutcome ProgramDevice(updatelib::LibraryGateway& library, const updatelib::DevicePath& path,
                            platform::SleepAndShutdownBlock& sleepAndShutdown,
                            platform::ProgrammingLock& lock) {
  if (!lock.TryLock()) return UpdateOutcome::Locked;
  const platform::ScopeExit unlock([&] { lock.Unlock(); });
  // A working copy with room to spare: the library could write into the path it is given.
  char workingPath[updatelib::PathBufferSize + updatelib::BufferSlack] = {};
  std::memcpy(workingPath, path.data(), path.size() - 1);  // the last byte stays NUL
  if (!PrepareCustomizedSettings(library, workingPath)) return UpdateOutcome::Failed;

  sleepAndShutdown.Block(BlockReason);
  const platform::ScopeExit unblock([&] { sleepAndShutdown.Unblock(); });
  return library.ZR_FWUpdateProgrammingNoCustomizedSetting(workingPath) != 0
             ? UpdateOutcome::Updated
             : UpdateOutcome::Failed;
}

}  // namespace update
