// Fakes of the platform services for the unit tests, and the simulator bound in-process as the
// update library.
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
#include "sim/InProcess.h"
#include "updatelib/EntryPoints.h"

namespace fakes {

// Thrown by the simulator's crash hook to stand for a structured exception inside the library.
struct SimulatedFault {
  platform::Fault fault;
};

// The update library of the unit tests: the simulator bound in-process (sim::InProcessLibrary),
// its world in memory. By default one device at chip 13, mode 2, version 00.01.01.05, image fits,
// identification "VENDOR" / "Bridge Product". The test changes World() between calls; the calls
// the library saw are its call log, one entry per call.
class SimulatedLibrary {
 public:
  // "ZR_SetKV7300BindingCheck(1)", "ZR_GetDeviceList", "ZR_GetChipType(<path>)",
  // "ZR_CheckLoadBinFileMatch(<path>,0)", "ZR_Inquiry(<path>,40)", "ZR_GetChipType crash", ...
  std::vector<std::string> calls;
  // Runs inside the programming call, while the device is programmed.
  std::function<void()> duringProgramming;

  static SimulatedLibrary& Instance();
  void Reset();

  sim::InProcessLibrary& Binding() { return binding_; }
  sim::Scenario& World() { return binding_.World(); }
  sim::SimDevice& Device(std::size_t index = 0) { return World().devices.at(index); }
  // The devices attached: one per path, otherwise as the default device.
  void SetDevices(const std::vector<std::string>& paths);
  void SetVersion(std::string_view text) { Device().version = text; }
  // INQUIRY bytes 8-31 (vendor, then product) as given, space padded to 24.
  void SetIdentification(std::string_view bytes);
  // The next call of `name` runs its own message loop, in which `action` runs (the form's
  // handlers, say), before it does its work.
  void During(const std::string& name, std::function<void()> action);
  // The next call of `name` faults with `fault` (after running a During action of its own).
  void FaultOnce(const std::string& name, platform::Fault fault = {0xC0000005, 0x10001234});

 private:
  SimulatedLibrary();
  sim::SimHost MakeHost();
  void Log(const std::string& line);

  std::function<void()> whilePumping_;
  platform::Fault fault_{};
  sim::InProcessLibrary binding_;
};

// One entry of SimulatedLibrary::calls from a line of the simulator's call log, or nothing for a
// line that does not start a call (misbehaviour, a programming call's result, errors).
std::optional<std::string> CallOf(std::string_view logLine);

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

// Loads the update library as SimulatedLibrary, recording what binding asks for; every name
// resolves to the simulator's entry point except the names told to be missing.
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
  bool fails = false;          // it cannot be had at all
  bool abandoned = false;      // the next take finds it abandoned
  int busyTakes = 0;           // takes that find it held elsewhere before it comes free
  bool held = false;
  int takes = 0;
  Take TryLock(std::chrono::milliseconds) override {
    ++takes;
    if (fails) return Take::Failed;
    if (busyTakes > 0) {
      --busyTakes;
      return Take::Busy;
    }
    if (heldElsewhere || held) return Take::Busy;
    held = true;
    if (abandoned) {
      abandoned = false;
      return Take::Abandoned;
    }
    return Take::Taken;
  }
  void Unlock() override { held = false; }
};

// The records in memory, with a clock, device arrivals and a set of running processes the test
// controls. A record is kept under "key " and its path.
class FakeAttemptStore final : public platform::AttemptStore {
 public:
  std::vector<platform::AttemptRecord> records;  // as kept: each with its key
  std::string saveError;                         // what Save answers; empty: it keeps the record
  platform::ProcessIdentity self{100, 1};
  std::vector<platform::ProcessIdentity> running;  // processes that run, besides this one
  std::int64_t now = 1'800'000'000;
  std::map<std::string, std::int64_t> arrivals;  // by path; none: cannot tell

  std::vector<platform::AttemptRecord> Load() override { return records; }
  std::string Save(const platform::AttemptRecord& record) override {
    if (!saveError.empty()) return saveError;
    platform::AttemptRecord kept = record;
    kept.key = KeyOf(record.path);
    Remove(kept.key);
    records.push_back(kept);
    return {};
  }
  void Remove(const std::string& key) override {
    std::erase_if(records, [&](const auto& record) { return record.key == key; });
  }
  std::string KeyOf(const std::string& path) override { return "key " + path; }
  std::optional<std::int64_t> LastArrival(const std::string& path) override {
    const auto found = arrivals.find(path);
    return found == arrivals.end() ? std::nullopt : std::optional(found->second);
  }
  platform::ProcessIdentity Self() override { return self; }
  bool Running(const platform::ProcessIdentity& process) override {
    auto same = [&](const platform::ProcessIdentity& other) {
      return other.id == process.id && other.created == process.created;
    };
    return same(self) || std::any_of(running.begin(), running.end(), same);
  }
  std::int64_t Now() override { return now; }
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
