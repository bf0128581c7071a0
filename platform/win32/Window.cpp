// The application window and the main window: classes, creation from the layout table, panel
// drawing, focus, timers and the message loop.
#include "platform/win32/Window.h"

#include <dbt.h>

#include <string>

namespace platform::win32 {
namespace {

constexpr char ApplicationClass[] = "FlashwrightApplication";
constexpr char FormClass[] = "TForm1";
constexpr char PanelClass[] = "FlashwrightPanel";
constexpr char MainIconName[] = "MAINICON";

constexpr DWORD FormStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
constexpr DWORD FormExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTROLPARENT;

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

int ControlWindowId(app::ControlId id) { return app::ControlIdBase + static_cast<int>(id); }

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthA(window);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const int copied = GetWindowTextA(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

// Runs a window procedure's own handling of a message. An exception must not leave a window
// procedure: the system's frames it would unwind through cannot pass it on, and the program ends
// there. The message then gets the default handling instead.
template <typename Handling>
LRESULT Contained(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                  Handling handling) noexcept {
  try {
    return handling();
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

void PaintPanel(HWND panel) {
  // Read first: what may throw comes before BeginPaint, so EndPaint is never skipped.
  const std::string text = WindowText(panel);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(panel, &paint);
  RECT client;
  GetClientRect(panel, &client);
  // Every panel merges with the window's background.
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  if (!text.empty()) {
    HFONT font = reinterpret_cast<HFONT>(GetWindowLongPtrA(panel, GWLP_USERDATA));
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    // Centred in a one-line box as high as the letter W; cut off at the panel's edges, never
    // wrapped or shortened. Tabs are expanded and "&" underlines the character after it.
    SIZE letter{};
    GetTextExtentPoint32A(dc, "W", 1, &letter);
    RECT box = client;
    box.top = (client.top + client.bottom - letter.cy) / 2;
    box.bottom = box.top + letter.cy;
    const bool formFontColour = GetDlgCtrlID(panel) == ControlWindowId(app::ControlId::Panel1);
    SetTextColor(dc, formFontColour ? GetSysColor(COLOR_WINDOWTEXT) : RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &box,
              DT_CENTER | DT_SINGLELINE | DT_EXPANDTABS);
    if (previous) SelectObject(dc, previous);
  }
  EndPaint(panel, &paint);
}

LRESULT PanelMessage(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFONT:
      SetWindowLongPtrA(panel, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
      if (LOWORD(lParam)) InvalidateRect(panel, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return GetWindowLongPtrA(panel, GWLP_USERDATA);
    case WM_SETTEXT: {
      // Setting the same text again does nothing; a new one is drawn at the next paint.
      const char* text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      if (WindowText(panel) == text) return TRUE;
      const LRESULT result = DefWindowProcA(panel, message, wParam, lParam);
      InvalidateRect(panel, nullptr, FALSE);
      return result;
    }
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT fills the whole panel
    case WM_PAINT:
      PaintPanel(panel);
      return 0;
    case WM_COMMAND:
      // Buttons report to their parent panel; the main window handles them.
      return SendMessageA(GetAncestor(panel, GA_ROOT), message, wParam, lParam);
    default:
      return DefWindowProcA(panel, message, wParam, lParam);
  }
}

LRESULT CALLBACK PanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return Contained(panel, message, wParam, lParam,
                   [&] { return PanelMessage(panel, message, wParam, lParam); });
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

// Posted to the application window to pass its activation on.
constexpr UINT ActivateLastPopup = WM_APP + 1;

LRESULT ApplicationMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE: {
      // Closing the taskbar entry closes the main window.
      HWND form = reinterpret_cast<HWND>(GetWindowLongPtrA(window, GWLP_USERDATA));
      if (form) PostMessageA(form, WM_CLOSE, 0, 0);
      return 0;
    }
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

LRESULT CALLBACK ApplicationProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return Contained(window, message, wParam, lParam,
                   [&] { return ApplicationMessage(window, message, wParam, lParam); });
}

void RegisterClasses() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  HICON icon = LoadIconA(Instance(), MainIconName);

  WNDCLASSEXA application{};
  application.cbSize = sizeof application;
  application.lpfnWndProc = ApplicationProc;
  application.hInstance = Instance();
  application.hIcon = icon;
  application.hIconSm = icon;
  application.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  application.lpszClassName = ApplicationClass;
  RegisterClassExA(&application);

  WNDCLASSEXA panel{};
  panel.cbSize = sizeof panel;
  panel.lpfnWndProc = PanelProc;
  panel.hInstance = Instance();
  panel.hCursor = application.hCursor;
  panel.lpszClassName = PanelClass;
  RegisterClassExA(&panel);
}

HFONT CreateLayoutFont(int height) {
  return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, app::FormFontFace);
}

}  // namespace

ApplicationWindow::ApplicationWindow(const std::string& title) {
  RegisterClasses();
  const int centreX = GetSystemMetrics(SM_CXSCREEN) / 2;
  const int centreY = GetSystemMetrics(SM_CYSCREEN) / 2;
  window_ = CreateWindowExA(0, ApplicationClass, title.c_str(),
                            WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                            centreX, centreY, 0, 0, nullptr, nullptr, Instance(), nullptr);
}

ApplicationWindow::~ApplicationWindow() {
  if (window_) DestroyWindow(window_);
}

void ApplicationWindow::Show() {
  // Only the taskbar entry appears; the main window shown next takes the activation.
  if (window_) ShowWindow(window_, SW_SHOWNOACTIVATE);
}

FormWindow::FormWindow(HWND owner) {
  RegisterClasses();
  static bool formRegistered = false;
  if (!formRegistered) {
    formRegistered = true;
    WNDCLASSEXA form{};
    form.cbSize = sizeof form;
    form.lpfnWndProc = WindowProc;
    form.hInstance = Instance();
    form.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    form.lpszClassName = FormClass;
    RegisterClassExA(&form);
  }

  // The form font follows the display's pixels per inch; the layout follows the font.
  HDC screen = GetDC(nullptr);
  const int pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
  formFont_ = CreateLayoutFont(app::ScaledFormFontHeight(pixelsPerInch));
  HGDIOBJ previous = SelectObject(screen, formFont_);
  SIZE zero{};
  GetTextExtentPoint32A(screen, "0", 1, &zero);
  SelectObject(screen, previous);
  ReleaseDC(nullptr, screen);
  const app::Scaling scaling = app::LayoutScaling(pixelsPerInch, zero.cy);

  RECT outer{0, 0, scaling.Apply(app::DesignClientWidth), scaling.Apply(app::DesignClientHeight)};
  AdjustWindowRectEx(&outer, FormStyle, FALSE, FormExStyle);
  const POINT designCorner{app::DesignWindowLeft, app::DesignWindowTop};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoA(MonitorFromPoint(designCorner, MONITOR_DEFAULTTONEAREST), &monitor);
  const app::Rect placed = app::PlaceWindow(
      outer.right - outer.left, outer.bottom - outer.top,
      {monitor.rcWork.left, monitor.rcWork.top, monitor.rcWork.right, monitor.rcWork.bottom});

  window_ = CreateWindowExA(FormExStyle, FormClass, "Form1", FormStyle, placed.left, placed.top,
                            placed.Width(), placed.Height(), owner, nullptr, Instance(), this);
  if (window_ == nullptr) return;
  if (owner) SetWindowLongPtrA(owner, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window_));
  SendMessageA(window_, WM_SETFONT, reinterpret_cast<WPARAM>(formFont_), FALSE);

  for (app::ControlId id : app::CreationOrder()) {
    const app::ControlSpec& entry = app::SpecOf(id);
    HWND parent = entry.parent ? Control(*entry.parent) : window_;
    const bool button = entry.kind == app::ControlKind::Button;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (entry.visible ? WS_VISIBLE : 0);
    style |= button ? (BS_PUSHBUTTON | WS_TABSTOP) : WS_CLIPCHILDREN;
    const DWORD exStyle = button ? 0 : WS_EX_CONTROLPARENT;
    HWND control = CreateWindowExA(
        exStyle, button ? "BUTTON" : PanelClass, entry.text, style, scaling.Apply(entry.left),
        scaling.Apply(entry.top), scaling.Apply(entry.width), scaling.Apply(entry.height), parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlWindowId(id))), Instance(), nullptr);
    controls_[static_cast<std::size_t>(id)] = control;
    HFONT font = formFont_;
    if (entry.ownFont) {
      // One font per height: the lines share theirs, and so do the two status areas.
      const int height = scaling.Apply(entry.fontHeight);
      for (const auto& [ownHeight, ownFont] : ownFonts_) {
        if (ownFont && ownHeight == height) font = ownFont;
      }
      if (font == formFont_) {
        font = CreateLayoutFont(height);
        ownFonts_[static_cast<std::size_t>(id)] = {height, font};
      }
    }
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
}

FormWindow::~FormWindow() {
  Destroy();
  for (const auto& [height, font] : ownFonts_) {
    if (font) DeleteObject(font);
  }
  if (formFont_) DeleteObject(formFont_);
}

void FormWindow::Destroy() {
  if (window_) {
    HWND window = window_;
    window_ = nullptr;
    DestroyWindow(window);
    controls_ = {};
  }
}

void FormWindow::Show() {
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
}

void FormWindow::SetText(app::ControlId control, std::string_view text) {
  const std::string copy(text);
  SetWindowTextA(Control(control), copy.c_str());
}

void FormWindow::SetVisible(app::ControlId control, bool visible) {
  HWND window = Control(control);
  if (!visible) DropFocusFrom(window);
  ShowWindow(window, visible ? SW_SHOWNA : SW_HIDE);
}

void FormWindow::SetEnabled(app::ControlId control, bool enabled) {
  HWND window = Control(control);
  if (!enabled) DropFocusFrom(window);
  EnableWindow(window, enabled ? TRUE : FALSE);
}

void FormWindow::SetCaption(std::string_view caption) {
  const std::string copy(caption);
  SetWindowTextA(window_, copy.c_str());
}

void FormWindow::Close() {
  closeRequested_ = true;
  // Wake the message loop if it is waiting.
  PostMessageA(window_, WM_NULL, 0, 0);
}

void FormWindow::StartTimer(std::uintptr_t id, unsigned milliseconds) {
  SetTimer(window_, id, milliseconds, nullptr);
}

void FormWindow::CancelTimer(std::uintptr_t id) { KillTimer(window_, id); }

void FormWindow::Begin(std::string_view reason) {
  if (criticalWork_) return;
  criticalWork_ = true;
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
  const std::string text(reason);
  std::wstring wide(text.begin(), text.end());  // the reasons are plain ASCII
  ShutdownBlockReasonCreate(window_, wide.c_str());
}

void FormWindow::End() {
  if (!criticalWork_) return;
  criticalWork_ = false;
  ShutdownBlockReasonDestroy(window_);
  SetThreadExecutionState(ES_CONTINUOUS);
}

void FormWindow::DropFocusFrom(HWND control) {
  // A hidden or disabled control keeps no focus; it goes to the window itself, not to another
  // button.
  HWND focus = GetFocus();
  if (focus && (focus == control || IsChild(control, focus))) SetFocus(window_);
}

void FormWindow::FocusFirstButton() {
  for (app::ControlId id : app::CreationOrder()) {
    if (app::SpecOf(id).kind != app::ControlKind::Button) continue;
    HWND button = Control(id);
    if (IsWindowVisible(button) && IsWindowEnabled(button)) {
      SetFocus(button);
      return;
    }
  }
  SetFocus(window_);
}

bool FormWindow::Dispatch(MSG& message) {
  if (message.message == WM_QUIT) {
    closeRequested_ = true;
    return false;
  }
  if (window_ == nullptr || !IsDialogMessageA(window_, &message)) {
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

LRESULT CALLBACK FormWindow::WindowProc(HWND window, UINT message, WPARAM wParam,
                                        LPARAM lParam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr || self->window_ != window) {
    return DefWindowProcA(window, message, wParam, lParam);
  }
  return Contained(window, message, wParam, lParam,
                   [&] { return self->HandleMessage(message, wParam, lParam); });
}

LRESULT FormWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      if (HIWORD(wParam) != BN_CLICKED || events_ == nullptr) return 0;
      for (app::ControlId id :
           {app::ControlId::UpdateBtn, app::ControlId::RefreshBtn, app::ControlId::ExitBtn}) {
        // A hidden or disabled button takes no input, also not a click sent from outside
        // (BM_CLICK or WM_COMMAND): an update must never start twice.
        HWND button = Control(id);
        if (LOWORD(wParam) == ControlWindowId(id) && IsWindowVisible(button) &&
            IsWindowEnabled(button)) {
          events_->OnButtonClick(id);
        }
      }
      return 0;
    }
    case WM_TIMER:
      if (events_) events_->OnRescanTimer(wParam);
      return 0;
    case WM_DEVICECHANGE:
      if (events_) events_->OnDeviceChange(static_cast<std::uint32_t>(wParam));
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
      return criticalWork_ ? FALSE : TRUE;
    default:
      break;
  }
  return DefWindowProcA(window_, message, wParam, lParam);
}

}  // namespace platform::win32
