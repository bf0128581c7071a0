// The console program's services on Windows; see ConsoleProgram.h.
#include "platform/win32/ConsoleProgram.h"

#include <windows.h>

#include <dbt.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <exception>
#include <mutex>
#include <string>
#include <thread>

#include "platform/win32/Owners.h"
#include "platform/win32/Services.h"
#include "platform/win32/Text.h"

namespace platform::win32 {
namespace {

std::string LastErrorText() {
  const DWORD error = GetLastError();
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  const UniqueLocalMemory owned(text);
  std::string message =
      length ? WideToUtf8(std::wstring_view(text, length)) : "error " + std::to_string(error);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.pop_back();
  }
  return message;
}

// Writes UTF-8 `text` to a standard stream: as UTF-16 to a console, whatever its code page, and as
// the UTF-8 bytes to a file or pipe. False when not all of it was written.
bool WriteStream(DWORD stream, std::string_view text) {
  HANDLE handle = GetStdHandle(stream);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  if (text.empty()) return true;
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(handle, &mode)) {
    const std::wstring wide = Utf8ToWide(text);
    return WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) &&
           written == wide.size();
  }
  return WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// The last resort: an exception nobody caught, on any thread, or an abort. Their default ends the
// process with 3, which means "no compatible device" to our callers; this says what happened on
// standard error and ends with 1.
[[noreturn]] void EndWithFailure(std::string_view message) {
  WriteStream(STD_ERROR_HANDLE, "flashwright-cli: unexpected failure: ");
  WriteStream(STD_ERROR_HANDLE, message);
  WriteStream(STD_ERROR_HANDLE, "\n");
  // Nothing else runs: neither the library's detach code nor destructors of a broken state.
  TerminateProcess(GetCurrentProcess(), 1);
  for (;;) Sleep(INFINITE);
}

std::string MessageOf(const std::exception_ptr& exception) {
  try {
    if (exception) std::rethrow_exception(exception);
  } catch (const std::exception& error) {
    return error.what();
  } catch (...) {
  }
  return "an exception of an unknown kind";
}

void InstallLastResort() {
  std::set_terminate([] { EndWithFailure(MessageOf(std::current_exception())); });
  std::signal(SIGABRT, [](int) { EndWithFailure("aborted"); });
}

// Standard output and standard error. Writers of standard error take turns, and the first after
// the progress line's live counter starts a new line, so that nothing is written into the counter.
class StandardStreams final : public ConsoleOutput {
 public:
  bool Out(std::string_view text) override { return WriteStream(STD_OUTPUT_HANDLE, text); }
  bool Err(std::string_view text) override {
    const std::lock_guard lock(errMutex_);
    if (counterOpen_) {
      WriteStream(STD_ERROR_HANDLE, "\n");
      counterOpen_ = false;
    }
    return WriteStream(STD_ERROR_HANDLE, text);
  }
  std::string FromAnsi(std::string_view bytes) override { return CodePageToUtf8(CP_ACP, bytes); }

  // The live counter: `text` over the current line of standard error, which stays open.
  void ShowCounter(std::string_view text) {
    const std::lock_guard lock(errMutex_);
    std::string line(1, '\r');
    line += text;
    WriteStream(STD_ERROR_HANDLE, line);
    counterOpen_ = true;
  }
  // Ends the counter's line, if one is open.
  void CloseCounter() {
    const std::lock_guard lock(errMutex_);
    if (counterOpen_) WriteStream(STD_ERROR_HANDLE, "\n");
    counterOpen_ = false;
  }

 private:
  std::mutex errMutex_;
  bool counterOpen_ = false;
};

// The progress line, drawn by a thread of its own while the caller blocks. The display is a
// courtesy: if it fails, it stops, and the caller's work goes on.
class ConsoleProgressLine final : public ProgressLine {
 public:
  explicit ConsoleProgressLine(StandardStreams& streams) : streams_(streams) {}
  ~ConsoleProgressLine() override { End(); }
  ConsoleProgressLine(const ConsoleProgressLine&) = delete;
  ConsoleProgressLine& operator=(const ConsoleProgressLine&) = delete;

  void Begin(std::string_view label) override {
    End();
    DWORD mode = 0;
    const bool live = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
    stop_ = false;
    thread_ = std::thread([this, text = std::string(label), live] {
      try {
        Show(text, live);
      } catch (...) {
      }
    });
  }

  void End() override {
    if (!thread_.joinable()) return;
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    stopped_.notify_all();
    thread_.join();
    streams_.CloseCounter();
  }

 private:
  void Show(const std::string& text, bool live) {
    const auto started = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    for (int shown = -1;;) {
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::steady_clock::now() - started)
                               .count();
      if (live) {
        streams_.ShowCounter(text + "... " + std::to_string(seconds) + " s ");
      } else if (seconds / 5 != shown) {
        shown = static_cast<int>(seconds / 5);
        streams_.Err(text + "... " + std::to_string(seconds) + " s\n");
      }
      if (stopped_.wait_for(lock, std::chrono::milliseconds(250), [this] { return stop_; })) {
        break;
      }
    }
  }

  StandardStreams& streams_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stop_ = false;
};

// Ctrl+C and Ctrl+Break through the console's control handler, which runs on a thread of its own.
// One at a time: the handler finds the instance through a process-wide pointer.
class ConsoleInterrupts final : public Interrupts {
 public:
  explicit ConsoleInterrupts(ConsoleOutput& output)
      : output_(output), noted_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    current = this;
    SetConsoleCtrlHandler(&Handler, TRUE);
  }
  ~ConsoleInterrupts() override {
    SetConsoleCtrlHandler(&Handler, FALSE);
    current = nullptr;
  }
  ConsoleInterrupts(const ConsoleInterrupts&) = delete;
  ConsoleInterrupts& operator=(const ConsoleInterrupts&) = delete;

  void Set(Mode mode, std::string_view message) override {
    const std::lock_guard lock(mutex_);
    message_ = std::string(message);
    mode_ = mode;
  }
  bool Requested() override { return WaitForSingleObject(noted_.Get(), 0) == WAIT_OBJECT_0; }
  // Signalled once an interrupt has been noted, for waits that must end then.
  HANDLE NotedEvent() const { return noted_.Get(); }

 private:
  static BOOL WINAPI Handler(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    ConsoleInterrupts* self = current;
    if (self == nullptr) return FALSE;
    const std::lock_guard lock(self->mutex_);
    switch (self->mode_) {
      case Mode::Ignore:
        self->output_.Err(self->message_);
        return TRUE;
      case Mode::Note:
        SetEvent(self->noted_.Get());
        return TRUE;
      case Mode::End:
      default:
        return FALSE;
    }
  }

  static inline ConsoleInterrupts* current = nullptr;
  ConsoleOutput& output_;
  std::mutex mutex_;
  Mode mode_ = Mode::End;
  std::string message_;
  UniqueHandle noted_;
};

// A hidden top-level window: device changes are broadcast to top-level windows only (a
// message-only window misses DBT_DEVNODES_CHANGED), and a window is what a shutdown can be asked
// to wait for. It is made at the first Watch, wait or Block, so that a command needing neither
// (status) never loads the window libraries' drivers. On the thread that made it only.
class DeviceChangeWindow final : public DeviceChanges, public SleepAndShutdownBlock {
 public:
  explicit DeviceChangeWindow(ConsoleInterrupts& interrupts) : interrupts_(interrupts) {}
  ~DeviceChangeWindow() override {
    Unblock();
    notification_.Reset();
    window_.Reset();
    if (current == this) current = nullptr;
  }
  DeviceChangeWindow(const DeviceChangeWindow&) = delete;
  DeviceChangeWindow& operator=(const DeviceChangeWindow&) = delete;

  void Watch() override {
    if (window_) return;
    current = this;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = ClassName;
    RegisterClassExA(&windowClass);
    window_.Reset(CreateWindowExA(0, ClassName, "flashwright-cli", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, GetModuleHandleA(nullptr), nullptr));
    notification_.Reset(RegisterUsbDeviceNotification(window_.Get()));
  }

  Wait WaitForChange(std::chrono::milliseconds settle, std::chrono::milliseconds timeout) override {
    Watch();
    settle_ = static_cast<UINT>(settle.count());
    settled_ = false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    HANDLE noted = interrupts_.NotedEvent();
    for (;;) {
      if (interrupts_.Requested()) return Wait::Interrupted;
      if (settled_) return Wait::Changed;
      const auto now = std::chrono::steady_clock::now();
      // A change that came keeps the wait going until it has settled.
      if (now >= deadline && !changing_) return Wait::TimedOut;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
      const DWORD wait = changing_ ? 100 : static_cast<DWORD>(std::max<long long>(left.count(), 1));
      MsgWaitForMultipleObjectsEx(1, &noted, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
  }

  void Block(std::string_view reason) override {
    if (blocking_) return;
    Watch();
    blocking_ = true;
    HoldSleepAndShutdown(window_.Get(), reason);
  }
  void Unblock() override {
    if (!blocking_) return;
    blocking_ = false;
    ReleaseSleepAndShutdown(window_.Get());
  }

 private:
  static constexpr char ClassName[] = "FlashwrightCliDevices";
  static constexpr UINT_PTR SettleTimerId = 1;

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DeviceChangeWindow* self = current;
    if (self != nullptr && message == WM_DEVICECHANGE) {
      if (wParam == DBT_DEVNODES_CHANGED || wParam == DBT_DEVICEREMOVECOMPLETE) {
        // A burst of changes settles once it has been quiet for the delay.
        self->changing_ = true;
        SetTimer(window, SettleTimerId, self->settle_, nullptr);
      }
      return TRUE;
    }
    if (self != nullptr && message == WM_TIMER && wParam == SettleTimerId) {
      KillTimer(window, SettleTimerId);
      self->changing_ = false;
      self->settled_ = true;
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  static inline DeviceChangeWindow* current = nullptr;
  ConsoleInterrupts& interrupts_;
  UniqueWindow window_;
  UniqueDeviceNotification notification_;  // released before the window it names
  UINT settle_ = 200;                      // milliseconds
  bool changing_ = false;
  bool settled_ = false;
  bool blocking_ = false;
};

// The elevation of the process's own token.
class ProcessTokenElevation final : public Elevation {
 public:
  bool IsElevated() override {
    HANDLE opened = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
    const UniqueHandle token(opened);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return GetTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated != 0;
  }
};

// The log, opened for each line and locked whole while it is written.
class AppendOnlyLog final : public LogFile {
 public:
  std::string ComputerName() override {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? WideToUtf8(std::wstring_view(name, size))
                                         : std::string();
  }

  std::string CheckWritable(const std::string& file) override {
    const UniqueFile handle = Open(file);
    if (!handle) return LastErrorText();
    if (GetFileType(handle.Get()) != FILE_TYPE_DISK) return "it is a device, not a file";
    // The room is that of the file's folder's volume, as this user may use it (quotas included).
    const std::wstring wide = Utf8ToWide(file);
    const DWORD length = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring folder(length, L'\0');
    wchar_t* name = nullptr;
    if (length == 0 || GetFullPathNameW(wide.c_str(), length, folder.data(), &name) == 0 ||
        name == nullptr) {
      return LastErrorText();
    }
    folder.resize(static_cast<std::size_t>(name - folder.data()));
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return LastErrorText();
    if (available.QuadPart < MinimumRoom) {
      SetLastError(ERROR_DISK_FULL);
      return LastErrorText();
    }
    return {};
  }

  std::string AppendLine(const std::string& file, std::string_view line) override {
    const UniqueFile handle = Open(file);
    if (!handle) return LastErrorText();
    // One writer at a time, each line in one write: lines never interleave.
    OVERLAPPED whole{};
    const bool locked =
        LockFileEx(handle.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    const std::string text = std::string(line) + "\n";
    DWORD written = 0;
    const bool wrote =
        WriteFile(handle.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size();
    std::string error = wrote ? std::string() : LastErrorText();
    if (locked) UnlockFileEx(handle.Get(), 0, MAXDWORD, MAXDWORD, &whole);
    return error;
  }

 private:
  // Room for a run's lines with plenty to spare (a line is a few hundred bytes): less, and the
  // disk is as good as full.
  static constexpr ULONGLONG MinimumRoom = 64ULL * 1024;

  static UniqueFile Open(const std::string& file) {
    return UniqueFile(CreateFileW(Utf8ToWide(file).c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  }
};

}  // namespace

std::vector<std::string> Utf8Arguments(int count, wchar_t** arguments) {
  std::vector<std::string> utf8;
  for (int i = 1; i < count; ++i) utf8.push_back(WideToUtf8(arguments[i]));
  return utf8;
}

int RunConsoleProgram(const std::function<int(const ConsoleServices&)>& program) {
  InstallLastResort();
  try {
    RestrictDllSearch();
    // Torn down in the reverse order: the library's services, then the window, the interrupt
    // handler and the progress line, which may still write to the streams.
    StandardStreams output;
    ConsoleProgressLine progress(output);
    ConsoleInterrupts interrupts(output);
    DeviceChangeWindow deviceChanges(interrupts);
    ProcessTokenElevation elevation;
    AppendOnlyLog log;
    SystemServices system;
    // Each member has an interface type of its own, so a slip in the order does not compile.
    const ConsoleServices services{system.modules,
                                   system.faults,
                                   system.versionRecord,
                                   deviceChanges,
                                   system.programmingLock,
                                   system.attempts,
                                   output,
                                   progress,
                                   interrupts,
                                   deviceChanges,
                                   elevation,
                                   log};
    return program(services);
  } catch (...) {
    WriteStream(STD_ERROR_HANDLE, "flashwright-cli: unexpected failure: " +
                                      MessageOf(std::current_exception()) + "\n");
    return 1;
  }
}

}  // namespace platform::win32
