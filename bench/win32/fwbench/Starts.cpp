// Times one start of a window program and reads its probe build's block; see Starts.h.
#include "bench/win32/fwbench/Starts.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bench/win32/Probe.h"
#include "bench/win32/fwbench/Clock.h"
#include "bench/win32/fwbench/Figures.h"
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
  ReadBlock(*block, launchMs, start);
  UnmapViewOfFile(block);
  CloseHandle(mapping);
  return true;
}

void ReadBlock(const probe::Block& block, double launchMs, Start& start) {
  const LONG count = std::min<LONG>(LONG{block.phaseCount}, probe::MaxPhases);
  for (LONG i = 0; i < count; ++i) {
    const auto& phase = block.phases[i];
    start.phasesMs.emplace_back(std::string(phase.name, strnlen(phase.name, sizeof phase.name)),
                                static_cast<double>(phase.ticks) / TicksPerMs() - launchMs);
  }
  start.allocations = block.allocations;
}

bool PhaseSeries::Add(const Start& start, const char* lastPhase) {
  std::vector<std::string> startNames;
  std::vector<double> startLengths;
  double previous = 0;
  for (const auto& [name, endMs] : start.phasesMs) {
    startNames.push_back(name);
    startLengths.push_back(endMs - previous);
    previous = endMs;
  }
  startNames.emplace_back(lastPhase);
  startLengths.push_back(start.readyMs - previous);
  if (names.empty()) {
    names = startNames;
    lengths.resize(names.size());
  }
  if (startNames != names) return false;
  for (std::size_t i = 0; i < startLengths.size(); ++i) lengths[i].push_back(startLengths[i]);
  totals.push_back(start.readyMs);
  allocations.push_back(static_cast<double>(start.allocations));
  return true;
}

void PhaseSeries::Print(const std::string& key) const {
  PrintCount(key + ".count", static_cast<long long>(names.size()));
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string phase = key + "." + std::to_string(i);
    fwbench::Print(phase + ".name", names[i]);
    fwbench::Print(phase + ".median_ms", Median(lengths[i]));
  }
  fwbench::Print(key + ".total_median_ms", Median(totals));
  fwbench::Print(key + ".startup_allocations", Median(allocations));
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
