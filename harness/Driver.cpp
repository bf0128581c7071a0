// Windows implementation of the harness's driver: processes, windows and message boxes of
// another process, reached only through public window messages and window-manager queries.
#include "harness/Driver.h"

#include <dbt.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwctype>
#include <map>
#include <set>
#include <stdexcept>
#include <thread>

#include "platform/win32/ModulePath.h"
#include "platform/win32/UsbDeviceInterface.h"

namespace e2e {
namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string LastErrorText(const char* what) {
  return std::string(what) + " failed, error " + std::to_string(GetLastError());
}

std::wstring UpperName(const std::wstring& entry) {
  std::wstring name = entry.substr(0, entry.find(L'=', 1));
  std::transform(name.begin(), name.end(), name.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  return name;
}

// The current environment with `extra` merged in, as a sorted Unicode environment block.
std::wstring BuildEnvironmentBlock(const Process::Environment& extra) {
  std::map<std::wstring, std::wstring> entries;  // upper-cased name -> "Name=Value"
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      entries[UpperName(entry)] = entry;
    }
    FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : extra) {
    std::wstring entry = Widen(name) + L"=" + Widen(value);
    if (value.empty()) {
      entries.erase(UpperName(entry));
    } else {
      entries[UpperName(entry)] = entry;
    }
  }
  std::wstring result;
  for (const auto& [key, entry] : entries) {
    result += entry;
    result += L'\0';
  }
  result += L'\0';
  return result;
}

struct EnumContext {
  const WindowFilter* filter;
  std::vector<HWND>* found;
  std::set<HWND>* seen;
};

bool Matches(HWND window, const WindowFilter& filter) {
  if (filter.processId != 0) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != filter.processId) return false;
  }
  if (!filter.className.empty() && ClassName(window) != filter.className) return false;
  if (filter.visibleOnly && !IsWindowVisible(window)) return false;
  if (filter.title) {
    auto text = WindowText(window);
    if (!text || *text != *filter.title) return false;
  }
  return true;
}

BOOL CALLBACK CollectMatching(HWND window, LPARAM param) {
  auto* context = reinterpret_cast<EnumContext*>(param);
  if (context->seen->insert(window).second && Matches(window, *context->filter)) {
    context->found->push_back(window);
  }
  return TRUE;
}

BOOL CALLBACK CollectDesktopName(LPSTR name, LPARAM param) {
  reinterpret_cast<std::vector<std::string>*>(param)->emplace_back(name);
  return TRUE;
}

struct ChildSearch {
  int id;
  HWND found;
};

BOOL CALLBACK FindChildWithId(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<ChildSearch*>(param);
  if (GetDlgCtrlID(window) == search->id) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, Millis timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(PollInterval);
  }
}

std::filesystem::path ExecutableDir() {
  return std::filesystem::path(platform::win32::ExecutablePath()).parent_path();
}

// ---- Process ------------------------------------------------------------------------------

namespace {

// One job for every program this process starts, closed (and its processes ended) when this
// process ends, however it ends.
HANDLE ChildrenJob() {
  static const HANDLE job = [] {
    HANDLE created = CreateJobObjectW(nullptr, nullptr);
    if (created == nullptr) return created;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
      CloseHandle(created);
      return HANDLE{nullptr};
    }
    return created;
  }();
  return job;
}

}  // namespace

Process Process::Launch(const std::filesystem::path& exe, const std::filesystem::path& workDir,
                        const Environment& extraEnv, const std::string& args,
                        const ConsoleFiles& console, const std::filesystem::path& input) {
  std::wstring commandLine = L"\"" + exe.wstring() + L"\"";
  if (!args.empty()) commandLine += L" " + Widen(args);
  std::wstring environment = BuildEnvironmentBlock(extraEnv);
  std::wstring directory = workDir.wstring();

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  // Files the child inherits as its standard handles; ours are closed once it has them.
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  auto openOutput = [&](const std::filesystem::path& file) {
    return CreateFileW(file.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  const bool redirect = !console.output.empty() || !console.errors.empty() || !input.empty();
  if (redirect) {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput =
        input.empty() ? GetStdHandle(STD_INPUT_HANDLE)
                      : CreateFileW(input.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    startup.hStdOutput =
        console.output.empty() ? GetStdHandle(STD_OUTPUT_HANDLE) : openOutput(console.output);
    startup.hStdError =
        console.errors.empty() ? GetStdHandle(STD_ERROR_HANDLE) : openOutput(console.errors);
  }
  auto closeOutputs = [&] {
    if (!console.output.empty() && startup.hStdOutput != INVALID_HANDLE_VALUE) {
      CloseHandle(startup.hStdOutput);
    }
    if (!console.errors.empty() && startup.hStdError != INVALID_HANDLE_VALUE) {
      CloseHandle(startup.hStdError);
    }
    if (!input.empty() && startup.hStdInput != INVALID_HANDLE_VALUE) {
      CloseHandle(startup.hStdInput);
    }
  };
  const DWORD flags = CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED;
  PROCESS_INFORMATION info{};
  const BOOL created = CreateProcessW(
      exe.wstring().c_str(), commandLine.data(), nullptr, nullptr, redirect ? TRUE : FALSE, flags,
      environment.data(), directory.empty() ? nullptr : directory.c_str(), &startup, &info);
  if (redirect) closeOutputs();
  if (!created) {
    throw std::runtime_error(LastErrorText("CreateProcess") + " for " + exe.string());
  }
  // Started programs die with this process, also when a timeout kills it: a program left
  // running would answer the next test in its place.
  if (HANDLE job = ChildrenJob()) AssignProcessToJobObject(job, info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  Process process;
  process.handle_ = info.hProcess;
  process.id_ = info.dwProcessId;
  return process;
}

Process::Process(Process&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), id_(std::exchange(other.id_, 0)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Kill();
    if (handle_) CloseHandle(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

Process::~Process() {
  Kill();
  if (handle_) CloseHandle(handle_);
}

bool Process::Running() const { return handle_ && WaitForSingleObject(handle_, 0) == WAIT_TIMEOUT; }

std::optional<DWORD> Process::WaitForExit(Millis timeout) const {
  if (!handle_) return std::nullopt;
  if (WaitForSingleObject(handle_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return std::nullopt;
  }
  DWORD code = 0;
  if (!GetExitCodeProcess(handle_, &code)) return std::nullopt;
  return code;
}

void Process::Kill() {
  if (!Running()) return;
  TerminateProcess(handle_, 0xDEAD);
  WaitForSingleObject(handle_, 5000);
}

// ---- TempDir ------------------------------------------------------------------------------

TempDir::TempDir(const std::string& tag) {
  static std::atomic<unsigned> counter{0};
  std::wstring base(MAX_PATH + 1, L'\0');
  base.resize(GetTempPathW(static_cast<DWORD>(base.size()), base.data()));
  std::string name = "fw-e2e-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                     std::to_string(GetTickCount()) + "-" + std::to_string(counter++);
  path_ = std::filesystem::path(base) / name;
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  if (std::getenv("FLASHWRIGHT_E2E_KEEP") != nullptr) return;
  // A program that just exited may hold its files for a moment longer.
  for (int attempt = 0; attempt < 20; ++attempt) {
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    if (!error) return;
    std::this_thread::sleep_for(50ms);
  }
}

std::filesystem::path TempDir::CopyIn(const std::filesystem::path& source,
                                      const std::string& newName) const {
  if (!std::filesystem::is_regular_file(source)) {
    throw std::runtime_error("missing file to copy: " + source.string());
  }
  auto target = path_ / (newName.empty() ? source.filename() : std::filesystem::path(newName));
  std::error_code error;
  std::filesystem::copy_file(source, target, std::filesystem::copy_options::overwrite_existing,
                             error);
  if (error) {
    throw std::runtime_error("copy " + source.string() + " failed: " + error.message());
  }
  return target;
}

// ---- windows ------------------------------------------------------------------------------

namespace {

// Moves this thread onto each desktop of the window station in turn and calls `visit` there.
// Wine enumerates only the calling thread's desktop (EnumDesktopWindows ignores its handle), so
// the thread has to go there itself; that works as long as it owns no window, which holds for the
// tests and fwinspect. When `visit` returns true the thread stays on that desktop (its handle
// stays open) and the walk ends; otherwise it returns home. Returns whether it stayed.
bool VisitDesktops(const std::function<bool()>& visit) {
  std::vector<std::string> desktops;
  if (HWINSTA station = GetProcessWindowStation()) {
    EnumDesktopsA(station, CollectDesktopName, reinterpret_cast<LPARAM>(&desktops));
  }
  const HDESK home = GetThreadDesktop(GetCurrentThreadId());
  for (const auto& name : desktops) {
    HDESK desktop = OpenDesktopA(name.c_str(), 0, FALSE, GENERIC_ALL);
    if (!desktop) continue;
    if (SetThreadDesktop(desktop)) {
      if (visit()) return true;
      SetThreadDesktop(home);
    }
    CloseDesktop(desktop);
  }
  return false;
}

}  // namespace

std::vector<HWND> FindTopLevelWindows(const WindowFilter& filter) {
  std::vector<HWND> found;
  std::set<HWND> seen;
  EnumContext context{&filter, &found, &seen};

  // The caller's own desktop first.
  EnumWindows(CollectMatching, reinterpret_cast<LPARAM>(&context));

  // Then every other desktop of the window station.
  VisitDesktops([&] {
    EnumWindows(CollectMatching, reinterpret_cast<LPARAM>(&context));
    return false;
  });
  return found;
}

bool EnterDesktopOf(HWND window) {
  const auto onItsDesktop = [&] { return GetAncestor(window, GA_PARENT) == GetDesktopWindow(); };
  return onItsDesktop() || VisitDesktops(onItsDesktop);
}

HWND WaitForTopLevelWindow(const WindowFilter& filter, Millis timeout, const Process* process) {
  HWND result = nullptr;
  WaitUntil(
      [&] {
        auto windows = FindTopLevelWindows(filter);
        if (!windows.empty()) {
          result = windows.front();
          return true;
        }
        return process != nullptr && !process->Running();
      },
      timeout);
  return result;
}

std::string ClassName(HWND window) {
  char buffer[256] = {};
  int length = GetClassNameA(window, buffer, sizeof(buffer));
  return std::string(buffer, static_cast<std::size_t>(std::max(length, 0)));
}

std::optional<std::string> WindowText(HWND window) {
  if (!IsWindow(window)) return std::nullopt;
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                           MessageTimeoutMs, &length)) {
    return std::nullopt;
  }
  // The length may be counted in the other character width: leave room for both.
  std::string buffer(static_cast<std::size_t>(length) * 2 + 2, '\0');
  DWORD_PTR copied = 0;
  if (!SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(),
                           reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG | SMTO_BLOCK,
                           MessageTimeoutMs, &copied)) {
    return std::nullopt;
  }
  buffer.resize(std::min<std::size_t>(copied, std::strlen(buffer.c_str())));
  return buffer;
}

std::string TextOr(HWND window) { return WindowText(window).value_or(""); }

std::string StoredText(HWND window) {
  std::wstring wide(1024, L'\0');
  const int length = InternalGetWindowText(window, wide.data(), static_cast<int>(wide.size()));
  if (length <= 0) return {};
  // The program sets its texts through the 8-bit interface: convert back the same way.
  const int size =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(std::max(size, 0)), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), length, text.data(), size, nullptr, nullptr);
  return text;
}

SIZE ClientSize(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  return SIZE{client.right - client.left, client.bottom - client.top};
}

RECT RectInParent(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  const bool child = (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) != 0;
  if (child) {
    if (HWND parent = GetAncestor(window, GA_PARENT)) {
      MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    }
  }
  return rect;
}

bool IsVisible(HWND window) { return IsWindowVisible(window) != FALSE; }
bool IsEnabled(HWND window) { return IsWindowEnabled(window) != FALSE; }

HWND FindDescendantById(HWND root, int id) {
  ChildSearch search{id, nullptr};
  EnumChildWindows(root, FindChildWithId, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

void PostClick(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

bool SendClick(HWND button) {
  DWORD_PTR result = 0;
  return SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, MessageTimeoutMs, &result) != 0;
}

bool SendDeviceChange(HWND window, WPARAM event) {
  DWORD_PTR result = 0;
  // Arrival, removal and the like (bit 15 set) carry a broadcast record; the message is sent,
  // not posted, because the record is copied into the receiving process only for sent messages.
  if ((event & 0x8000) == 0) {
    return SendMessageTimeoutA(window, WM_DEVICECHANGE, event, 0, SMTO_NORMAL, MessageTimeoutMs,
                               &result) != 0;
  }
  static constexpr char DeviceName[] =
      "\\\\?\\USB#VID_0000&PID_0000#E2E#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";
  std::vector<unsigned char> storage(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) + sizeof(DeviceName));
  auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(storage.data());
  record->dbcc_size = static_cast<DWORD>(storage.size());
  record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  record->dbcc_classguid = platform::win32::UsbDeviceInterfaceClass;
  std::memcpy(record->dbcc_name, DeviceName, sizeof(DeviceName));
  return SendMessageTimeoutA(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record),
                             SMTO_NORMAL, MessageTimeoutMs, &result) != 0;
}

// ---- message boxes --------------------------------------------------------------------------

std::vector<HWND> MessageBoxesOf(DWORD processId) {
  return FindTopLevelWindows({processId, MessageBoxClass, std::nullopt, false});
}

MessageBoxInfo ReadMessageBox(HWND box) {
  return {box, TextOr(box), TextOr(GetDlgItem(box, MessageBoxTextId))};
}

std::optional<MessageBoxInfo> WaitForMessageBox(const Process& process, Millis timeout) {
  // A box is read only once visible: its texts are set while it is being initialised.
  HWND box =
      WaitForTopLevelWindow({process.Id(), MessageBoxClass, std::nullopt, true}, timeout, &process);
  if (!box) return std::nullopt;
  return ReadMessageBox(box);
}

bool DismissMessageBox(HWND box, Millis timeout) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  if (WaitUntil([&] { return !IsWindow(box); }, timeout / 2)) return true;
  // Second try through the button itself, in case the dialog ignored the command.
  if (HWND ok = GetDlgItem(box, IDOK)) PostClick(ok);
  return WaitUntil([&] { return !IsWindow(box); }, timeout / 2);
}

Observation ObserveUntilExit(const Process& process, const std::string& mainClass, Millis timeout) {
  Observation observation;
  std::set<HWND> answered;
  WaitUntil(
      [&] {
        if (auto code = process.WaitForExit(0ms)) {
          observation.exitCode = code;
          return true;
        }
        for (HWND box : FindTopLevelWindows({process.Id(), MessageBoxClass, std::nullopt, true})) {
          if (answered.insert(box).second) {
            observation.messageBoxes.push_back(ReadMessageBox(box));
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
          }
        }
        if (!observation.mainWindowVisible &&
            !FindTopLevelWindows({process.Id(), mainClass, std::nullopt, true}).empty()) {
          observation.mainWindowVisible = true;
        }
        return false;
      },
      timeout);
  return observation;
}

namespace {

// Deletes `name` under `parent` with everything below it, every open in the 64-bit view: a
// relative open without the flag may be redirected, so RegDeleteTree cannot be told the view.
void DeleteKeyTree64(HKEY parent, const std::wstring& name) {
  HKEY raw = nullptr;
  if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY, &raw) !=
      ERROR_SUCCESS) {
    return;
  }
  for (;;) {
    wchar_t child[256];
    DWORD length = 256;
    if (RegEnumKeyExW(raw, 0, child, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    const std::wstring childName(child, length);
    DeleteKeyTree64(raw, childName);
    // A child that cannot go would be met again at index 0: stop rather than loop.
    HKEY left = nullptr;
    if (RegOpenKeyExW(raw, childName.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &left) ==
        ERROR_SUCCESS) {
      RegCloseKey(left);
      break;
    }
  }
  RegCloseKey(raw);
  RegDeleteKeyExW(parent, name.c_str(), KEY_WOW64_64KEY, 0);
}

}  // namespace

void DeleteMachineKey(const std::wstring& path) { DeleteKeyTree64(HKEY_LOCAL_MACHINE, path); }

void ForgetAttemptRecords() { DeleteMachineKey(L"SOFTWARE\\Flashwright\\Attempts"); }

}  // namespace e2e
