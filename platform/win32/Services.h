// Windows implementations of the platform services that need no window of their own.
#pragma once

#include <windows.h>

#include <string>

#include "platform/Platform.h"

namespace platform::win32 {

// Keeps the process from loading DLLs from the current directory or PATH: only System32 and
// directories named explicitly. Called first thing at start; the program runs elevated.
void RestrictDllSearch();

// Full path of the running executable.
std::string ExecutablePath();

class ExeDirectoryModuleLoader final : public ModuleLoader {
 public:
  ModuleHandle FindLoaded(const char* moduleName) override;
  ModuleHandle Load(const char* fileName) override;
  RawProc Resolve(ModuleHandle module, const char* name) override;
  void Release(ModuleHandle module) override;
};

class OwnVersionRecord final : public VersionRecord {
 public:
  std::optional<FileVersion> ReadOwnFileVersion() override;
};

class MessageBoxes final : public Dialogs {
 public:
  explicit MessageBoxes(std::string applicationTitle) : title_(std::move(applicationTitle)) {}
  void ShowBindingFailure() override;
  void ShowError(std::string_view text) override;

 private:
  std::string title_;
};

class UsbDeviceNotifications final : public DeviceNotifications {
 public:
  void SetRecipient(HWND window) { window_ = window; }
  std::uintptr_t Register() override;
  void Unregister(std::uintptr_t handle) override;

 private:
  HWND window_ = nullptr;
};

}  // namespace platform::win32
