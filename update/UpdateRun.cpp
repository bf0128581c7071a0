// The firmware update run; see UpdateRun.h.
#include "update/UpdateRun.h"

#include "platform/UniqueResource.h"

namespace update {

bool PrepareCustomizedSettings(updatelib::LibraryGateway& library, const char*) {
  library.ZR_InitialCustomizedSettingTable();
  return true;
}

UpdateOutcome ProgramDevice(updatelib::LibraryGateway& library, const updatelib::DevicePath& path,
                            platform::SleepAndShutdownBlock& sleepAndShutdown, Attempts& attempts,
                            const AttemptFacts& facts, std::string& recordError) {
  attempts.Begin(path, facts.identity, facts.versionBefore);
  bool updated = false;
  try {
    updatelib::WorkingPath workingPath(path);
    if (PrepareCustomizedSettings(library, workingPath.Get())) {
      sleepAndShutdown.Block(BlockReason);
      const platform::ScopeExit unblock([&] { sleepAndShutdown.Unblock(); });
      updated = library.ZR_FWUpdateProgrammingNoCustomizedSetting(workingPath.Get()) != 0;
    }
  } catch (...) {
    recordError = attempts.End(false);
    throw;
  }
  recordError = attempts.End(updated);
  return updated ? UpdateOutcome::Updated : UpdateOutcome::Failed;
}

}  // namespace update
