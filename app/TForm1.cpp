// The main window's behaviour; see TForm1.h.
#include "app/TForm1.h"

#include "app/AppText.h"
#include "device/Monitor.h"
#include "device/Scan.h"
#include "update/UpdateRun.h"

namespace app {

TForm1::TForm1(const FormServices& services) : services_(services) {
  LibraryHandle = updatelib::LoadUpdateLibrary(services_.modules, entryPoints_);
  if (!updatelib::IsBound(LibraryHandle)) {
    services_.dialogs.ShowBindingFailure();
    return;
  }
  updatelib::ConfigureUpdateLibrary(entryPoints_);
  state_ = SharedState{};
  RefreshBtnClick();
}

TForm1::~TForm1() {
  // An all-ones handle never came from a successful load, so there is nothing to release.
  if (updatelib::IsBound(LibraryHandle)) services_.modules.Release(LibraryHandle);
  LibraryHandle = 0;
  entryPoints_ = {};
  services_.notifications.Unregister(DeviceNotifyHandle);
  DeviceNotifyHandle = 0;
}

void TForm1::FormCreate() {
  if (!ShouldRun()) return;
  DeviceNotifyHandle = services_.notifications.Register();
  services_.controls.SetCaption(FormatCaption(services_.versionRecord.ReadOwnFileVersion()));
}

void TForm1::ExitBtnClick() { services_.controls.Close(); }

void TForm1::RefreshBtnClick() {
  if (!updatelib::IsBound(LibraryHandle)) return;
  device::RefreshBtnClick(entryPoints_, state_, services_.controls);
}

void TForm1::UpdateBtnClick() {
  // Never programs twice at once, whoever clicks.
  if (!updatelib::IsBound(LibraryHandle) || state_.UpdateInProgress) return;
  update::UpdateBtnClick({entryPoints_, state_, services_.controls, services_.pump,
                          services_.timers, services_.criticalWork});
}

void TForm1::OnDeviceChange(std::uint32_t event) {
  device::OnDeviceChange(event, state_, services_.timers, services_.windowCloser);
}

void TForm1::OnRescanTimer(std::uintptr_t timerId) {
  // An update cancels the rescan timer; a stray timer message still must not scan inside it.
  if (device::OnRescanTimer(timerId, services_.timers) && !state_.UpdateInProgress) {
    RefreshBtnClick();
  }
}

}  // namespace app
