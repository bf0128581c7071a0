#!/usr/bin/env bash
# Runs the built Flashwright.exe under Wine with the device simulator (what `make run` calls).
# With a usable $DISPLAY the program is started for the user and this waits for it to close.
# Without one (or with --scripted) a scripted session runs on a virtual X display: the program in
# a Wine virtual desktop (real window frames), screenshots in build/screenshots/, and the window's
# contents printed at each step.
#
# Usage: scripts/run.sh [--scripted]
# Environment: FLASHWRIGHT_BIN_DIR     directory with Flashwright.exe, the simulator, fwinspect.exe
#                                      (default build/win32/bin)
#              FLASHWRIGHT_RUN_SCENARIO scenario file to start from (default sim/example.scenario;
#                                      none there: the simulator's built-in world)
#              FLASHWRIGHT_OUT_DIR     where run/ and screenshots/ go (default build)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
binDir="${FLASHWRIGHT_BIN_DIR:-$root/build/win32/bin}"
outDir="${FLASHWRIGHT_OUT_DIR:-$root/build}"
runDir="$outDir/run"
shotDir="$outDir/screenshots"
desktop="Flashwright"

scripted=0
inSession=0
for arg in "$@"; do
  case "$arg" in
    --scripted) scripted=1 ;;
    --in-session) inSession=1 ;;  # internal: already inside with-display.sh
    -h | --help)
      sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    *)
      echo "run: unknown argument $arg" >&2
      exit 2
      ;;
  esac
done

for file in Flashwright.exe ZRFWUpdateDll.dll; do
  if [ ! -f "$binDir/$file" ]; then
    echo "run: $binDir/$file is missing; build first (cmake --build --preset win32)" >&2
    exit 1
  fi
done

# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"

# ---- the simulated world ------------------------------------------------------------------
# The world lives in build/run/ so usbsim can change it while the program runs, e.g.
#   (cd build/win32/bin && wine usbsim.exe --scenario ../../run/world.scenario power-cycle)
PrepareWorld() {
  mkdir -p "$runDir"
  rm -f "$runDir/sim.log"
  export FLASHWRIGHT_SIM_LOG="$runDir/sim.log"
  local source="${FLASHWRIGHT_RUN_SCENARIO:-$root/sim/example.scenario}"
  if [ -f "$source" ]; then
    cp "$source" "$runDir/world.scenario"
    export FLASHWRIGHT_SIM_SCENARIO="$runDir/world.scenario"
    echo "run: simulator world $FLASHWRIGHT_SIM_SCENARIO (from $source)"
  else
    unset FLASHWRIGHT_SIM_SCENARIO
    echo "run: simulator's built-in world"
  fi
  echo "run: library call log $FLASHWRIGHT_SIM_LOG"
}

DisplayUsable() {
  [ -n "${DISPLAY:-}" ] || return 1
  ! command -v xdpyinfo >/dev/null 2>&1 || timeout 5 xdpyinfo >/dev/null 2>&1
}

# ---- interactive -----------------------------------------------------------------------------
if [ "$scripted" = 0 ] && [ "$inSession" = 0 ] && DisplayUsable; then
  PrepareWorld
  echo "run: starting Flashwright.exe on $DISPLAY; close it to return"
  cd "$runDir"
  exec bash "$root/scripts/with-display.sh" wine "$binDir/Flashwright.exe"
fi

if [ "$inSession" = 0 ]; then
  # Everything below needs the display session: run this script again inside it. A usable
  # $DISPLAY is ignored for a scripted run so that screenshots are always of the same screen.
  exec env -u DISPLAY bash "$root/scripts/with-display.sh" bash "$0" --in-session
fi

# ---- scripted session (inside with-display.sh) -----------------------------------------------
if [ ! -f "$binDir/fwinspect.exe" ]; then
  echo "run: $binDir/fwinspect.exe is missing; build first" >&2
  exit 1
fi
command -v import >/dev/null 2>&1 || { echo "run: ImageMagick's import is missing" >&2; exit 1; }
PrepareWorld
mkdir -p "$shotDir"
rm -f "$shotDir"/*.png
cd "$runDir"

programPid=""
Cleanup() {
  if [ -n "$programPid" ] && kill -0 "$programPid" 2>/dev/null; then
    kill "$programPid" 2>/dev/null || true
  fi
}
trap Cleanup EXIT

# Starts the program in a Wine virtual desktop, so that it gets Wine's own window frames.
StartProgram() {
  wine explorer "/desktop=$desktop,1600x1000" "$binDir/Flashwright.exe" \
    </dev/null >"$runDir/wine.log" 2>&1 &
  programPid=$!
}

# Prints what the window shows; arguments go to fwinspect (see its --help).
Inspect() {
  echo "run: fwinspect $*"
  wine "$binDir/fwinspect.exe" "$@"
}

Screenshot() {
  local file="$shotDir/$1.png"
  import -window root "$file"
  echo "run: screenshot $file"
}

# Waits (bounded) for the program's Wine processes to end after it was closed.
WaitForProgramEnd() {
  local deadline=$((SECONDS + 20))
  while kill -0 "$programPid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
  if kill -0 "$programPid" 2>/dev/null; then
    echo "run: program still running 20 s after Exit" >&2
    return 1
  fi
}

# Closes the program as a user would: with Exit when it is offered, else with the close box.
CloseProgram() {
  if wine "$binDir/fwinspect.exe" --wait-seconds 5 | grep -q '^buttons:.* Exit'; then
    Inspect --click Exit
  else
    echo "run: Exit is not offered; closing with the close box"
    Inspect --close
  fi
}

Fail() {
  echo "run: $*" >&2
  import -window root "$shotDir/99-failure.png" 2>/dev/null &&
    echo "run: screenshot $shotDir/99-failure.png" >&2
  exit 1
}

# The steps. Each one waits for what it needs (fwinspect polls with a deadline), so adding a
# step is one or two lines, e.g.
#   Inspect --click Update
#   Inspect --wait-seconds 30 --wait-line 2 "Please power off/on your USB device." || Fail ...
#   Screenshot 02-updated
StartProgram
Inspect --wait-seconds 30 || Fail "the main window did not appear"
Screenshot 01-start
CloseProgram || Fail "could not close the program"
WaitForProgramEnd || Fail "the program did not end"
echo "run: done"
