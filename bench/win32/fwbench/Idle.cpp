// The idle measurement: wake-ups and CPU time of Flashwright's open window against the minimal
// window's over the same seconds, read from /proc, after checking the method itself on a thread
// of known activity (`fwbench burn`).
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bench/win32/fwbench/Clock.h"
#include "bench/win32/fwbench/Figures.h"
#include "bench/win32/fwbench/LinuxProcess.h"
#include "bench/win32/fwbench/Measurements.h"
#include "bench/win32/fwbench/ReadyWindow.h"
#include "harness/AppWindow.h"
#include "harness/Driver.h"

namespace fwbench {
namespace {

struct IdleSubject {
  IdleSubject(std::string subjectName, std::filesystem::path program, const char* windowClass,
              const char* expectedLine3)
      : name(std::move(subjectName)),
        exe(std::move(program)),
        className(windowClass),
        line3(expectedLine3) {}

  std::string name;
  std::filesystem::path exe;
  const char* className;
  const char* line3;
  e2e::Process process;
  HWND window = nullptr;
  std::optional<ThreadActivity> activity;
};

void PrintIdle(const std::string& key, const std::optional<ThreadActivity>& activity) {
  if (!activity || !activity->Readable()) {
    Print(key + "wakeups", std::string("n/a"));
    return;
  }
  PrintCount(key + "wakeups", activity->Wakeups());
  Print(key + "cpu_ms", activity->CpuMs());
  if (auto ticks = activity->CpuTicksMs()) Print(key + "cpu_ticks_ms", *ticks);
  PrintCount(key + "linux_threads", static_cast<long long>(activity->Threads()));
  PrintCount(key + "threads_ended", static_cast<long long>(activity->Ended()));
}

// The measurement's own check, before it is trusted: `fwbench burn` (a copy of this program) has a
// thread that, once told to, uses about 200 ms of CPU time and sleeps 20 times in between, then
// ends. Watched as Flashwright is, both figures must show it, though the thread is gone by then.
constexpr int BurnSlices = 20;
constexpr double BurnSliceMs = 10;

std::string BurnEventName(DWORD processId) { return "FwBenchBurn." + std::to_string(processId); }

DWORD WINAPI BurnThread(void* go) {
  WaitForSingleObject(static_cast<HANDLE>(go), 60000);
  for (int slice = 0; slice < BurnSlices; ++slice) {
    const double until = NowMs() + BurnSliceMs;
    while (NowMs() < until) {
    }
    Sleep(2);
  }
  return 0;
}

bool CheckIdleMethod(const Programs& programs) {
  const std::filesystem::path copy =
      programs.dir.CopyIn(e2e::ExecutableDir() / "fwbench.exe", "fwburn.exe");
  e2e::Process process = e2e::Process::Launch(copy, programs.dir.Path(), {}, "burn");
  HANDLE go = nullptr;
  for (int i = 0; i < 500 && !go; ++i) {
    go = OpenEventA(EVENT_MODIFY_STATE, FALSE, BurnEventName(process.Id()).c_str());
    if (!go) Sleep(10);
  }
  std::optional<ThreadActivity> activity;
  if (auto linuxPid = LinuxPidOf(copy)) activity.emplace(*linuxPid);
  if (go) SetEvent(go);
  if (activity) {
    Watch({&*activity}, 1500);
  } else {
    Sleep(1500);
  }
  PrintCount("idle.check.slices", BurnSlices);
  Print("idle.check.slice_ms", BurnSliceMs);
  PrintIdle("idle.check.", activity);
  if (go) CloseHandle(go);
  process.Kill();
  return go != nullptr;
}

}  // namespace

int Burn() {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, BurnEventName(GetCurrentProcessId()).c_str());
  HANDLE thread = CreateThread(nullptr, 0, BurnThread, go, 0, nullptr);
  if (thread == nullptr) return 1;
  WaitForSingleObject(thread, INFINITE);
  Sleep(60000);  // stays, to be measured; fwbench ends it sooner
  return 0;
}

bool MeasureIdle(const Programs& programs, int seconds) {
  if (!CheckIdleMethod(programs)) {
    std::fprintf(stderr, "fwbench: the idle measurement's check did not start\n");
    return false;
  }
  std::vector<IdleSubject> subjects;
  subjects.reserve(2);
  subjects.emplace_back("flashwright", programs.flashwright, e2e::app::MainClass, ExpectedLine3);
  subjects.emplace_back("minimal", programs.minimal, MinimalClass, nullptr);
  // Both are open over the same seconds, so they see the same machine.
  for (auto& subject : subjects) {
    subject.process = e2e::Process::Launch(subject.exe, programs.dir.Path(), SimEnvironment());
    subject.window = WaitReady(subject.process, subject.className, subject.line3);
    if (!subject.window) {
      std::fprintf(stderr, "fwbench: %s did not get ready\n", subject.name.c_str());
      return false;
    }
  }
  Sleep(1000);  // start-up's last paints and Wine's own settling are not idle time
  std::vector<ThreadActivity*> activities;
  for (auto& subject : subjects) {
    if (auto linuxPid = LinuxPidOf(subject.exe)) {
      subject.activity.emplace(*linuxPid);
      activities.push_back(&*subject.activity);
    }
  }
  Watch(activities, static_cast<DWORD>(seconds) * 1000);
  PrintCount("idle.seconds", seconds);
  for (auto& subject : subjects) {
    PrintIdle("idle." + subject.name + ".", subject.activity);
    CloseProgram(subject.process, subject.window);
  }
  return true;
}

}  // namespace fwbench
