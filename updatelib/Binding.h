// Binding the update library: finding or loading the module and resolving every entry point, all
// or nothing. Putting the bound library into the mode the programs need is the gateway's
// (ConfigureUpdateLibrary in Gateway.h).
#pragma once

#include "platform/Platform.h"
#include "updatelib/EntryPoints.h"

namespace updatelib {

inline constexpr const char* ModuleName = "ZRFWUpdateDll";
inline constexpr const char* LibraryFileName = "ZRFWUpdateDll.dll";

// The resolved entry points the program calls; valid only while the library is bound.
struct EntryPointTable {
#define FLASHWRIGHT_TABLE_MEMBER(name, ret, params) name##_Fn name = nullptr;
  FLASHWRIGHT_CALLED_ENTRY_POINTS(FLASHWRIGHT_TABLE_MEMBER)
#undef FLASHWRIGHT_TABLE_MEMBER
};

// A handle that stands for a bound library: neither 0 nor all ones.
constexpr bool IsBound(platform::ModuleHandle handle) {
  return handle != 0 && handle != platform::AllOnesModuleHandle;
}

// Finds the library already loaded, or loads it from the program's directory, then looks up all
// 90 names in order. At the first name the module does not export the module is released, the
// table cleared and 0 returned. An all-ones handle from the loader is returned unchanged, unbound.
platform::ModuleHandle LoadUpdateLibrary(platform::ModuleLoader& loader, EntryPointTable& table);

}  // namespace updatelib
