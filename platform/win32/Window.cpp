// The application window and the main window: classes, creation from the layout table, panel
// drawing, focus, timers and the message loop.
#include "platform/win32/Window.h"

#include <dbt.h>
#include <oleacc.h>

#include <cmath>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ErrorBox.h"
#include "platform/win32/Services.h"

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

int ControlWindowId(ControlId id) { return ControlIdBase + static_cast<int>(id); }

// A NUL-terminated text, held in the object itself up to InlineSize - 1 characters and on the heap
// only beyond that. Every text the program shows is far shorter, so setting, comparing and painting
// texts allocates nothing; a longer one (sent from outside, say) is still held whole.
class TextBuffer {
 public:
  static constexpr std::size_t InlineSize = 128;

  explicit TextBuffer(std::string_view text) {
    char* data = Reserve(text.size());
    std::memcpy(data, text.data(), text.size());
    Finish(text.size());
  }
  // The window's text.
  explicit TextBuffer(HWND window) {
    const int length = GetWindowTextLengthA(window);
    if (length <= 0) return;
    char* data = Reserve(static_cast<std::size_t>(length));
    const int copied = GetWindowTextA(window, data, length + 1);
    Finish(static_cast<std::size_t>(copied > 0 ? copied : 0));
  }
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  const char* CStr() const { return data_; }
  std::string_view View() const { return {data_, size_}; }

 private:
  char* Reserve(std::size_t length) {
    if (length >= InlineSize) {
      heap_ = std::make_unique<char[]>(length + 1);
      data_ = heap_.get();
    }
    return data_;
  }
  void Finish(std::size_t length) {
    size_ = length;
    data_[length] = '\0';
  }

  char inline_[InlineSize] = {};
  std::unique_ptr<char[]> heap_;
  char* data_ = inline_;
  std::size_t size_ = 0;
};

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

// True when the status lines draw in the system's window-text colour: in high contrast, and
// whenever the fixed black would not stand out from the button face (a contrast ratio below
// 4.5:1, i.e. a face darker than a relative luminance of 0.175). Default colours keep the black.
bool SystemTextColourForLines() {
  HIGHCONTRASTA highContrast{};
  highContrast.cbSize = sizeof highContrast;
  if (SystemParametersInfoA(SPI_GETHIGHCONTRAST, sizeof highContrast, &highContrast, 0) &&
      (highContrast.dwFlags & HCF_HIGHCONTRASTON) != 0) {
    return true;
  }
  const COLORREF face = GetSysColor(COLOR_BTNFACE);
  const auto linear = [](BYTE channel) {
    const double value = channel / 255.0;
    return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
  };
  const double luminance = 0.2126 * linear(GetRValue(face)) + 0.7152 * linear(GetGValue(face)) +
                           0.0722 * linear(GetBValue(face));
  return luminance < 0.175;
}

// A status line to accessibility clients: the system's standard object for the window's client
// area, except that it is static text named by the line's text (the standard object would say
// "client" and leave the name to guesswork). Every other question goes to the standard object.
class LineAccessible final : public IAccessible {
 public:
  // Takes over one reference to `standard`.
  LineAccessible(HWND line, IAccessible* standard, LineAccessibility::AllocateString allocate)
      : line_(line), standard_(standard), allocate_(allocate) {}
  LineAccessible(const LineAccessible&) = delete;
  LineAccessible& operator=(const LineAccessible&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IDispatch)) ||
        IsEqualIID(iid, __uuidof(IAccessible))) {
      *object = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    // The window behind the object (WindowFromAccessibleObject) is the standard object's answer.
    if (IsEqualIID(iid, __uuidof(IOleWindow))) return standard_->QueryInterface(iid, object);
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    return standard_->GetTypeInfoCount(count);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
    return standard_->GetTypeInfo(index, locale, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override {
    return standard_->GetIDsOfNames(iid, names, count, locale, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                   UINT* argumentError) override {
    return standard_->Invoke(id, iid, locale, flags, parameters, result, exception, argumentError);
  }

  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (!IsSelf(child)) return standard_->get_accName(child, name);
    if (name == nullptr) return E_POINTER;
    // The window's text, as the system widens it for a Unicode caller. The length asked first
    // may be more than the text (double-byte ANSI text), so the name takes what was copied.
    const int length = GetWindowTextLengthW(line_);
    std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
    const int copied = GetWindowTextW(line_, text.data(), static_cast<int>(text.size()));
    *name = allocate_(text.data(), static_cast<UINT>(copied > 0 ? copied : 0));
    return *name == nullptr ? E_OUTOFMEMORY : S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
    if (!IsSelf(child)) return standard_->get_accRole(child, role);
    if (role == nullptr) return E_POINTER;
    role->vt = VT_I4;
    role->lVal = ROLE_SYSTEM_STATICTEXT;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
    const HRESULT result = standard_->get_accState(child, state);
    // Text to read, not to type into or focus.
    if (SUCCEEDED(result) && IsSelf(child) && state->vt == VT_I4) {
      state->lVal = (state->lVal & ~STATE_SYSTEM_FOCUSABLE) | STATE_SYSTEM_READONLY;
    }
    return result;
  }

  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
    return standard_->get_accParent(parent);
  }
  HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
    return standard_->get_accChildCount(count);
  }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
    return standard_->get_accChild(child, object);
  }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
    return standard_->get_accValue(child, value);
  }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
    return standard_->get_accDescription(child, description);
  }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
    return standard_->get_accHelp(child, help);
  }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
    return standard_->get_accHelpTopic(file, child, topic);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
    return standard_->get_accKeyboardShortcut(child, shortcut);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
    return standard_->get_accFocus(child);
  }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
    return standard_->get_accSelection(children);
  }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
    return standard_->get_accDefaultAction(child, action);
  }
  HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
    return standard_->accSelect(flags, child);
  }
  HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                        VARIANT child) override {
    return standard_->accLocation(left, top, width, height, child);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
    return standard_->accNavigate(direction, start, end);
  }
  HRESULT STDMETHODCALLTYPE accHitTest(long left, long top, VARIANT* child) override {
    return standard_->accHitTest(left, top, child);
  }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
    return standard_->accDoDefaultAction(child);
  }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
    return standard_->put_accName(child, name);
  }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
    return standard_->put_accValue(child, value);
  }

 private:
  ~LineAccessible() { standard_->Release(); }
  static bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
  }

  LONG references_ = 1;
  HWND line_;
  IAccessible* standard_;
  LineAccessibility::AllocateString allocate_;
};

// EVENT_OBJECT_LIVEREGIONCHANGED, declared by the headers for Windows 8 and later only; older
// systems pass it on to whoever listens.
constexpr DWORD LiveRegionChanged = 0x8019;

void AnnounceLine(HWND line) {
  NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, line, OBJID_CLIENT, CHILDID_SELF);
  if (IsWindowVisible(line)) {
    NotifyWinEvent(LiveRegionChanged, line, OBJID_CLIENT, CHILDID_SELF);
  }
}

bool IsStatusLine(ControlId id) {
  const ControlSpec& entry = SpecOf(id);
  return entry.kind == ControlKind::Panel && entry.parent.has_value() &&
         SpecOf(*entry.parent).parent.has_value();
}

}  // namespace

// ---- the application window ---------------------------------------------------------------------

ApplicationWindow::ApplicationWindow(const std::string& title) {
  RegisterClasses();
  // The first icon and cursor loaded bring in the display driver.
  EndOfStartupPhase("window classes");
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

// ---- the status lines' accessibility ------------------------------------------------------------

namespace {
// The annotation service, spelled out here: the system's GUID library would bring in a table of
// every interface it knows.
constexpr GUID AccPropServicesClass = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr GUID AccPropServicesInterface = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
// The live-region setting of an annotated object, and its "polite" value.
constexpr GUID LiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG LiveSettingPolite = 1;
}  // namespace

namespace {
// A system DLL by its full path in the system folder, or null.
HMODULE LoadSystemLibrary(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length == 0 || length + 1 + std::wcslen(name) >= MAX_PATH) return nullptr;
  std::wcscat(path, L"\\");
  std::wcscat(path, name);
  return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <class Function>
Function Resolve(HMODULE library, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}
}  // namespace

bool LineAccessibility::Prepare(const std::array<HWND, ControlCount>& lines) {
  if (prepared_) return entered_;
  prepared_ = true;
  com_.Reset(LoadSystemLibrary(L"ole32.dll"));
  strings_.Reset(LoadSystemLibrary(L"oleaut32.dll"));
  library_.Reset(LoadSystemLibrary(L"oleacc.dll"));
  if (!com_ || !strings_ || !library_) return false;
  const auto initialize = Resolve<InitializeCom>(com_.Get(), "CoInitializeEx");
  const auto createInstance = Resolve<CreateInstance>(com_.Get(), "CoCreateInstance");
  uninitializeCom_ = Resolve<UninitializeCom>(com_.Get(), "CoUninitialize");
  allocateString_ = Resolve<AllocateString>(strings_.Get(), "SysAllocStringLen");
  createStandardObject_ =
      Resolve<CreateStandardObject>(library_.Get(), "CreateStdAccessibleObject");
  resultFromObject_ = Resolve<ResultFromObject>(library_.Get(), "LresultFromObject");
  if (initialize == nullptr || createInstance == nullptr || uninitializeCom_ == nullptr ||
      allocateString_ == nullptr || createStandardObject_ == nullptr ||
      resultFromObject_ == nullptr) {
    createStandardObject_ = nullptr;  // Answer gives the default handling
    return false;
  }
  // S_FALSE (already entered on this thread) is to be balanced too.
  entered_ = SUCCEEDED(initialize(nullptr, COINIT_APARTMENTTHREADED));
  if (!entered_) {
    createStandardObject_ = nullptr;
    return false;
  }
  // Without annotations (older systems) the lines still report their changes; only the reader's
  // choice of when to speak is left to it.
  if (FAILED(createInstance(AccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER,
                            AccPropServicesInterface, reinterpret_cast<void**>(&services_)))) {
    services_ = nullptr;
    return true;
  }
  VARIANT polite{};  // VT_EMPTY, as VariantInit leaves it
  polite.vt = VT_I4;
  polite.lVal = LiveSettingPolite;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] && SUCCEEDED(services_->SetHwndProp(lines[i], static_cast<DWORD>(OBJID_CLIENT),
                                                     CHILDID_SELF, LiveSettingProperty, polite))) {
      annotated_[i] = lines[i];
    }
  }
  return true;
}

LRESULT LineAccessibility::Answer(HWND line, WPARAM wParam) const {
  if (createStandardObject_ == nullptr || resultFromObject_ == nullptr) return 0;
  IAccessible* standard = nullptr;
  if (FAILED(createStandardObject_(line, OBJID_CLIENT, __uuidof(IAccessible),
                                   reinterpret_cast<void**>(&standard))) ||
      standard == nullptr) {
    return 0;
  }
  // LresultFromObject takes a reference of its own.
  auto* object = new LineAccessible(line, standard, allocateString_);
  const LRESULT result = resultFromObject_(__uuidof(IAccessible), wParam, object);
  object->Release();
  return result > 0 ? result : 0;
}

void LineAccessibility::Release() {
  if (services_) {
    MSAAPROPID property = LiveSettingProperty;
    for (HWND& line : annotated_) {
      if (line) {
        services_->ClearHwndProps(line, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &property,
                                  1);
      }
      line = nullptr;
    }
    services_->Release();
    services_ = nullptr;
  }
  // Leaving COM disconnects the clients still holding a line's object, which releases it: only
  // then may the code behind the standard objects go.
  if (entered_) uninitializeCom_();
  entered_ = false;
  createStandardObject_ = nullptr;
  resultFromObject_ = nullptr;
  allocateString_ = nullptr;
  uninitializeCom_ = nullptr;
  library_.Reset();
  strings_.Reset();
  com_.Reset();
}

// ---- panels -------------------------------------------------------------------------------------

void Panel::Paint(HWND panel) {
  // Read first: what may throw comes before BeginPaint, so EndPaint is never skipped.
  const TextBuffer text(panel);
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(panel, &paint);
  RECT client;
  GetClientRect(panel, &client);
  // Every panel merges with the window's background.
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  if (!text.View().empty()) {
    HGDIOBJ previous = font_ ? SelectObject(dc, font_) : nullptr;
    // Centred in a one-line box as high as the letter W; cut off at the panel's edges, never
    // wrapped or shortened. Tabs are expanded and "&" underlines the character after it.
    SIZE letter{};
    GetTextExtentPoint32A(dc, "W", 1, &letter);
    RECT box = client;
    box.top = (client.top + client.bottom - letter.cy) / 2;
    box.bottom = box.top + letter.cy;
    const bool formFontColour = GetDlgCtrlID(panel) == ControlWindowId(ControlId::Panel1);
    SetTextColor(dc, formFontColour || SystemTextColourForLines() ? GetSysColor(COLOR_WINDOWTEXT)
                                                                  : RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, text.CStr(), static_cast<int>(text.View().size()), &box,
              DT_CENTER | DT_SINGLELINE | DT_EXPANDTABS);
    if (previous) SelectObject(dc, previous);
  }
  EndPaint(panel, &paint);
}

LRESULT Panel::HandleMessage(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFONT:
      font_ = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(lParam)) InvalidateRect(panel, nullptr, FALSE);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_SETTEXT: {
      // Setting the same text again does nothing; a new one is drawn at the next paint.
      const char* text = lParam ? reinterpret_cast<const char*>(lParam) : "";
      if (TextBuffer(panel).View() == text) return TRUE;
      const LRESULT result = DefWindowProcA(panel, message, wParam, lParam);
      InvalidateRect(panel, nullptr, FALSE);
      if (accessibility_) AnnounceLine(panel);
      return result;
    }
    case WM_GETOBJECT:
      if (accessibility_ && static_cast<LONG>(lParam) == OBJID_CLIENT &&
          accessibility_->Prepare(*lines_)) {
        if (const LRESULT answer = accessibility_->Answer(panel, wParam)) return answer;
      }
      return DefWindowProcA(panel, message, wParam, lParam);
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT fills the whole panel
    case WM_PAINT:
      Paint(panel);
      return 0;
    case WM_COMMAND:
      // Buttons report to their parent panel; the main window handles them.
      return SendMessageA(GetAncestor(panel, GA_ROOT), message, wParam, lParam);
    default:
      return DefWindowProcA(panel, message, wParam, lParam);
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
  EndOfStartupPhase("form font and scaling");

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
  EndOfStartupPhase("main window");

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

void FormWindow::Block(std::string_view reason) {
  if (blocking_) return;
  blocking_ = true;
  HoldSleepAndShutdown(window_.Get(), reason);
}

void FormWindow::Unblock() {
  if (!blocking_) return;
  blocking_ = false;
  ReleaseSleepAndShutdown(window_.Get());
}

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
      return blocking_ ? FALSE : TRUE;
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
