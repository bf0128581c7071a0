// Reads the load average and the programs' Linux processes and threads from /proc; see
// LinuxProcess.h.
#include "bench/win32/fwbench/LinuxProcess.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "bench/win32/fwbench/Clock.h"

namespace fwbench {
namespace {

namespace fs = std::filesystem;

const fs::path ProcRoot = "Z:\\proc";

std::string ReadWhole(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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

}  // namespace

std::string LoadAverage() {
  std::ifstream in(ProcRoot / "loadavg");
  std::string one, five, fifteen, tasks;
  if (!(in >> one >> five >> fifteen >> tasks)) return "n/a";
  return one + " " + five + " " + fifteen + " " + tasks;
}

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

ThreadActivity::ThreadActivity(std::string linuxPid) : linuxPid_(std::move(linuxPid)) {
  if (auto threads = ReadThreads(linuxPid_)) {
    first_ = last_ = *threads;
    readable_ = true;
  }
  cpuTicksBefore_ = ProcessCpuMs(linuxPid_);
}

void ThreadActivity::Poll() {
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

void ThreadActivity::Finish() { cpuTicksAfter_ = ProcessCpuMs(linuxPid_); }

long long ThreadActivity::Wakeups() const {
  long long total = 0;
  for (const auto& [thread, counters] : last_)
    total += counters.wakeups - first_.at(thread).wakeups;
  return total;
}

double ThreadActivity::CpuMs() const {
  long long total = 0;
  for (const auto& [thread, counters] : last_) total += counters.runNs - first_.at(thread).runNs;
  return static_cast<double>(total) / 1e6;
}

std::optional<double> ThreadActivity::CpuTicksMs() const {
  if (!cpuTicksBefore_ || !cpuTicksAfter_) return std::nullopt;
  return *cpuTicksAfter_ - *cpuTicksBefore_;
}

void Watch(const std::vector<ThreadActivity*>& activities, DWORD milliseconds) {
  const double end = NowMs() + milliseconds;
  while (NowMs() < end) {
    Sleep(ThreadActivity::PollMs);
    for (ThreadActivity* activity : activities) activity->Poll();
  }
  for (ThreadActivity* activity : activities) activity->Finish();
}

}  // namespace fwbench
