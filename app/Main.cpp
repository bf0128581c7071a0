// Process entry: the application window, the main window Form1 and its message loop.
#include <windows.h>

#include <optional>
#include <stdexcept>

#include "app/Guard.h"
#include "app/TForm1.h"
#include "platform/win32/ApplicationTitle.h"
#include "platform/win32/FaultBarrier.h"
#include "platform/win32/Services.h"
#include "platform/win32/Window.h"

namespace {

namespace win32 = platform::win32;

int Run() {
  win32::RestrictDllSearch();
  // While the programming call blocks the window, Windows would otherwise replace it with a ghost
  // that offers to end the program: ending it mid-flash can leave the device unusable.
  DisableProcessWindowsGhosting();
  const std::string title = win32::ApplicationTitle();
  win32::MessageBoxes dialogs(title);

  // A failure outside any handler ends the program after the error box, still with code 0.
  app::RunGuarded(dialogs, [&] {
    win32::ApplicationWindow application(title);
    dialogs.SetOwner(application.Handle());
    win32::FormWindow window(application.Handle());
    if (window.Handle() == nullptr) throw std::runtime_error("Cannot create the main window");

    win32::ExeDirectoryModuleLoader modules;
    win32::SehFaultBarrier faults;
    win32::OwnVersionRecord versionRecord;
    win32::UsbDeviceNotifications notifications;
    notifications.SetRecipient(window.Handle());
    win32::TitledWindowCloser windowCloser;
    const app::FormServices services{modules,       faults, window,       dialogs, versionRecord,
                                     notifications, window, windowCloser, window,  window};

    // The form takes the window's messages from the start of its construction (a library that
    // handles messages during the first scan delivers them there).
    std::optional<app::TForm1> form;
    form.emplace(services);
    app::RunGuarded(dialogs, [&] { form->FormCreate(); });
    if (form->ShouldRun()) {
      application.Show();
      window.Show();
      window.RunMessageLoop();
    }
    form.reset();  // releases the library and the registration before the window goes
    window.Destroy();
  });
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return Run(); }
