// The main window's behaviour: construction (binding, configuration, first scan), the creation
// handler, the button and message handlers, and teardown. Drawn and wired up by the platform.
#pragma once

#include <cstdint>

#include "app/SharedState.h"
#include "platform/Platform.h"
#include "updatelib/Binding.h"

namespace app {

// What TForm1 needs of the platform, each owned by whoever creates the form.
struct FormServices {
  platform::ModuleLoader& modules;
  platform::Controls& controls;
  platform::Dialogs& dialogs;
  platform::VersionRecord& versionRecord;
  platform::DeviceNotifications& notifications;
  platform::Timers& timers;
  platform::WindowCloser& windowCloser;
  platform::MessagePump& pump;
  platform::CriticalWork& criticalWork;
};

class TForm1 {
 public:
  // Binds the library; on failure shows the binding-failure box and stops there. Otherwise
  // configures the library, resets the shared state and runs the first scan, so the window
  // opens already showing its outcome. The controls exist, hidden, before this runs.
  explicit TForm1(const FormServices& services);
  // Releases the library and the notification registration.
  ~TForm1();
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Runs once construction has finished, before the window is first shown: registers for device
  // changes and sets the caption from the version record. When the library is not bound, does
  // neither: the program is to end without showing the window (see ShouldRun).
  void FormCreate();
  // False when the program must end without showing its window.
  bool ShouldRun() const { return updatelib::IsBound(LibraryHandle); }

  void ExitBtnClick();
  // The scan. Does nothing while the library is not bound (device-change and timer messages can
  // arrive while the binding-failure box is up).
  void RefreshBtnClick();
  void UpdateBtnClick();
  // Message handlers: WM_DEVICECHANGE with its event code, WM_TIMER with its identifier.
  void OnDeviceChange(std::uint32_t event);
  void OnRescanTimer(std::uintptr_t timerId);

  const SharedState& State() const { return state_; }

 private:
  FormServices services_;
  updatelib::EntryPointTable entryPoints_{};
  SharedState state_{};
  platform::ModuleHandle LibraryHandle = 0;
  std::uintptr_t DeviceNotifyHandle = 0;
};

}  // namespace app
