#!/usr/bin/env python3
"""Prints the benchmark table from the result files scripts/bench.sh leaves in one directory.

scan.json is Google Benchmark's JSON output; the *.txt files hold key=value lines.
Usage: report.py RESULTS_DIR
"""
import json
import os
import sys

# Modules every Windows installation has; anything else among the imports must ship with us.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "oleaut32.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "version.dll", "winmm.dll",
}


def read_pairs(path):
    pairs = {}
    if os.path.exists(path):
        with open(path, encoding="utf-8", errors="replace") as source:
            for line in source:
                key, sep, value = line.strip().partition("=")
                if sep:
                    pairs[key] = value
    return pairs


def number(pairs, key):
    try:
        return float(pairs[key])
    except (KeyError, ValueError):
        return None


def scan_rows(path):
    """(world, median ns per scan, allocations per scan, bytes per scan) per benchmark."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as source:
        data = json.load(source)
    rows = []
    for entry in data.get("benchmarks", []):
        if entry.get("aggregate_name") != "median":
            continue
        name = entry["run_name"].split("/", 1)[-1]
        scale = {"ns": 1, "us": 1e3, "ms": 1e6}.get(entry.get("time_unit", "ns"), 1)
        rows.append((name, entry["real_time"] * scale, entry.get("allocs_per_scan"),
                     entry.get("bytes_per_scan")))
    return rows


def main():
    results = sys.argv[1]
    native = read_pairs(os.path.join(results, "native.txt"))
    wine = read_pairs(os.path.join(results, "wine.txt"))
    size = read_pairs(os.path.join(results, "size.txt"))
    machine = read_pairs(os.path.join(results, "machine.txt"))
    table = []  # (figure, value, aim)

    for world, nanoseconds, allocs, size_bytes in scan_rows(os.path.join(results, "scan.json")):
        table.append((f"scan time, {world}", f"{nanoseconds / 1000:.2f} us", "< 10 us"))
        table.append((f"scan heap allocations, {world}",
                      f"{allocs:.0f} ({size_bytes:.0f} bytes)", "16"))
    first, many = number(native, "callgrind.ir.1"), number(native, "callgrind.ir.101")
    if first and many:
        table.append(("scan instructions (callgrind), update-required",
                      f"{(many - first) / 100:.0f} per scan (first scan {first:.0f})", ""))

    if "startup.ratio" in wine:
        runs = int(number(wine, "startup.runs"))
        table.append((f"start-up to first frame, Flashwright (median of {runs})",
                      f"{number(wine, 'startup.flashwright.median_ms'):.1f} ms", ""))
        table.append((f"start-up, minimal window (median of {runs})",
                      f"{number(wine, 'startup.minimal.median_ms'):.1f} ms", ""))
        table.append(("start-up ratio Flashwright / minimal: medians (best runs)",
                      f"{number(wine, 'startup.ratio'):.2f} "
                      f"({number(wine, 'startup.best_ratio'):.2f}: "
                      f"{number(wine, 'startup.flashwright.best_ms'):.1f} / "
                      f"{number(wine, 'startup.minimal.best_ms'):.1f} ms)", "<= 1.1"))
    if "idle.seconds" in wine:
        seconds = int(number(wine, "idle.seconds"))
        for who in ("flashwright", "minimal"):
            cpu = number(wine, f"idle.{who}.cpu_ms")
            wakeups = wine.get(f"idle.{who}.wakeups", "n/a")
            if wakeups != "n/a":
                wakeups = f"{float(wakeups):.0f}"
            table.append((f"idle {seconds} s, {who}: CPU time / wake-ups",
                          f"{cpu:.1f} ms / {wakeups}", "0 / 0" if who == "flashwright" else ""))
    if "debounce.median_ms" in wine:
        table.append((f"rescan after a burst (median of {int(number(wine, 'debounce.bursts'))})",
                      f"{number(wine, 'debounce.median_ms'):.1f} ms "
                      f"(min {number(wine, 'debounce.min_ms'):.1f}, "
                      f"max {number(wine, 'debounce.max_ms'):.1f})", "200 ms"))
        table.append(("rescans per burst: extra / missed",
                      f"{number(wine, 'debounce.extra_scans'):.0f} / "
                      f"{number(wine, 'debounce.missed_scans'):.0f}", "0 / 0"))
    if "size.exe_bytes" in size:
        table.append(("Flashwright.exe size (stripped)",
                      f"{number(size, 'size.exe_bytes') / 1024:.0f} KiB "
                      f"({number(size, 'size.exe_stripped_bytes') / 1024:.0f} KiB)", ""))
        imports = [name for name in size.get("size.imports", "").split(",") if name]
        foreign = [name for name in imports if name.lower() not in SYSTEM_DLLS]
        table.append(("imported DLLs", ", ".join(imports) or "none",
                      "system only" + ("" if not foreign else f" (NOT: {', '.join(foreign)})")))

    width = max(len(row[0]) for row in table) if table else 10
    value_width = max(len(row[1]) for row in table) if table else 10
    print()
    print(f"{'figure':<{width}}  {'value':<{value_width}}  aim")
    print(f"{'-' * width}  {'-' * value_width}  ---")
    for figure, value, aim in table:
        print(f"{figure:<{width}}  {value:<{value_width}}  {aim}")
    print()
    for key in ("startup.flashwright.runs_ms", "startup.minimal.runs_ms", "debounce.runs_ms"):
        if key in wine:
            print(f"{key}: {wine[key]}")
    if "idle.flashwright.linux_threads" in wine:
        print("idle wake-ups: voluntary context switches of the Wine process (all its Linux "
              f"threads: Flashwright {wine['idle.flashwright.linux_threads']}, "
              f"minimal {wine.get('idle.minimal.linux_threads', '?')})")
    elif "idle.seconds" in wine:
        print("idle wake-ups: /proc of the Wine process could not be read; CPU time only")
    try:
        busy = float(machine["machine.load_before"].split()[0]) > 0.5 * float(machine["machine.nproc"])
    except (KeyError, ValueError, IndexError):
        busy = False
    if busy:
        print("NOTE: the machine was busy when the run began (load average above half the cores);"
              " timings under Wine may be disturbed: run again when it is quiet.")
    print(f"machine: {machine.get('machine.nproc', '?')} x {machine.get('machine.cpu', '?')}, "
          f"{machine.get('machine.wine', '?')}, {machine.get('machine.date', '?')}, load average "
          f"{machine.get('machine.load_before', '?')} before, "
          f"{machine.get('machine.load_after', '?')} after")


if __name__ == "__main__":
    main()
