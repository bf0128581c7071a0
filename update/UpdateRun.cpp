// The firmware update run; see UpdateRun.h.
#include "update/UpdateRun.h"

#include <cstring>

#include "core/Rescan.h"
#include "platform/UniqueResource.h"

namespace update {

using platform::ControlId;

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

namespace {

// The device the last scan selected; Failed, without a library call, when nothing usable is.
UpdateOutcome ProgramSelectedDevice(const UpdateServices& services) {
  const core::SharedState& state = services.state;
  if (state.SelectedDeviceCount == 0 || state.SelectedDevicePath[0] == '\0') {
    return UpdateOutcome::Failed;
  }
  // The selection is always terminated: the scan only records terminated paths.
  return ProgramDevice(services.library, state.SelectedDevicePath, services.sleepAndShutdown,
                       services.programmingLock);
}

}  // namespace

core::StatusView ViewOf(UpdateOutcome outcome) {
  if (outcome == UpdateOutcome::Updated) {
    return {{"Successfully updated", "Please power off/on your USB device.", ""}, false};
  }
  return {{"", UpdateFailText, ""}, false};
}

void UpdateBtnClick(const UpdateServices& services) {
  core::SharedState& state = services.state;
  platform::Controls& controls = services.controls;

  // Whatever happens below, the flag does not outlive the run.
  state.UpdateInProgress = true;
  const platform::ScopeExit clearFlag([&] { state.UpdateInProgress = false; });
  // A rescan pending from before the click would otherwise fire inside the yields below and
  // scan in the middle of the update, clearing the selection and hiding the update lines.
  services.timers.CancelTimer(core::RescanTimerId);

  controls.SetVisible(ControlId::UpdateStatusPanel, true);
  controls.SetVisible(ControlId::RescanStatusPanel, false);
  controls.SetEnabled(ControlId::UpdateBtn, false);
  controls.SetEnabled(ControlId::ExitBtn, false);
  controls.SetText(ControlId::UpdateStatus1Panel,
                   "DO NOT disconnect the device during the F/W update.");
  controls.SetText(ControlId::UpdateStatus2Panel, "Updating.....");
  controls.SetText(ControlId::UpdateStatus3Panel, "");
  services.pump.ProcessPendingMessages();

  UpdateOutcome outcome = UpdateOutcome::Failed;
  try {
    outcome = ProgramSelectedDevice(services);
  } catch (...) {
    core::ShowStatus(controls, core::StatusArea::Update, ViewOf(UpdateOutcome::Failed));
    throw;
  }
  core::ShowStatus(controls, core::StatusArea::Update, ViewOf(outcome));
  services.pump.ProcessPendingMessages();
}

}  // namespace update
