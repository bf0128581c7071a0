// fwbench's entry point: measures Flashwright under Wine from outside, with the simulator library
// answering at once: start-up against a minimal window (and, in the probe builds, where its time
// goes), the heap allocations of a rescan and of a repaint (probe build), the cost of an idle open
// window, the rescan delay after a burst of device changes, and `flashwright-cli status` against
// a bare console program (and, in the probe builds, where its time goes). Prints one "key=value"
// line per figure for scripts/bench.sh; bench/report.py judges them. The measurements and their
// tools are in fwbench/; the programs are driven through the harness (harness/). Usage: fwbench
// [startup PAIRS] [phases RUNS] [allocations ROUNDS] [idle SECONDS]
//                [debounce BURSTS] [cli PAIRS] [cli-phases RUNS] [--check]  (no tasks: all
//                seven; --check: fail when the allocations exceed their aim)
//        fwbench burn                         (the idle measurement's own check; see Idle.cpp)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "bench/win32/fwbench/Measurements.h"
#include "bench/win32/fwbench/Programs.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: fwbench [startup PAIRS] [phases RUNS] [allocations ROUNDS] [idle SECONDS] "
               "[debounce BURSTS] [cli PAIRS] [cli-phases RUNS] [--check]\n"
               "       fwbench burn\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace fwbench;
  if (argc == 2 && std::string(argv[1]) == "burn") return Burn();
  bool check = false;
  if (argc > 1 && std::string(argv[argc - 1]) == "--check") {
    check = true;
    --argc;
  }
  static const char* const Tasks[] = {"startup",  "phases", "allocations", "idle",
                                      "debounce", "cli",    "cli-phases"};
  std::vector<std::pair<std::string, int>> tasks;
  for (int i = 1; i < argc; i += 2) {
    const std::string task = argv[i];
    if (i + 1 >= argc || std::find(std::begin(Tasks), std::end(Tasks), task) == std::end(Tasks)) {
      return Usage();
    }
    const int count = std::atoi(argv[i + 1]);
    if (count <= 0) return Usage();
    tasks.emplace_back(task, count);
  }
  if (tasks.empty()) {
    tasks = {{"startup", 20},  {"phases", 10}, {"allocations", 10}, {"idle", 10},
             {"debounce", 10}, {"cli", 20},    {"cli-phases", 10}};
  }

  try {
    Programs programs;
    bool ok = true;
    for (const auto& [task, count] : tasks) {
      if (task == "startup") ok = MeasureStartup(programs, count) && ok;
      if (task == "phases") ok = MeasurePhases(programs, count) && ok;
      if (task == "allocations") ok = MeasureAllocations(programs, count, check) && ok;
      if (task == "idle") ok = MeasureIdle(programs, count) && ok;
      if (task == "debounce") ok = MeasureDebounce(programs, count) && ok;
      if (task == "cli") ok = MeasureCli(programs, count) && ok;
      if (task == "cli-phases") ok = MeasureCliPhases(programs, count) && ok;
    }
    return ok ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "fwbench: %s\n", error.what());
    return 1;
  }
}
