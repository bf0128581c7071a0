// The allocations measurement: heap allocations of the program's own code per rescan and per
// repaint, counted by the probe build of Flashwright (see ProbeAllocations.cpp).
#include <windows.h>

#include <dbt.h>

#include <cstdio>
#include <filesystem>

#include "bench/win32/fwbench/Clock.h"
#include "bench/win32/fwbench/Figures.h"
#include "bench/win32/fwbench/Measurements.h"
#include "bench/win32/fwbench/ReadyWindow.h"
#include "bench/win32/fwbench/Starts.h"
#include "harness/AppWindow.h"
#include "harness/Driver.h"

namespace fwbench {
namespace {

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

LONG Allocations(const e2e::Process& process) {
  Start start;
  return ReadProbe(process, 0, start) ? start.allocations : -1;
}

// What the program may allocate: the scan's sixteen device-list slots per rescan, nothing per
// repaint. `fwbench allocations N --check` fails beyond these (a CTest test runs it).
constexpr double AllocationsPerRescanAim = 16;
constexpr double AllocationsPerRepaintAim = 0;

}  // namespace

// A rescan is what a device change leads to: the 200 ms timer, the scan, the status lines set and
// painted anew. A repaint is the whole main window with everything in it invalidated and drawn
// again.
bool MeasureAllocations(const Programs& programs, int rounds, bool check) {
  const std::filesystem::path log = programs.probeDir / "allocations-sim.log";
  e2e::Process process = e2e::Process::Launch(programs.flashwrightProbe, programs.probeDir,
                                              SimEnvironment(log.string()));
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

}  // namespace fwbench
