// The main window's behaviour: construction (binding, configuration, first scan), the creation
// handler, the button and message handlers, and teardown. Drawn and wired up by the platform.
#pragma once

#include <cstdint>

#include "app/SharedState.h"
#include "platform/Platform.h"
#include "updatelib/Gateway.h"

namespace app {

// What TForm1 needs of the platform, each owned by whoever creates the form.
struct FormServices {
  platform::ModuleLoader& modules;
  platform::FaultBarrier& faults;
  platform::Controls& controls;
  platform::Dialogs& dialogs;
  platform::VersionRecord& versionRecord;
  platform::DeviceNotifications& notifications;
  platform::Timers& timers;
  platform::WindowCloser& windowCloser;
  platform::MessagePump& pump;
  platform::CriticalWork& criticalWork;
};

// Every library call goes through one gateway, and the library may handle window messages while
// a call runs. Whatever arrives meanwhile is kept from nesting: a device change or rescan timer
// is remembered and acted on once the handler that made the call has finished (a burst counts
// once), a click on Update starts nothing, and a close only marks the program to end. Device
// changes that arrive during construction are remembered the same way and acted on once the
// creation handler has run.
class TForm1 final : public platform::FormEvents {
 public:
  // Binds the library; on failure shows the binding-failure box and stops there. Otherwise
  // configures the library, resets the shared state and runs the first scan, so the window
  // opens already showing its outcome. The controls exist, hidden, before this runs. A library
  // fault in here ends construction with the exception (the library is released on the way).
  explicit TForm1(const FormServices& services);
  // Releases the library and the notification registration.
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Runs once construction has finished, before the window is first shown: registers for device
  // changes and sets the caption from the version record. When the library is not bound, does
  // neither: the program is to end without showing the window (see ShouldRun).
  void FormCreate();
  // False when the program must end without showing its window.
  bool ShouldRun() const { return library_.Bound(); }

  void ExitBtnClick();
  // The scan. Does nothing while the library is not bound (device-change and timer messages can
  // arrive while the binding-failure box is up); asked for inside a library call, it runs once
  // that call's handler has finished.
  void RefreshBtnClick();
  void UpdateBtnClick();

  // The window's messages. An exception escaping them is shown in the application's error box.
  void OnButtonClick(ControlId button) override;
  // WM_DEVICECHANGE with its event code.
  void OnDeviceChange(std::uint32_t event) override;
  // WM_TIMER with its identifier.
  void OnRescanTimer(std::uintptr_t timerId) override;

  const SharedState& State() const { return state_; }

 private:
  // Stops the window's messages from reaching a form that is gone, also when construction throws.
  struct EventsAttachment {
    EventsAttachment(platform::Controls& controls, platform::FormEvents& form);
    ~EventsAttachment();
    platform::Controls& controls;
  };

  // Acts on what was remembered, unless a library call or a change's own handling is still under
  // way further up (then whoever is up there acts on it when it finishes).
  void ActOnRemembered();
  void HandleChange();
  template <class Handler>
  void Guarded(Handler&& handler);

  FormServices services_;
  EventsAttachment attachment_;
  updatelib::LibraryGateway library_;
  SharedState state_{};
  std::uintptr_t DeviceNotifyHandle = 0;
  bool created_ = false;           // FormCreate ran with the library bound: rescans may run
  bool handlingChange_ = false;    // inside a change's own handling (the "Message" wait)
  bool changeRemembered_ = false;  // a change came while the program could not act on it
  bool rescanRemembered_ = false;  // the rescan timer fired then
};

}  // namespace app
