// Windows implementations of the platform services that need no window of their own.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/AttemptRegistry.h"
#include "platform/win32/FaultBarrier.h"
#include "platform/win32/Owners.h"
#include "platform/win32/ProgrammingLock.h"

namespace platform::win32 {

// Keeps the process from loading DLLs from the current directory or PATH: only System32 and
// directories named explicitly. Called first thing at start; the program runs elevated.
void RestrictDllSearch();

// Keeps the system and the display awake and makes a shutdown show `reason` for `window` and ask
// first; Release lets both go. The caller pairs them.
void HoldSleepAndShutdown(HWND window, std::string_view reason);
void ReleaseSleepAndShutdown(HWND window);

// The running program's full path; empty when it cannot be had.
std::wstring ExecutablePath();

class ExeDirectoryModuleLoader final : public ModuleLoader {
 public:
  ModuleHandle FindLoaded(const char* moduleName) override;
  ModuleHandle Load(const char* fileName) override;
  RawProc Resolve(ModuleHandle module, const char* name) override;
  void Release(ModuleHandle module) override;
};

// Reads the version record compiled into the running program (no file access, no VERSION.dll).
class OwnVersionRecord final : public VersionRecord {
 public:
  std::optional<FileVersion> ReadOwnFileVersion() override;
};

// The program's own top-level windows (application window, main window, its message boxes while
// they are up), which a lookup by title spares. Used on the window thread only.
class OwnWindows {
 public:
  void Add(HWND window) { windows_.push_back(window); }
  void Remove(HWND window);
  bool Contains(HWND window) const;

 private:
  std::vector<HWND> windows_;
};

// Shows message boxes and counts each as one of the program's own windows while it is up: the
// box is told from windows other code creates meanwhile (the library's, say, while messages are
// handled behind the box) by being the first top-level window the thread creates in the call.
class MessageBoxes final : public Dialogs {
 public:
  MessageBoxes(std::string applicationTitle, OwnWindows& ownWindows)
      : title_(std::move(applicationTitle)), ownWindows_(ownWindows) {}
  // The application window, which owns the error box once it exists.
  void SetOwner(HWND owner) { owner_ = owner; }
  void ShowPlain(std::string_view text, std::string_view caption) override;
  void ShowError(std::string_view text) override;

 private:
  int ShowOwnBox(HWND owner, const char* text, const char* caption, UINT style);

  std::string title_;
  OwnWindows& ownWindows_;
  HWND owner_ = nullptr;
};

// Registers `window` for arrivals and removals of USB devices; null when that fails. The caller
// owns the registration (UniqueDeviceNotification).
HDEVNOTIFY RegisterUsbDeviceNotification(HWND window);

class UsbDeviceNotifications final : public DeviceNotifications {
 public:
  void SetRecipient(HWND window) { window_ = window; }
  std::uintptr_t Register() override;
  void Unregister(std::uintptr_t handle) override;

 private:
  HWND window_ = nullptr;
};

// Looks the title up among every top-level window, the program's own process included (a
// library may show its notes there), sparing only the program's own windows.
class TitledWindowCloser final : public WindowCloser {
 public:
  // Ask for a close and wait at most this long for it to be handled.
  static constexpr UINT WaitMilliseconds = 1000;
  explicit TitledWindowCloser(const OwnWindows& ownWindows) : ownWindows_(ownWindows) {}
  void CloseWindowTitled(const char* title) override;

 private:
  const OwnWindows& ownWindows_;
};

// The services both programs own alike: the library from the program's own folder, the fault
// barrier around its calls, the program's version record, the machine-wide programming lock and
// the attempt records.
struct SystemServices {
  ExeDirectoryModuleLoader modules;
  SehFaultBarrier faults;
  OwnVersionRecord versionRecord;
  MachineProgrammingLock programmingLock;
  RegistryAttemptStore attempts;
};

}  // namespace platform::win32
