#!/usr/bin/env python3
"""Keeps the floors of ARCHITECTURE.md: an #include only points down, never up nor sideways into
a sibling room, the portable rooms never include Windows headers, and no header includes itself
back through others (no include cycle). `make lint` runs it; it prints each offending line and
exits 1 when there is one.

Usage: scripts/check-floors.py [FILE ...]   (default: every .cpp and .h git knows)
"""
import os
import re
import subprocess
import sys

# Each room and the rooms directly below it, which it may include; a room may include everything
# below those too, and itself. The tests, the benchmarks and the harness they share stand outside
# the floors: they may include any room, and no room may include them.
BELOW = {
    "platform": set(),
    "platform/win32": {"platform"},
    "updatelib": {"platform"},
    "device": {"updatelib"},
    "update": {"updatelib"},
    "trail": {"device", "update"},
    "app": {"trail"},
    "cli": {"trail"},
    "programs": {"app", "cli", "platform/win32"},
    "recording": {"updatelib"},
    "sim": {"recording", "platform/win32"},
    "recorder": {"recording", "platform/win32"},
}
OUTSIDE = ("tests", "bench", "harness")
# Everything that decides is portable C++: it never sees Windows.
PORTABLE = ("platform", "updatelib", "device", "update", "trail", "app", "cli", "recording")
WINDOWS_HEADERS = re.compile(r"#\s*include\s*<(windows|winbase|winuser|dbt|shlobj|oleacc)\.h>",
                             re.IGNORECASE)
OUR_INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def Room(path):
    """The room a file of ours lives in: its folder, platform/win32 on its own."""
    if path.startswith("platform/win32/"):
        return "platform/win32"
    top = path.split("/", 1)[0]
    return top


def Allowed(room):
    allowed, todo = {room}, [room]
    while todo:
        for lower in BELOW.get(todo.pop(), ()):
            if lower not in allowed:
                allowed.add(lower)
                todo.append(lower)
    return allowed


def main(files):
    problems = []
    graph = {}
    for path in files:
        room = Room(path)
        if "/" not in path:
            continue
        if room not in BELOW and room not in OUTSIDE:
            problems.append(f"{path}: the room {room}/ is on no floor (add it to scripts/check-floors.py "
                            "and ARCHITECTURE.md)")
            continue
        try:
            with open(path, encoding="utf-8", errors="replace") as source:
                lines = source.read().splitlines()
        except OSError as error:
            problems.append(f"{path}: cannot read: {error}")
            continue
        graph[path] = []
        for number, line in enumerate(lines, 1):
            if room in PORTABLE and WINDOWS_HEADERS.search(line):
                problems.append(f"{path}:{number}: {room}/ is portable and includes a Windows header")
            match = OUR_INCLUDE.match(line)
            if not match:
                continue
            included = match.group(1)
            if "/" not in included:
                continue  # beside the file (the tests' own headers)
            target = Room(included)
            graph[path].append(included)
            if room in OUTSIDE:
                continue
            if target in OUTSIDE:
                problems.append(f"{path}:{number}: includes {included}: no room may include {target}/")
            elif target not in BELOW:
                continue  # a third party's folder (CLI/, nlohmann/)
            elif target not in Allowed(room):
                problems.append(f"{path}:{number}: includes {included}: {target}/ is not below {room}/")

    # Include cycles among our headers.
    state = {}

    def Visit(path, trail):
        state[path] = "open"
        for included in graph.get(path, ()):
            if state.get(included) == "open":
                cycle = trail[trail.index(included):] + [included] if included in trail else [path, included]
                problems.append("include cycle: " + " -> ".join(cycle))
            elif included in graph and included not in state:
                Visit(included, trail + [included])
        state[path] = "done"

    for path in sorted(graph):
        if path not in state:
            Visit(path, [path])

    for problem in problems:
        print(f"check-floors: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    files = sys.argv[1:] or subprocess.run(
        ["git", "ls-files", "--cached", "--others", "--exclude-standard", "--", "*.cpp", "*.h"],
        check=True, capture_output=True, text=True).stdout.split()
    sys.exit(main(sorted(set(files))))
