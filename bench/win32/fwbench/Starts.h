// One start of a window program, timed from CreateProcess until it is ready, and what its probe
// build recorded meanwhile (phase ends, allocations; see bench/win32/Probe.h). The start-up,
// phases and allocations measurements are made of these, and the command line's phases of the
// same records of its runs.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench/win32/Probe.h"
#include "harness/Driver.h"

namespace fwbench {

// One start: milliseconds from CreateProcess until ready (see WaitReady), and what the probe
// build recorded, if it is one.
struct Start {
  double readyMs = 0;
  std::vector<std::pair<std::string, double>> phasesMs;  // each phase's end, since the launch
  long allocations = 0;                                  // during start-up (probe builds)
};

// The block a probe build shares, its phase ends taken relative to `launchMs`; false for a shipped
// build, which has none.
bool ReadProbe(const e2e::Process& process, double launchMs, Start& start);
// What a probe's `block` holds, its phase ends taken relative to `launchMs`.
void ReadBlock(const probe::Block& block, double launchMs, Start& start);

// One probe build's phases over its starts: each phase's length (from the end of the one before,
// or from the launch) run by run, and their medians.
struct PhaseSeries {
  std::vector<std::string> names;
  std::vector<std::vector<double>> lengths;  // [phase][run]
  std::vector<double> totals;
  std::vector<double> allocations;

  // Adds one start's phases and, named `lastPhase`, the time from the last mark to `readyMs`.
  // False when it passed other phases than the starts before it.
  bool Add(const Start& start, const char* lastPhase);
  // KEY.count, KEY.<i>.name and KEY.<i>.median_ms for each phase, KEY.total_median_ms and
  // KEY.startup_allocations.
  void Print(const std::string& key) const;
};

// Starts `exe` with the simulator's built-in world and times it until ready (ReadyWindow.h); the
// program is closed again. Nothing when it never got there.
std::optional<Start> TimeStart(const std::filesystem::path& exe, const char* className,
                               const char* line3);

}  // namespace fwbench
