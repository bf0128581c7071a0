// Windows implementations of module loading, the version record, message boxes and device
// notifications.
#include "platform/win32/Services.h"

#include <dbt.h>

#include "platform/UniqueResource.h"
#include "platform/win32/StartupPhase.h"

#include <algorithm>
#include <vector>

namespace platform::win32 {
namespace {

// {A5DCBF10-6530-11D2-901F-00C04FB951ED}
constexpr GUID UsbDeviceInterfaceClass = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_APPLICATION_DIR
#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

std::wstring Widen(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

BOOL CALLBACK CollectEnabledWindow(HWND window, LPARAM list) {
  // Hidden ones too: a window shown while the box is up must not take input either.
  if (IsWindowEnabled(window)) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  }
  return TRUE;
}

// While alive, counts the first top-level window the calling thread creates among the program's
// own windows: the message box the call shows, which is created before the box handles any
// message. Nested captures (a box shown behind a box) each get their own box.
class FirstWindowCapture {
 public:
  // The hook sees nothing before this constructor returns: no window is created meanwhile.
  explicit FirstWindowCapture(OwnWindows& ownWindows)
      : ownWindows_(ownWindows),
        previous_(current_),
        hook_(SetWindowsHookExA(WH_CBT, Hook, nullptr, GetCurrentThreadId())) {
    current_ = this;
  }
  ~FirstWindowCapture() {
    if (hook_) UnhookWindowsHookEx(hook_);
    current_ = previous_;
    if (captured_) ownWindows_.Remove(captured_);
  }
  FirstWindowCapture(const FirstWindowCapture&) = delete;
  FirstWindowCapture& operator=(const FirstWindowCapture&) = delete;

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && current_ && !current_->captured_) {
      const auto* create = reinterpret_cast<const CBT_CREATEWNDA*>(lParam);
      if ((create->lpcs->style & WS_CHILD) == 0) {
        current_->captured_ = reinterpret_cast<HWND>(wParam);
        current_->ownWindows_.Add(current_->captured_);
      }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }

  static thread_local FirstWindowCapture* current_;
  OwnWindows& ownWindows_;
  FirstWindowCapture* previous_;
  HHOOK hook_;
  HWND captured_ = nullptr;
};

thread_local FirstWindowCapture* FirstWindowCapture::current_ = nullptr;

}  // namespace

void OwnWindows::Remove(HWND window) {
  windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
}

bool OwnWindows::Contains(HWND window) const {
  return std::find(windows_.begin(), windows_.end(), window) != windows_.end();
}

std::wstring ExecutablePath() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

void HoldSleepAndShutdown(HWND window, std::string_view reason) {
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED | ES_DISPLAY_REQUIRED);
  const std::wstring wide(reason.begin(), reason.end());  // the reasons are plain ASCII
  ShutdownBlockReasonCreate(window, wide.c_str());
}

void ReleaseSleepAndShutdown(HWND window) {
  ShutdownBlockReasonDestroy(window);
  SetThreadExecutionState(ES_CONTINUOUS);
}

void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                                 GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  // The program's own directory stays, for the library's own helpers; the current directory and
  // PATH go.
  if (setDefault == nullptr ||
      !setDefault(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    // Older systems: at least take the current directory out of the search.
    SetDllDirectoryW(L"");
  }
}

ModuleHandle ExeDirectoryModuleLoader::FindLoaded(const char* moduleName) {
  HMODULE module = nullptr;
  // Without GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT this takes a reference of our own.
  if (!GetModuleHandleExA(0, moduleName, &module)) return 0;
  return reinterpret_cast<ModuleHandle>(module);
}

ModuleHandle ExeDirectoryModuleLoader::Load(const char* fileName) {
  std::wstring path = ExecutablePath();
  const std::size_t slash = path.find_last_of(L"\\/");
  if (path.empty() || slash == std::wstring::npos) return 0;
  path.resize(slash + 1);
  path += Widen(fileName);

  // Never ask the user about a missing drive or a broken DLL: a failure is just "not bound".
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const ScopeExit restoreErrorMode([&] { SetErrorMode(previousMode); });
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                  LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    // A system without the restricted search flags: a full path still pins the library itself.
    module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  EndOfStartupPhase("library loaded");
  return reinterpret_cast<ModuleHandle>(module);
}

RawProc ExeDirectoryModuleLoader::Resolve(ModuleHandle module, const char* name) {
  FARPROC proc = GetProcAddress(reinterpret_cast<HMODULE>(module), name);
  return reinterpret_cast<RawProc>(reinterpret_cast<void*>(proc));
}

void ExeDirectoryModuleLoader::Release(ModuleHandle module) {
  FreeLibrary(reinterpret_cast<HMODULE>(module));
}

std::optional<FileVersion> OwnVersionRecord::ReadOwnFileVersion() {
  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(VS_VERSION_INFO), MAKEINTRESOURCEA(16));
  if (resource == nullptr) return std::nullopt;
  HGLOBAL loaded = LoadResource(nullptr, resource);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data == nullptr) return std::nullopt;
  return FixedFileVersion(static_cast<const unsigned char*>(data),
                          SizeofResource(nullptr, resource));
}

int MessageBoxes::ShowOwnBox(HWND owner, const char* text, const char* caption, UINT style) {
  const FirstWindowCapture capture(ownWindows_);
  return MessageBoxA(owner, text, caption, style);
}

void MessageBoxes::ShowPlain(std::string_view text, std::string_view caption) {
  const std::string message(text);
  const std::string title(caption);
  ShowOwnBox(nullptr, message.c_str(), title.c_str(), MB_OK);
}

void MessageBoxes::ShowError(std::string_view text) {
  const std::string message(text);
  // Every window of the program is disabled while the box is up; their messages go on.
  std::vector<HWND> disabled;
  EnumThreadWindows(GetCurrentThreadId(), CollectEnabledWindow,
                    reinterpret_cast<LPARAM>(&disabled));
  for (HWND window : disabled) EnableWindow(window, FALSE);
  const ScopeExit enableAgain([&] {
    for (HWND window : disabled) {
      if (IsWindow(window)) EnableWindow(window, TRUE);
    }
  });
  // The application window is gone when the failure ended the program's start.
  HWND owner = IsWindow(owner_) ? owner_ : nullptr;
  ShowOwnBox(owner, message.c_str(), title_.c_str(), MB_OK | MB_ICONSTOP);  // modal to the owner
}

HDEVNOTIFY RegisterUsbDeviceNotification(HWND window) {
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  static_assert(sizeof filter == 32, "the filter record is 32 bytes");
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = UsbDeviceInterfaceClass;
  return RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

std::uintptr_t UsbDeviceNotifications::Register() {
  return reinterpret_cast<std::uintptr_t>(RegisterUsbDeviceNotification(window_));
}

void UsbDeviceNotifications::Unregister(std::uintptr_t handle) {
  if (handle != 0) UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(handle));
}

void TitledWindowCloser::CloseWindowTitled(const char* title) {
  // FindWindowEx compares the whole title, letter case ignored, over top-level windows. The
  // program's own are skipped (named message.exe, its application window and boxes are titled
  // so); any other window of this process, such as a note of the library's, is asked too.
  HWND window = nullptr;
  do {
    window = FindWindowExA(nullptr, window, nullptr, title);
    if (window == nullptr) return;
  } while (ownWindows_.Contains(window));
  DWORD_PTR ignored = 0;
  // Never hang on another program: a hung window is given up on at once, a slow one after the
  // wait. Messages sent to this thread meanwhile are still handled.
  SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, WaitMilliseconds,
                      &ignored);
}

}  // namespace platform::win32
