// The firmware update run; see UpdateRun.h.
#include "update/UpdateRun.h"

#include "platform/UniqueResource.h"

namespace update {

bool PrepareCustomizedSettings(updatelib::LibraryGateway& library, const char*) {
  library.ZR_InitialCustomizedSettingTable();
  return true;
}

UpdateOutcome ProgramDevice(updatelib::LibraryGateway& library, const updatelib::DevicePath& path,
                            platform::SleepAndShutdownBlock& sleepAndShutdown,
                            platform::ProgrammingLock& lock) {
  const platform::ProgrammingLock::Take take = lock.TryLock(std::chrono::milliseconds(0));
  if (take != platform::ProgrammingLock::Take::Taken &&
      take != platform::ProgrammingLock::Take::Abandoned) {
    return UpdateOutcome::Locked;
  }
  const platform::ScopeExit unlock([&] { lock.Unlock(); });
  updatelib::WorkingPath workingPath(path);
  if (!PrepareCustomizedSettings(library, workingPath.Get())) return UpdateOutcome::Failed;

  sleepAndShutdown.Block(BlockReason);
  const platform::ScopeExit unblock([&] { sleepAndShutdown.Unblock(); });
  return library.ZR_FWUpdateProgrammingNoCustomizedSetting(workingPath.Get()) != 0
             ? UpdateOutcome::Updated
             : UpdateOutcome::Failed;
}

}  // namespace update
