#!/usr/bin/env bash
# Runs every benchmark and prints one table: the scan's own cost (native, optimised, no
# sanitizers, in build/bench), start-up and where its time goes, the allocations of a rescan and
# a repaint, idle cost and rescan delay, `flashwright-cli status` and where its time goes under
# Wine (fwbench in build/win32), and the program's size and imports. A whole run writes the figures, judged against their aims, into BENCHMARKS.md
# between its markers; BENCHMARKS.md explains each figure.
# Usage: scripts/bench.sh [--native-only]
# Environment: FLASHWRIGHT_BENCH_STARTS (pairs of starts, 20 and more), FLASHWRIGHT_BENCH_PHASE_RUNS
#              (20), FLASHWRIGHT_BENCH_ROUNDS (10), FLASHWRIGHT_BENCH_IDLE_SECONDS (10),
#              FLASHWRIGHT_BENCH_BURSTS (10), FLASHWRIGHT_BENCH_QUIET_WAIT (seconds to wait for a
#              quiet machine before the Wine part, 120)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
nativeOnly=0
[ "${1:-}" = "--native-only" ] && nativeOnly=1
starts="${FLASHWRIGHT_BENCH_STARTS:-20}"
# Fewer pairs cannot give a median with a spread worth the name.
[ "$starts" -ge 20 ] || starts=20
phaseRuns="${FLASHWRIGHT_BENCH_PHASE_RUNS:-20}"
rounds="${FLASHWRIGHT_BENCH_ROUNDS:-10}"
idleSeconds="${FLASHWRIGHT_BENCH_IDLE_SECONDS:-10}"
bursts="${FLASHWRIGHT_BENCH_BURSTS:-10}"
quietWait="${FLASHWRIGHT_BENCH_QUIET_WAIT:-120}"
jobs="$(nproc 2>/dev/null || echo 2)"

benchDir="$root/build/bench"
win32Dir="$root/build/win32"
results="$benchDir/results"

bash scripts/install-deps.sh
mkdir -p "$results"
rm -f "$results"/*
loadBefore="$(cut -d' ' -f1-3 /proc/loadavg)"

# ---- 1. the scan, natively --------------------------------------------------------------------
echo "bench: building the native benchmarks (Release, no sanitizers) in build/bench" >&2
cmake -S "$root" -B "$benchDir" -DCMAKE_BUILD_TYPE=Release -DFLASHWRIGHT_SANITIZE=OFF >/dev/null
cmake --build "$benchDir" -j "$jobs" --target scan_bench scan_repeat >/dev/null

echo "bench: scan benchmark" >&2
"$benchDir/bench/scan_bench" --benchmark_min_time=0.2 --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true --benchmark_format=json \
  --benchmark_out="$results/scan.json" --benchmark_out_format=json >/dev/null 2>"$results/scan.err" || {
  cat "$results/scan.err" >&2
  exit 1
}

# Instructions per scan: callgrind counts only inside app::ScanAndShow and not inside the simulated
# library (entering one of its entry points, sim::bound::*, toggles collection off until it
# returns); the difference between 101 scans and 1 scan leaves out the first scan's one-off costs
# (lazy symbol binding).
if command -v valgrind >/dev/null 2>&1; then
  echo "bench: callgrind" >&2
  for scans in 1 101; do
    valgrind --tool=callgrind --callgrind-out-file="$results/callgrind.$scans.out" \
      --toggle-collect='app::ScanAndShow*' --toggle-collect='sim::bound::*' \
      "$benchDir/bench/scan_repeat" "$scans" \
      >/dev/null 2>"$results/callgrind.$scans.err"
    collected="$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$results/callgrind.$scans.err")"
    echo "callgrind.ir.$scans=${collected:-0}" >>"$results/native.txt"
  done
fi

# ---- 2-4. under Wine --------------------------------------------------------------------------
if [ "$nativeOnly" = 0 ]; then
  echo "bench: building Flashwright, the simulator and fwbench in build/win32" >&2
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 -j "$jobs" --target fwbench >/dev/null
  # The builds just now load the machine themselves: give the load average a while to settle
  # below half the cores (it decays over a minute or so). A machine that stays busy is measured
  # all the same, and report.py then withholds the start-up ratio.
  limit=$(awk -v n="$jobs" 'BEGIN { print n / 2 }')
  for ((waited = 0; waited < quietWait; waited += 5)); do
    awk -v l="$limit" '{ exit !($1 <= l) }' /proc/loadavg && break
    [ "$waited" = 0 ] && echo "bench: waiting up to ${quietWait} s for the load average to fall to $limit" >&2
    sleep 5
  done
  echo "bench: under Wine: $starts pairs of starts, $phaseRuns probe starts each, $rounds rescans" \
    "and repaints, $idleSeconds idle seconds, $bursts bursts, $starts pairs of command-line runs," \
    "$phaseRuns probe runs each" >&2
  bash scripts/with-display.sh wine "$win32Dir/bin/fwbench.exe" startup "$starts" \
    phases "$phaseRuns" allocations "$rounds" idle "$idleSeconds" debounce "$bursts" cli "$starts" \
    cli-phases "$phaseRuns" \
    >"$results/wine.txt" 2>"$results/wine.err" || {
    cat "$results/wine.err" >&2
    echo "bench: fwbench failed" >&2
    exit 1
  }
  tr -d '\r' <"$results/wine.txt" >"$results/wine.tmp" && mv "$results/wine.tmp" "$results/wine.txt"

  # ---- 5. size and imports --------------------------------------------------------------------
  # As built: the Release link strips it already.
  exe="$win32Dir/bin/Flashwright.exe"
  {
    echo "size.exe_bytes=$(stat -c %s "$exe")"
    imports="$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | sort -fu | paste -sd, -)"
    echo "size.imports=$imports"
    # Each section's size in the file, to say where the bytes are.
    i686-w64-mingw32-objdump -h "$exe" | while read -r index name size _; do
      if [[ "$index" =~ ^[0-9]+$ ]]; then echo "size.section.$name=$((16#$size))"; fi
    done
  } >"$results/size.txt"
fi

loadAfter="$(cut -d' ' -f1-3 /proc/loadavg)"
{
  echo "machine.nproc=$(nproc)"
  echo "machine.cpu=$(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"
  echo "machine.wine=$(wine --version 2>/dev/null || echo none)"
  echo "machine.date=$(date -u +%Y-%m-%dT%H:%MZ)"
  echo "machine.load_before=$loadBefore"
  echo "machine.load_after=$loadAfter"
} >"$results/machine.txt"

# A whole run writes its figures into BENCHMARKS.md; a native-only run only prints them.
if [ "$nativeOnly" = 0 ]; then
  python3 "$root/bench/report.py" "$results" --write "$root/BENCHMARKS.md"
else
  python3 "$root/bench/report.py" "$results"
fi
