// Measures Flashwright under Wine from outside, with the simulator library answering at once:
// start-up against a minimal window, the cost of an idle open window, and the rescan delay after
// a burst of device changes. Prints one "key=value" line per figure for scripts/bench.sh.
// Usage: fwbench [startup RUNS] [idle SECONDS] [debounce BURSTS]   (no arguments: all three)
#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/Layout.h"
#include "tests/e2e/driver/AppWindow.h"
#include "tests/e2e/driver/Driver.h"

namespace {

namespace fs = std::filesystem;
using e2e::Millis;
using e2e::Process;
using namespace std::chrono_literals;

constexpr char ProgramName[] = "Flashwright.exe";
constexpr char LibraryName[] = "ZRFWUpdateDll.dll";
constexpr char MinimalName[] = "MinimalWindow.exe";
constexpr char MinimalClass[] = "FwbMinimalWindow";
// What the simulator's built-in world (one device at 00.01.01.05) makes status line 3 read.
constexpr char ExpectedLine3[] = "Firmware: Update required!";
constexpr int Line3Id =
    ::platform::ControlIdBase + static_cast<int>(::platform::ControlId::RescanStatus3Panel);
constexpr DWORD ReadyTimeoutMs = 20000;

double NowMs() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / ticksPerMs;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string Join(const std::vector<double>& values) {
  std::string joined;
  char buffer[32];
  for (double value : values) {
    std::snprintf(buffer, sizeof buffer, "%s%.1f", joined.empty() ? "" : ",", value);
    joined += buffer;
  }
  return joined;
}

void Print(const std::string& key, double value) {
  std::printf("%s=%.2f\n", key.c_str(), value);
  std::fflush(stdout);
}
void PrintCount(const std::string& key, long long value) {
  std::printf("%s=%lld\n", key.c_str(), value);
  std::fflush(stdout);
}
void Print(const std::string& key, const std::string& value) {
  std::printf("%s=%s\n", key.c_str(), value.c_str());
  std::fflush(stdout);
}

// The two programs, copied into a directory of their own with the simulator beside Flashwright.
// A unique directory also makes the programs' Linux processes easy to tell from any other.
struct Programs {
  e2e::TempDir dir{"fwbench"};
  fs::path flashwright;
  fs::path minimal;
  Programs() {
    const fs::path bin = e2e::ExecutableDir();
    flashwright = dir.CopyIn(bin / ProgramName);
    dir.CopyIn(bin / LibraryName);
    minimal = dir.CopyIn(bin / MinimalName);
  }
};

// The simulator's built-in world and no call log, unless a log is asked for.
Process::Environment SimEnvironment(const std::string& log = {}) {
  return {{"FLASHWRIGHT_SIM_SCENARIO", ""}, {"FLASHWRIGHT_SIM_LOG", log}};
}

struct FindContext {
  DWORD processId;
  const char* className;
  HWND found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM parameter) {
  auto* context = reinterpret_cast<FindContext*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != context->processId || !IsWindowVisible(window)) return TRUE;
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::string(name) != context->className) return TRUE;
  context->found = window;
  return FALSE;
}

// A top-level window of `processId` and class `className` that is visible, or nullptr. One
// EnumWindows pass on this desktop only: cheap enough to poll every millisecond.
HWND FindVisibleWindow(DWORD processId, const char* className) {
  FindContext context{processId, className, nullptr};
  EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&context));
  return context.found;
}

// The text of another process's control. For a window of another process GetWindowText reads
// the text the system keeps for it and sends nothing, so it never waits on a busy program.
std::string ControlText(HWND control) {
  char text[256] = {};
  GetWindowTextA(control, text, sizeof text);
  return text;
}

// Waits until `process` shows a visible window of `className` (whose status line 3, when
// `line3` is given, reads that text) and its thread answers a message, i.e. its message loop
// runs and the first frame is being drawn. Returns the window, or nullptr after the timeout.
HWND WaitReady(const Process& process, const char* className, const char* line3) {
  const double deadline = NowMs() + ReadyTimeoutMs;
  while (NowMs() < deadline) {
    if (HWND window = FindVisibleWindow(process.Id(), className)) {
      HWND line = line3 ? e2e::FindDescendantById(window, Line3Id) : nullptr;
      if (!line3 || (line && ControlText(line) == line3)) {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result);
        return window;
      }
    }
    if (!process.Running()) return nullptr;
    Sleep(1);
  }
  return nullptr;
}

// Closes the program as a user would and waits for it to end; kills it when it does not.
void CloseProgram(Process& process, HWND window) {
  if (window) PostMessageA(window, WM_CLOSE, 0, 0);
  if (!process.WaitForExit(10s)) process.Kill();
}

// ---- start-up -------------------------------------------------------------------------------

// Milliseconds from CreateProcess until ready (see WaitReady); nothing when it never got there.
std::optional<double> TimeStart(const fs::path& exe, const fs::path& dir, const char* className,
                                const char* line3) {
  const double start = NowMs();
  Process process = Process::Launch(exe, dir, SimEnvironment());
  HWND window = WaitReady(process, className, line3);
  const double elapsed = NowMs() - start;
  CloseProgram(process, window);
  if (!window) return std::nullopt;
  return elapsed;
}

bool MeasureStartup(const Programs& programs, int runs) {
  std::vector<double> minimal, flashwright;
  // One start of each first, not counted: it pays for loading the files from disk.
  TimeStart(programs.minimal, programs.dir.Path(), MinimalClass, nullptr);
  TimeStart(programs.flashwright, programs.dir.Path(), e2e::app::MainClass, ExpectedLine3);
  // Alternated, so that a disturbance in the machine's load hits both alike.
  for (int i = 0; i < runs; ++i) {
    auto floor = TimeStart(programs.minimal, programs.dir.Path(), MinimalClass, nullptr);
    auto ours =
        TimeStart(programs.flashwright, programs.dir.Path(), e2e::app::MainClass, ExpectedLine3);
    if (!floor || !ours) {
      std::fprintf(stderr, "fwbench: a program did not get ready within %lu ms\n", ReadyTimeoutMs);
      return false;
    }
    minimal.push_back(*floor);
    flashwright.push_back(*ours);
  }
  PrintCount("startup.runs", runs);
  Print("startup.minimal.median_ms", Median(minimal));
  Print("startup.minimal.runs_ms", Join(minimal));
  Print("startup.flashwright.median_ms", Median(flashwright));
  Print("startup.flashwright.runs_ms", Join(flashwright));
  Print("startup.ratio", Median(flashwright) / Median(minimal));
  // The fastest start of each is the one least disturbed by whatever else the machine ran.
  const double bestFloor = *std::min_element(minimal.begin(), minimal.end());
  const double bestOurs = *std::min_element(flashwright.begin(), flashwright.end());
  Print("startup.minimal.best_ms", bestFloor);
  Print("startup.flashwright.best_ms", bestOurs);
  Print("startup.best_ratio", bestOurs / bestFloor);
  return true;
}

// ---- idle -----------------------------------------------------------------------------------

// User plus kernel time the process has used, in milliseconds.
double CpuMs(const Process& process) {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process.Handle(), &created, &exited, &kernel, &user)) return -1;
  auto value = [](const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return static_cast<double>(value(kernel) + value(user)) / 10000.0;
}

std::string ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Wine runs each Windows process as a Linux process, whose kernel counts every time a thread of
// it went to sleep and was woken (voluntary context switches). Linux's /proc is reachable as
// Z:\proc. The process is recognised by its command line, which holds the program's unique path.
const fs::path ProcRoot = "Z:\\proc";

std::optional<std::string> LinuxPidOf(const fs::path& exe) {
  const std::string wanted = exe.filename().string();
  const std::string dirName = exe.parent_path().filename().string();
  std::error_code error;
  for (fs::directory_iterator entry(ProcRoot, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string commandLine = ReadWhole(entry->path() / "cmdline");
    std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
    if (commandLine.find(wanted) != std::string::npos &&
        commandLine.find(dirName) != std::string::npos) {
      return name;
    }
  }
  return std::nullopt;
}

struct Switches {
  long long voluntary = 0;
  long long involuntary = 0;
  int threads = 0;
};

// Summed over all threads of the Linux process; nothing when /proc cannot be read.
std::optional<Switches> ReadSwitches(const std::string& linuxPid) {
  Switches total;
  std::error_code error;
  for (fs::directory_iterator entry(ProcRoot / linuxPid / "task", error), end;
       !error && entry != end; entry.increment(error)) {
    std::istringstream status(ReadWhole(entry->path() / "status"));
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
        total.voluntary += std::atoll(line.c_str() + 24);
      } else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total.involuntary += std::atoll(line.c_str() + 27);
      }
    }
    ++total.threads;
  }
  if (error || total.threads == 0) return std::nullopt;
  return total;
}

struct IdleSubject {
  IdleSubject(std::string subjectName, fs::path program, const char* windowClass,
              const char* expectedLine3)
      : name(std::move(subjectName)),
        exe(std::move(program)),
        className(windowClass),
        line3(expectedLine3) {}

  std::string name;
  fs::path exe;
  const char* className;
  const char* line3;
  Process process;
  HWND window = nullptr;
  std::optional<std::string> linuxPid;
  double cpuBefore = 0;
  std::optional<Switches> before;
};

bool MeasureIdle(const Programs& programs, int seconds) {
  std::vector<IdleSubject> subjects;
  subjects.reserve(2);
  subjects.emplace_back("flashwright", programs.flashwright, e2e::app::MainClass, ExpectedLine3);
  subjects.emplace_back("minimal", programs.minimal, MinimalClass, nullptr);
  // Both are open over the same seconds, so they see the same machine.
  for (auto& subject : subjects) {
    subject.process = Process::Launch(subject.exe, programs.dir.Path(), SimEnvironment());
    subject.window = WaitReady(subject.process, subject.className, subject.line3);
    if (!subject.window) {
      std::fprintf(stderr, "fwbench: %s did not get ready\n", subject.name.c_str());
      return false;
    }
  }
  Sleep(1000);  // start-up's last paints and Wine's own settling are not idle time
  for (auto& subject : subjects) {
    subject.linuxPid = LinuxPidOf(subject.exe);
    subject.cpuBefore = CpuMs(subject.process);
    if (subject.linuxPid) subject.before = ReadSwitches(*subject.linuxPid);
  }
  Sleep(static_cast<DWORD>(seconds) * 1000);
  PrintCount("idle.seconds", seconds);
  for (auto& subject : subjects) {
    const std::string key = "idle." + subject.name + ".";
    Print(key + "cpu_ms", CpuMs(subject.process) - subject.cpuBefore);
    // Everything since the process began: shows the clock counts at all.
    Print(key + "cpu_total_ms", CpuMs(subject.process));
    std::optional<Switches> after;
    if (subject.linuxPid) after = ReadSwitches(*subject.linuxPid);
    if (subject.before && after) {
      PrintCount(key + "wakeups", after->voluntary - subject.before->voluntary);
      PrintCount(key + "preemptions", after->involuntary - subject.before->involuntary);
      PrintCount(key + "linux_threads", after->threads);
      Print(key + "linux_pid", *subject.linuxPid);
    } else {
      Print(key + "wakeups", std::string("n/a"));
    }
    CloseProgram(subject.process, subject.window);
  }
  return true;
}

// ---- rescan delay ---------------------------------------------------------------------------

std::optional<unsigned long long> FileSize(const fs::path& file) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(file.wstring().c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

int CountDeviceListCalls(const fs::path& log) {
  std::istringstream lines(ReadWhole(log));
  int calls = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("ZR_GetDeviceList ", 0) == 0) ++calls;
  }
  return calls;
}

constexpr int EventsPerBurst = 5;
constexpr DWORD EventGapMs = 30;  // well inside the 200 ms the program waits for quiet

bool MeasureDebounce(const Programs& programs, int bursts) {
  const fs::path log = programs.dir.Path() / "debounce-sim.log";
  Process process =
      Process::Launch(programs.flashwright, programs.dir.Path(), SimEnvironment(log.string()));
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

int Usage() {
  std::fprintf(stderr, "usage: fwbench [startup RUNS] [idle SECONDS] [debounce BURSTS]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::pair<std::string, int>> tasks;
  for (int i = 1; i < argc; i += 2) {
    const std::string task = argv[i];
    if (i + 1 >= argc || (task != "startup" && task != "idle" && task != "debounce")) {
      return Usage();
    }
    const int count = std::atoi(argv[i + 1]);
    if (count <= 0) return Usage();
    tasks.emplace_back(task, count);
  }
  if (tasks.empty()) tasks = {{"startup", 10}, {"idle", 10}, {"debounce", 10}};

  try {
    Programs programs;
    bool ok = true;
    for (const auto& [task, count] : tasks) {
      if (task == "startup") ok = MeasureStartup(programs, count) && ok;
      if (task == "idle") ok = MeasureIdle(programs, count) && ok;
      if (task == "debounce") ok = MeasureDebounce(programs, count) && ok;
    }
    return ok ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "fwbench: %s\n", error.what());
    return 1;
  }
}
