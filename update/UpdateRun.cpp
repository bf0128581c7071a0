// The firmware update run; see UpdateRun.h.
#include "update/UpdateRun.h"

#include <cstring>

#include "device/Monitor.h"

namespace update {

using app::ControlId;

bool PrepareCustomizedSettings(updatelib::LibraryGateway& library, const char*) {
  library.ZR_InitialCustomizedSettingTable();
  return true;
}

namespace {

// Programs the selected device; false when nothing usable is selected or programming failed.
bool Program(const UpdateServices& services) {
  const app::SharedState& state = services.state;
  if (state.SelectedDeviceCount == 0 || state.SelectedDevicePath[0] == '\0') return false;
  // A working copy with room to spare: the library could write into the path it is given. The
  // selection is always terminated, as the scan only records terminated paths.
  char path[updatelib::PathBufferSize + updatelib::BufferSlack] = {};
  std::memcpy(path, state.SelectedDevicePath.data(), updatelib::PathBufferSize - 1);
  if (!PrepareCustomizedSettings(services.library, path)) return false;

  struct EndCriticalWork {
    platform::CriticalWork& work;
    ~EndCriticalWork() { work.End(); }
  } endCriticalWork{services.criticalWork};
  services.criticalWork.Begin(CriticalWorkReason);
  return services.library.ZR_FWUpdateProgrammingNoCustomizedSetting(path) != 0;
}

void ShowResult(platform::Controls& controls, bool succeeded) {
  if (succeeded) {
    controls.SetText(ControlId::UpdateStatus1Panel, "Successfully updated");
    controls.SetText(ControlId::UpdateStatus2Panel, "Please power off/on your USB device.");
  } else {
    controls.SetText(ControlId::UpdateStatus1Panel, "");
    controls.SetText(ControlId::UpdateStatus2Panel, UpdateFailText);
  }
  controls.SetText(ControlId::UpdateStatus3Panel, "");
  controls.SetEnabled(ControlId::ExitBtn, true);
  controls.SetVisible(ControlId::ExitBtn, true);
  controls.SetVisible(ControlId::UpdateBtn, false);
}

}  // namespace

void UpdateBtnClick(const UpdateServices& services) {
  app::SharedState& state = services.state;
  platform::Controls& controls = services.controls;

  // Whatever happens below, the flag and the keep-awake request do not outlive the run.
  struct ClearFlag {
    bool& flag;
    ~ClearFlag() { flag = false; }
  } clearFlag{state.UpdateInProgress};
  state.UpdateInProgress = true;
  // A rescan pending from before the click would otherwise fire inside the yields below and
  // scan in the middle of the update, clearing the selection and hiding the update lines.
  services.timers.CancelTimer(device::RescanTimerId);

  controls.SetVisible(ControlId::UpdateStatusPanel, true);
  controls.SetVisible(ControlId::RescanStatusPanel, false);
  controls.SetEnabled(ControlId::UpdateBtn, false);
  controls.SetEnabled(ControlId::ExitBtn, false);
  controls.SetText(ControlId::UpdateStatus1Panel,
                   "DO NOT disconnect the device during the F/W update.");
  controls.SetText(ControlId::UpdateStatus2Panel, "Updating.....");
  controls.SetText(ControlId::UpdateStatus3Panel, "");
  services.pump.ProcessPendingMessages();

  bool succeeded = false;
  try {
    succeeded = Program(services);
  } catch (...) {
    ShowResult(controls, false);
    throw;
  }
  ShowResult(controls, succeeded);
  services.pump.ProcessPendingMessages();
}

}  // namespace update
