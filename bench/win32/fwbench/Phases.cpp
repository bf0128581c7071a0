// The phases measurement: where start-up time goes, from the probe builds' phase marks.
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "bench/win32/fwbench/Figures.h"
#include "bench/win32/fwbench/Measurements.h"
#include "bench/win32/fwbench/ReadyWindow.h"
#include "bench/win32/fwbench/Starts.h"
#include "harness/AppWindow.h"

namespace fwbench {

// RUNS starts of each probe build, taking turns, and for each phase the median of its length
// (from the end of the phase before, or from the launch; the last one, "first frame seen", runs
// until fwbench saw the program ready). Flashwright is timed with the simulator as built and with
// the simulator built without the stack protector, to tell the simulator's own set-up from the
// rest of loading a library. The probe builds are only for this: the start-up figure is taken
// from the shipped programs.
bool MeasurePhases(const Programs& programs, int runs) {
  struct Subject {
    Subject(const char* subjectKey, std::filesystem::path program, const char* windowClass,
            const char* expectedLine3)
        : key(subjectKey), exe(std::move(program)), className(windowClass), line3(expectedLine3) {}
    const char* key;
    std::filesystem::path exe;
    const char* className;
    const char* line3;
    PhaseSeries series;
  };
  Subject subjects[] = {
      Subject("minimal", programs.minimalProbe, MinimalClass, nullptr),
      Subject("flashwright", programs.flashwrightProbe, e2e::app::MainClass, ExpectedLine3),
      Subject("flashwright_lean_library", programs.flashwrightProbeLean, e2e::app::MainClass,
              ExpectedLine3)};
  for (auto& subject : subjects) TimeStart(subject.exe, subject.className, subject.line3);
  constexpr std::size_t SubjectCount = std::size(subjects);
  for (int run = 0; run < runs; ++run) {
    // Which program starts first turns from run to run, so that none always follows the same one.
    for (std::size_t turn = 0; turn < SubjectCount; ++turn) {
      Subject& subject = subjects[(static_cast<std::size_t>(run) + turn) % SubjectCount];
      const auto start = TimeStart(subject.exe, subject.className, subject.line3);
      if (!start || start->phasesMs.empty()) {
        std::fprintf(stderr, "fwbench: the probe build %s gave no phases\n", subject.key);
        return false;
      }
      if (!subject.series.Add(*start, "first frame seen")) {
        std::fprintf(stderr, "fwbench: %s passed different phases in different runs\n",
                     subject.key);
        return false;
      }
    }
  }
  PrintCount("phases.runs", runs);
  for (const auto& subject : subjects) {
    subject.series.Print(std::string("phases.") + subject.key);
  }
  return true;
}

}  // namespace fwbench
