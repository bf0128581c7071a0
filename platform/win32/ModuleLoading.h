// Loading the library from the program's own folder, and what goes with it: the restricted DLL
// search, the program's own path and its version record.
#pragma once

#include <windows.h>

#include "platform/Platform.h"
#include "platform/win32/ModulePath.h"

namespace platform::win32 {

// Keeps the process from loading DLLs from the current directory or PATH: only System32 and
// directories named explicitly. Called first thing at start; the program runs elevated.
void RestrictDllSearch();

// Binds the library from the program's own folder, never from the search path; while support's
// recording switch is on, the recorder beside the program in its place (RecorderSwitch.h).
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

}  // namespace platform::win32
