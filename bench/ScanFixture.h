// The world the scan benchmarks run in: the simulated update library bound in-process with a
// fixed device world, a window whose controls do nothing, and a count of heap allocations that
// leaves out the library's own.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/Platform.h"
#include "updatelib/Binding.h"

namespace bench {

// What the simulated library presents. Each world takes a different road through the scan.
enum class World {
  UpdateRequired,   // one device at 00.01.01.05: every check and the identification run
  UpToDate,         // one device at the target version
  NoDevice,         // an empty list
  MultipleDevices,  // two devices: the scan stops after the list
};

std::string_view NameOf(World world);

// Selects the world the simulated library answers from.
void UseWorld(World world);

// Every entry point the program calls, bound to the simulated library in this process. Its calls
// are left out of the allocation count: the real library has a runtime and a heap of its own.
updatelib::EntryPointTable SimulatedLibrary();

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

// Heap use through the global operator new since the program started, outside the simulated
// library's calls. Counted only in programs that link AllocationCounter.cpp, which replaces the
// global allocation functions.
struct AllocationTally {
  std::size_t count = 0;
  std::size_t bytes = 0;
};
AllocationTally Allocations();

// While paused (inside a library call), allocations are not counted.
void PauseCounting(bool paused) noexcept;

}  // namespace bench
