// Drives a running Windows GUI program from outside, as an automation client would: starts it,
// finds its windows, reads controls, clicks buttons, answers message boxes. The harness that the
// end-to-end tests, fwinspect and fwbench share; it never links against the program itself.
#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;
using Millis = std::chrono::milliseconds;

// How long a single poll step sleeps; every wait below is a loop of such steps with a deadline.
inline constexpr Millis PollInterval = 25ms;
// Upper bound for one cross-process message; a hung target makes the call fail, not hang.
inline constexpr UINT MessageTimeoutMs = 5000;

// Polls `condition` until it holds or `timeout` passes; returns whether it held.
bool WaitUntil(const std::function<bool()>& condition, Millis timeout);

// The directory of the running executable (where the tests find the program and the library).
std::filesystem::path ExecutableDir();

// Where a console program's output goes.
struct ConsoleFiles {
  std::filesystem::path output;  // standard output, written to this file; empty: inherited
  std::filesystem::path errors;  // standard error, likewise
};

// A started process. Owns its handle; a process still running when this object dies is killed,
// so a failing test never leaves the program behind.
class Process {
 public:
  using Environment = std::vector<std::pair<std::string, std::string>>;

  // Starts `exe` (with `args` appended to the quoted program path) in `workDir`, with the
  // current environment plus `extraEnv` (which replaces variables of the same name; an empty
  // value removes the variable), its standard input read from `input` when one is given. Throws
  // std::runtime_error when the process cannot be created.
  static Process Launch(const std::filesystem::path& exe, const std::filesystem::path& workDir,
                        const Environment& extraEnv = {}, const std::string& args = {},
                        const ConsoleFiles& console = {}, const std::filesystem::path& input = {});

  Process() = default;
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  DWORD Id() const { return id_; }
  HANDLE Handle() const { return handle_; }
  bool Running() const;
  // The exit code once the process has ended within `timeout`, else nothing.
  std::optional<DWORD> WaitForExit(Millis timeout) const;
  // Ends the process (if running) and waits briefly for it to go.
  void Kill();

 private:
  HANDLE handle_ = nullptr;
  DWORD id_ = 0;
};

// A fresh directory under the system temporary directory, removed with its contents on
// destruction (kept when FLASHWRIGHT_E2E_KEEP is set, to look at after a failure).
class TempDir {
 public:
  explicit TempDir(const std::string& tag);
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  const std::filesystem::path& Path() const { return path_; }
  // Copies `source` into this directory (under `newName` when given) and returns the copy's
  // path. Throws std::runtime_error when the source is missing or the copy fails.
  std::filesystem::path CopyIn(const std::filesystem::path& source,
                               const std::string& newName = {}) const;

 private:
  std::filesystem::path path_;
};

// Deletes HKLM\<path> and every key below it in the registry's 64-bit view, where the programs
// (32-bit) keep theirs; harmless when it is not there.
void DeleteMachineKey(const std::wstring& path);

// Forgets the programming attempts the programs recorded (HKLM\SOFTWARE\Flashwright\Attempts),
// so that a device one run programmed does not wait for its power cycle in the next.
void ForgetAttemptRecords();

// The log every run of the programs appends to, %ProgramData%\Flashwright\Logs\flashwright.log.
inline std::filesystem::path SharedLogFile() {
  wchar_t data[MAX_PATH] = L"";
  GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH);
  return std::filesystem::path(data) / "Flashwright" / "Logs" / "flashwright.log";
}

// ---- windows ------------------------------------------------------------------------------

struct WindowFilter {
  DWORD processId = 0;               // 0: any process
  std::string className;             // empty: any class
  std::optional<std::string> title;  // exact window text; none: any
  bool visibleOnly = false;
};

// Top-level windows matching `filter`, on every desktop of this window station (so a program
// started in a Wine virtual desktop is found as well as one on the default desktop).
std::vector<HWND> FindTopLevelWindows(const WindowFilter& filter);

// Moves the calling thread to the desktop that holds top-level `window`, so that queries which
// depend on the caller's desktop (visibility of child windows, coordinates) answer for it.
// Only for a thread that owns no window. False when no desktop holds it.
bool EnterDesktopOf(HWND window);

// Polls for the first matching top-level window; nullptr after `timeout`. Stops early when
// `process` is given and has ended.
HWND WaitForTopLevelWindow(const WindowFilter& filter, Millis timeout,
                           const Process* process = nullptr);

std::string ClassName(HWND window);
// The window text as the window itself reports it (WM_GETTEXT), or nothing when the window
// does not answer in time or is gone.
std::optional<std::string> WindowText(HWND window);
// Like WindowText, with "" for a window that did not answer.
std::string TextOr(HWND window);
// The text the window system keeps for the window, read without sending it a message: answers
// at once even while the window's thread is busy (e.g. blocked in a library call) or hung.
// Equal to WindowText for windows that leave their text to the default handling.
std::string StoredText(HWND window);
SIZE ClientSize(HWND window);
// The window's rectangle in its parent's client coordinates (screen coordinates for a
// top-level window).
RECT RectInParent(HWND window);
bool IsVisible(HWND window);
bool IsEnabled(HWND window);

// The descendant of `root` with control ID `id` (EnumChildWindows walks all descendants), or
// nullptr.
HWND FindDescendantById(HWND root, int id);

// Clicks a button with BM_CLICK. Posted: returns at once, which is what a click whose handler
// blocks (or closes the program) needs. Sent: returns once the handler has run; false when it
// did not finish within MessageTimeoutMs.
void PostClick(HWND button);
bool SendClick(HWND button);

// Sends WM_DEVICECHANGE with `event`. For the events that carry a broadcast record (arrival
// and removal) a device-interface record for the USB device class goes along.
bool SendDeviceChange(HWND window, WPARAM event);

// ---- message boxes --------------------------------------------------------------------------

struct MessageBoxInfo {
  HWND window = nullptr;
  std::string caption;
  std::string text;
};

inline constexpr char MessageBoxClass[] = "#32770";
inline constexpr int MessageBoxTextId = 0xFFFF;

// Message boxes (dialogs of the standard message-box class) currently open in `processId`.
std::vector<HWND> MessageBoxesOf(DWORD processId);
inline std::size_t CountMessageBoxes(DWORD processId) { return MessageBoxesOf(processId).size(); }
MessageBoxInfo ReadMessageBox(HWND box);
// Polls for a message box of `process`; nothing when none appeared or the process ended first.
std::optional<MessageBoxInfo> WaitForMessageBox(const Process& process, Millis timeout);
// Presses OK (IDOK) and waits until the box is gone; false when it stayed.
bool DismissMessageBox(HWND box, Millis timeout = 5s);

// What a process showed over its lifetime, gathered by polling until it ended.
struct Observation {
  std::optional<DWORD> exitCode;             // nothing: still running at the deadline
  std::vector<MessageBoxInfo> messageBoxes;  // every distinct box seen, in order
  bool mainWindowVisible = false;            // a window of `mainClass` was visible at some poll
};

// Polls `process` until it ends or `timeout` passes, recording every message box it opens
// (each is read, then answered with OK so the process can go on) and whether a top-level window
// of class `mainClass` was ever visible. On timeout the process is left running.
Observation ObserveUntilExit(const Process& process, const std::string& mainClass, Millis timeout);

}  // namespace e2e
