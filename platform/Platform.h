// The small interfaces through which the portable code reaches the operating system. Each has a
// Windows implementation in platform/win32 and a fake in the unit tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/AttemptStore.h"
#include "platform/Layout.h"
#include "platform/Trail.h"
#include "platform/VersionRecord.h"

namespace platform {

// A loaded module; 0 means none. The all-ones value is never a module either.
using ModuleHandle = std::uintptr_t;
inline constexpr ModuleHandle AllOnesModuleHandle = ~ModuleHandle{0};

// An entry point as resolved, before it is given its type.
using RawProc = void (*)();

// Loading the update library and resolving its entry points.
class ModuleLoader {
 public:
  virtual ~ModuleLoader() = default;
  // A module already loaded in the process under `moduleName` (no extension), or 0. A handle
  // returned here carries a reference of its own, so Release() is always the right way to let go.
  virtual ModuleHandle FindLoaded(const char* moduleName) = 0;
  // Loads `fileName` from the program's own directory only, or returns 0. A module elsewhere (the
  // current directory, PATH) is never picked up: the program runs with administrator rights.
  virtual ModuleHandle Load(const char* fileName) = 0;
  // The exported entry point `name` of `module`, or nullptr when it is not exported.
  virtual RawProc Resolve(ModuleHandle module, const char* name) = 0;
  // Drops the reference taken by FindLoaded() or Load().
  virtual void Release(ModuleHandle module) = 0;
};

// The main window's handlers, called by the window's message handling, one call per message:
// button clicks through the layout table's rows, WM_DEVICECHANGE and WM_TIMER. An exception
// escaping one is shown in the application's error box and the message loop goes on.
class FormEvents {
 public:
  virtual ~FormEvents() = default;
  virtual void RefreshBtnClick() = 0;
  virtual void UpdateBtnClick() = 0;
  virtual void ExitBtnClick() = 0;
  // WM_DEVICECHANGE with its event code.
  virtual void OnDeviceChange(std::uint32_t event) = 0;
  // WM_TIMER with its timer identifier.
  virtual void OnRescanTimer(std::uintptr_t timerId) = 0;
};

// The main window's behaviour as the program's entry point drives it.
class Form : public FormEvents {
 public:
  // Runs once construction has finished, before the window is first shown.
  virtual void FormCreate() = 0;
  // False when the program must end without showing its window.
  virtual bool ShouldRun() const = 0;
};

// The window's controls and caption, as the portable code sees them.
class Controls {
 public:
  virtual ~Controls() = default;
  // Where the window's clicks, device changes and timers go from now on; nullptr: nowhere.
  virtual void SetEvents(FormEvents* events) = 0;
  // Sets a control's text. Setting the text it already has changes nothing; a new text is
  // drawn when the message loop next runs.
  virtual void SetText(ControlId control, std::string_view text) = 0;
  // A hidden control is not drawn; a hidden button takes no input and loses the keyboard focus.
  virtual void SetVisible(ControlId control, bool visible) = 0;
  // A disabled button takes no input and loses the keyboard focus.
  virtual void SetEnabled(ControlId control, bool enabled) = 0;
  virtual void SetCaption(std::string_view caption) = 0;
  // Asks the main window to close; the application ends once control is back in the message
  // loop. Asks for no confirmation.
  virtual void Close() = 0;
};

// Message boxes.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A plain box: `text` and `caption`, one OK button, no icon, no owner. Returns when the user
  // has dismissed it.
  virtual void ShowPlain(std::string_view text, std::string_view caption) = 0;
  // The application's error box: caption the application title, OK, stop icon; `text` is shown
  // as given (see ErrorBoxText). Other windows of the program are disabled while it is up, but
  // their messages keep being handled.
  virtual void ShowError(std::string_view text) = 0;
};

class VersionRecord {
 public:
  virtual ~VersionRecord() = default;
  // The running program's own file version, or nothing when the record cannot be read.
  virtual std::optional<FileVersion> ReadOwnFileVersion() = 0;
};

// Device-change notifications for the USB device interface class, delivered to the main window.
class DeviceNotifications {
 public:
  virtual ~DeviceNotifications() = default;
  // Registers the main window; returns the registration handle, 0 on failure.
  virtual std::uintptr_t Register() = 0;
  // Unregisters `handle`; 0 or an already invalid handle is tolerated and ignored.
  virtual void Unregister(std::uintptr_t handle) = 0;
};

// Per-window timers, identified by number. A started timer fires every `milliseconds` until
// cancelled; starting a running one restarts its period.
class Timers {
 public:
  virtual ~Timers() = default;
  virtual void StartTimer(std::uintptr_t id, unsigned milliseconds) = 0;
  // Cancelling a timer that does not run is harmless.
  virtual void CancelTimer(std::uintptr_t id) = 0;
};

// Windows that are not the program's own.
class WindowCloser {
 public:
  virtual ~WindowCloser() = default;
  // Asks the first top-level window whose whole title is `title` (letter case ignored) to close,
  // whichever program shows it (this one included, e.g. a note of the library's), except the
  // program's own windows: its application window, main window and message boxes. Waits a
  // bounded time for the request to be handled; a hung window is given up on at once. Never
  // blocks for long. Messages sent to the caller's thread meanwhile are handled.
  virtual void CloseWindowTitled(const char* title) = 0;
};

// Letting the window's message loop run from inside a handler.
class MessagePump {
 public:
  virtual ~MessagePump() = default;
  // Handles every pending message (painting included), then returns. A request to close the
  // window made meanwhile is remembered and honoured once control is back in the message loop.
  virtual void ProcessPendingMessages() = 0;
};

// Keeping the machine from sleeping or shutting down unasked while a device is programmed.
class SleepAndShutdownBlock {
 public:
  virtual ~SleepAndShutdownBlock() = default;
  // Keeps the system and the display awake and gives a shutdown a reason to ask the user first.
  virtual void Block(std::string_view reason) = 0;
  // Lifts both; harmless when nothing is blocked.
  virtual void Unblock() = 0;
};

// One device is touched at a time on this machine, by whichever of our programs: a scan while
// another program programs could disturb the device, and two programs writing one device's flash
// would corrupt it. Held for a whole scan and for a whole programming call.
class ProgrammingLock {
 public:
  enum class Take {
    Taken,      // ours now
    Abandoned,  // ours now; the program that held it before ended without letting it go
    Busy,       // another of our programs holds it
    Failed,     // it could not be created or waited for: nothing may touch a device
  };
  virtual ~ProgrammingLock() = default;
  // Takes the machine-wide lock, waiting at most `wait` for another program to let it go. Taking
  // it while this object holds it is Busy.
  virtual Take TryLock(std::chrono::milliseconds wait) = 0;
  // Lets it go; harmless when it is not held.
  virtual void Unlock() = 0;
};

// Holds the programming lock from its construction (when it could be taken) to its end.
class HeldLock {
 public:
  HeldLock(ProgrammingLock& lock, std::chrono::milliseconds wait)
      : lock_(lock), take_(lock.TryLock(wait)) {}
  ~HeldLock() {
    if (Held()) lock_.Unlock();
  }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  bool Held() const {
    return take_ == ProgrammingLock::Take::Taken || take_ == ProgrammingLock::Take::Abandoned;
  }
  ProgrammingLock::Take Result() const { return take_; }

 private:
  ProgrammingLock& lock_;
  ProgrammingLock::Take take_;
};

// A structured exception (an access violation and the like) that ended a guarded call.
struct Fault {
  std::uint32_t code = 0;
  std::uintptr_t address = 0;  // of the instruction that raised it
};

// Runs calls into code we do not control so that a fault inside them ends the call instead of
// the process.
class FaultBarrier {
 public:
  virtual ~FaultBarrier() = default;
  // Runs `thunk(context)`. A structured exception raised inside it and not handled there ends the
  // call at once and is returned; handlers the called code installed itself go first. Whatever
  // lay between the thunk and the fault is abandoned without running destructors, so the thunk
  // must own no object that has one.
  virtual std::optional<Fault> Run(void (*thunk)(void*), void* context) = 0;
};

// Calls straight through, for hosts that have no way to catch faults (benchmarks, fuzzing).
class UnguardedCalls final : public FaultBarrier {
 public:
  std::optional<Fault> Run(void (*thunk)(void*), void* context) override {
    thunk(context);
    return std::nullopt;
  }
};

// Everything the main window's behaviour needs of the platform, each owned by the entry point.
struct FormServices {
  ModuleLoader& modules;
  FaultBarrier& faults;
  Controls& controls;
  Dialogs& dialogs;
  VersionRecord& versionRecord;
  DeviceNotifications& notifications;
  Timers& timers;
  WindowCloser& windowCloser;
  MessagePump& pump;
  SleepAndShutdownBlock& sleepAndShutdown;
  ProgrammingLock& programmingLock;
  AttemptStore& attempts;
  LogFile& log;
  EventLog& events;
};

}  // namespace platform
