// The program's windows: the application window (the taskbar entry) and the main window with its
// panels and buttons, built from the layout table. Each window is tied to its C++ object; messages
// go straight to the object, and the main window calls the form's handlers directly. The panels
// (StatusPanel.h) and the lines' accessibility (AccessibilityServer.h) have rooms of their own.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <utility>

#include "platform/Layout.h"
#include "platform/Phases.h"
#include "platform/Platform.h"
#include "platform/win32/Owners.h"
#include "platform/win32/ShutdownBlock.h"
#include "platform/win32/StatusPanel.h"

namespace platform::win32 {

// The hidden-looking window that carries the taskbar entry and owns the main window, so that the
// main window has no taskbar button of its own.
class ApplicationWindow {
 public:
  explicit ApplicationWindow(const std::string& title);
  ApplicationWindow(const ApplicationWindow&) = delete;
  ApplicationWindow& operator=(const ApplicationWindow&) = delete;
  HWND Handle() const { return window_.Get(); }
  // The main window it stands for: closing the taskbar entry closes it, and restoring the entry
  // activates it (or a box in front of it).
  void SetForm(HWND form) { form_ = form; }
  void Show();

  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  HWND form_ = nullptr;
  UniqueWindow window_;
};

// The main window: its controls from the layout table, the form's handlers called from its
// messages, its timers and message loop, and the sleep and shutdown hold during a programming.
class FormWindow final : public Controls,
                         public Timers,
                         public MessagePump,
                         public SleepAndShutdownBlock {
 public:
  // Creates the window and its controls, hidden, owned by `application`. An exception escaping a
  // handler of the form is shown through `dialogs`.
  FormWindow(ApplicationWindow& application, Dialogs& dialogs);
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;
  ~FormWindow() override;

  HWND Handle() const { return window_.Get(); }
  void Show();

  // Handles every pending message, then returns. A quit request seen here is remembered.
  void ProcessPendingMessages() override;
  // Runs the message loop until the window is closed.
  void RunMessageLoop();

  void SetEvents(FormEvents* events) override { events_ = events; }
  void SetText(ControlId control, std::string_view text) override;
  void SetVisible(ControlId control, bool visible) override;
  void SetEnabled(ControlId control, bool enabled) override;
  void SetCaption(std::string_view caption) override;
  void Close() override;

  void StartTimer(std::uintptr_t id, unsigned milliseconds) override;
  void CancelTimer(std::uintptr_t id) override;
  void Block(std::string_view reason) override;
  void Unblock() override;

  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  HWND Control(ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }
  void DropFocusFrom(HWND control);
  void FocusFirstButton();
  bool Dispatch(MSG& message);
  void OnCommand(WPARAM wParam);

  Dialogs& dialogs_;
  FormEvents* events_ = nullptr;
  // Declared before the window, so they outlive it.
  UniqueFont formFont_;
  std::array<std::pair<int, UniqueFont>, ControlCount> ownFonts_{};  // (height, font), created
  std::array<Panel, ControlCount> panels_{};                         // used for the panels only
  std::array<HWND, ControlCount> controls_{};
  std::array<HWND, ControlCount> lines_{};  // the status lines, by index; nullptr elsewhere
  AccessibilityServer accessibility_;
  bool closeRequested_ = false;
  UniqueWindow window_;
  // Declared after the window, so that the hold is let go while the window it names exists.
  SleepAndShutdownHold sleepAndShutdown_;
};

}  // namespace platform::win32
