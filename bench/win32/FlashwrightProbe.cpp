// Turns the start-up phase marks of the window program on in the probe build of Flashwright.exe.
#include "bench/win32/Probe.h"
#include "platform/win32/StartupPhase.h"

namespace {

// Before main, so the first mark is taken.
[[maybe_unused]] const bool hooked = [] {
  platform::win32::startupPhaseHook = fwbench::probe::EndOfPhase;
  return true;
}();

}  // namespace
