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
                            const AttemptFacts& facts, std::string& recordError, Intent intent) {
  bool recorded = true;
  try {
    attempts.Begin(path, facts.identity, facts.versionBefore);
  } catch (const RecordFailure& failure) {
    if (intent == Intent::Required) throw;
    recordError = failure.what();
    recorded = false;
  }
  // Without an intent on record there is nothing to complete; its error stands.
  auto end = [&](bool updated) {
    if (recorded) recordError = attempts.End(updated);
  };
  bool updated = false;
  try {
    updatelib::WorkingPath workingPath(path);
    if (PrepareCustomizedSettings(library, workingPath.Get())) {
      sleepAndShutdown.Block(BlockReason);
      const platform::ScopeExit unblock([&] { sleepAndShutdown.Unblock(); });
      updated = library.ZR_FWUpdateProgrammingNoCustomizedSetting(workingPath.Get()) != 0;
    }
  } catch (...) {
    end(false);
    throw;
  }
  end(updated);
  return updated ? UpdateOutcome::Updated : UpdateOutcome::Failed;
}

}  // namespace update
