// The main window's behaviour; see TForm1.h.
#include "app/TForm1.h"

#include "app/AppText.h"
#include "device/Monitor.h"
#include "device/Scan.h"
#include "platform/ErrorBox.h"
#include "update/UpdateRun.h"

namespace app {

TForm1::EventsAttachment::EventsAttachment(platform::Controls& controls, platform::FormEvents& form)
    : controls(controls) {
  controls.SetEvents(&form);
}

TForm1::EventsAttachment::~EventsAttachment() { controls.SetEvents(nullptr); }

TForm1::TForm1(const platform::FormServices& services)
    : services_(services),
      attachment_(services.controls, *this),
      DeviceNotifyHandle(0, Unregister{&services.notifications}),
      library_(services.faults) {
  library_.Load(services_.modules);
  if (!library_.Bound()) {
    services_.dialogs.ShowPlain(BindingFailureText, BindingFailureCaption);
    return;
  }
  updatelib::ConfigureUpdateLibrary(library_);
  state_ = core::SharedState{};
  RefreshBtnClick();
}

void TForm1::FormCreate() {
  if (!ShouldRun()) return;
  DeviceNotifyHandle.Reset(services_.notifications.Register());
  services_.controls.SetCaption(FormatCaption(services_.versionRecord.ReadOwnFileVersion()));
  created_ = true;
  // A change during the first scan leads to a rescan once the window runs.
  ActOnRemembered();
}

void TForm1::RefreshBtnClick() {
  if (!library_.Bound()) return;
  if (library_.Busy()) {
    rescanRemembered_ = true;
    return;
  }
  device::RefreshBtnClick(library_, state_, services_.controls);
}

void TForm1::UpdateBtnClick() {
  // Never programs twice at once, and never from inside another library call, whoever clicks.
  if (!library_.Bound() || library_.Busy() || state_.UpdateInProgress) return;
  update::UpdateBtnClick({.library = library_,
                          .state = state_,
                          .controls = services_.controls,
                          .pump = services_.pump,
                          .timers = services_.timers,
                          .sleepAndShutdown = services_.sleepAndShutdown,
                          .programmingLock = services_.programmingLock});
}

void TForm1::ExitBtnClick() { services_.controls.Close(); }

void TForm1::OnDeviceChange(std::uint32_t event) {
  if (state_.UpdateInProgress) {
    // Swallowed, as every change during an update is; this only cancels a pending rescan.
    device::OnDeviceChange(event, state_, services_.timers, services_.windowCloser);
    return;
  }
  if (!device::StartsRescan(event)) return;
  changeRemembered_ = true;
  ActOnRemembered();
}

void TForm1::OnRescanTimer(std::uintptr_t timerId) {
  if (!device::OnRescanTimer(timerId, services_.timers)) return;
  // An update cancels the rescan timer; a stray timer message still must not scan inside it.
  // Before the window runs no scan is due: the first one has just been made.
  if (state_.UpdateInProgress || !created_) return;
  rescanRemembered_ = true;
  ActOnRemembered();
}

void TForm1::ActOnRemembered() {
  // A loop rather than recursion: what arrives while one is acted on is taken on the next turn.
  while (created_ && !library_.Busy() && !handlingChange_ &&
         (changeRemembered_ || rescanRemembered_)) {
    // A library fault is shown here, so that what was remembered during the faulting call is
    // still acted on once the box is dismissed. Messages handled behind the box may act on it
    // first; the flags make sure each remembered event is acted on once.
    platform::RunGuarded(services_.dialogs, [&] {
      if (changeRemembered_) {
        changeRemembered_ = false;
        HandleChange();
      } else {
        rescanRemembered_ = false;
        // As the timer acts once: a rescan it started by a remembered change is not run twice.
        services_.timers.CancelTimer(device::RescanTimerId);
        RefreshBtnClick();
      }
    });
  }
}

void TForm1::HandleChange() {
  handlingChange_ = true;
  const platform::ScopeExit done([&] { handlingChange_ = false; });
  device::OnDeviceChange(device::DeviceNodesChanged, state_, services_.timers,
                         services_.windowCloser);
}

}  // namespace app
