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

#include "platform/win32/FaultBarrier.h"
#include "platform/win32/Services.h"
#include "platform/win32/Text.h"
#include "platform/win32/Window.h"

namespace platform::win32 {
namespace {

constexpr char DeviceWindowClass[] = "FlashwrightCliDevices";
constexpr UINT_PTR SettleTimerId = 1;

std::string LastErrorText() {
  const DWORD error = GetLastError();
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message =
      length ? WideToUtf8(std::wstring_view(text, length)) : "error " + std::to_string(error);
  if (text) LocalFree(text);
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

class WindowsConsole;
WindowsConsole* TheConsole = nullptr;  // for the console control handler

// The console, the Ctrl+C handling and a hidden top-level window: device changes are broadcast
// to top-level windows only (a message-only window misses DBT_DEVNODES_CHANGED), and a window
// is what a shutdown can be asked to wait for.
class WindowsConsole final : public Console, public SleepAndShutdownBlock {
 public:
  WindowsConsole() : interrupted_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    TheConsole = this;
    SetConsoleCtrlHandler(&ControlHandler, TRUE);
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &DeviceWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = DeviceWindowClass;
    RegisterClassExA(&windowClass);
    window_.Reset(CreateWindowExA(0, DeviceWindowClass, "flashwright-cli", WS_POPUP, 0, 0, 0, 0,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr));
    // The window program's registration, for this window.
    notifications_.SetRecipient(window_.Get());
    notification_ = notifications_.Register();
  }
  ~WindowsConsole() override {
    EndProgress();
    Unblock();
    notifications_.Unregister(notification_);
    SetConsoleCtrlHandler(&ControlHandler, FALSE);
    TheConsole = nullptr;
    if (interrupted_) CloseHandle(interrupted_);
  }
  WindowsConsole(const WindowsConsole&) = delete;
  WindowsConsole& operator=(const WindowsConsole&) = delete;

  bool Out(std::string_view text) override { return WriteStream(STD_OUTPUT_HANDLE, text); }
  bool Err(std::string_view text) override {
    const std::lock_guard lock(errMutex_);
    if (progressShown_) {
      WriteStream(STD_ERROR_HANDLE, "\n");  // off the live counter's line
      progressShown_ = false;
    }
    return WriteStream(STD_ERROR_HANDLE, text);
  }

  std::string FromAnsi(std::string_view bytes) override { return CodePageToUtf8(CP_ACP, bytes); }

  void BeginProgress(std::string_view label) override {
    EndProgress();
    const std::string text(label);
    DWORD mode = 0;
    const bool live = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
    stopProgress_ = false;
    progress_ = std::thread([this, text, live] {
      // The display is a courtesy: if it fails, it stops, and the programming goes on.
      try {
        ShowProgress(text, live);
      } catch (...) {
      }
    });
  }

  void EndProgress() override {
    if (!progress_.joinable()) return;
    {
      const std::lock_guard lock(progressMutex_);
      stopProgress_ = true;
    }
    progressStopped_.notify_all();
    progress_.join();
    const std::lock_guard errLock(errMutex_);
    if (progressShown_) WriteStream(STD_ERROR_HANDLE, "\n");
    progressShown_ = false;
  }

  void SetInterrupts(Interrupts mode, std::string_view message) override {
    const std::lock_guard lock(interruptMutex_);
    interruptMessage_ = std::string(message);
    mode_ = mode;
  }
  bool InterruptRequested() override {
    return WaitForSingleObject(interrupted_, 0) == WAIT_OBJECT_0;
  }

  DeviceWait WaitForDeviceChange(std::chrono::milliseconds settle,
                                 std::chrono::milliseconds timeout) override {
    settle_ = static_cast<UINT>(settle.count());
    settled_ = false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (InterruptRequested()) return DeviceWait::Interrupted;
      if (settled_) return DeviceWait::Changed;
      const auto now = std::chrono::steady_clock::now();
      // A change that came keeps the wait going until it has settled.
      if (now >= deadline && !changing_) return DeviceWait::TimedOut;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
      const DWORD wait = changing_ ? 100 : static_cast<DWORD>(std::max<long long>(left.count(), 1));
      MsgWaitForMultipleObjectsEx(1, &interrupted_, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      MSG message;
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
    }
  }

  std::string ComputerName() override {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? WideToUtf8(std::wstring_view(name, size))
                                         : std::string();
  }

  bool IsElevated() override {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const bool elevated =
        GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
        elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
  }

  std::string AppendLine(const std::string& file, std::string_view line) override {
    HANDLE handle =
        CreateFileW(Utf8ToWide(file).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastErrorText();
    // One writer at a time, each line in one write: lines never interleave.
    OVERLAPPED whole{};
    const bool locked = LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
    const std::string text = std::string(line) + "\n";
    DWORD written = 0;
    const bool wrote =
        WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
        written == text.size();
    std::string error = wrote ? std::string() : LastErrorText();
    if (locked) UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(handle);
    return error;
  }

  void Block(std::string_view reason) override {
    if (blocking_) return;
    blocking_ = true;
    HoldSleepAndShutdown(window_.Get(), reason);
  }
  void Unblock() override {
    if (!blocking_) return;
    blocking_ = false;
    ReleaseSleepAndShutdown(window_.Get());
  }

 private:
  // The progress thread's loop, until EndProgress.
  void ShowProgress(const std::string& text, bool live) {
    const auto started = std::chrono::steady_clock::now();
    std::unique_lock lock(progressMutex_);
    for (int shown = -1;;) {
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                               std::chrono::steady_clock::now() - started)
                               .count();
      if (live) {
        const std::lock_guard errLock(errMutex_);
        WriteStream(STD_ERROR_HANDLE, "\r" + text + "... " + std::to_string(seconds) + " s ");
        progressShown_ = true;
      } else if (seconds / 5 != shown) {
        shown = static_cast<int>(seconds / 5);
        Err(text + "... " + std::to_string(seconds) + " s\n");
      }
      if (progressStopped_.wait_for(lock, std::chrono::milliseconds(250),
                                    [this] { return stopProgress_; })) {
        break;
      }
    }
  }

  static BOOL WINAPI ControlHandler(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    WindowsConsole* console = TheConsole;
    if (console == nullptr) return FALSE;
    const std::lock_guard lock(console->interruptMutex_);
    switch (console->mode_) {
      case Interrupts::Ignore:
        console->Err(console->interruptMessage_);
        return TRUE;
      case Interrupts::Note:
        SetEvent(console->interrupted_);
        return TRUE;
      case Interrupts::End:
      default:
        return FALSE;
    }
  }

  static LRESULT CALLBACK DeviceWindowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    WindowsConsole* console = TheConsole;
    if (console != nullptr && message == WM_DEVICECHANGE) {
      if (wParam == DBT_DEVNODES_CHANGED || wParam == DBT_DEVICEREMOVECOMPLETE) {
        // A burst of changes settles once it has been quiet for the delay.
        console->changing_ = true;
        SetTimer(window, SettleTimerId, console->settle_, nullptr);
      }
      return TRUE;
    }
    if (console != nullptr && message == WM_TIMER && wParam == SettleTimerId) {
      KillTimer(window, SettleTimerId);
      console->changing_ = false;
      console->settled_ = true;
      return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
  }

  std::mutex errMutex_;
  bool progressShown_ = false;  // the live counter's line is open
  std::thread progress_;
  std::mutex progressMutex_;
  std::condition_variable progressStopped_;
  bool stopProgress_ = false;

  std::mutex interruptMutex_;
  Interrupts mode_ = Interrupts::End;
  std::string interruptMessage_;
  HANDLE interrupted_ = nullptr;

  UniqueWindow window_;
  UsbDeviceNotifications notifications_;
  std::uintptr_t notification_ = 0;
  UINT settle_ = 200;  // milliseconds
  bool changing_ = false;
  bool settled_ = false;
  bool blocking_ = false;
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
    WindowsConsole console;
    ExeDirectoryModuleLoader modules;
    SehFaultBarrier faults;
    OwnVersionRecord versionRecord;
    MachineProgrammingLock programmingLock;
    const ConsoleServices services{.modules = modules,
                                   .faults = faults,
                                   .versionRecord = versionRecord,
                                   .sleepAndShutdown = console,
                                   .programmingLock = programmingLock,
                                   .console = console};
    return program(services);
  } catch (...) {
    WriteStream(STD_ERROR_HANDLE, "flashwright-cli: unexpected failure: " +
                                      MessageOf(std::current_exception()) + "\n");
    return 1;
  }
}

}  // namespace platform::win32
