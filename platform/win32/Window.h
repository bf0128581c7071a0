// The application window (taskbar entry) and the main window with its panels and buttons,
// built from the layout table; messages are turned into calls on a handler object.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <utility>

#include "app/Layout.h"
#include "platform/Platform.h"

namespace platform::win32 {

// The hidden-looking window that carries the taskbar entry and owns the main window, so that the
// main window has no taskbar button of its own.
class ApplicationWindow {
 public:
  explicit ApplicationWindow(const std::string& title);
  ~ApplicationWindow();
  ApplicationWindow(const ApplicationWindow&) = delete;
  ApplicationWindow& operator=(const ApplicationWindow&) = delete;
  HWND Handle() const { return window_; }
  void Show();

 private:
  HWND window_ = nullptr;
};

class FormWindow final : public Controls, public Timers, public MessagePump, public CriticalWork {
 public:
  // Creates the window and its controls, hidden; `owner` is the application window.
  explicit FormWindow(HWND owner);
  ~FormWindow() override;
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  HWND Handle() const { return window_; }
  void Show();
  void Destroy();

  // True once a close was asked for: the message loop is to stop.
  bool CloseRequested() const { return closeRequested_; }
  // Handles every pending message, then returns. A quit request seen here is remembered.
  void ProcessPendingMessages() override;
  // Runs the message loop until the window is closed.
  void RunMessageLoop();

  void SetEvents(FormEvents* events) override { events_ = events; }
  void SetText(app::ControlId control, std::string_view text) override;
  void SetVisible(app::ControlId control, bool visible) override;
  void SetEnabled(app::ControlId control, bool enabled) override;
  void SetCaption(std::string_view caption) override;
  void Close() override;

  void StartTimer(std::uintptr_t id, unsigned milliseconds) override;
  void CancelTimer(std::uintptr_t id) override;
  // Keeps the system and display awake and gives a shutdown the reason to show the user.
  void Begin(std::string_view reason) override;
  void End() override;

 private:
  // The window procedure: nothing thrown while handling a message leaves it.
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam,
                                     LPARAM lParam) noexcept;
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  HWND Control(app::ControlId id) const { return controls_[static_cast<std::size_t>(id)]; }
  void DropFocusFrom(HWND control);
  void FocusFirstButton();
  bool Dispatch(MSG& message);

  HWND window_ = nullptr;
  FormEvents* events_ = nullptr;
  std::array<HWND, app::ControlCount> controls_{};
  HFONT formFont_ = nullptr;
  std::array<std::pair<int, HFONT>, app::ControlCount> ownFonts_{};  // (height, font), created
  bool closeRequested_ = false;
  bool criticalWork_ = false;  // a shutdown or log-off is refused meanwhile
};

}  // namespace platform::win32
