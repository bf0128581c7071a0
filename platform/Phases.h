// The ends of a program's phases, named: the window's start-up and the command line's run. The
// shipped programs leave the hook empty; the benchmark's probe builds of them set it to take the
// time of each (bench/win32/Probe.h), so that a regression shows where it went.
#pragma once

namespace platform {

using PhaseHook = void (*)(const char* phase);
inline PhaseHook phaseHook = nullptr;

inline void EndOfPhase(const char* phase) {
  if (phaseHook != nullptr) phaseHook(phase);
}

}  // namespace platform
