// The application window (taskbar entry) and the main window with its panels and buttons, built
// from the layout table. Each window is tied to its C++ object; messages go straight to the
// object, and the main window calls the form's handlers directly.
#pragma once

#include <windows.h>

#include <oleacc.h>

#include <array>
#include <string>
#include <utility>

#include "platform/Layout.h"
#include "platform/Platform.h"
#include "platform/win32/Owners.h"
#include "platform/win32/StartupPhase.h"

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

// What the status lines need of COM for accessibility clients, on the window's thread: the
// apartment, entered when a client first asks, and the lines' annotation as a polite live region
// (where the system offers annotations). Left, and the annotations cleared, by Release or at the
// latest when the object dies, on the same thread.
class LineAccessibility {
 public:
  using AllocateString = BSTR(WINAPI*)(const OLECHAR*, UINT);

  LineAccessibility() = default;
  LineAccessibility(const LineAccessibility&) = delete;
  LineAccessibility& operator=(const LineAccessibility&) = delete;
  ~LineAccessibility() { Release(); }

  // Loads COM and the system's accessibility library, enters the apartment and annotates
  // `lines`, once; later calls do nothing. False when COM or the library is not there. The
  // program imports neither: a window nobody reads pays nothing for them at start-up.
  bool Prepare(const std::array<HWND, ControlCount>& lines);
  // The answer to WM_GETOBJECT for `line`'s client object (after a successful Prepare): the
  // system's standard object for it, as static text named by the line's text; 0 for the default
  // handling when that cannot be had.
  LRESULT Answer(HWND line, WPARAM wParam) const;
  void Release();

 private:
  using CreateStandardObject = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
  using ResultFromObject = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
  using InitializeCom = HRESULT(WINAPI*)(void*, DWORD);
  using CreateInstance = HRESULT(WINAPI*)(REFCLSID, LPUNKNOWN, DWORD, REFIID, void**);
  using UninitializeCom = void(WINAPI*)();
  using Library = UniqueResource<HMODULE, CloseWith<&FreeLibrary>>;

  bool prepared_ = false;
  bool entered_ = false;
  // Loaded from the system folder on first need, never found elsewhere (oleacc is no known DLL).
  Library com_;      // ole32
  Library strings_;  // oleaut32, whose allocator the clients free the lines' names with
  Library library_;  // oleacc
  UninitializeCom uninitializeCom_ = nullptr;
  CreateStandardObject createStandardObject_ = nullptr;
  ResultFromObject resultFromObject_ = nullptr;
  AllocateString allocateString_ = nullptr;
  IAccPropServices* services_ = nullptr;  // owned
  std::array<HWND, ControlCount> annotated_{};
};

// A status panel: fills itself with the button-face colour and draws its text centred. A status
// line also answers accessibility clients and tells them when its text changes.
class Panel {
 public:
  // Makes this panel a status line; `lines` knows every line of the window.
  void MakeLine(LineAccessibility& accessibility, const std::array<HWND, ControlCount>& lines) {
    accessibility_ = &accessibility;
    lines_ = &lines;
  }
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void Paint(HWND window);
  HFONT font_ = nullptr;                                   // owned by the main window
  LineAccessibility* accessibility_ = nullptr;             // set for a status line only
  const std::array<HWND, ControlCount>* lines_ = nullptr;  // the window's lines, by index
};

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
  LineAccessibility accessibility_;
  bool closeRequested_ = false;
  bool blocking_ = false;  // sleep and shutdown are held off
  UniqueWindow window_;
};

}  // namespace platform::win32
