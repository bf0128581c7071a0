// Process entry: the application window, the main window Form1 and its message loop.
#include <windows.h>

#include <memory>
#include <optional>

#include "app/AppText.h"
#include "app/Guard.h"
#include "app/TForm1.h"
#include "platform/win32/Services.h"
#include "platform/win32/Window.h"

namespace {

using app::ControlId;
namespace win32 = platform::win32;

// Routes the main window's messages to Form1, each inside the error-box guard.
class FormMessages final : public win32::FormHandlers {
 public:
  FormMessages(app::TForm1& form, platform::Dialogs& dialogs) : form_(form), dialogs_(dialogs) {}

  void OnButtonClick(ControlId button) override {
    app::RunGuarded(dialogs_, [&] {
      switch (button) {
        case ControlId::RefreshBtn:
          form_.RefreshBtnClick();
          break;
        case ControlId::UpdateBtn:
          form_.UpdateBtnClick();
          break;
        case ControlId::ExitBtn:
          form_.ExitBtnClick();
          break;
        default:
          break;
      }
    });
  }
  void OnDeviceChange(std::uint32_t event) override {
    app::RunGuarded(dialogs_, [&] { form_.OnDeviceChange(event); });
  }
  void OnTimer(std::uintptr_t timerId) override {
    app::RunGuarded(dialogs_, [&] { form_.OnRescanTimer(timerId); });
  }

 private:
  app::TForm1& form_;
  platform::Dialogs& dialogs_;
};

int Run() {
  win32::RestrictDllSearch();
  const std::string title = app::ApplicationTitle(win32::ExecutablePath());
  win32::MessageBoxes dialogs(title);

  // A failure outside any handler ends the program after the error box, still with code 0.
  app::RunGuarded(dialogs, [&] {
    win32::ApplicationWindow application(title);
    dialogs.SetOwner(application.Handle());
    win32::FormWindow window(application.Handle());
    if (window.Handle() == nullptr) throw std::runtime_error("Cannot create the main window");

    win32::ExeDirectoryModuleLoader modules;
    win32::OwnVersionRecord versionRecord;
    win32::UsbDeviceNotifications notifications;
    notifications.SetRecipient(window.Handle());
    win32::TitledWindowCloser windowCloser;
    const app::FormServices services{modules, window,       dialogs, versionRecord, notifications,
                                     window,  windowCloser, window,  window};

    std::optional<app::TForm1> form;
    form.emplace(services);
    FormMessages messages(*form, dialogs);
    window.SetHandlers(&messages);
    app::RunGuarded(dialogs, [&] { form->FormCreate(); });
    if (form->ShouldRun()) {
      application.Show();
      window.Show();
      window.RunMessageLoop();
    }
    window.SetHandlers(nullptr);
    form.reset();  // releases the library and the registration before the window goes
    window.Destroy();
  });
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return Run(); }
