// The main window's behaviour: construction (binding, configuration, first scan), the creation
// handler, the button and message handlers, and teardown. Drawn and wired up by the platform,
// which calls each handler directly. The handlers do the window's choreography (texts, buttons,
// yields, the shared state, when to rescan) and ask the engine for every decision.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "app/Rescan.h"
#include "app/SharedState.h"
#include "platform/Platform.h"
#include "platform/UniqueResource.h"
#include "trail/Writer.h"
#include "update/UpdateRun.h"
#include "updatelib/Gateway.h"

namespace app {

// Every library call goes through one gateway, and the library may handle window messages while
// a call runs. Whatever arrives meanwhile is kept from nesting: a rescan is remembered and made
// once the handler that made the call has finished (a burst counts once), a click on Update
// starts nothing, and a close only marks the program to end. A device change is taken at once,
// as the library may be waiting inside the call for its note to close; the countdown of a
// change during construction starts once the creation handler has run. When acting on them makes
// the library fault, the fault is shown in the error box by the form itself, and what was
// remembered meanwhile is acted on after it.
class TForm1 final : public platform::Form {
 public:
  // Binds the library; on failure shows the binding-failure box and stops there. Otherwise
  // configures the library, resets the shared state and runs the first scan, so the window
  // opens already showing its outcome. The controls exist, hidden, before this runs. A library
  // fault in here ends construction with the exception (the library is released on the way).
  explicit TForm1(const platform::FormServices& services);
  // Releases the library, then the notification registration (the order of the members).
  ~TForm1() override = default;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Registers for device changes and sets the caption from the version record. When the library
  // is not bound, does neither: the program is to end without showing the window.
  void FormCreate() override;
  bool ShouldRun() const override { return library_.Bound(); }

  // The scan, under the programming lock. Does nothing while the library is not bound
  // (device-change and timer messages can arrive while the binding-failure box is up); asked for
  // inside a library call, it runs once that call's handler has finished. While another of our
  // programs holds the lock, the library is not called: the window says so, offers Exit, and
  // looks again every BusyRetryDelay until the lock comes free.
  void RefreshBtnClick() override;
  // Programs the device the last scan selected. Sets UpdateInProgress for its whole run, cancels
  // a pending rescan, shows the update lines, lets them paint, programs the device (blocking),
  // shows the result with Exit, lets it paint, and clears the flag. When programming throws (the
  // library faulted), the failure is shown and the flag released before the exception goes on.
  // Starts nothing while the library is not bound, busy in another call, or already programming.
  // Holds the programming lock for the whole run; when another program holds it, shows the busy
  // scan lines instead, as a scan would. The attempt is recorded (update/Attempts.h).
  void UpdateBtnClick() override;
  void ExitBtnClick() override;
  // During an update every event only cancels a pending rescan. Otherwise a removal or a node
  // change (re)starts the rescan countdown and closes a window titled "Message", at once even
  // inside a library call (only the scan waits for the call); other codes are ignored.
  void OnDeviceChange(std::uint32_t event) override;
  // The rescan timer acts once: it is cancelled, and the scan runs unless an update is under way
  // or the window does not run yet. The busy timer scans again likewise. Other timers are ignored.
  void OnRescanTimer(std::uintptr_t timerId) override;

  const SharedState& State() const { return state_; }

 private:
  // Stops the window's messages from reaching a form that is gone, also when construction throws.
  struct EventsAttachment {
    EventsAttachment(platform::Controls& controls, platform::FormEvents& form);
    ~EventsAttachment();
    EventsAttachment(const EventsAttachment&) = delete;
    EventsAttachment& operator=(const EventsAttachment&) = delete;
    platform::Controls& controls;
  };
  struct Unregister {
    platform::DeviceNotifications* notifications = nullptr;
    void operator()(std::uintptr_t handle) const { notifications->Unregister(handle); }
  };

  // Acts on what was remembered, unless a change's own handling is still under way further up, or
  // for a scan a library call (then whoever is up there acts on it when it finishes). A change is
  // taken inside a library call too: the library may be waiting there for its note to close.
  void ActOnRemembered();
  // Restarts the rescan countdown (once the window runs) and asks a window titled "Message" to
  // close.
  void TakeChange();
  // Why the devices may not be touched now.
  enum class Busy {
    No,           // the lock is ours
    Programming,  // another program is programming a device
    Looking,      // another program holds the lock for longer than a look at the devices takes
    NoLock,       // the lock cannot be had at all
  };
  // Takes the programming lock into `lock`, waiting out another program's short look at the
  // devices; not held unless the answer is Busy::No.
  Busy TakeLock(std::optional<platform::HeldLock>& lock);
  // The update run under the lock: the lines, the yields, the programming and the result. Leaves
  // the attempt's line in `line`, a fault or other exception in `failure` (shown as a failure) and
  // a record that could not be kept in `recordError`.
  void RunUpdate(trail::Line& line, std::exception_ptr& failure, std::string& recordError);
  // The device the last scan selected; Failed, without a library call, when nothing usable is. A
  // record that could not be kept (begun or completed) is told in `recordError`.
  update::UpdateOutcome ProgramSelectedDevice(std::string& recordError);
  // Shows why the devices may not be touched, selects nothing, and starts the busy timer.
  void ShowBusy(Busy busy);
  // An update attempt's line: the selected device's, unless the lock kept the attempt from
  // starting (its state Busy or Error).
  trail::Line AttemptLine(trail::State state, std::optional<trail::Result> result,
                          long long durationMs, std::string reason);
  // Leaves a line in the shared log (and an attempt's outcome in the event log). Never called
  // while the programming lock is held.
  void WriteTrail(const trail::Line& line);

  platform::FormServices services_;
  EventsAttachment attachment_;
  platform::UniqueResource<std::uintptr_t, Unregister> DeviceNotifyHandle;
  updatelib::LibraryGateway library_;  // released before the registration, as declared after it
  SharedState state_{};
  RescanDebounce rescan_;
  update::Attempts attempts_;
  trail::Trail trail_;
  device::FirmwareVersion selectedFirmware_{};  // the selected device's version, for its record
  bool busyTimer_ = false;            // the busy timer runs: another program held the lock
  bool created_ = false;              // FormCreate ran with the library bound: rescans may run
  bool handlingChange_ = false;       // inside a change's own handling (the "Message" wait)
  bool changeRemembered_ = false;     // a change came while the program could not act on it
  bool rescanRemembered_ = false;     // the rescan timer fired then
  bool countdownRemembered_ = false;  // a change was taken before the window ran
};

}  // namespace app
