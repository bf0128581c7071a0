// The firmware update run; see UpdateRun.h.
#include "update/UpdateRun.h"

#include <cstring>

#include "device/Monitor.h"

namespace update {

using app::ControlId;

bool PrepareCustomizedSettings(const updatelib::EntryPointTable& library, const char*) {
  library.ZR_InitialCustomizedSettingTable();
  return true;
}

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

  bool succeeded = true;
  char path[updatelib::PathBufferSize] = {};
  if (state.SelectedDeviceCount == 0) succeeded = false;
  if (succeeded && state.SelectedDevicePath[0] == '\0') succeeded = false;
  if (succeeded) {
    // The selection is always terminated: the scan only records terminated paths.
    std::memcpy(path, state.SelectedDevicePath.data(), sizeof path);
    path[sizeof path - 1] = '\0';
  }
  if (succeeded) succeeded = PrepareCustomizedSettings(services.library, path);
  if (succeeded) {
    struct EndCriticalWork {
      platform::CriticalWork& work;
      ~EndCriticalWork() { work.End(); }
    } endCriticalWork{services.criticalWork};
    services.criticalWork.Begin(CriticalWorkReason);
    succeeded = services.library.ZR_FWUpdateProgrammingNoCustomizedSetting(path) != 0;
  }

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
  services.pump.ProcessPendingMessages();
}

}  // namespace update
