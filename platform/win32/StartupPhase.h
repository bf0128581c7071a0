// The ends of the window program's start-up phases, named. The shipped program leaves the hook
// empty; the benchmark's probe build of the program sets it to take the time of each.
#pragma once

namespace platform::win32 {

using StartupPhaseHook = void (*)(const char* phase);
inline StartupPhaseHook startupPhaseHook = nullptr;

inline void EndOfStartupPhase(const char* phase) {
  if (startupPhaseHook != nullptr) startupPhaseHook(phase);
}

}  // namespace platform::win32
