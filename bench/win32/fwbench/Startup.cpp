// The start-up measurement: the shipped Flashwright.exe against the minimal window, started in
// pairs, and against itself beside the simulator built without the stack protector.
#include <cstdio>
#include <optional>
#include <vector>

#include "bench/win32/fwbench/Figures.h"
#include "bench/win32/fwbench/LinuxProcess.h"
#include "bench/win32/fwbench/Measurements.h"
#include "bench/win32/fwbench/ReadyWindow.h"
#include "bench/win32/fwbench/Starts.h"
#include "harness/AppWindow.h"

namespace fwbench {

// PAIRS rounds in which the floor and Flashwright start one right after the other (which of them
// goes first alternates), so that a pair sees one state of the machine. The figure is the median
// of the pairs' ratios; their interquartile range says how far the machine's load let single pairs
// stray. Whether that is narrow enough to trust, and whether the load average allowed a valid
// figure at all, report.py decides from what is printed here. Each round also starts Flashwright
// beside the simulator built without the stack protector, just before or after the pair, for a
// second ratio against the same floor start: how much of the figure is the simulator's own set-up.
bool MeasureStartup(const Programs& programs, int pairs) {
  PrintCount("startup.pairs", pairs);
  Print("startup.load_before", LoadAverage());
  // One start of each first, not counted: it pays for loading the files from disk.
  TimeStart(programs.minimal, MinimalClass, nullptr);
  TimeStart(programs.flashwright, e2e::app::MainClass, ExpectedLine3);
  TimeStart(programs.flashwrightLean, e2e::app::MainClass, ExpectedLine3);
  std::vector<double> minimal, flashwright, ratios, leanRatios;
  for (int i = 0; i < pairs; ++i) {
    std::optional<Start> floor, ours, lean;
    // The lean start comes after the pair in two rounds of four and before it in the others.
    const bool leanFirst = i % 4 >= 2;
    if (leanFirst) lean = TimeStart(programs.flashwrightLean, e2e::app::MainClass, ExpectedLine3);
    if (i % 2 == 0) {
      floor = TimeStart(programs.minimal, MinimalClass, nullptr);
      ours = TimeStart(programs.flashwright, e2e::app::MainClass, ExpectedLine3);
    } else {
      ours = TimeStart(programs.flashwright, e2e::app::MainClass, ExpectedLine3);
      floor = TimeStart(programs.minimal, MinimalClass, nullptr);
    }
    if (!leanFirst) lean = TimeStart(programs.flashwrightLean, e2e::app::MainClass, ExpectedLine3);
    if (!floor || !ours || !lean) {
      std::fprintf(stderr, "fwbench: a program did not get ready within %lu ms\n", ReadyTimeoutMs);
      return false;
    }
    minimal.push_back(floor->readyMs);
    flashwright.push_back(ours->readyMs);
    ratios.push_back(ours->readyMs / floor->readyMs);
    leanRatios.push_back(lean->readyMs / floor->readyMs);
  }
  Print("startup.load_after", LoadAverage());
  Print("startup.minimal.median_ms", Median(minimal));
  Print("startup.minimal.runs_ms", Join(minimal));
  Print("startup.flashwright.median_ms", Median(flashwright));
  Print("startup.flashwright.runs_ms", Join(flashwright));
  Print("startup.ratio.runs", Join(ratios, "%.3f"));
  PrintRatios("startup.ratio", ratios);
  // The former figure, for comparison: the ratio of the two medians.
  PrintRatio("startup.ratio_of_medians", Median(flashwright) / Median(minimal));
  PrintRatios("startup.lean_library.ratio", leanRatios);
  return true;
}

}  // namespace fwbench
