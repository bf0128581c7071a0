// The world the scan benchmarks run in: update-library entry points that answer at once from a
// fixed device world, a window whose controls do nothing, and a count of heap allocations.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/Platform.h"
#include "updatelib/Binding.h"

namespace bench {

// What the fake library presents. Each world takes a different road through the scan.
enum class World {
  UpdateRequired,   // one device at 00.01.01.05: every check and the identification run
  UpToDate,         // one device at the target version
  NoDevice,         // an empty list
  MultipleDevices,  // two devices: the scan stops after the list
};

std::string_view NameOf(World world);

// Selects the world the fake entry points answer from; they never allocate.
void UseWorld(World world);

// Every entry point the program calls, bound to the instant fakes.
updatelib::EntryPointTable FakeLibrary();

// Controls that take every call and do nothing with it.
class NoOpControls final : public platform::Controls {
 public:
  void SetText(platform::ControlId, std::string_view) override {}
  void SetVisible(platform::ControlId, bool) override {}
  void SetEnabled(platform::ControlId, bool) override {}
  void SetEvents(platform::FormEvents*) override {}
  void SetCaption(std::string_view) override {}
  void Close() override {}
};

// Heap use through the global operator new since the program started. Counted only in programs
// that link AllocationCounter.cpp, which replaces the global allocation functions.
struct AllocationTally {
  std::size_t count = 0;
  std::size_t bytes = 0;
};
AllocationTally Allocations();

}  // namespace bench
