#!/usr/bin/env python3
"""Judges the benchmark results scripts/bench.sh leaves in one directory against their aims.

Prints the table, and with --write FILE replaces the part of FILE between its markers
"<!-- latest:begin -->" and "<!-- latest:end -->" with the machine, the table (each figure with its
aim and whether it is met), where the window's start-up and the command line's run spend their
time, and for each aim not met the measured reason. An aim stays where it is set: a figure that
misses it is reported as not met, never passed by moving the aim.
scan.json is Google Benchmark's JSON output; the *.txt files hold key=value lines.
Usage: report.py RESULTS_DIR [--write BENCHMARKS.md]
"""
import json
import os
import re
import sys

# Modules every Windows installation has; anything else among the imports must ship with us.
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "oleaut32.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "version.dll", "winmm.dll",
}

SIZE_LIMIT = 440_000          # bytes, Flashwright.exe as built (Release, stripped)
SCAN_ALLOCATIONS = 16         # the scan's device-list slots
RESCAN_ALLOCATIONS = 16       # the same, for the whole rescan in the shipped window code
REPAINT_ALLOCATIONS = 0
STARTUP_RATIO = 1.10          # Flashwright against the minimal window
CLI_RATIO = 1.25              # flashwright-cli status against a bare console program
MIN_PAIRS = 20
# A start-up figure is valid only on a machine quiet enough: the interquartile range of the pairs'
# ratios at most this share of their median, and the 1-minute load average at the start of the
# series at most this share of the cores.
MAX_RELATIVE_SPREAD = 0.15
MAX_LOAD_PER_CORE = 0.75
DEBOUNCE_MS = (200.0, 210.0)  # the design's 200 ms, plus Wine's timer and message delivery

BEGIN = "<!-- latest:begin -->"
END = "<!-- latest:end -->"


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


def phases(wine, subject, prefix="phases"):
    """[(name, median ms)] of one probe build's phases, in order: the window's start-up
    ("phases") or the command line's run ("cli_phases")."""
    count = number(wine, f"{prefix}.{subject}.count")
    if count is None:
        return []
    return [(wine.get(f"{prefix}.{subject}.{i}.name", "?"),
             number(wine, f"{prefix}.{subject}.{i}.median_ms") or 0.0) for i in range(int(count))]


def phase(rows, name):
    return next((ms for phase_name, ms in rows if phase_name == name), None)


def met(flag):
    return "met" if flag else "**not met**"


def phase_lines(wine, columns, prefix, total_label, intro):
    """The phase table's lines: `intro`, then a row per phase (in the order of the column with the
    most phases), their sums, and each column's whole median from `<prefix>.<key>.total_median_ms`.
    `columns` are (key, label, [(phase, ms)])."""
    names = []
    for _, _, rows in sorted(columns, key=lambda column: -len(column[2])):
        for name, _ in rows:
            if name not in names:
                names.append(name)
    lines = [intro, "", "| Phase | " + " | ".join(label for _, label, _ in columns) + " |",
             "|---|" + "---|" * len(columns)]
    for name in names:
        cells = []
        for _, _, rows in columns:
            value = phase(rows, name)
            cells.append("" if value is None else f"{value:.1f}")
        lines.append(f"| {name} | " + " | ".join(cells) + " |")
    lines.append("| **sum of the phases** | " + " | ".join(
        f"**{sum(ms for _, ms in rows):.1f}**" for _, _, rows in columns) + " |")
    lines.append(f"| {total_label} | " + " | ".join(
        f"{number(wine, f'{prefix}.{key}.total_median_ms'):.1f}" for key, _, _ in columns) + " |")
    return lines


class Report:
    def __init__(self, results):
        self.native = read_pairs(os.path.join(results, "native.txt"))
        self.wine = read_pairs(os.path.join(results, "wine.txt"))
        self.size = read_pairs(os.path.join(results, "size.txt"))
        self.machine = read_pairs(os.path.join(results, "machine.txt"))
        self.scans = scan_rows(os.path.join(results, "scan.json"))
        self.rows = []     # (figure, value, aim, verdict)
        self.reasons = []  # paragraphs: why an aim is not met, or why a figure is not valid
        self.notes = []    # paragraphs: what else the figures say

    # ---- the figures ------------------------------------------------------------------------

    def scan(self):
        by_world = {world.replace("_", "-"): ns for world, ns, _, _ in self.scans}
        if "update-required" in by_world:
            ns = by_world["update-required"]
            self.rows.append(("scan time, device needing the update (native)",
                              f"{ns / 1000:.2f} µs", "< 10 µs", met(ns < 10_000)))
        others = [by_world[w] for w in ("up-to-date", "no-device", "multiple-devices")
                  if w in by_world]
        if others:
            self.rows.append(("scan time, current device / no device / two devices",
                              " / ".join(f"{ns / 1000:.2f}" for ns in others) + " µs", "< 10 µs",
                              met(all(ns < 10_000 for ns in others))))
        allocs = {allocs for _, _, allocs, _ in self.scans if allocs is not None}
        if allocs:
            sizes = {size for _, _, _, size in self.scans if size is not None}
            self.rows.append(("heap allocations per scan, every road (native)",
                              " / ".join(f"{a:.0f}" for a in sorted(allocs)) +
                              " (" + " / ".join(f"{s:.0f}" for s in sorted(sizes)) + " bytes)",
                              f"{SCAN_ALLOCATIONS}", met(max(allocs) <= SCAN_ALLOCATIONS)))
        first, many = number(self.native, "callgrind.ir.1"), number(self.native, "callgrind.ir.101")
        if first and many:
            self.rows.append(("instructions per scan (callgrind, device needing the update)",
                              f"{(many - first) / 100:.0f}", "", ""))

    def allocations(self):
        w = self.wine
        rescan, repaint = number(w, "allocations.per_rescan"), number(w, "allocations.per_repaint")
        if rescan is None or repaint is None:
            return
        rounds = int(number(w, "allocations.rounds") or 0)
        self.rows.append((f"heap allocations per rescan, shipped window code (probe build under "
                          f"Wine, {rounds} rescans)", f"{rescan:g}", f"{RESCAN_ALLOCATIONS}",
                          met(rescan <= RESCAN_ALLOCATIONS)))
        self.rows.append((f"heap allocations per repaint of the main window ({rounds} repaints)",
                          f"{repaint:g}", f"{REPAINT_ALLOCATIONS}",
                          met(repaint <= REPAINT_ALLOCATIONS)))
        if rescan > RESCAN_ALLOCATIONS or repaint > REPAINT_ALLOCATIONS:
            self.reasons.append(
                f"**Allocations.** A rescan allocates {rescan:g} times where the scan's own "
                f"{SCAN_ALLOCATIONS} slots are the aim, a repaint {repaint:g} times: some text is "
                "still copied to the heap on its way to or from a window.")

    def pair_problems(self, prefix, median, pairs, q1, q3):
        """Why the pairwise ratios under `prefix` (their median, count and quartiles) cannot be
        trusted, if they cannot: too few pairs, too wide a spread, or a busy machine as they
        began."""
        w = self.wine
        spread = (q3 - q1) / median
        nproc = float(self.machine.get("machine.nproc", "2") or 2)
        try:
            load = float(w.get(f"{prefix}.load_before", "").split()[0])
        except (ValueError, IndexError):
            load = None
        problems = []
        if pairs < MIN_PAIRS:
            problems.append(f"only {pairs} pairs of starts (at least {MIN_PAIRS})")
        if spread > MAX_RELATIVE_SPREAD:
            problems.append(f"the pairs' ratios spread too wide (interquartile range {q1:.2f} – "
                            f"{q3:.2f}, {spread:.0%} of the median; at most "
                            f"{MAX_RELATIVE_SPREAD:.0%})")
        if load is not None and load > MAX_LOAD_PER_CORE * nproc:
            problems.append(f"the machine was busy (load average {load:.2f} on {nproc:.0f} cores "
                            f"as the starts began; at most {MAX_LOAD_PER_CORE * nproc:.2f})")
        return problems

    def pair_rows(self, prefix, times, ratio_label, aim):
        """The rows of a pairwise figure: the two medians (`times`: label, our key, floor key),
        then the median ratio judged against `aim`, or withheld. Returns (median, problems), or
        None when the run did not take the figure."""
        w = self.wine
        median = number(w, f"{prefix}.ratio.median")
        if median is None:
            return None
        pairs = int(number(w, f"{prefix}.pairs"))
        q1, q3 = number(w, f"{prefix}.ratio.q1"), number(w, f"{prefix}.ratio.q3")
        problems = self.pair_problems(prefix, median, pairs, q1, q3)
        label, ours, floor = times
        self.rows.append((f"{label} (median of {pairs})", f"{number(w, ours):.1f} / "
                          f"{number(w, floor):.1f} ms", "", ""))
        value = (f"**{median:.2f}** (IQR {q1:.2f} – {q3:.2f})" if not problems
                 else f"not valid ({median:.2f}, IQR {q1:.2f} – {q3:.2f})")
        verdict = "not valid" if problems else met(median <= aim)
        self.rows.append((f"{ratio_label}: median of {pairs} pairwise ratios, alternating starts",
                          value, f"≤ {aim:.2f}", verdict))
        return median, problems

    def startup(self):
        w = self.wine
        taken = self.pair_rows("startup", ("start-up to first frame, Flashwright / minimal window",
                                           "startup.flashwright.median_ms",
                                           "startup.minimal.median_ms"),
                               "start-up ratio", STARTUP_RATIO)
        if taken is None:
            return
        median, problems = taken
        lean = number(w, "startup.lean_library.ratio.median")
        if lean is not None:
            lean_q1 = number(w, "startup.lean_library.ratio.q1")
            lean_q3 = number(w, "startup.lean_library.ratio.q3")
            self.rows.append(("the same, Flashwright beside the simulator built without the stack "
                              "protector", (f"{lean:.2f} (IQR {lean_q1:.2f} – {lean_q3:.2f})"
                                            if not problems else "not valid"), "", ""))
        if problems:
            self.reasons.append(
                "**Start-up: no valid figure this run.** " + "; ".join(problems).capitalize() +
                ". The ratio is withheld rather than reported: run `make bench` again on a quiet "
                "machine. The phases above are taken all the same, as medians, for orientation.")
        elif median > STARTUP_RATIO:
            self.reasons.append(self.startup_reason(median))

    def cli(self):
        w = self.wine
        taken = self.pair_rows("cli", ("`flashwright-cli status` start to end / bare console "
                                       "program", "cli.status.median_ms", "cli.minimal.median_ms"),
                               "command-line ratio", CLI_RATIO)
        if taken is None:
            return
        median, problems = taken
        if problems:
            self.reasons.append("**Command line: no valid figure this run.** " +
                                "; ".join(problems).capitalize() + "." +
                                (f" Its median, {median:.2f}, is above the aim of "
                                 f"{CLI_RATIO:.2f}. {self.cli_reason()}"
                                 if median > CLI_RATIO else ""))
        elif median > CLI_RATIO:
            self.reasons.append(
                f"**Command line: {median:.2f}, above {CLI_RATIO:.2f}.** `flashwright-cli status` "
                f"takes {number(w, 'cli.status.median_ms'):.1f} ms from start to end against "
                f"{number(w, 'cli.minimal.median_ms'):.1f} ms for a console program that prints "
                f"one line. {self.cli_reason()}")

    def cli_reason(self):
        """Where the command line's time goes beyond the bare console program's, from the probe
        builds' phases."""
        w = self.wine
        floor, ours = phases(w, "minimal_console", "cli_phases"), phases(w, "cli", "cli_phases")
        if not floor or not ours:
            return "The probe builds gave no phases, so where the time goes was not measured."
        floor_total = sum(ms for _, ms in floor)
        ours_total = sum(ms for _, ms in ours)
        common = ("process start to main", "process end")
        own = sorted(((ms, name) for name, ms in ours if name not in common), reverse=True)
        shared = ", ".join(f"{name} {phase(ours, name) or 0:.1f} against "
                           f"{phase(floor, name) or 0:.1f}" for name in common)
        return (f"In the probe builds (sums of the phases' medians) it takes {ours_total:.1f} ms "
                f"and the bare program {floor_total:.1f} ms; the aim allows "
                f"{(CLI_RATIO - 1) * floor_total:.1f} ms more than the bare program. What both do, "
                f"in ms: {shared}. The largest of its own phases, in ms: " +
                ", ".join(f"{name} {ms:.1f}" for ms, name in own[:4]) + ".")

    def startup_reason(self, median):
        w = self.wine
        floor, ours = phases(w, "minimal"), phases(w, "flashwright")
        lean = phases(w, "flashwright_lean_library")
        if not floor or not ours:
            return (f"**Start-up: {median:.2f}, above {STARTUP_RATIO:.2f}.** The probe builds gave "
                    "no phases, so where the time goes was not measured this run.")
        floor_total = sum(ms for _, ms in floor)
        ours_total = sum(ms for _, ms in ours)
        allowed = (STARTUP_RATIO - 1) * floor_total
        common = ["process start to main", "window classes", "application window",
                  "first frame seen"]
        ours_common = sum(ms for name, ms in ours if name in common)
        floor_common = sum(ms for name, ms in floor if name != "window shown and painted")
        shown = "main window shown and painted"
        extra = [(name, ms) for name, ms in ours if name not in common and name != shown]
        shown_ours = phase(ours, shown) or 0
        shown_floor = phase(floor, "window shown and painted") or 0
        library = phase(ours, "library loaded") or 0
        library_lean = phase(lean, "library loaded")
        parts = ", ".join(f"{name} {ms:.1f}" for name, ms in extra)
        text = (f"**Start-up: {median:.2f}, above {STARTUP_RATIO:.2f}.** In the probe builds "
                f"(sums of the phases' medians) Flashwright takes {ours_total:.1f} ms and the "
                f"minimal window {floor_total:.1f} ms; the aim allows {allowed:.1f} ms more than "
                f"the floor. What both do (the process start, loading the display driver, the "
                f"first window, seeing the first frame) costs them alike: {ours_common:.1f} against "
                f"{floor_common:.1f} ms. What only Flashwright does, in ms: {parts}; and showing "
                f"and painting its main window takes {shown_ours:.1f} against the floor's "
                f"{shown_floor:.1f} ms for its one window. ")
        if library_lean is not None:
            text += (f"The largest single part is loading the update library, {library:.1f} ms: "
                     f"with the simulator built without the stack protector it is "
                     f"{library_lean:.1f} ms, so {library - library_lean:.1f} ms of it is the "
                     "simulator seeding its stack guard through CryptoAPI (loading and unloading "
                     "three system DLLs) in its own start-up, which is not Flashwright's code. ")
        lean_ratio = number(w, "startup.lean_library.ratio.median")
        if lean_ratio is not None:
            text += (f"Started beside that simulator, the shipped Flashwright stands at "
                     f"{lean_ratio:.2f} of the floor. ")
        # The library's share of the figure: its phase over the floor's whole start.
        without = median - library / floor_total
        text += (f"Without loading any library at all it would stand at about {without:.2f} "
                 f"({median:.2f} less {library:.1f} ms over the floor's {floor_total:.1f}): the "
                 "rest of the gap is a main window with twelve controls, two fonts of its own and "
                 "the focus on a button, shown beside a taskbar entry, against one bare window.")
        return text

    def idle(self):
        w = self.wine
        if "idle.seconds" not in w:
            return
        seconds = int(number(w, "idle.seconds"))
        slices = number(w, "idle.check.slices") or 0
        slice_ms = number(w, "idle.check.slice_ms") or 0
        check_cpu = number(w, "idle.check.cpu_ticks_ms")
        check_wakeups = number(w, "idle.check.wakeups")
        check_ended = number(w, "idle.check.threads_ended")
        # The check's thread used slices x slice_ms of CPU time and slept `slices` times, then
        # ended; both counts must see most of it.
        trusted = (check_cpu is not None and check_wakeups is not None and check_ended and
                   check_cpu >= 0.75 * slices * slice_ms and check_wakeups >= slices / 2)
        self.rows.append(("idle measurement's check: a thread that used "
                          f"{slices * slice_ms:.0f} ms and slept {slices:.0f} times, then ended",
                          (f"{check_cpu:.0f} ms / {check_wakeups:.0f} wake-ups seen"
                           if check_cpu is not None and check_wakeups is not None else "n/a"),
                          "seen", "met" if trusted else "**not met**"))
        for who in ("flashwright", "minimal"):
            wakeups = number(w, f"idle.{who}.wakeups")
            cpu = number(w, f"idle.{who}.cpu_ms")
            ticks = number(w, f"idle.{who}.cpu_ticks_ms")
            threads = number(w, f"idle.{who}.linux_threads")
            if wakeups is None or cpu is None:
                self.rows.append((f"idle {seconds} s, {who}", "n/a (/proc not readable)",
                                  "0 / 0" if who == "flashwright" else "", ""))
                continue
            value = (f"{cpu:.2f} ms ({ticks:.0f} ms in ticks) / {wakeups:.0f} "
                     f"({threads:.0f} thread{'s' if threads != 1 else ''})")
            if who == "flashwright":
                ok = trusted and wakeups == 0 and cpu < 1 and ticks == 0
                self.rows.append((f"idle {seconds} s, Flashwright: CPU time / wake-ups, every "
                                  "thread", value, "0 / 0", met(ok) if trusted else "not valid"))
                if trusted and not ok:
                    self.reasons.append(
                        f"**Idle.** Over {seconds} s the open window used {cpu:.2f} ms of CPU time "
                        f"and woke {wakeups:.0f} times: something polls or a timer runs.")
            else:
                self.rows.append((f"idle {seconds} s, minimal window", value, "", ""))
        if not trusted:
            self.reasons.append(
                "**Idle: the measurement's own check failed.** The counts did not see the check's "
                "ended thread, so the idle figures are not trusted this run.")

    def debounce(self):
        w = self.wine
        median = number(w, "debounce.median_ms")
        if median is None:
            return
        bursts = int(number(w, "debounce.bursts"))
        low, high = number(w, "debounce.min_ms"), number(w, "debounce.max_ms")
        extra, missed = number(w, "debounce.extra_scans"), number(w, "debounce.missed_scans")
        self.rows.append((f"rescan after the last change of a burst (median of {bursts})",
                          f"{median:.1f} ms ({low:.1f} – {high:.1f})",
                          f"{DEBOUNCE_MS[0]:.0f} ms", met(DEBOUNCE_MS[0] <= median <= DEBOUNCE_MS[1])))
        self.rows.append(("rescans per burst: extra / missed", f"{extra:.0f} / {missed:.0f}",
                          "0 / 0", met(extra == 0 and missed == 0)))

    def program_size(self):
        exe = number(self.size, "size.exe_bytes")
        if exe is None:
            return
        self.rows.append(("`Flashwright.exe` size (Release, stripped)", f"{exe:,.0f} bytes",
                          f"≤ {SIZE_LIMIT:,}", met(exe <= SIZE_LIMIT)))
        imports = [name for name in self.size.get("size.imports", "").split(",") if name]
        foreign = [name for name in imports if name.lower() not in SYSTEM_DLLS]
        self.rows.append(("imported DLLs", ", ".join(imports) or "none", "system only",
                          met(not foreign)))
        if exe > SIZE_LIMIT:
            sections = [(name[len("size.section."):], number(self.size, name))
                        for name in self.size if name.startswith("size.section.")]
            parts = ", ".join(f"{name} {size:,.0f}" for name, size in
                              sorted(sections, key=lambda section: -section[1]))
            self.reasons.append(f"**Size.** `Flashwright.exe` is {exe:,.0f} bytes, "
                                f"{exe - SIZE_LIMIT:,.0f} over the aim." +
                                (f" Its sections, in bytes: {parts}." if parts else ""))

    # ---- output -----------------------------------------------------------------------------

    def build(self):
        self.scan()
        self.allocations()
        self.startup()
        self.cli()
        self.idle()
        self.debounce()
        self.program_size()

    def machine_line(self):
        m = self.machine
        return (f"Machine: {m.get('machine.nproc', '?')} cores, {m.get('machine.cpu', '?')}, "
                f"{m.get('machine.wine', '?')}, {m.get('machine.date', '?')}; load average "
                f"{m.get('machine.load_before', '?')} when the run began, "
                f"{self.wine.get('startup.load_before', '?')} as the start-up pairs began, "
                f"{m.get('machine.load_after', '?')} at the end.")

    # The floor's phases on the rows of Flashwright's that do the same: its one window is
    # Flashwright's window classes and application window together.
    FLOOR_ROWS = {"window": "application window",
                  "window shown and painted": "main window shown and painted"}

    def phase_table(self):
        w = self.wine
        subjects = [("minimal", "minimal window"), ("flashwright", "Flashwright"),
                    ("flashwright_lean_library", "Flashwright, simulator without stack protector")]
        columns = []
        for key, label in subjects:
            rows = phases(w, key)
            if key == "minimal":
                rows = [(self.FLOOR_ROWS.get(name, name), ms) for name, ms in rows]
            if rows:
                columns.append((key, label, rows))
        if not columns:
            return []
        runs = int(number(w, "phases.runs") or 0)
        lines = phase_lines(
            w, columns, "phases", "whole start, median",
            f"Where start-up time goes: probe builds, median of {runs} starts each, in ms "
            "(each phase from the end of the one before; the first from `CreateProcess`; the "
            "minimal window's one window stands on the row of Flashwright's application "
            "window, its showing on that of Flashwright's main window).")
        allocs = number(w, "phases.flashwright.startup_allocations")
        if allocs is not None:
            lines += ["", f"Flashwright's own code allocates {allocs:.0f} times during start-up "
                      "(probe build)."]
        return lines

    def cli_phase_table(self):
        w = self.wine
        # The bare program's one line stands on the row of the table the command prints.
        floor_rows = {"line written": "table"}
        columns = []
        for key, label in (("minimal_console", "bare console program"),
                           ("cli", "`flashwright-cli status`")):
            rows = [(floor_rows.get(name, name) if key == "minimal_console" else name, ms)
                    for name, ms in phases(w, key, "cli_phases")]
            if rows:
                columns.append((key, label, rows))
        if not columns:
            return []
        runs = int(number(w, "cli_phases.runs") or 0)
        lines = phase_lines(
            w, columns, "cli_phases", "whole run, median",
            f"Where the command line's time goes: probe builds, median of {runs} runs each, "
            "in ms (each phase from the end of the one before; the first from "
            "`CreateProcess`, the last until the process has ended; the bare program's line "
            "stands on the row of the table `status` prints).")
        return lines

    def markdown(self):
        lines = [self.machine_line(), "",
                 "| Figure | Value | Aim | |", "|---|---|---|---|"]
        for figure, value, aim, verdict in self.rows:
            lines.append(f"| {figure} | {value} | {aim} | {verdict} |")
        runs = self.wine.get("startup.ratio.runs")
        if runs:
            lines += ["", f"Start-up, each pair's ratio in the order taken: {runs.replace(',', ', ')}."]
        for table in (self.phase_table(), self.cli_phase_table()):
            if table:
                lines += [""] + table
        if self.reasons:
            lines += ["", "### Aims not met, and why", ""]
            for reason in self.reasons:
                lines += [reason, ""]
            lines.pop()
        return "\n".join(lines)

    def text(self):
        width = max(len(row[0]) for row in self.rows) if self.rows else 10
        value_width = max(len(row[1]) for row in self.rows) if self.rows else 10
        out = [f"{'figure':<{width}}  {'value':<{value_width}}  aim", "-" * (width + value_width + 8)]
        for figure, value, aim, verdict in self.rows:
            out.append(f"{figure:<{width}}  {value:<{value_width}}  {aim}  {verdict}".rstrip())
        for table in (self.phase_table(), self.cli_phase_table()):
            if table:
                out += [""] + table
        if self.reasons:
            out += [""] + [re.sub(r"\*\*", "", reason) for reason in self.reasons]
        out += ["", self.machine_line()]
        return "\n".join(out)


def write_section(path, body):
    with open(path, encoding="utf-8") as source:
        text = source.read()
    begin, end = text.find(BEGIN), text.find(END)
    if begin < 0 or end < begin:
        raise SystemExit(f"report.py: {path} has no {BEGIN} ... {END} section")
    text = text[:begin + len(BEGIN)] + "\n" + body + "\n" + text[end:]
    with open(path, "w", encoding="utf-8") as target:
        target.write(text)


def main():
    args = sys.argv[1:]
    if not args or args[0].startswith("-"):
        raise SystemExit(__doc__)
    report = Report(args[0])
    report.build()
    print()
    print(report.text())
    if len(args) == 3 and args[1] == "--write":
        write_section(args[2], report.markdown())
        print(f"\nreport.py: wrote the figures into {args[2]}")


if __name__ == "__main__":
    main()
