# Sourced, not run: drives Flashwright.exe in a Wine virtual desktop, for scripts that walk the
# program on their own (scripts/run.sh --scripted, scripts/screenshots.sh). Call it inside
# with-display.sh, after wine-env.sh, with these set:
#   binDir   directory with Flashwright.exe, ZRFWUpdateDll.dll, usbsim.exe and fwinspect.exe
#   runDir   working directory of the program; usbsim's batch file and status go there
#   desktop  name of the Wine virtual desktop
#   sessionTag  prefix of the messages printed (default "run")
#   failureShot where Fail saves a screenshot of the whole display
#   FLASHWRIGHT_SIM_SCENARIO, FLASHWRIGHT_SIM_LOG  the simulated world and its call log
# StartProgram sets programPid; DesktopCleanup (for an EXIT trap) stops the program if it runs.
# TypicalRoad walks from Update to "Up to date", calling back at each state.
# binDir, runDir and desktop are the caller's (SC2154).
# shellcheck shell=bash disable=SC2154

sessionTag="${sessionTag:-run}"
programPid=""

Step() {
  echo
  echo "$sessionTag: ---- $* ----"
}

Fail() {
  echo "$sessionTag: $*" >&2
  import -window root "$failureShot" 2>/dev/null &&
    echo "$sessionTag: whole screen at the failure: $failureShot" >&2
  exit 1
}

DesktopCleanup() {
  if [ -n "$programPid" ] && kill -0 "$programPid" 2>/dev/null; then
    kill "$programPid" 2>/dev/null || true
  fi
}

# Starts the program in a Wine virtual desktop, so that it gets Wine's own window frames.
StartProgram() {
  wine explorer "/desktop=$desktop,1600x1000" "$binDir/Flashwright.exe" \
    </dev/null >"$runDir/wine.log" 2>&1 &
  programPid=$!
}

# Prints what the window shows; arguments go to fwinspect (see its --help).
Inspect() {
  echo "$sessionTag: fwinspect $*"
  wine "$binDir/fwinspect.exe" "$@"
}

# True when fwinspect lists `$1` (Update or Exit) among the offered buttons.
Offered() {
  wine "$binDir/fwinspect.exe" --wait-seconds 5 | grep -q "^buttons:.* $1\b"
}

# Runs usbsim with the given arguments on the program's desktop: its announcements reach only
# the windows of the desktop it runs on. Explorer starts it there and returns at once, so a
# small batch file reports usbsim's outcome, which is waited for (bounded).
Usbsim() {
  local batch="$runDir/usbsim.cmd" status="$runDir/usbsim.status" deadline=$((SECONDS + 20))
  local exe statusWin
  exe="$(winepath -w "$binDir/usbsim.exe")"
  statusWin="$(winepath -w "$status")"
  printf '@"%s" %%*\r\n@if errorlevel 1 (echo failed>"%s") else (echo ok>"%s")\r\n' \
    "$exe" "$statusWin" "$statusWin" >"$batch"
  rm -f "$status"
  echo "$sessionTag: usbsim $*"
  wine explorer "/desktop=$desktop,1600x1000" cmd /c "$(winepath -w "$batch")" "$@" </dev/null
  while [ ! -s "$status" ] && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
  [ "$(tr -d '\r\n ' <"$status" 2>/dev/null)" = ok ]
}

# True while the library's programming call has begun and not yet returned.
Programming() {
  grep -q 'ZR_FWUpdateProgrammingNoCustomizedSetting .* begin ' "$FLASHWRIGHT_SIM_LOG" &&
    ! grep -q 'ZR_FWUpdateProgrammingNoCustomizedSetting .* -> ' "$FLASHWRIGHT_SIM_LOG"
}

# Waits (bounded) for the program's Wine processes to end after it was closed.
WaitForProgramEnd() {
  local deadline=$((SECONDS + 20))
  while kill -0 "$programPid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
  if kill -0 "$programPid" 2>/dev/null; then
    echo "$sessionTag: program still running 20 s after Exit" >&2
    return 1
  fi
}

# Closes the program as a user would: with Exit when it is offered, else with the close box.
CloseProgram() {
  if wine "$binDir/fwinspect.exe" --wait-seconds 5 | grep -q '^buttons:.* Exit'; then
    Inspect --click Exit
  else
    echo "$sessionTag: Exit is not offered; closing with the close box"
    Inspect --close
  fi
}

# The typical road from a window offering Update: the click, programming, done, the power cycle
# and the rescan that finds the new firmware. Each step waits (bounded) for what it needs, then
# calls "$1 PICTURE" with the picture's name for that state ($3 updating, $4 updated, $5 up to
# date), and fails the script when its state does not come. `$2` is what a programming call
# already over at the first picture means: "note" (a fast machine) or "fail" (the picture of
# programming is the point).
TypicalRoad() {
  local shoot=$1 lateProgramming=$2 updating=$3 updated=$4 upToDate=$5
  Step "Update clicked: the device is being programmed"
  wine "$binDir/fwinspect.exe" --click Update | grep '^clicked' || Fail "could not click Update"
  # The program answers no messages while the library programs: read the stored texts.
  Inspect --stored-text --wait-seconds 10 --wait-line 2 "Updating....." ||
    Fail "the window did not show Updating....."
  "$shoot" "$updating"
  if ! Programming; then
    [ "$lateProgramming" = note ] ||
      Fail "programming was over before the picture was taken; raise program-ms"
    echo "$sessionTag: note: programming was over before the screenshot was taken"
  fi

  Step "programming done: the device must be powered off and on"
  Inspect --wait-seconds 60 --wait-line 1 "Successfully updated" || Fail "the update did not succeed"
  "$shoot" "$updated"

  Step "power cycle: the new firmware runs, the window rescans"
  Usbsim power-cycle || Fail "usbsim power-cycle failed"
  Inspect --wait-seconds 10 --wait-line3 "Firmware: Up to date" ||
    Fail "the window did not show \"Firmware: Up to date\" after the power cycle"
  "$shoot" "$upToDate"
}
