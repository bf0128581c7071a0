// The window plumbing: the window classes and their one window procedure, the application window
// (the taskbar entry), and the main window: its creation from the layout table, focus, timers, the
// form's handlers, the sleep and shutdown hold and the message loop.
#include "platform/win32/Window.h"

#include <dbt.h>

#include <string>
#include <string_view>

#include "platform/ErrorBox.h"
#include "platform/win32/WindowText.h"

namespace platform::win32 {

namespace {

constexpr char ApplicationClass[] = "FlashwrightApplication";
constexpr char FormClass[] = "TForm1";
constexpr char PanelClass[] = "FlashwrightPanel";
constexpr char MainIconName[] = "MAINICON";

constexpr DWORD FormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
constexpr DWORD FormExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;

// Posted to the application window to pass its activation on.
constexpr UINT ActivateLastPopup = WM_APP + 1;

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

// The window procedure of every window class of ours. The window's object comes with its
// creation (CreateWindowEx's last argument) and is tied to it in WM_NCCREATE, so GWLP_USERDATA
// holds the object in every class and the object sees the creation messages too. An exception
// must not leave a window procedure: the system's frames it would unwind through cannot pass it
// on and the program would end there, so the message gets the default handling instead.
template <class Object>
LRESULT CALLBACK BoundWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* object = reinterpret_cast<Object*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_NCDESTROY) SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  if (object == nullptr) return DefWindowProcA(window, message, wParam, lParam);
  try {
    return object->HandleMessage(window, message, wParam, lParam);
  } catch (...) {
    switch (message) {
      case WM_PAINT:
        // Counted as painted: an area left invalid is asked for again at once, for ever.
        ValidateRect(window, nullptr);
        return 0;
      case WM_SETTEXT: {
        // The panels draw their text themselves.
        const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
        InvalidateRect(window, nullptr, FALSE);
        return result;
      }
      default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
  }
}

// The window the user works in: the frontmost visible, enabled window that `owner` owns (the main
// window, or a box in front of it), or nullptr. Not GetLastActivePopup: that is `owner` itself
// once `owner` was active, as it is while minimised.
HWND FrontOwnedWindow(HWND owner) {
  for (HWND window = GetWindow(owner, GW_HWNDFIRST); window;
       window = GetWindow(window, GW_HWNDNEXT)) {
    if (GetWindow(window, GW_OWNER) == owner && IsWindowVisible(window) &&
        IsWindowEnabled(window)) {
      return window;
    }
  }
  return nullptr;
}

void RegisterClass(const char* name, WNDPROC procedure, HICON icon, HBRUSH background) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = Instance();
  windowClass.hIcon = icon;
  windowClass.hIconSm = icon;
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = background;
  windowClass.lpszClassName = name;
  RegisterClassExA(&windowClass);
}

void RegisterClasses() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  RegisterClass(ApplicationClass, BoundWindowProc<ApplicationWindow>,
                LoadIconA(Instance(), MainIconName), nullptr);
  RegisterClass(PanelClass, BoundWindowProc<Panel>, nullptr, nullptr);
  RegisterClass(FormClass, BoundWindowProc<FormWindow>, nullptr,
                reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
}

UniqueFont CreateLayoutFont(int height) {
  return UniqueFont(CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                DEFAULT_PITCH | FF_DONTCARE, FormFontFace));
}

// The height of "0" in `font` on the screen, which the layout's scaling follows.
int TextHeight(HFONT font, HDC screen) {
  HGDIOBJ previous = SelectObject(screen, font);
  const ScopeExit restore([&] { SelectObject(screen, previous); });
  SIZE zero{};
  GetTextExtentPoint32A(screen, "0", 1, &zero);
  return zero.cy;
}

}  // namespace

// ---- the application window ---------------------------------------------------------------------

ApplicationWindow::ApplicationWindow(const std::string& title) {
  RegisterClasses();
  // The first icon and cursor loaded bring in the display driver.
  EndOfPhase("window classes");
  const int centreX = GetSystemMetrics(SM_CXSCREEN) / 2;
  const int centreY = GetSystemMetrics(SM_CYSCREEN) / 2;
  window_.Reset(
      CreateWindowExA(0, ApplicationClass, title.c_str(),
                      WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                      centreX, centreY, 0, 0, nullptr, nullptr, Instance(), this));
}

void ApplicationWindow::Show() {
  // Only the taskbar entry appears; the main window shown next takes the activation.
  if (window_) ShowWindow(window_.Get(), SW_SHOWNOACTIVATE);
}

LRESULT ApplicationWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // Closing the taskbar entry closes the main window.
      if (form_) PostMessageA(form_, WM_CLOSE, 0, 0);
      return 0;
    case WM_ACTIVATE:
      // The taskbar entry was chosen: the window the user works in is the main window, or the
      // box in front of it.
      if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam)) {
        PostMessageA(window, ActivateLastPopup, 0, 0);
      }
      return 0;
    case WM_SIZE:
      if (wParam == SIZE_RESTORED) {
        // Restored, by the system command or by ShowWindow (SwitchToThisWindow is one): the
        // owned windows hidden by the minimise come back (under Wine ShowWindow alone leaves
        // them hidden), and the one in front takes the activation, which stays with this window
        // otherwise.
        ShowOwnedPopups(window, TRUE);
        PostMessageA(window, ActivateLastPopup, 0, 0);
      }
      return 0;
    case ActivateLastPopup:
      if (HWND popup = FrontOwnedWindow(window); popup && !IsIconic(window)) {
        SetActiveWindow(popup);
      }
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// ---- the main window ----------------------------------------------------------------------------

FormWindow::FormWindow(ApplicationWindow& application, Dialogs& dialogs) : dialogs_(dialogs) {
  RegisterClasses();

  // The form font follows the display's pixels per inch; the layout follows the font.
  Scaling scaling;
  {
    const UniqueScreenDc screen(GetDC(nullptr));
    const int pixelsPerInch = GetDeviceCaps(screen.Get(), LOGPIXELSY);
    formFont_ = CreateLayoutFont(ScaledFormFontHeight(pixelsPerInch));
    scaling = LayoutScaling(pixelsPerInch, TextHeight(formFont_.Get(), screen.Get()));
  }
  EndOfPhase("form font and scaling");

  RECT outer{0, 0, scaling.Apply(DesignClientWidth), scaling.Apply(DesignClientHeight)};
  AdjustWindowRectEx(&outer, FormStyle, FALSE, FormExStyle);
  const POINT designCorner{DesignWindowLeft, DesignWindowTop};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoA(MonitorFromPoint(designCorner, MONITOR_DEFAULTTONEAREST), &monitor);
  const Rect placed = PlaceWindow(
      outer.right - outer.left, outer.bottom - outer.top,
      {monitor.rcWork.left, monitor.rcWork.top, monitor.rcWork.right, monitor.rcWork.bottom});

  window_.Reset(CreateWindowExA(FormExStyle, FormClass, "Form1", FormStyle, placed.left, placed.top,
                                placed.Width(), placed.Height(), application.Handle(), nullptr,
                                Instance(), this));
  HWND window = window_.Get();
  if (window == nullptr) return;
  application.SetForm(window);
  SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(formFont_.Get()), FALSE);
  EndOfPhase("main window");

  for (ControlId id : CreationOrder()) {
    const ControlSpec& entry = SpecOf(id);
    const std::size_t index = static_cast<std::size_t>(id);
    HWND parent = entry.parent ? Control(*entry.parent) : window;
    const bool button = entry.kind == ControlKind::Button;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (entry.visible ? WS_VISIBLE : 0);
    style |= button ? (BS_PUSHBUTTON | WS_TABSTOP) : WS_CLIPCHILDREN;
    const DWORD exStyle = button ? 0 : WS_EX_CONTROLPARENT;
    controls_[index] = CreateWindowExA(
        exStyle, button ? "BUTTON" : PanelClass, entry.text, style, scaling.Apply(entry.left),
        scaling.Apply(entry.top), scaling.Apply(entry.width), scaling.Apply(entry.height), parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlWindowId(id))), Instance(),
        button ? nullptr : &panels_[index]);
    HFONT font = formFont_.Get();
    if (entry.ownFont) {
      // One font per height: the lines share theirs, and so do the two status areas.
      const int height = scaling.Apply(entry.fontHeight);
      for (const auto& [ownHeight, ownFont] : ownFonts_) {
        if (ownFont && ownHeight == height) font = ownFont.Get();
      }
      if (font == formFont_.Get()) {
        ownFonts_[index] = {height, CreateLayoutFont(height)};
        font = ownFonts_[index].second.Get();
      }
    }
    SendMessageA(controls_[index], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (IsStatusLine(id)) {
      lines_[index] = controls_[index];
      panels_[index].MakeLine(accessibility_, lines_);
    }
  }
}

FormWindow::~FormWindow() {
  // The annotations go while their windows still exist.
  accessibility_.Release();
}

void FormWindow::Show() {
  ShowWindow(window_.Get(), SW_SHOWNORMAL);
  UpdateWindow(window_.Get());
}

void FormWindow::SetText(ControlId control, std::string_view text) {
  SetWindowTextA(Control(control), TextBuffer(text).CStr());
}

void FormWindow::SetVisible(ControlId control, bool visible) {
  HWND window = Control(control);
  if (!visible) DropFocusFrom(window);
  const bool appears = visible && !IsWindowVisible(window);
  ShowWindow(window, visible ? SW_SHOWNA : SW_HIDE);
  if (!appears) return;
  // Lines whose text was set while hidden are announced as they appear.
  for (std::size_t i = 0; i < ControlCount; ++i) {
    if (lines_[i] && (lines_[i] == window || GetParent(lines_[i]) == window) &&
        GetWindowTextLengthA(lines_[i]) > 0) {
      AnnounceLine(lines_[i]);
    }
  }
}

void FormWindow::SetEnabled(ControlId control, bool enabled) {
  HWND window = Control(control);
  if (!enabled) DropFocusFrom(window);
  EnableWindow(window, enabled ? TRUE : FALSE);
}

void FormWindow::SetCaption(std::string_view caption) {
  SetWindowTextA(window_.Get(), TextBuffer(caption).CStr());
}

void FormWindow::Close() {
  closeRequested_ = true;
  // Wake the message loop if it is waiting.
  PostMessageA(window_.Get(), WM_NULL, 0, 0);
}

void FormWindow::StartTimer(std::uintptr_t id, unsigned milliseconds) {
  SetTimer(window_.Get(), id, milliseconds, nullptr);
}

void FormWindow::CancelTimer(std::uintptr_t id) { KillTimer(window_.Get(), id); }

void FormWindow::Block(std::string_view reason) { sleepAndShutdown_.Hold(window_.Get(), reason); }

void FormWindow::Unblock() { sleepAndShutdown_.Release(); }

void FormWindow::DropFocusFrom(HWND control) {
  // A hidden or disabled control keeps no focus; it goes to the window itself, not to another
  // button.
  HWND focus = GetFocus();
  if (focus && (focus == control || IsChild(control, focus))) SetFocus(window_.Get());
}

void FormWindow::FocusFirstButton() {
  for (ControlId id : CreationOrder()) {
    if (SpecOf(id).kind != ControlKind::Button) continue;
    HWND button = Control(id);
    if (IsWindowVisible(button) && IsWindowEnabled(button)) {
      SetFocus(button);
      return;
    }
  }
  SetFocus(window_.Get());
}

bool FormWindow::Dispatch(MSG& message) {
  if (message.message == WM_QUIT) {
    closeRequested_ = true;
    return false;
  }
  if (!window_ || !IsDialogMessageA(window_.Get(), &message)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return true;
}

void FormWindow::ProcessPendingMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (!Dispatch(message)) break;
  }
}

void FormWindow::RunMessageLoop() {
  MSG message;
  while (!closeRequested_) {
    const BOOL got = GetMessageA(&message, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      closeRequested_ = true;
      break;
    }
    Dispatch(message);
  }
}

void FormWindow::OnCommand(WPARAM wParam) {
  if (HIWORD(wParam) != BN_CLICKED || events_ == nullptr) return;
  const int id = LOWORD(wParam) - ControlIdBase;
  if (id < 0 || id >= static_cast<int>(ControlCount)) return;
  const ControlSpec& entry = SpecOf(static_cast<ControlId>(id));
  // A hidden or disabled button takes no input, also not a click sent from outside (BM_CLICK or
  // WM_COMMAND): an update must never start twice.
  HWND button = Control(entry.id);
  if (entry.onClick == nullptr || !IsWindowVisible(button) || !IsWindowEnabled(button)) return;
  RunGuarded(dialogs_, [&] { (events_->*entry.onClick)(); });
}

LRESULT FormWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(wParam);
      return 0;
    case WM_TIMER:
      if (events_) RunGuarded(dialogs_, [&] { events_->OnRescanTimer(wParam); });
      return 0;
    case WM_DEVICECHANGE:
      if (events_) {
        RunGuarded(dialogs_, [&] { events_->OnDeviceChange(static_cast<std::uint32_t>(wParam)); });
      }
      return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) {
        FocusFirstButton();
        return 0;
      }
      break;
    case WM_CLOSE:
      Close();
      return 0;
    case WM_QUERYENDSESSION:
      return sleepAndShutdown_.Held() ? FALSE : TRUE;
    case WM_SYSCOLORCHANGE:
    case WM_SETTINGCHANGE:
    case WM_THEMECHANGED:
      // The lines' colours follow the system colours and the high-contrast setting: draw anew.
      RedrawWindow(window, nullptr, nullptr,
                   RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace platform::win32
