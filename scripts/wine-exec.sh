#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's prefix: the cross-compiling emulator that
# CTest puts in front of every Windows test. Usage: scripts/wine-exec.sh PROG.exe [ARGS...]
# Exits with the program's exit code.
#
# It always goes through with-display.sh: that gives a display when there is none, and keeps
# Wine's background processes off the caller's output. Inside an outer with-display.sh session
# (e.g. `scripts/with-display.sh ctest ...`) it joins that session and costs almost nothing.
set -uo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 PROG.exe [ARGS...]" >&2
  exit 2
fi

exec bash "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/with-display.sh" wine "$@"
