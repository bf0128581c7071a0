// What Linux knows of the programs Wine runs, read from /proc (Z:\proc under Wine): the load
// average, the Linux process of a Windows program, and its threads' wake-ups and CPU time.
// Wine runs each Windows process as a Linux process, whose kernel counts every time a thread of
// it went to sleep and was woken (voluntary context switches).
#pragma once

#include <windows.h>

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fwbench {

// The Linux load averages (1, 5 and 15 minutes) and the running/all tasks, as /proc/loadavg
// gives them, or "n/a".
std::string LoadAverage();

// The Linux process id of the running program `exe`, recognised by its command line, which holds
// the program's file name and the name of its (unique) directory; nothing when none is found.
std::optional<std::string> LinuxPidOf(const std::filesystem::path& exe);

// What Linux counts for one thread: voluntary context switches (each time it went to sleep and
// was woken: a timer, a poll, a message) and the CPU time it ran, in nanoseconds.
struct ThreadCounters {
  long long wakeups = 0;
  long long runNs = 0;
};

// Wake-ups and CPU time of every thread of a process over a stretch of time, including threads
// that start or end within it. Linux keeps these per thread, and a thread's go with it, so the
// threads are read every PollMs: a thread that ends is counted up to the last reading that saw it
// (at most PollMs short), one that starts is counted from zero. The process's CPU time in clock
// ticks (CpuTicksMs) misses nothing of ended threads and serves as the check.
class ThreadActivity {
 public:
  static constexpr DWORD PollMs = 20;

  explicit ThreadActivity(std::string linuxPid);
  void Poll();
  // Read after the last Poll.
  void Finish();

  bool Readable() const { return readable_; }
  long long Wakeups() const;
  double CpuMs() const;
  std::optional<double> CpuTicksMs() const;
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
void Watch(const std::vector<ThreadActivity*>& activities, DWORD milliseconds);

}  // namespace fwbench
