// The probe linked into fwbench's probe builds (see Probe.h): the shared block and the phase
// marks. Plain C and Win32 only, so that it adds next to nothing to the minimal window.
#include "bench/win32/Probe.h"

#include <cstring>

namespace fwbench::probe {
namespace {

Block fallback;  // should the shared block not be had, the program still runs
Block* volatile shared = nullptr;

}  // namespace

// Created on first use, which may come from another static initialiser; the mapping stays open
// until the process ends.
Block& SharedBlock() {
  if (Block* block = shared) return *block;
  BlockName name(GetCurrentProcessId());
  char given[sizeof name.text];
  const DWORD length = GetEnvironmentVariableA(BlockVariable, given, sizeof given);
  if (length > 0 && length < sizeof given) lstrcpyA(name.text, given);
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(Block), name.text);
  void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(Block)) : nullptr;
  Block* block = view ? static_cast<Block*>(view) : &fallback;
  shared = block;
  return *block;
}

void EndOfPhase(const char* name) {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  Block& block = SharedBlock();
  const LONG index = block.phaseCount;
  if (index >= MaxPhases) return;
  Phase& phase = block.phases[index];
  std::strncpy(phase.name, name, sizeof phase.name - 1);
  phase.ticks = now.QuadPart;
  // Counted last: a reader that sees the count sees the phase.
  InterlockedExchange(&block.phaseCount, index + 1);
}

}  // namespace fwbench::probe
