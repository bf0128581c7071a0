// Binding and configuring the update library.
#include "updatelib/Binding.h"

#include <array>

namespace updatelib {

platform::ModuleHandle LoadUpdateLibrary(platform::ModuleLoader& loader, EntryPointTable& table) {
  table = {};
  platform::ModuleHandle module = loader.FindLoaded(ModuleName);
  if (module == 0) module = loader.Load(LibraryFileName);
  if (module == platform::AllOnesModuleHandle) return module;
  if (module == 0) return 0;

  std::array<platform::RawProc, LookupOrder.size()> resolved{};
  for (std::size_t i = 0; i < LookupOrder.size(); ++i) {
    // Every name is a string literal, so its view is NUL-terminated.
    resolved[i] = loader.Resolve(module, LookupOrder[i].data());
    if (resolved[i] == nullptr) {
      loader.Release(module);
      return 0;
    }
  }
#define FLASHWRIGHT_FILL_MEMBER(name, ret, params)                             \
  static_assert(LookupIndexOf(#name) < LookupOrder.size(), #name " is bound"); \
  table.name = reinterpret_cast<name##_Fn>(resolved[LookupIndexOf(#name)]);
  FLASHWRIGHT_CALLED_ENTRY_POINTS(FLASHWRIGHT_FILL_MEMBER)
#undef FLASHWRIGHT_FILL_MEMBER
  return module;
}

}  // namespace updatelib
