// The command-line measurement: `flashwright-cli status` from start to end against the bare
// console program.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bench/win32/fwbench/Clock.h"
#include "bench/win32/fwbench/Figures.h"
#include "bench/win32/fwbench/LinuxProcess.h"
#include "bench/win32/fwbench/Measurements.h"
#include "bench/win32/fwbench/ReadyWindow.h"
#include "cli/ExitCodes.h"
#include "harness/Driver.h"

namespace fwbench {
namespace {

// flashwright-cli status in the built-in world: one device that needs the update.
constexpr DWORD CliStatusUpdateNeeded = cli::UpdateNeeded;

// Runs a console program to its end with its output in a file; the time from CreateProcess to
// its end, or nothing when it did not end within the limit with `exitCode`.
std::optional<double> TimeConsoleRun(const std::filesystem::path& exe, const std::string& args,
                                     DWORD exitCode) {
  const e2e::ConsoleFiles console{exe.parent_path() / "out.txt", exe.parent_path() / "err.txt"};
  const double launch = NowMs();
  e2e::Process process =
      e2e::Process::Launch(exe, exe.parent_path(), SimEnvironment(), args, console);
  const std::optional<DWORD> code = process.WaitForExit(e2e::Millis(ReadyTimeoutMs));
  const double ms = NowMs() - launch;
  if (!code || *code != exitCode) return std::nullopt;
  return ms;
}

}  // namespace

// It binds the simulator, lists and checks the one device and prints its table; PAIRS pairs
// taken as the window's start-up pairs are: one right after the other, which first alternating;
// the median of the pairs' ratios and its interquartile range.
bool MeasureCli(const Programs& programs, int pairs) {
  PrintCount("cli.pairs", pairs);
  Print("cli.load_before", LoadAverage());
  TimeConsoleRun(programs.minimalConsole, "", 0);
  TimeConsoleRun(programs.cli, "status", CliStatusUpdateNeeded);
  std::vector<double> floor, status, ratios;
  for (int i = 0; i < pairs; ++i) {
    std::optional<double> bare, ours;
    if (i % 2 == 0) {
      bare = TimeConsoleRun(programs.minimalConsole, "", 0);
      ours = TimeConsoleRun(programs.cli, "status", CliStatusUpdateNeeded);
    } else {
      ours = TimeConsoleRun(programs.cli, "status", CliStatusUpdateNeeded);
      bare = TimeConsoleRun(programs.minimalConsole, "", 0);
    }
    if (!bare || !ours) {
      std::fprintf(stderr, "fwbench: a console program did not end as expected within %lu ms\n",
                   ReadyTimeoutMs);
      return false;
    }
    floor.push_back(*bare);
    status.push_back(*ours);
    ratios.push_back(*ours / *bare);
  }
  Print("cli.minimal.median_ms", Median(floor));
  Print("cli.status.median_ms", Median(status));
  Print("cli.ratio.runs", Join(ratios, "%.3f"));
  PrintRatios("cli.ratio", ratios);
  return true;
}

}  // namespace fwbench
