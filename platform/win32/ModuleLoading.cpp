// Loading the library: the DLL search restricted to the system and the program's own folder, the
// program's own path, the module loader that binds the library from that folder, and the version
// record compiled into the program.
#include "platform/win32/ModuleLoading.h"

#include "platform/Phases.h"
#include "platform/UniqueResource.h"
#include "platform/win32/RecorderSwitch.h"

namespace platform::win32 {
namespace {

#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_APPLICATION_DIR
#define LOAD_LIBRARY_SEARCH_APPLICATION_DIR 0x00000200
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

std::wstring Widen(const char* text) {
  const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

// The update library, by its module or file name: the one the recorder may stand in for.
bool IsUpdateLibrary(const char* name) {
  return lstrcmpiA(name, "ZRFWUpdateDll") == 0 || lstrcmpiA(name, "ZRFWUpdateDll.dll") == 0;
}
}  // namespace

void RestrictDllSearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto setDefault = kernel ? reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                                 GetProcAddress(kernel, "SetDefaultDllDirectories")))
                           : nullptr;
  // The program's own directory stays, for the library's own helpers; the current directory and
  // PATH go.
  if (setDefault == nullptr ||
      !setDefault(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    // Older systems: at least take the current directory out of the search.
    SetDllDirectoryW(L"");
  }
}

ModuleHandle ExeDirectoryModuleLoader::FindLoaded(const char* moduleName) {
  HMODULE module = nullptr;
  // Once bound, the recorder is the library for this process: the library's own module, which
  // the recorder loaded, is not to be bound past it.
  if (IsUpdateLibrary(moduleName) && GetModuleHandleExW(0, RecorderFileName, &module)) {
    return reinterpret_cast<ModuleHandle>(module);
  }
  // Without GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT this takes a reference of our own.
  if (!GetModuleHandleExA(0, moduleName, &module)) return 0;
  return reinterpret_cast<ModuleHandle>(module);
}

ModuleHandle ExeDirectoryModuleLoader::Load(const char* fileName) {
  std::wstring path = ExecutablePath();
  const std::size_t slash = path.find_last_of(L"\\/");
  if (path.empty() || slash == std::wstring::npos) return 0;
  path.resize(slash + 1);
  path += Widen(fileName);
  // Support's recording switch puts the recorder in the library's place (see RecorderSwitch.h).
  if (IsUpdateLibrary(fileName)) {
    if (std::wstring recorder = RecorderToBind(); !recorder.empty()) path = std::move(recorder);
  }

  // Never ask the user about a missing drive or a broken DLL: a failure is just "not bound".
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  const ScopeExit restoreErrorMode([&] { SetErrorMode(previousMode); });
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                  LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    // A system without the restricted search flags: a full path still pins the library itself.
    module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  EndOfPhase("library loaded");
  return reinterpret_cast<ModuleHandle>(module);
}

RawProc ExeDirectoryModuleLoader::Resolve(ModuleHandle module, const char* name) {
  FARPROC proc = GetProcAddress(reinterpret_cast<HMODULE>(module), name);
  return reinterpret_cast<RawProc>(reinterpret_cast<void*>(proc));
}

void ExeDirectoryModuleLoader::Release(ModuleHandle module) {
  FreeLibrary(reinterpret_cast<HMODULE>(module));
}

std::optional<FileVersion> OwnVersionRecord::ReadOwnFileVersion() {
  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(VS_VERSION_INFO), MAKEINTRESOURCEA(16));
  if (resource == nullptr) return std::nullopt;
  HGLOBAL loaded = LoadResource(nullptr, resource);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (data == nullptr) return std::nullopt;
  return FixedFileVersion(static_cast<const unsigned char*>(data),
                          SizeofResource(nullptr, resource));
}

}  // namespace platform::win32
