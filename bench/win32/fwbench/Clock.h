// fwbench's clock: the performance counter in milliseconds. The counter is one clock for every
// process, so times a probe build records compare with fwbench's own.
#pragma once

#include <windows.h>

namespace fwbench {

// The performance counter's ticks per millisecond.
inline double TicksPerMs() {
  static const double ticksPerMs = [] {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
  }();
  return ticksPerMs;
}

inline double NowMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / TicksPerMs();
}

}  // namespace fwbench
