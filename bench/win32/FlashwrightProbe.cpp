// Turns the phase marks on in the probe builds of Flashwright.exe and flashwright-cli.exe: the
// window's start-up and the command line's run (platform/Phases.h).
#include "bench/win32/Probe.h"
#include "platform/Phases.h"

namespace {

// Before main, so the first mark is taken.
[[maybe_unused]] const bool hooked = [] {
  platform::phaseHook = fwbench::probe::EndOfPhase;
  return true;
}();

}  // namespace
