#!/usr/bin/env bash
# Runs the built Flashwright.exe under Wine with the device simulator (what `make run` calls).
# With a usable $DISPLAY the program is started for the user and this waits for it to close;
# usbsim, from another terminal, plugs, unplugs and power-cycles the simulated device.
# Without one (or with --scripted) the typical road is walked on a virtual X display, the program
# in a Wine virtual desktop: start, Update, programming, done, power cycle, up to date. Each step
# prints what the window shows and leaves a screenshot in build/screenshots/.
#
# Usage: scripts/run.sh [--scripted]
# Environment: FLASHWRIGHT_BIN_DIR     directory with Flashwright.exe, the simulator, fwinspect.exe
#                                      (default build/win32/bin)
#              FLASHWRIGHT_RUN_SCENARIO scenario file to start from (default sim/example.scenario;
#                                      none there: one default device, firmware 00.01.01.05)
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
      sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    *)
      echo "run: unknown argument $arg" >&2
      exit 2
      ;;
  esac
done

for file in Flashwright.exe ZRFWUpdateDll.dll usbsim.exe; do
  if [ ! -f "$binDir/$file" ]; then
    echo "run: $binDir/$file is missing; build first (cmake --build --preset win32)" >&2
    exit 1
  fi
done

# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"

# ---- the simulated world ------------------------------------------------------------------
# The world is a file in build/run/, so usbsim can change it while the program runs.
world="$runDir/world.scenario"
PrepareWorld() {
  mkdir -p "$runDir"
  rm -f "$runDir/sim.log"
  export FLASHWRIGHT_SIM_LOG="$runDir/sim.log"
  export FLASHWRIGHT_SIM_SCENARIO="$world"
  local source="${FLASHWRIGHT_RUN_SCENARIO:-$root/sim/example.scenario}"
  if [ -f "$source" ]; then
    cp "$source" "$world"
    echo "run: simulator world $world (from $source)"
  else
    # Every key at its default: firmware 00.01.01.05, programming takes 3 s and succeeds.
    printf '# One device, everything at its default.\n[device]\n' >"$world"
    echo "run: simulator world $world (one default device)"
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
  cat <<HINT
run: change the simulated world from another terminal, e.g.
       source $root/scripts/wine-env.sh
       export FLASHWRIGHT_SIM_SCENARIO=$world
       wine $binDir/usbsim.exe list          # what is attached
       wine $binDir/usbsim.exe power-cycle   # after an update: the new firmware takes effect
       wine $binDir/usbsim.exe plug          # a second device
       wine $binDir/usbsim.exe unplug all    # no device
       wine $binDir/fwinspect.exe            # what the window shows
     Each change is announced, and the window rescans 200 ms later.
HINT
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

# shellcheck source=scripts/desktop-session.sh
source "$root/scripts/desktop-session.sh"
trap DesktopCleanup EXIT

failureShot="$shotDir/99-failure.png"

# The window is repainted once the program is idle after a change; give it that moment.
Screenshot() {
  local file="$shotDir/$1.png"
  sleep 0.3
  import -window root "$file"
  echo "run: screenshot $file"
}

# The typical road. Each step waits for what it needs (fwinspect polls with a deadline).
Step "start: the program finds the device and checks its firmware"
StartProgram
Inspect --wait-seconds 30 || Fail "the main window did not appear"
Screenshot 01-start
if ! Offered Update; then
  echo "run: this world needs no update (Update is not offered), so the road ends here"
  CloseProgram || Fail "could not close the program"
  WaitForProgramEnd || Fail "the program did not end"
  exit 0
fi
TypicalRoad Screenshot note 02-updating 03-updated 04-after-power-cycle

Step "done: closing the program"
CloseProgram || Fail "could not close the program"
WaitForProgramEnd || Fail "the program did not end"
echo "run: done; screenshots in $shotDir, library calls in $FLASHWRIGHT_SIM_LOG"
