// The vendor's library behind the recorder: ZRFWUpdateDll.dll from the recorder's own
// folder, with every entry point resolved, and the typed way to call one.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

#include "updatelib/EntryPoints.h"

namespace recorder {

#define REC_ENUM(name, ...) name,
// The distinct entry points, in lookup order: one export each.
enum class Entry {
  FLASHWRIGHT_ENTRY_POINTS(REC_ENUM, REC_ENUM, FLASHWRIGHT_SKIP_ENTRY_POINT) Count
};
#undef REC_ENUM

// Loads the vendor's library by its full path beside `self`, never through the search order, and
// resolves every entry point; false (nothing kept) when it is missing or lacks one.
bool BindVendor(HMODULE self);
// Lets the vendor's library go (when the recorder is freed), or only forgets it (at process
// exit, when the system unloads every library anyway).
void ReleaseVendor(bool processExit);

// The name an entry point is exported under.
const char* NameOf(Entry entry);
// The vendor's entry point, untyped; the caller calls it through its listed type.
void* TargetOf(Entry entry);

template <typename Fn>
Fn Target(Entry entry) {
  return reinterpret_cast<Fn>(TargetOf(entry));
}

}  // namespace recorder
