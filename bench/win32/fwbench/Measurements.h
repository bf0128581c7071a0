// fwbench's seven measurements, one file each. Each prints its figures (Figures.h) and returns
// false when it could not take them, after saying why on standard error.
#pragma once

#include "bench/win32/fwbench/Programs.h"

namespace fwbench {

// Start-up of the shipped window program against the minimal window, PAIRS pairs (Startup.cpp).
bool MeasureStartup(const Programs& programs, int pairs);
// Where start-up time goes, from the probe builds, RUNS starts each (Phases.cpp).
bool MeasurePhases(const Programs& programs, int runs);
// Heap allocations per rescan and per repaint in the probe build (Allocations.cpp); with `check`,
// false when they exceed their aim.
bool MeasureAllocations(const Programs& programs, int rounds, bool check);
// Wake-ups and CPU time of an idle open window against the minimal one (Idle.cpp).
bool MeasureIdle(const Programs& programs, int seconds);
// The rescan delay after a burst of device changes (Debounce.cpp).
bool MeasureDebounce(const Programs& programs, int bursts);
// `flashwright-cli status` against the bare console program, PAIRS pairs (Cli.cpp).
bool MeasureCli(const Programs& programs, int pairs);
// Where the time of `flashwright-cli status` goes, from the probe builds, RUNS runs each (Cli.cpp).
bool MeasureCliPhases(const Programs& programs, int runs);

// `fwbench burn`: the program the idle measurement watches to check itself (Idle.cpp).
int Burn();

}  // namespace fwbench
