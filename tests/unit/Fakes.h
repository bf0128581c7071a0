// Fakes of the platform services and of the update library for the unit tests. The fake library
// is a set of plain functions (the library's entry points are plain functions too) that record
// every call in one shared log and answer from a script the test sets.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "updatelib/EntryPoints.h"

namespace fakes {

// The update library's answers and the calls it has seen.
struct FakeLibrary {
  std::vector<std::string> calls;  // "ZR_SetKV7300BindingCheck(1)", ...
  static FakeLibrary& Instance();
  void Reset() { *this = FakeLibrary{}; }
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
  std::map<app::ControlId, State> controls;
  std::string caption = "Form1";
  int closeRequests = 0;
  std::vector<std::string> log;  // "hide UpdateBtn", "text RescanStatus1Panel=...", ...

  void SetText(app::ControlId control, std::string_view text) override;
  void SetVisible(app::ControlId control, bool visible) override;
  void SetEnabled(app::ControlId control, bool enabled) override;
  void SetCaption(std::string_view text) override { caption = text; }
  void Close() override { ++closeRequests; }
};

class FakeDialogs final : public platform::Dialogs {
 public:
  int bindingFailures = 0;
  std::vector<std::string> errors;
  void ShowBindingFailure() override { ++bindingFailures; }
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

}  // namespace fakes
