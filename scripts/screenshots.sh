#!/usr/bin/env bash
# Takes the README's pictures of the window (what `make screenshots` calls): walks the program
# against the simulator on a virtual X display, in a Wine virtual desktop so that Wine draws the
# title bar, and crops one picture per state to the window and its frame:
#   01-update-required  one device at 00.01.01.05, as the program starts
#   02-updating         Update clicked, while the library programs the device
#   03-updated          programming done
#   04-up-to-date       after `usbsim power-cycle`
#   05-no-device        after `usbsim unplug all`
#   06-several-devices  two devices plugged
#   07-update-failed    a device whose programming fails, after Update
#   08-another-program  Update clicked while flashwright-cli programs the device
# Then the same states again with white-on-black high-contrast system colours, into
# high-contrast/ beside them; the prefix's own colours are restored afterwards.
# The window is found by its caption among the X windows (xwininfo); each picture is then cut
# from a screenshot of the whole display and written as a small palette PNG. The pictures
# replace those in docs/screenshots/ only when every state was reached.
#
# Usage: scripts/screenshots.sh
# Environment: FLASHWRIGHT_BIN_DIR         directory with Flashwright.exe, the simulator and
#                                          fwinspect.exe (default build/win32/bin)
#              FLASHWRIGHT_SCREENSHOT_DIR  where the pictures go (default docs/screenshots)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
binDir="${FLASHWRIGHT_BIN_DIR:-$root/build/win32/bin}"
pictureDir="${FLASHWRIGHT_SCREENSHOT_DIR:-$root/docs/screenshots}"
runDir="$root/build/screenshot-run"
desktop="Flashwright"
sessionTag="screenshots"

inSession=0
for arg in "$@"; do
  case "$arg" in
    --in-session) inSession=1 ;;  # internal: already inside with-display.sh
    -h | --help)
      sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    *)
      echo "screenshots: unknown argument $arg" >&2
      exit 2
      ;;
  esac
done

for file in Flashwright.exe flashwright-cli.exe ZRFWUpdateDll.dll usbsim.exe fwinspect.exe; do
  if [ ! -f "$binDir/$file" ]; then
    echo "screenshots: $binDir/$file is missing; build first (make build)" >&2
    exit 1
  fi
done
for tool in import convert xwininfo; do
  command -v "$tool" >/dev/null 2>&1 || { echo "screenshots: $tool is missing" >&2; exit 1; }
done

if [ "$inSession" = 0 ]; then
  # Always the virtual display, never the user's: the same screen gives the same pictures.
  exec env -u DISPLAY bash "$root/scripts/with-display.sh" bash "$0" --in-session
fi

# ---- inside with-display.sh ------------------------------------------------------------------
# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
# shellcheck source=scripts/desktop-session.sh
source "$root/scripts/desktop-session.sh"
trap DesktopCleanup EXIT

rm -rf "$runDir"
mkdir -p "$runDir/pictures"
cd "$runDir"
export FLASHWRIGHT_SIM_LOG="$runDir/sim.log"
export FLASHWRIGHT_SIM_SCENARIO="$runDir/world.scenario"

failureShot="$runDir/99-failure.png"

caption=""

# Prints the program's window rectangle as WIDTHxHEIGHT+X+Y in screen coordinates, frame and
# title bar included: with Wine drawing the frames, the X window of a top-level window covers
# all of it, and xwininfo's last pair is its position on the screen.
WindowGeometry() {
  local line
  line="$(xwininfo -root -tree | grep -F "\"$caption\": (\"flashwright.exe\"" | head -n 1)"
  [[ "$line" =~ ([0-9]+)x([0-9]+)[-+0-9]*\ +\+(-?[0-9]+)\+(-?[0-9]+)[[:space:]]*$ ]] ||
    return 1
  echo "${BASH_REMATCH[1]}x${BASH_REMATCH[2]}+${BASH_REMATCH[3]}+${BASH_REMATCH[4]}"
}

# Photographs the window as it is now into pictures/$1.png. Wine draws the text unsmoothed, so a
# picture has a handful of colours and a palette loses nothing; metadata and timestamps are left
# out so that an unchanged window gives an unchanged file.
Shot() {
  local name=$1 geometry screen="$runDir/$1-screen.png" picture="$runDir/pictures/$set/$1.png"
  # The window is repainted once the program is idle after a change; give it that moment.
  sleep 0.3
  geometry="$(WindowGeometry)" || Fail "no X window titled \"$caption\" for $name"
  import -window root "$screen"
  convert "$screen" -crop "$geometry" +repage "$runDir/$1-window.png"
  local colours palette=()
  colours="$(convert "$runDir/$1-window.png" -format '%k' info:)"
  if [ "$colours" -le 16 ]; then
    palette=(-define png:color-type=3 -define png:bit-depth=4)
  elif [ "$colours" -le 256 ]; then
    palette=(-define png:color-type=3 -define png:bit-depth=8)
  fi
  convert "$runDir/$1-window.png" -strip -define png:exclude-chunks=date,time \
    -define png:compression-level=9 "${palette[@]}" "PNG:$picture"
  echo "screenshots: $name: window $geometry, $colours colours, $(stat -c %s "$picture") bytes"
}

# Walks every state and photographs it into pictures/$1 (empty: the default colours).
Walk() {
  set=$1
  mkdir -p "$runDir/pictures/$set"
  # A fresh call log: whether programming still runs is read from it.
  rm -f "$FLASHWRIGHT_SIM_LOG"
  # Programming blocks long enough to be photographed with room to spare.
  cat >"$FLASHWRIGHT_SIM_SCENARIO" <<'WORLD'
[device]
version = 00.01.01.05
program-ms = 6000
WORLD

  Step "01 start: one device at 00.01.01.05${set:+ ($set)}"
  StartProgram
  Inspect --wait-seconds 30 --wait-line3 "Firmware: Update required!" ||
    Fail "the window did not show \"Firmware: Update required!\""
  caption="$(wine "$binDir/fwinspect.exe" | sed -n 's/^caption: "\(.*\)"\r\{0,1\}$/\1/p')"
  [ -n "$caption" ] || Fail "could not read the window's caption"
  Shot 01-update-required

  # The typical road's states, as the README names their pictures.
  TypicalRoad Shot fail 02-updating 03-updated 04-up-to-date

  Step "05 every device unplugged"
  Usbsim unplug all || Fail "usbsim unplug all failed"
  Inspect --wait-seconds 10 --wait-line 1 "No compatible USB device were found." ||
    Fail "the window did not show that no device was found"
  Shot 05-no-device

  Step "06 two devices plugged"
  Usbsim plug || Fail "usbsim plug failed"
  Usbsim plug || Fail "usbsim plug (the second) failed"
  Inspect --wait-seconds 10 --wait-line 1 "Multiple USB drives are attached." ||
    Fail "the window did not show several devices"
  Shot 06-several-devices

  Step "07 one device whose programming fails, Update clicked"
  Usbsim unplug all || Fail "usbsim unplug all failed"
  Usbsim plug program-succeeds=no program-ms=500 || Fail "usbsim plug failed"
  Inspect --wait-seconds 10 --wait-line3 "Firmware: Update required!" ||
    Fail "the window did not offer the update for the new device"
  wine "$binDir/fwinspect.exe" --click Update | grep '^clicked' || Fail "could not click Update"
  Inspect --wait-seconds 30 --wait-line 2 "Update Fail!" || Fail "the window did not show Update Fail!"
  Shot 07-update-failed

  Step "08 the command line programs the device; Update clicked in the window"
  Usbsim unplug all || Fail "usbsim unplug all failed"
  Usbsim plug program-ms=8000 || Fail "usbsim plug failed"
  Inspect --wait-seconds 10 --wait-line3 "Firmware: Update required!" ||
    Fail "the window did not offer the update for the new device"
  local logLines cli
  logLines="$(wc -l <"$FLASHWRIGHT_SIM_LOG")"
  wine "$binDir/flashwright-cli.exe" update >"$runDir/cli.out" 2>&1 &
  cli=$!
  for _ in $(seq 100); do
    tail -n "+$((logLines + 1))" "$FLASHWRIGHT_SIM_LOG" | grep -q ' begin ' && break
    sleep 0.1
  done
  wine "$binDir/fwinspect.exe" --click Update | grep '^clicked' || Fail "could not click Update"
  Inspect --wait-seconds 10 --wait-line 1 "Another Flashwright program is updating a device." ||
    Fail "the window did not show that another program is busy"
  Shot 08-another-program
  wait "$cli" || true
  # The command line's record of its attempt is not the pictures' business.
  wine reg delete 'HKLM\Software\Flashwright\Attempts' /f >/dev/null 2>&1 || true

  Step "done: closing the program"
  CloseProgram || Fail "could not close the program"
  WaitForProgramEnd || Fail "the program did not end"
}

# The system colours of a white-on-black high-contrast scheme, in the prefix's registry, where
# each Wine process reads them as it starts.
colourKey='HKCU\Control Panel\Colors'
savedColours="$runDir/colours.reg"
HighContrastColours() {
  rm -f "$savedColours"
  wine reg export "$colourKey" "$(winepath -w "$savedColours")" /y >/dev/null 2>&1 || true
  local entry
  for entry in ActiveBorder=255,255,0 ActiveTitle=128,0,128 AppWorkSpace=0,0,0 Background=0,0,0 \
    ButtonDkShadow=255,255,255 ButtonFace=0,0,0 ButtonHilight=255,255,255 \
    ButtonLight=255,255,255 ButtonShadow=128,128,128 ButtonText=255,255,255 \
    GradientActiveTitle=128,0,128 GradientInactiveTitle=0,128,0 GrayText=0,255,0 \
    Hilight=128,0,128 HilightText=255,255,255 InactiveBorder=0,0,0 InactiveTitle=0,128,0 \
    InactiveTitleText=255,255,255 InfoText=255,255,255 InfoWindow=0,0,0 Menu=0,0,0 \
    MenuText=255,255,255 Scrollbar=0,0,0 TitleText=255,255,255 Window=0,0,0 \
    WindowFrame=255,255,255 WindowText=255,255,255; do
    wine reg add "$colourKey" /v "${entry%%=*}" /t REG_SZ /d "$(tr , ' ' <<<"${entry#*=}")" /f \
      >/dev/null 2>&1 || Fail "could not set the colour ${entry%%=*}"
  done
}
RestoreColours() {
  wine reg delete "$colourKey" /f >/dev/null 2>&1 || true
  if [ -s "$savedColours" ]; then
    wine reg import "$(winepath -w "$savedColours")" >/dev/null 2>&1 ||
      echo "screenshots: could not restore the colours from $savedColours" >&2
  fi
  rm -f "$savedColours"
}

Walk ""
# From here on the prefix's colours are ours to put back.
trap 'RestoreColours; DesktopCleanup' EXIT
HighContrastColours
Walk high-contrast
RestoreColours
trap DesktopCleanup EXIT

mkdir -p "$pictureDir/high-contrast"
mv "$runDir"/pictures/*.png "$pictureDir/"
mv "$runDir"/pictures/high-contrast/*.png "$pictureDir/high-contrast/"
echo "screenshots: pictures in $pictureDir"
