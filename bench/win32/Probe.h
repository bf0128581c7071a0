// What a probe build of a measured program shares with fwbench: a block of named shared memory,
// "FwBenchProbe.<process id>", with the number of heap allocations the program's own code made
// (global operator new) and the performance-counter times at which its phases ended. The probe
// builds are the shipped programs' own code plus bench/win32/Probe.cpp; fwbench reads the block
// from outside while the program runs. A program that ends before it can be read (a console
// program) writes into a block fwbench has made beforehand and named in the variable BlockVariable:
// the block outlives the program while fwbench holds it.
#pragma once

#include <windows.h>

namespace fwbench::probe {

inline constexpr int MaxPhases = 16;
// The environment variable that names the block to write into, when fwbench made one.
inline constexpr char BlockVariable[] = "FWBENCH_PROBE_BLOCK";

struct Phase {
  char name[48];
  LONGLONG ticks;  // QueryPerformanceCounter, the same clock in every process
};

struct Block {
  volatile LONG allocations;
  volatile LONG allocatedBytes;
  volatile LONG phaseCount;
  Phase phases[MaxPhases];
};

struct BlockName {
  char text[40];
  explicit BlockName(DWORD processId) {
    // The system's own formatting: the C library's would add to the minimal window's size.
    wsprintfA(text, "FwBenchProbe.%lu", static_cast<unsigned long>(processId));
  }
};

// The block of this process, created on first use.
Block& SharedBlock();

// Records the end of the start-up phase `name` (at most MaxPhases; later ones are dropped).
void EndOfPhase(const char* name);

}  // namespace fwbench::probe
