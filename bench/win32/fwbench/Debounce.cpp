// The rescan-delay measurement: bursts of device changes sent to Flashwright, and the time from
// each burst's last change until the rescan's first library call shows in the simulator's log.
#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "bench/win32/fwbench/Clock.h"
#include "bench/win32/fwbench/Figures.h"
#include "bench/win32/fwbench/Measurements.h"
#include "bench/win32/fwbench/ReadyWindow.h"
#include "harness/AppWindow.h"
#include "harness/Driver.h"

namespace fwbench {
namespace {

std::optional<unsigned long long> FileSize(const std::filesystem::path& file) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(file.wstring().c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

constexpr int EventsPerBurst = 5;
constexpr DWORD EventGapMs = 30;  // well inside the 200 ms the program waits for quiet

}  // namespace

bool MeasureDebounce(const Programs& programs, int bursts) {
  const std::filesystem::path log = programs.dir.Path() / "debounce-sim.log";
  e2e::Process process =
      e2e::Process::Launch(programs.flashwright, programs.dir.Path(), SimEnvironment(log.string()));
  HWND window = WaitReady(process, e2e::app::MainClass, ExpectedLine3);
  if (!window) {
    std::fprintf(stderr, "fwbench: Flashwright did not get ready\n");
    return false;
  }
  Sleep(300);
  std::vector<double> delays;
  int extraScans = 0;
  int missedScans = 0;
  for (int burst = 0; burst < bursts; ++burst) {
    const int callsBefore = CountDeviceListCalls(log);
    const auto sizeBefore = FileSize(log);
    double lastEvent = 0;
    for (int event = 0; event < EventsPerBurst; ++event) {
      if (event > 0) Sleep(EventGapMs);
      // Sent, not posted: when it returns the program has handled it and (re)started its timer.
      e2e::SendDeviceChange(window, DBT_DEVNODES_CHANGED);
      lastEvent = NowMs();
    }
    // The scan's first library call is the device list, whose log line is on disk at once.
    double seen = 0;
    const double deadline = lastEvent + 3000;
    while (NowMs() < deadline) {
      if (FileSize(log) != sizeBefore) {
        seen = NowMs();
        break;
      }
      Sleep(1);
    }
    Sleep(400);  // a second scan of the same burst would show by now
    const int scans = CountDeviceListCalls(log) - callsBefore;
    if (seen == 0 || scans == 0) {
      ++missedScans;
      continue;
    }
    extraScans += scans - 1;
    delays.push_back(seen - lastEvent);
  }
  CloseProgram(process, window);
  PrintCount("debounce.bursts", bursts);
  PrintCount("debounce.events_per_burst", EventsPerBurst);
  PrintCount("debounce.event_gap_ms", EventGapMs);
  if (!delays.empty()) {
    Print("debounce.median_ms", Median(delays));
    Print("debounce.min_ms", *std::min_element(delays.begin(), delays.end()));
    Print("debounce.max_ms", *std::max_element(delays.begin(), delays.end()));
    Print("debounce.runs_ms", Join(delays));
  }
  PrintCount("debounce.extra_scans", extraScans);
  PrintCount("debounce.missed_scans", missedScans);
  return missedScans == 0;
}

}  // namespace fwbench
