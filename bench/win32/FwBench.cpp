// Measures Flashwright under Wine from outside, with the simulator library answering at once:
// start-up against a minimal window (and, in the probe builds, where its time goes), the heap
// allocations of a rescan and of a repaint (probe build), the cost of an idle open window, and
// the rescan delay after a burst of device changes, and `flashwright-cli status` against a bare
// console program. Prints one "key=value" line per figure for
// scripts/bench.sh; bench/report.py judges them.
// Usage: fwbench [startup PAIRS] [phases RUNS] [allocations ROUNDS] [idle SECONDS]
//                [debounce BURSTS] [cli PAIRS] [--check]  (no tasks: all six; --check: fail
//                                              when the allocations exceed their aim)
//        fwbench burn                         (the idle measurement's own check; see there)
#include <windows.h>

#include <dbt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bench/win32/Probe.h"
#include "cli/ExitCodes.h"
#include "harness/AppWindow.h"
#include "harness/Driver.h"
#include "platform/Layout.h"

namespace {

namespace fs = std::filesystem;
using e2e::Millis;
using e2e::Process;
using namespace std::chrono_literals;

constexpr char ProgramName[] = "Flashwright.exe";
constexpr char LibraryName[] = "ZRFWUpdateDll.dll";
constexpr char MinimalName[] = "MinimalWindow.exe";
constexpr char MinimalClass[] = "FwbMinimalWindow";
constexpr char CliName[] = "flashwright-cli.exe";
constexpr char MinimalConsoleName[] = "MinimalConsole.exe";
// flashwright-cli status in the built-in world: one device that needs the update.
constexpr DWORD CliStatusUpdateNeeded = cli::UpdateNeeded;
// What the simulator's built-in world (one device at 00.01.01.05) makes status line 3 read.
constexpr char ExpectedLine3[] = "Firmware: Update required!";
constexpr int Line3Id =
    ::platform::ControlIdBase + static_cast<int>(::platform::ControlId::RescanStatus3Panel);
constexpr DWORD ReadyTimeoutMs = 20000;

// The performance counter's ticks per millisecond; the counter is one clock for every process.
double TicksPerMs() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  return ticksPerMs;
}

double NowMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / TicksPerMs();
}

// The q-quantile (0..1) by linear interpolation between the closest ranks.
double Quantile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const double position = q * static_cast<double>(values.size() - 1);
  const auto below = static_cast<std::size_t>(position);
  const std::size_t above = std::min(below + 1, values.size() - 1);
  return values[below] + (position - static_cast<double>(below)) * (values[above] - values[below]);
}

double Median(const std::vector<double>& values) { return Quantile(values, 0.5); }

std::string Join(const std::vector<double>& values, const char* format = "%.1f") {
  std::string joined;
  char buffer[32];
  for (double value : values) {
    if (!joined.empty()) joined += ',';
    std::snprintf(buffer, sizeof buffer, format, value);
    joined += buffer;
  }
  return joined;
}

void Print(const std::string& key, double value) {
  std::printf("%s=%.2f\n", key.c_str(), value);
  std::fflush(stdout);
}
void PrintRatio(const std::string& key, double value) {
  std::printf("%s=%.3f\n", key.c_str(), value);
  std::fflush(stdout);
}
// KEY.median, KEY.q1 and KEY.q3 of pairwise ratios: how they centre and how far they strayed.
void PrintRatios(const std::string& key, const std::vector<double>& ratios) {
  PrintRatio(key + ".median", Median(ratios));
  PrintRatio(key + ".q1", Quantile(ratios, 0.25));
  PrintRatio(key + ".q3", Quantile(ratios, 0.75));
}

void PrintCount(const std::string& key, long long value) {
  std::printf("%s=%lld\n", key.c_str(), value);
  std::fflush(stdout);
}
void Print(const std::string& key, const std::string& value) {
  std::printf("%s=%s\n", key.c_str(), value.c_str());
  std::fflush(stdout);
}

// The two programs, copied into a directory of their own with the simulator beside Flashwright,
// and their probe builds in its subdirectory "probe" (each under its program's own name). A unique
// directory also makes the programs' Linux processes easy to tell from any other.
struct Programs {
  e2e::TempDir dir{"fwbench"};
  fs::path flashwright;
  fs::path minimal;
  fs::path probeDir;
  fs::path flashwrightProbe;
  fs::path minimalProbe;
  // Beside the simulator built without the stack protector: the shipped build and the probe build.
  fs::path flashwrightLean;
  fs::path flashwrightProbeLean;
  fs::path cli;
  fs::path minimalConsole;
  Programs() {
    const fs::path bin = e2e::ExecutableDir();
    flashwright = dir.CopyIn(bin / ProgramName);
    cli = dir.CopyIn(bin / CliName);
    minimalConsole = dir.CopyIn(bin / MinimalConsoleName);
    dir.CopyIn(bin / LibraryName);
    minimal = dir.CopyIn(bin / MinimalName);
    probeDir = dir.Path() / "probe";
    fs::create_directory(probeDir);
    flashwrightProbe = probeDir / ProgramName;
    minimalProbe = probeDir / MinimalName;
    fs::copy_file(bin / "probe" / ProgramName, flashwrightProbe);
    fs::copy_file(bin / "probe" / MinimalName, minimalProbe);
    fs::copy_file(bin / LibraryName, probeDir / LibraryName);
    const fs::path leanDir = dir.Path() / "lean-library";
    const fs::path leanProbeDir = dir.Path() / "lean-library-probe";
    fs::create_directory(leanDir);
    fs::create_directory(leanProbeDir);
    flashwrightLean = leanDir / ProgramName;
    flashwrightProbeLean = leanProbeDir / ProgramName;
    fs::copy_file(bin / ProgramName, flashwrightLean);
    fs::copy_file(bin / "probe" / ProgramName, flashwrightProbeLean);
    fs::copy_file(bin / "lean-library" / LibraryName, leanDir / LibraryName);
    fs::copy_file(bin / "lean-library" / LibraryName, leanProbeDir / LibraryName);
  }
};

// The Linux load averages (1, 5 and 15 minutes) and the running/all tasks, as /proc/loadavg
// gives them, or "n/a".
std::string LoadAverage() {
  std::ifstream in("Z:\\proc\\loadavg");
  std::string one, five, fifteen, tasks;
  if (!(in >> one >> five >> fifteen >> tasks)) return "n/a";
  return one + " " + five + " " + fifteen + " " + tasks;
}

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

// One start: milliseconds from CreateProcess until ready (see WaitReady), and what the probe
// build recorded, if it is one.
struct Start {
  double readyMs = 0;
  std::vector<std::pair<std::string, double>> phasesMs;  // each phase's end, since the launch
  long allocations = 0;                                  // during start-up (probe builds)
};

// The block a probe build shares (see Probe.h); false for a shipped build, which has none.
bool ReadProbe(const Process& process, double launchMs, Start& start) {
  const fwbench::probe::BlockName name(process.Id());
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.text);
  if (mapping == nullptr) return false;
  const auto* block = static_cast<const fwbench::probe::Block*>(
      MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(fwbench::probe::Block)));
  if (block == nullptr) {
    CloseHandle(mapping);
    return false;
  }
  const LONG count = std::min<LONG>(LONG{block->phaseCount}, fwbench::probe::MaxPhases);
  for (LONG i = 0; i < count; ++i) {
    const auto& phase = block->phases[i];
    start.phasesMs.emplace_back(std::string(phase.name, strnlen(phase.name, sizeof phase.name)),
                                static_cast<double>(phase.ticks) / TicksPerMs() - launchMs);
  }
  start.allocations = block->allocations;
  UnmapViewOfFile(block);
  CloseHandle(mapping);
  return true;
}

// Starts `exe` and times it until ready; nothing when it never got there.
std::optional<Start> TimeStart(const fs::path& exe, const char* className, const char* line3) {
  const double launch = NowMs();
  Process process = Process::Launch(exe, exe.parent_path(), SimEnvironment());
  HWND window = WaitReady(process, className, line3);
  Start start;
  start.readyMs = NowMs() - launch;
  if (window) ReadProbe(process, launch, start);
  CloseProgram(process, window);
  if (!window) return std::nullopt;
  return start;
}

// Start-up of the shipped programs: PAIRS rounds in which the floor and Flashwright start one
// right after the other (which of them goes first alternates), so that a pair sees one state of the
// machine. The figure is the median of the pairs' ratios; their interquartile range says how far
// the machine's load let single pairs stray. Whether that is narrow enough to trust, and whether
// the load average allowed a valid figure at all, report.py decides from what is printed here.
// Each round also starts Flashwright beside the simulator built without the stack protector, just
// before or after the pair, for a second ratio against the same floor start: how much of the figure
// is the simulator's own set-up.
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

// Runs a console program to its end with its output in a file; the time from CreateProcess to
// its end, or nothing when it did not end within the limit with `exitCode`.
std::optional<double> TimeConsoleRun(const fs::path& exe, const std::string& args, DWORD exitCode) {
  const e2e::ConsoleFiles console{exe.parent_path() / "out.txt", exe.parent_path() / "err.txt"};
  const double launch = NowMs();
  Process process = Process::Launch(exe, exe.parent_path(), SimEnvironment(), args, console);
  const std::optional<DWORD> code = process.WaitForExit(Millis(ReadyTimeoutMs));
  const double ms = NowMs() - launch;
  if (!code || *code != exitCode) return std::nullopt;
  return ms;
}

// `flashwright-cli status` from start to end (it binds the simulator, lists and checks the one
// device, prints its table) against the bare console program, PAIRS pairs taken as the window's
// start-up pairs are: one right after the other, which first alternating; the median of the
// pairs' ratios and its interquartile range.
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

// Where start-up time goes: RUNS starts of each probe build, taking turns, and for each
// phase the median of its length (from the end of the phase before, or from the launch; the last
// one, "first frame seen", runs until fwbench saw the program ready). Flashwright is timed with the
// simulator as built and with the simulator built without the stack protector, to tell the
// simulator's own set-up from the rest of loading a library. The probe builds are only for this:
// the start-up figure above is taken from the shipped programs.
bool MeasurePhases(const Programs& programs, int runs) {
  struct Subject {
    Subject(const char* subjectKey, fs::path program, const char* windowClass,
            const char* expectedLine3)
        : key(subjectKey), exe(std::move(program)), className(windowClass), line3(expectedLine3) {}
    const char* key;
    fs::path exe;
    const char* className;
    const char* line3;
    std::vector<std::string> names;
    std::vector<std::vector<double>> lengths;  // [phase][run]
    std::vector<double> totals;
    std::vector<double> allocations;
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
      std::vector<std::string> names;
      std::vector<double> lengths;
      double previous = 0;
      for (const auto& [name, endMs] : start->phasesMs) {
        names.push_back(name);
        lengths.push_back(endMs - previous);
        previous = endMs;
      }
      names.emplace_back("first frame seen");
      lengths.push_back(start->readyMs - previous);
      if (subject.names.empty()) {
        subject.names = names;
        subject.lengths.resize(names.size());
      }
      if (names != subject.names) {
        std::fprintf(stderr, "fwbench: %s passed different phases in different runs\n",
                     subject.key);
        return false;
      }
      for (std::size_t i = 0; i < lengths.size(); ++i) subject.lengths[i].push_back(lengths[i]);
      subject.totals.push_back(start->readyMs);
      subject.allocations.push_back(static_cast<double>(start->allocations));
    }
  }
  PrintCount("phases.runs", runs);
  for (const auto& subject : subjects) {
    const std::string key = std::string("phases.") + subject.key;
    PrintCount(key + ".count", static_cast<long long>(subject.names.size()));
    for (std::size_t i = 0; i < subject.names.size(); ++i) {
      const std::string phase = key + "." + std::to_string(i);
      Print(phase + ".name", subject.names[i]);
      Print(phase + ".median_ms", Median(subject.lengths[i]));
    }
    Print(key + ".total_median_ms", Median(subject.totals));
    Print(key + ".startup_allocations", Median(subject.allocations));
  }
  return true;
}

// ---- idle -----------------------------------------------------------------------------------

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

// What Linux counts for one thread: voluntary context switches (each time it went to sleep and
// was woken: a timer, a poll, a message) and the CPU time it ran, in nanoseconds.
struct ThreadCounters {
  long long wakeups = 0;
  long long runNs = 0;
};

// The counters of each thread (Linux task id) of a Linux process, or nothing when /proc cannot
// be read.
std::optional<std::map<std::string, ThreadCounters>> ReadThreads(const std::string& linuxPid) {
  std::map<std::string, ThreadCounters> threads;
  std::error_code error;
  for (fs::directory_iterator entry(ProcRoot / linuxPid / "task", error), end;
       !error && entry != end; entry.increment(error)) {
    ThreadCounters counters;
    std::istringstream status(ReadWhole(entry->path() / "status"));
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
        counters.wakeups = std::atoll(line.c_str() + 24);
      }
    }
    std::istringstream(ReadWhole(entry->path() / "schedstat")) >> counters.runNs;
    threads[entry->path().filename().string()] = counters;
  }
  if (error || threads.empty()) return std::nullopt;
  return threads;
}

// The CPU time of the whole Linux process in milliseconds, ended threads included (the kernel
// adds a thread's times to its process's when it ends), from /proc/PID/stat in clock ticks of
// 10 ms (USER_HZ is 100 on Linux). GetProcessTimes cannot serve: for another process, Wine 8
// returns the calling process's own times.
std::optional<double> ProcessCpuMs(const std::string& linuxPid) {
  const std::string stat = ReadWhole(ProcRoot / linuxPid / "stat");
  const std::size_t afterName = stat.rfind(')');
  if (afterName == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(afterName + 1));
  std::string field;
  long long user = -1, system = -1;
  // Fields 3 to 13 come before utime (14) and stime (15).
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) user = std::atoll(field.c_str());
    if (index == 15) system = std::atoll(field.c_str());
  }
  if (user < 0 || system < 0) return std::nullopt;
  return static_cast<double>(user + system) * 10.0;
}

// Wake-ups and CPU time of every thread of a process over a stretch of time, including threads
// that start or end within it. Linux keeps these per thread, and a thread's go with it, so the
// threads are read every PollMs: a thread that ends is counted up to the last reading that saw it
// (at most PollMs short), one that starts is counted from zero. The process's CPU time in clock
// ticks (ProcessCpuMs) misses nothing of ended threads and serves as the check.
class ThreadActivity {
 public:
  static constexpr DWORD PollMs = 20;

  explicit ThreadActivity(std::string linuxPid) : linuxPid_(std::move(linuxPid)) {
    if (auto threads = ReadThreads(linuxPid_)) {
      first_ = last_ = *threads;
      readable_ = true;
    }
    cpuTicksBefore_ = ProcessCpuMs(linuxPid_);
  }
  void Poll() {
    auto threads = ReadThreads(linuxPid_);
    if (!threads) return;
    for (const auto& [thread, counters] : *threads) {
      if (!first_.count(thread)) first_[thread] = {};  // started since the first reading
      last_[thread] = counters;
    }
    for (const auto& [thread, counters] : last_) {
      if (!threads->count(thread)) ended_.insert(thread);
    }
  }
  // Read after the last Poll.
  void Finish() { cpuTicksAfter_ = ProcessCpuMs(linuxPid_); }

  bool Readable() const { return readable_; }
  long long Wakeups() const {
    long long total = 0;
    for (const auto& [thread, counters] : last_)
      total += counters.wakeups - first_.at(thread).wakeups;
    return total;
  }
  double CpuMs() const {
    long long total = 0;
    for (const auto& [thread, counters] : last_) total += counters.runNs - first_.at(thread).runNs;
    return static_cast<double>(total) / 1e6;
  }
  std::optional<double> CpuTicksMs() const {
    if (!cpuTicksBefore_ || !cpuTicksAfter_) return std::nullopt;
    return *cpuTicksAfter_ - *cpuTicksBefore_;
  }
  std::size_t Threads() const { return last_.size(); }
  std::size_t Ended() const { return ended_.size(); }

 private:
  std::string linuxPid_;
  bool readable_ = false;
  std::map<std::string, ThreadCounters> first_, last_;
  std::set<std::string> ended_;
  std::optional<double> cpuTicksBefore_, cpuTicksAfter_;
};

// Watches the processes for `milliseconds`, reading their threads every ThreadActivity::PollMs.
void Watch(const std::vector<ThreadActivity*>& activities, DWORD milliseconds) {
  const double end = NowMs() + milliseconds;
  while (NowMs() < end) {
    Sleep(ThreadActivity::PollMs);
    for (ThreadActivity* activity : activities) activity->Poll();
  }
  for (ThreadActivity* activity : activities) activity->Finish();
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

int Burn() {
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, BurnEventName(GetCurrentProcessId()).c_str());
  HANDLE thread = CreateThread(nullptr, 0, BurnThread, go, 0, nullptr);
  if (thread == nullptr) return 1;
  WaitForSingleObject(thread, INFINITE);
  Sleep(60000);  // stays, to be measured; fwbench ends it sooner
  return 0;
}

bool CheckIdleMethod(const Programs& programs) {
  const fs::path copy = programs.dir.CopyIn(e2e::ExecutableDir() / "fwbench.exe", "fwburn.exe");
  Process process = Process::Launch(copy, programs.dir.Path(), {}, "burn");
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
    subject.process = Process::Launch(subject.exe, programs.dir.Path(), SimEnvironment());
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

// ---- allocations ----------------------------------------------------------------------------

BOOL CALLBACK FindPaintPending(HWND window, LPARAM pending) {
  if (!GetUpdateRect(window, nullptr, FALSE)) return TRUE;
  *reinterpret_cast<bool*>(pending) = true;
  return FALSE;
}

// Whether `window` or any window inside it still waits to be painted.
bool PaintPending(HWND window) {
  bool pending = GetUpdateRect(window, nullptr, FALSE) != FALSE;
  if (!pending) EnumChildWindows(window, FindPaintPending, reinterpret_cast<LPARAM>(&pending));
  return pending;
}

// Waits until the program has handled what it was sent and posted and painted what was invalid:
// its thread answers a message, and no window of it waits for a paint. A paint's handler may still
// run once its window is valid again (BeginPaint validates), so a last message round trip follows.
bool Settle(HWND window) {
  const double deadline = NowMs() + 5000;
  DWORD_PTR result = 0;
  while (NowMs() < deadline) {
    if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) return false;
    if (!PaintPending(window)) {
      return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result) != 0;
    }
    Sleep(1);
  }
  return false;
}

LONG Allocations(const Process& process) {
  Start start;
  return ReadProbe(process, 0, start) ? start.allocations : -1;
}

// What the program may allocate: the scan's sixteen device-list slots per rescan, nothing per
// repaint. `fwbench allocations N --check` fails beyond these (a CTest test runs it).
constexpr double AllocationsPerRescanAim = 16;
constexpr double AllocationsPerRepaintAim = 0;

// Heap allocations of the program's own code (the probe build counts global operator new; see
// ProbeAllocations.cpp) per rescan and per repaint. A rescan is what a device change leads to: the
// 200 ms timer, the scan, the status lines set and painted anew. A repaint is the whole main window
// with everything in it invalidated and drawn again.
bool MeasureAllocations(const Programs& programs, int rounds, bool check) {
  const fs::path log = programs.probeDir / "allocations-sim.log";
  Process process =
      Process::Launch(programs.flashwrightProbe, programs.probeDir, SimEnvironment(log.string()));
  HWND window = WaitReady(process, e2e::app::MainClass, ExpectedLine3);
  if (!window || Allocations(process) < 0) {
    std::fprintf(stderr, "fwbench: the probe build of Flashwright did not get ready\n");
    return false;
  }
  Sleep(300);
  bool ok = Settle(window);
  PrintCount("allocations.startup", Allocations(process));

  const LONG beforeRescans = Allocations(process);
  const int scansBefore = CountDeviceListCalls(log);
  for (int round = 0; ok && round < rounds; ++round) {
    const int callsBefore = CountDeviceListCalls(log);
    e2e::SendDeviceChange(window, DBT_DEVNODES_CHANGED);
    const double deadline = NowMs() + 3000;
    while (NowMs() < deadline && CountDeviceListCalls(log) == callsBefore) Sleep(1);
    ok = Settle(window);
  }
  const LONG afterRescans = Allocations(process);
  const int scans = CountDeviceListCalls(log) - scansBefore;

  // The program's thread is held while its windows are invalidated, so that fwbench sees every
  // repaint pending before the program takes it up.
  int invalidated = 0;
  HANDLE thread =
      OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetWindowThreadProcessId(window, nullptr));
  for (int round = 0; ok && thread && round < rounds; ++round) {
    SuspendThread(thread);
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
    if (PaintPending(window)) ++invalidated;
    ResumeThread(thread);
    ok = Settle(window);
  }
  if (thread) CloseHandle(thread);
  const LONG afterRepaints = Allocations(process);
  CloseProgram(process, window);
  if (!ok) {
    std::fprintf(stderr, "fwbench: the probe build of Flashwright did not settle\n");
    return false;
  }
  PrintCount("allocations.rounds", rounds);
  PrintCount("allocations.scans", scans);
  PrintCount("allocations.repaints_seen_invalid", invalidated);
  const double perRescan = static_cast<double>(afterRescans - beforeRescans) / rounds;
  const double perRepaint = static_cast<double>(afterRepaints - afterRescans) / rounds;
  Print("allocations.per_rescan", perRescan);
  Print("allocations.per_repaint", perRepaint);
  // Every device change must have led to exactly one scan, and every repaint must have been
  // pending, or the figures above are not per rescan and per repaint.
  if (scans != rounds || invalidated != rounds) {
    std::fprintf(stderr, "fwbench: %d scans and %d repaints for %d rounds\n", scans, invalidated,
                 rounds);
    return false;
  }
  if (check && (perRescan > AllocationsPerRescanAim || perRepaint > AllocationsPerRepaintAim)) {
    std::fprintf(stderr,
                 "fwbench: %.2f allocations per rescan (at most %.0f), %.2f per repaint "
                 "(at most %.0f)\n",
                 perRescan, AllocationsPerRescanAim, perRepaint, AllocationsPerRepaintAim);
    return false;
  }
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: fwbench [startup PAIRS] [phases RUNS] [allocations ROUNDS] [idle SECONDS] "
               "[debounce BURSTS] [cli PAIRS] [--check]\n       fwbench burn\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "burn") return Burn();
  bool check = false;
  if (argc > 1 && std::string(argv[argc - 1]) == "--check") {
    check = true;
    --argc;
  }
  static const char* const Tasks[] = {"startup", "phases",   "allocations",
                                      "idle",    "debounce", "cli"};
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
    tasks = {{"startup", 20}, {"phases", 10},   {"allocations", 10},
             {"idle", 10},    {"debounce", 10}, {"cli", 20}};
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
    }
    return ok ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "fwbench: %s\n", error.what());
    return 1;
  }
}
