// One start of a window program, timed from CreateProcess until it is ready, and what its probe
// build recorded meanwhile (phase ends, allocations; see bench/win32/Probe.h). The start-up,
// phases and allocations measurements are made of these.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

// Starts `exe` with the simulator's built-in world and times it until ready (ReadyWindow.h); the
// program is closed again. Nothing when it never got there.
std::optional<Start> TimeStart(const std::filesystem::path& exe, const char* className,
                               const char* line3);

}  // namespace fwbench
