// The command-line measurements: `flashwright-cli status` from start to end against the bare
// console program, and where its time goes in their probe builds.
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "bench/win32/fwbench/Clock.h"
#include "bench/win32/fwbench/Figures.h"
#include "bench/win32/fwbench/LinuxProcess.h"
#include "bench/win32/fwbench/Measurements.h"
#include "bench/win32/fwbench/ReadyWindow.h"
#include "bench/win32/fwbench/Starts.h"
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

// One run of a console probe build: its time from CreateProcess to its end and the phases it
// marked, in a block made here before it starts (the program's own would go with it).
std::optional<Start> TimeProbeRun(const std::filesystem::path& exe, const std::string& args,
                                  DWORD exitCode) {
  static unsigned runs = 0;
  char name[sizeof probe::BlockName::text];
  wsprintfA(name, "FwBenchProbe.run.%lu.%u", GetCurrentProcessId(), ++runs);
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(probe::Block), name);
  if (mapping == nullptr) return std::nullopt;
  const auto* block = static_cast<const probe::Block*>(
      MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(probe::Block)));
  std::optional<Start> start;
  if (block != nullptr) {
    e2e::Process::Environment environment = SimEnvironment();
    environment.emplace_back(probe::BlockVariable, name);
    const e2e::ConsoleFiles console{exe.parent_path() / "out.txt", exe.parent_path() / "err.txt"};
    const double launch = NowMs();
    e2e::Process process = e2e::Process::Launch(exe, exe.parent_path(), environment, args, console);
    const std::optional<DWORD> code = process.WaitForExit(e2e::Millis(ReadyTimeoutMs));
    const double ended = NowMs();
    if (code && *code == exitCode) {
      start.emplace();
      start->readyMs = ended - launch;
      ReadBlock(*block, launch, *start);
    }
    UnmapViewOfFile(block);
  }
  CloseHandle(mapping);
  return start;
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

// RUNS runs of each probe build, taking turns, and for each phase the median of its length; the
// last, "process end", runs from the last mark until fwbench saw the process end (the lock let
// go, the library unloaded, the process torn down). The ratio is taken from the shipped programs.
bool MeasureCliPhases(const Programs& programs, int runs) {
  struct Subject {
    const char* key;
    std::filesystem::path exe;
    const char* args;
    DWORD exitCode;
    PhaseSeries series;
  };
  Subject subjects[] = {{"minimal_console", programs.minimalConsoleProbe, "", 0, {}},
                        {"cli", programs.cliProbe, "status", CliStatusUpdateNeeded, {}}};
  for (const auto& subject : subjects) TimeProbeRun(subject.exe, subject.args, subject.exitCode);
  constexpr std::size_t SubjectCount = std::size(subjects);
  for (int run = 0; run < runs; ++run) {
    for (std::size_t turn = 0; turn < SubjectCount; ++turn) {
      Subject& subject = subjects[(static_cast<std::size_t>(run) + turn) % SubjectCount];
      const auto start = TimeProbeRun(subject.exe, subject.args, subject.exitCode);
      if (!start || start->phasesMs.empty()) {
        std::fprintf(stderr, "fwbench: the probe build %s gave no phases or another exit code\n",
                     subject.key);
        return false;
      }
      if (!subject.series.Add(*start, "process end")) {
        std::fprintf(stderr, "fwbench: %s passed different phases in different runs\n",
                     subject.key);
        return false;
      }
    }
  }
  PrintCount("cli_phases.runs", runs);
  for (const auto& subject : subjects) {
    subject.series.Print(std::string("cli_phases.") + subject.key);
  }
  return true;
}

}  // namespace fwbench
