// The simulated update library bound inside the calling process: a module loader whose 90
// lookups resolve to functions that forward to one SimLibrary holding its world in memory. The
// unit tests, the scan fuzzer and the native benchmarks bind the program to it as they would to
// the DLL.
#pragma once

#include "platform/Platform.h"
#include "sim/Scenario.h"
#include "sim/SimLibrary.h"

namespace sim {

// At most one exists at a time: entry points are plain functions, so the forwarders reach the
// library through one process-wide binding. Load() answers for any file name; FindLoaded() finds
// nothing; Release() has nothing to let go. An uncalled entry point resolves to a stub that logs
// "NAME (not simulated) -> 0", as the DLL's do, and returns 0.
class InProcessLibrary final : public platform::ModuleLoader {
 public:
  // The module handle Load() returns.
  static constexpr platform::ModuleHandle Handle = 0x5100000;

  // Calls that run around every forwarded call, e.g. to leave the library's own work out of a
  // measurement; `inside` is true on the way in, false on the way out (a throwing call too).
  using Boundary = void (*)(bool inside);

  explicit InProcessLibrary(Scenario world = DefaultScenario(), SimHost host = {},
                            Boundary boundary = nullptr);
  ~InProcessLibrary() override;
  InProcessLibrary(const InProcessLibrary&) = delete;
  InProcessLibrary& operator=(const InProcessLibrary&) = delete;

  Scenario& World() { return library_.World(); }

  platform::ModuleHandle FindLoaded(const char* moduleName) override;
  platform::ModuleHandle Load(const char* fileName) override;
  platform::RawProc Resolve(platform::ModuleHandle module, const char* name) override;
  void Release(platform::ModuleHandle module) override;

 private:
  SimLibrary library_;
};

}  // namespace sim
