#!/usr/bin/env bash
# Runs the simulator kit as its README tells users to: for each example scenario, the packaged
# Flashwright.exe with the packaged simulator, under Wine, and checks that the window shows the
# outcome the scenario is named for. The two update scenarios also click Update (programming
# shortened with usbsim), and the successful one power-cycles the device to see "Up to date".
# Usage: check-scenarios.sh BUILD_DIR SOURCE_DIR VERSION   (fwinspect.exe comes from BUILD_DIR/bin)
set -euo pipefail

buildDir="$1"
sourceDir="$2"
version="$3"

needsDisplay=1
# shellcheck source=tests/package/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
inspect="$buildDir/bin/fwinspect.exe"
[ -f "$inspect" ] || Fail "$inspect is missing; build the win32 preset first"

MakeAndUnpackPackages
world="$scratch/world.scenario"
export FLASHWRIGHT_SIM_SCENARIO="$world"
export FLASHWRIGHT_SIM_LOG="$scratch/sim.log"

programPid=""
StopProgram() {
  if [ -n "$programPid" ] && kill -0 "$programPid" 2>/dev/null; then
    kill "$programPid" 2>/dev/null || true
    wait "$programPid" 2>/dev/null || true
  fi
  programPid=""
}
trap 'StopProgram; rm -rf "$scratch"' EXIT

Usbsim() {
  wine "$kitDir/usbsim.exe" "$@" </dev/null
}

# Prints fwinspect's report without the caption line, after checking the caption's version.
Screen() {
  local report
  # (Wine's console output may end lines in CR LF.)
  report="$(wine "$inspect" "$@" </dev/null | tr -d '\r')" || {
    echo "$report" >&2
    return 1
  }
  local caption
  caption="$(grep '^caption: ' <<<"$report")"
  [[ "$caption" == *" v$version\"" ]] ||
    Fail "$scenario: the caption ($caption) does not end in v$version"
  grep -v '^caption: ' <<<"$report"
}

ExpectScreen() {
  local actual="$1" expected="$2"
  [ "$actual" = "$expected" ] ||
    Fail "$scenario: the window shows"$'\n'"$actual"$'\n'"expected"$'\n'"$expected"
}

# The lines and buttons of fwinspect's report for a finished scan or update.
Expect() {
  printf 'line 1: "%s"\nline 2: "%s"\nline 3: "%s"\nbuttons: %s' "$1" "$2" "$3" "$4"
}

# Waits (bounded) until the update run has ended, i.e. Exit is offered again.
UpdateResult() {
  local report="" deadline=$((SECONDS + 30))
  while [ $SECONDS -lt $deadline ]; do
    report="$(Screen --wait-seconds 5)" || Fail "$scenario: the window went away during Update"
    if grep -q '^buttons: Exit$' <<<"$report"; then
      echo "$report"
      return 0
    fi
    sleep 0.2
  done
  Fail "$scenario: Update did not end within 30 s; last seen:"$'\n'"$report"
}

device="SIMDEV  USB Bridge"
noDevice="No compatible USB device were found."
plugOne="Please plug a compatible USB device."

# What the window shows after the first scan, by scenario.
declare -A expectations=(
  [01-up-to-date]="$(Expect "" "$device" "Firmware: Up to date" Exit)"
  [02-update-required]="$(Expect "" "$device" "Firmware: Update required!" Update)"
  [03-no-device]="$(Expect "$noDevice" "$plugOne" "" Exit)"
  [04-two-devices]="$(Expect "Multiple USB drives are attached." "Please disconnect all devices." \
    "except the one that needs to be updated." Exit)"
  [05-unsupported-chip]="$(Expect "$noDevice" "$plugOne" "Unsupported Chip ID!" Exit)"
  [06-wrong-running-mode]="$(Expect "$noDevice" "$plugOne" "NOT support internal code!" Exit)"
  [07-version-read-failure]="$(Expect "$noDevice" "$plugOne" "Get F/W version failed!" Exit)"
  [08-image-mismatch]="$(Expect "$noDevice" "$plugOne" \
    "F/W bin file is not matched with current device!" Exit)"
  [09-identification-failure]="$(Expect "$noDevice" "$plugOne" "Get device information failed!" \
    Exit)"
  [10-programming-failure]="$(Expect "" "$device" "Firmware: Update required!" Update)"
)

shopt -s nullglob
found=0
for file in "$kitDir"/scenarios/*.scenario; do
  scenario="$(basename "$file" .scenario)"
  [ -n "${expectations[$scenario]+set}" ] || Fail "no expected outcome for scenario $scenario"
  found=$((found + 1))
  expected="${expectations[$scenario]}"
  line3="$(sed -n 's/^line 3: "\(.*\)"$/\1/p' <<<"$expected")"

  # The parser accepts the file as shipped (a rejected file would look like an empty world).
  cp "$file" "$world"
  rm -f "$FLASHWRIGHT_SIM_LOG"
  Usbsim --no-notify list >"$scratch/list.txt" 2>&1 ||
    { cat "$scratch/list.txt" >&2; Fail "$scenario: usbsim cannot read it"; }
  case "$scenario" in
    02-update-required | 10-programming-failure)
      Usbsim --no-notify set 1 program-ms=300 >/dev/null || Fail "$scenario: usbsim set failed"
      ;;
  esac

  (cd "$kitDir" && exec wine ./Flashwright.exe </dev/null >"$scratch/program.log" 2>&1) &
  programPid=$!
  screen="$(Screen --wait-seconds 20 --wait-line3 "$line3")" ||
    Fail "$scenario: no window with line 3 \"$line3\""
  ExpectScreen "$screen" "$expected"
  if grep -q '^error ' "$FLASHWRIGHT_SIM_LOG" 2>/dev/null; then
    Fail "$scenario: the simulator reported: $(grep '^error ' "$FLASHWRIGHT_SIM_LOG")"
  fi

  case "$scenario" in
    02-update-required)
      wine "$inspect" --click Update </dev/null >/dev/null || Fail "$scenario: Update not offered"
      ExpectScreen "$(UpdateResult)" \
        "$(Expect "Successfully updated" "Please power off/on your USB device." "" Exit)"
      Usbsim power-cycle >/dev/null || Fail "$scenario: usbsim power-cycle failed"
      ExpectScreen "$(Screen --wait-seconds 10 --wait-line3 "Firmware: Up to date")" \
        "${expectations[01-up-to-date]}"
      ;;
    10-programming-failure)
      wine "$inspect" --click Update </dev/null >/dev/null || Fail "$scenario: Update not offered"
      ExpectScreen "$(UpdateResult)" "$(Expect "" "Update Fail!" "" Exit)"
      ;;
  esac

  wine "$inspect" --click Exit </dev/null >/dev/null || Fail "$scenario: Exit did not close it"
  deadline=$((SECONDS + 20))
  while kill -0 "$programPid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
  kill -0 "$programPid" 2>/dev/null && Fail "$scenario: the program did not end after Exit"
  wait "$programPid" || Fail "$scenario: the program's exit status was $?"
  programPid=""
  echo "scenario $scenario: OK"
done
[ "$found" -eq "${#expectations[@]}" ] ||
  Fail "the kit holds $found scenarios, expected ${#expectations[@]}"
echo "package scenarios OK"
