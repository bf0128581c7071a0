// The status lines as accessibility (MSAA) objects: each line's object, named by its text and
// read-only, the lines' live-region annotation, and the events that tell clients a line changed.
// COM and the accessibility library are loaded from the system folder when a client first asks.
#include "platform/win32/AccessibilityServer.h"

#include <cwchar>
#include <string>

namespace platform::win32 {

namespace {

// A status line to accessibility clients: the system's standard object for the window's client
// area, except that it is static text named by the line's text (the standard object would say
// "client" and leave the name to guesswork). Every other question goes to the standard object.
class StatusLineObject final : public IAccessible {
 public:
  // Takes over one reference to `standard`.
  StatusLineObject(HWND line, IAccessible* standard, AccessibilityServer::AllocateString allocate)
      : line_(line), standard_(standard), allocate_(allocate) {}
  StatusLineObject(const StatusLineObject&) = delete;
  StatusLineObject& operator=(const StatusLineObject&) = delete;

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
  ~StatusLineObject() { standard_->Release(); }
  static bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
  }

  LONG references_ = 1;
  HWND line_;
  IAccessible* standard_;
  AccessibilityServer::AllocateString allocate_;
};

// EVENT_OBJECT_LIVEREGIONCHANGED, declared by the headers for Windows 8 and later only; older
// systems pass it on to whoever listens.
constexpr DWORD LiveRegionChanged = 0x8019;

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

void AnnounceLine(HWND line) {
  NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, line, OBJID_CLIENT, CHILDID_SELF);
  if (IsWindowVisible(line)) {
    NotifyWinEvent(LiveRegionChanged, line, OBJID_CLIENT, CHILDID_SELF);
  }
}

bool AccessibilityServer::Prepare(const std::array<HWND, ControlCount>& lines) {
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

LRESULT AccessibilityServer::Answer(HWND line, WPARAM wParam) const {
  if (createStandardObject_ == nullptr || resultFromObject_ == nullptr) return 0;
  IAccessible* standard = nullptr;
  if (FAILED(createStandardObject_(line, OBJID_CLIENT, __uuidof(IAccessible),
                                   reinterpret_cast<void**>(&standard))) ||
      standard == nullptr) {
    return 0;
  }
  // LresultFromObject takes a reference of its own.
  auto* object = new StatusLineObject(line, standard, allocateString_);
  const LRESULT result = resultFromObject_(__uuidof(IAccessible), wParam, object);
  object->Release();
  return result > 0 ? result : 0;
}

void AccessibilityServer::Release() {
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

}  // namespace platform::win32
