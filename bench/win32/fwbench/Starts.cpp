// Times one start of a window program and reads its probe build's block; see Starts.h.
#include "bench/win32/fwbench/Starts.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "bench/win32/Probe.h"
#include "bench/win32/fwbench/Clock.h"
#include "bench/win32/fwbench/Programs.h"
#include "bench/win32/fwbench/ReadyWindow.h"

namespace fwbench {

bool ReadProbe(const e2e::Process& process, double launchMs, Start& start) {
  const probe::BlockName name(process.Id());
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.text);
  if (mapping == nullptr) return false;
  const auto* block = static_cast<const probe::Block*>(
      MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(probe::Block)));
  if (block == nullptr) {
    CloseHandle(mapping);
    return false;
  }
  const LONG count = std::min<LONG>(LONG{block->phaseCount}, probe::MaxPhases);
  for (LONG i = 0; i < count; ++i) {
    const auto& phase = block->phases[i];
    start.phasesMs.emplace_back(std::string(phase.name, strnlen(phase.name, sizeof phase.name)),
                                static_cast<double>(phase.ticks) / TicksPerMs() - launchMs);
  }
  start.allocations = block->allocations;
  UnmapViewOfFile(block);
  CloseHandle(mapping);
  return true;
}

std::optional<Start> TimeStart(const std::filesystem::path& exe, const char* className,
                               const char* line3) {
  const double launch = NowMs();
  e2e::Process process = e2e::Process::Launch(exe, exe.parent_path(), SimEnvironment());
  HWND window = WaitReady(process, className, line3);
  Start start;
  start.readyMs = NowMs() - launch;
  if (window) ReadProbe(process, launch, start);
  CloseProgram(process, window);
  if (!window) return std::nullopt;
  return start;
}

}  // namespace fwbench
