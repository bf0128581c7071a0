// The window program's entry; see WindowProgram.h.
#include "platform/win32/WindowProgram.h"

#include <windows.h>

#include <cstdlib>
#include <exception>
#include <stdexcept>

#include "platform/ErrorBox.h"
#include "platform/win32/ApplicationTitle.h"
#include "platform/win32/DeviceNotifications.h"
#include "platform/win32/MessageBoxes.h"
#include "platform/win32/ModuleLoading.h"
#include "platform/win32/SystemServices.h"
#include "platform/win32/Window.h"

namespace platform::win32 {

int RunWindowProgram(const FormFactory& makeForm) {
  EndOfPhase("process start to main");
  RestrictDllSearch();
  // While the programming call blocks the window, Windows would otherwise replace it with a ghost
  // that offers to end the program: ending it mid-flash can leave the device unusable.
  DisableProcessWindowsGhosting();
  const std::string title = ApplicationTitle();
  OwnWindows ownWindows;
  MessageBoxes dialogs(title, ownWindows);

  // A failure outside any handler ends the program after the error box, still with code 0.
  RunGuarded(dialogs, [&] {
    // Torn down in the reverse order: the form (library, then registration), the services, the
    // main window, the application window.
    ApplicationWindow application(title);
    ownWindows.Add(application.Handle());
    dialogs.SetOwner(application.Handle());
    EndOfPhase("application window");
    FormWindow window(application, dialogs);
    if (window.Handle() == nullptr) throw std::runtime_error("Cannot create the main window");
    ownWindows.Add(window.Handle());
    EndOfPhase("controls and their fonts");

    SystemServices system;
    UsbDeviceNotifications notifications;
    notifications.SetRecipient(window.Handle());
    TitledWindowCloser windowCloser(ownWindows);
    const FormServices services{.modules = system.modules,
                                .faults = system.faults,
                                .controls = window,
                                .dialogs = dialogs,
                                .versionRecord = system.versionRecord,
                                .notifications = notifications,
                                .timers = window,
                                .windowCloser = windowCloser,
                                .pump = window,
                                .sleepAndShutdown = window,
                                .programmingLock = system.programmingLock,
                                .attempts = system.attempts,
                                .log = system.log,
                                .events = system.events};

    const std::unique_ptr<Form> form = makeForm(services);
    EndOfPhase("library bound and set up, first scan");
    RunGuarded(dialogs, [&] { form->FormCreate(); });
    EndOfPhase("notifications and caption");
    if (form->ShouldRun()) {
      application.Show();
      EndOfPhase("taskbar entry shown");
      window.Show();
      EndOfPhase("main window shown and painted");
      window.RunMessageLoop();
    }
  });
  return 0;
}

}  // namespace platform::win32

// The C++ runtime's default end for an exception nobody caught, which the window program keeps
// (the console program installs its own): the runtime's writes the exception's type, demangled,
// to a standard error a window program does not have, and with it links the whole demangler,
// about a tenth of the window's size budget. Ending as it does, without the words no one reads,
// is the same end. Defined beside the window's entry so that the link finds it before the
// runtime's own.
void __gnu_cxx::__verbose_terminate_handler() { std::abort(); }
