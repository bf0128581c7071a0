// Fakes of the platform services and of the update library for the unit tests. The fake library
// is a set of plain functions (the library's entry points are plain functions too) that record
// every call in one shared log and answer from a script the test sets.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "updatelib/EntryPoints.h"

namespace fakes {

// The update library's answers and the calls it has seen. By default: one device at chip 13,
// mode 2, version 00.01.01.05, image fits, identification "VENDOR" / "Bridge Product".
struct FakeLibrary {
  std::vector<std::string> calls;  // "ZR_SetKV7300BindingCheck(1)", "ZR_GetChipType(<path>)", ...

  std::vector<std::string> devices = {"\\\\?\\usb#vid_0001&pid_0002#0001"};
  std::optional<int> reportedCount;  // the count written back; the number of devices if unset
  bool unterminatedPath = false;     // fill the whole first slot, no terminator
  // After writing the paths, overwrite the caller's slot pointers with NULL and junk.
  bool overwriteSlotPointers = false;
  int chipType = 13;
  int mode = 2;
  std::array<char, 80> version{};  // copied into the caller's buffer as it stands
  int versionResult = 1;
  int imageFits = 1;
  std::array<unsigned char, 40> inquiry{};
  int inquiryResult = 1;
  int programResult = 1;
  std::map<std::string, int> programResultFor;  // by device path, where it differs
  std::function<void()> duringProgramming;      // runs inside the programming call
  // Bytes written past the promised size of every buffer the library fills, as a faulty library
  // would (the sanitizers catch a buffer without room for them).
  std::size_t overrun = 0;
  // Runs at the start of the named call ("ZR_GetChipType"), before its work; may re-enter the
  // form as a library running its own message loop would, or throw SimulatedFault.
  std::map<std::string, std::function<void()>> during;

  FakeLibrary();
  void SetVersion(std::string_view text);
  // Writes the identification bytes 8-31 as given, space padded to 24.
  void SetIdentification(std::string_view bytes);
  static FakeLibrary& Instance();
  void Reset() { *this = FakeLibrary{}; }
};

// Thrown by a fake entry point to stand for a structured exception inside the library.
struct SimulatedFault {
  platform::Fault fault;
};

// Catches SimulatedFault as the real barrier catches a fault; anything else passes through.
class FakeFaultBarrier final : public platform::FaultBarrier {
 public:
  std::optional<platform::Fault> Run(void (*thunk)(void*), void* context) override {
    try {
      thunk(context);
    } catch (const SimulatedFault& simulated) {
      return simulated.fault;
    }
    return std::nullopt;
  }
};

// Resolves every name of the update library to a fake entry point (the uncalled ones to a
// function that fails the test if called), except the names told to be missing.
class FakeModuleLoader final : public platform::ModuleLoader {
 public:
  platform::ModuleHandle alreadyLoaded = 0;
  platform::ModuleHandle loadResult = 0x10000;
  std::vector<std::string> missing;

  std::vector<std::string> lookups;
  std::vector<std::string> loadedFiles;
  std::vector<platform::ModuleHandle> released;

  platform::ModuleHandle FindLoaded(const char* moduleName) override;
  platform::ModuleHandle Load(const char* fileName) override;
  platform::RawProc Resolve(platform::ModuleHandle module, const char* name) override;
  void Release(platform::ModuleHandle module) override { released.push_back(module); }
};

// Records what the core does to the window, control by control.
class FakeControls final : public platform::Controls {
 public:
  struct State {
    std::string text;
    bool visible = true;
    bool enabled = true;
  };
  std::map<platform::ControlId, State> controls;
  std::string caption = "Form1";
  int closeRequests = 0;
  platform::FormEvents* events = nullptr;
  std::vector<std::string> log;  // "hide UpdateBtn", "text RescanStatus1Panel=...", ...

  void SetText(platform::ControlId control, std::string_view text) override;
  void SetVisible(platform::ControlId control, bool visible) override;
  void SetEnabled(platform::ControlId control, bool enabled) override;
  void SetEvents(platform::FormEvents* to) override { events = to; }
  void SetCaption(std::string_view text) override { caption = text; }
  void Close() override { ++closeRequests; }
};

class FakeDialogs final : public platform::Dialogs {
 public:
  int bindingFailures = 0;  // plain boxes with the binding failure's caption and text
  std::vector<std::string> errors;
  void ShowPlain(std::string_view text, std::string_view caption) override {
    EXPECT_EQ(caption, "Error");
    EXPECT_EQ(text, "Initalize the API entries fail");
    ++bindingFailures;
  }
  void ShowError(std::string_view text) override { errors.emplace_back(text); }
};

class FakeVersionRecord final : public platform::VersionRecord {
 public:
  std::optional<platform::FileVersion> version = platform::FileVersion{0x00000001, 0x00010007};
  std::optional<platform::FileVersion> ReadOwnFileVersion() override { return version; }
};

class FakeNotifications final : public platform::DeviceNotifications {
 public:
  std::uintptr_t handle = 0x5150;
  int registrations = 0;
  std::vector<std::uintptr_t> unregistered;
  std::uintptr_t Register() override {
    ++registrations;
    return handle;
  }
  void Unregister(std::uintptr_t h) override { unregistered.push_back(h); }
};

// Timers on a clock the test moves; firing calls `onFire` as the window's WM_TIMER would.
class FakeTimers final : public platform::Timers {
 public:
  long now = 0;  // milliseconds
  std::function<void(std::uintptr_t)> onFire;
  std::vector<std::pair<long, std::uintptr_t>> fired;  // (time, id)
  std::vector<std::string> log;                        // "start 101 200", "cancel 101"

  void StartTimer(std::uintptr_t id, unsigned milliseconds) override;
  void CancelTimer(std::uintptr_t id) override;
  bool Running(std::uintptr_t id) const { return running_.count(id) != 0; }
  // Moves the clock forward, firing every timer that falls due on the way.
  void Advance(long milliseconds);

 private:
  struct Timer {
    long due;
    long period;
  };
  std::map<std::uintptr_t, Timer> running_;
};

class FakeWindowCloser final : public platform::WindowCloser {
 public:
  std::vector<std::string> closed;
  int depth = 0, deepest = 0;
  // Runs while the closer waits for the window, as messages sent meanwhile are handled.
  std::function<void()> whileWaiting;
  void CloseWindowTitled(const char* title) override {
    closed.emplace_back(title);
    deepest = std::max(deepest, ++depth);
    if (whileWaiting) whileWaiting();
    --depth;
  }
};

// A yield: runs what the test put in the queue, as if those messages were pending.
class FakePump final : public platform::MessagePump {
 public:
  int yields = 0;
  std::vector<std::function<void()>> pending;
  void ProcessPendingMessages() override {
    ++yields;
    auto now = std::move(pending);
    pending.clear();
    for (auto& message : now) message();
  }
};

class FakeProgrammingLock final : public platform::ProgrammingLock {
 public:
  bool heldElsewhere = false;  // another program holds it
  bool held = false;
  bool TryLock() override {
    if (heldElsewhere || held) return false;
    return held = true;
  }
  void Unlock() override { held = false; }
};

class FakeSleepAndShutdownBlock final : public platform::SleepAndShutdownBlock {
 public:
  bool active = false;
  std::vector<std::string> log;
  void Block(std::string_view reason) override {
    active = true;
    log.push_back("block " + std::string(reason));
  }
  void Unblock() override {
    active = false;
    log.push_back("unblock");
  }
};

}  // namespace fakes
