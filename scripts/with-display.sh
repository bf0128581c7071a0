#!/usr/bin/env bash
# Runs a command with an X display and a warm wineserver for the project's Wine prefix.
# Usage: scripts/with-display.sh CMD [ARGS...]   exits with CMD's status.
#
# A usable $DISPLAY is used as it is. Otherwise a virtual X server (Xvfb, 1600x1000x24) is started
# on a free display. Callers that overlap (ctest -j, `make run` during a test run) join one shared
# session, because every Wine process of a prefix talks to the same wineserver and that server's
# desktop process lives on one display; the last caller to leave stops the wineserver and Xvfb.
set -uo pipefail
# With no standard input at all (some CI runners) give the command /dev/null instead; this must
# come before anything opens a file, which would otherwise land on descriptor 0.
if { exec 3<&0; } 2>/dev/null; then exec 3<&-; else exec </dev/null; fi

if [ $# -eq 0 ]; then
  echo "usage: $0 CMD [ARGS...]" >&2
  exit 2
fi

# shellcheck source=scripts/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh" || exit 1

sessionFile="$WINEPREFIX.session"      # "DISPLAY XVFB_PID SERVER_OURS" of the shared session
usersLock="$WINEPREFIX.session.users"  # held shared by every caller inside the session
mutexLock="$WINEPREFIX.session.mutex"  # held briefly while joining or leaving

DisplayUsable() {
  [ -n "${1:-}" ] || return 1
  if command -v xdpyinfo >/dev/null 2>&1; then
    DISPLAY="$1" timeout 5 xdpyinfo >/dev/null 2>&1
  else
    # Without xdpyinfo trust a local socket's presence.
    local n="${1#:}"
    n="${n%%.*}"
    [ -S "/tmp/.X11-unix/X$n" ]
  fi
}

# True for a running process; a zombie (exited, never reaped, as happens where PID 1 reaps no
# orphans) counts as gone.
ProcessAlive() {
  [ -n "${1:-}" ] && [ "$1" != 0 ] && kill -0 "$1" 2>/dev/null || return 1
  local stat
  stat="$(cat "/proc/$1/stat" 2>/dev/null)" || return 0
  stat="${stat##*) }"
  [ "${stat%% *}" != Z ]
}

# Starts Xvfb on a display it picks itself (-displayfd); sets xvfbDisplay and xvfbPid. Runs in
# this shell, not a subshell, so that Xvfb is this script's own child.
StartXvfb() {
  if ! command -v Xvfb >/dev/null 2>&1; then
    echo "with-display: no usable DISPLAY and Xvfb is not installed" >&2
    return 1
  fi
  local numberFile number="" deadline=$((SECONDS + 15))
  numberFile="$(mktemp)"
  # The lock descriptors are closed so the server never holds the session open.
  Xvfb -displayfd 3 -screen 0 1600x1000x24 -nolisten tcp -noreset \
    3>"$numberFile" </dev/null >/dev/null 2>&1 8>&- 9>&- &
  xvfbPid=$!
  while [ $SECONDS -lt $deadline ]; do
    number="$(tr -dc '0-9' <"$numberFile")"
    [ -n "$number" ] && break
    ProcessAlive "$xvfbPid" || break
    sleep 0.05
  done
  rm -f "$numberFile"
  if [ -z "$number" ] || ! DisplayUsable ":$number"; then
    echo "with-display: Xvfb did not come up" >&2
    kill "$xvfbPid" 2>/dev/null
    return 1
  fi
  xvfbDisplay=":$number"
}

Join() {
  local display="" xvfbPid=0 serverOurs=0
  if [ -f "$sessionFile" ]; then
    read -r display xvfbPid serverOurs <"$sessionFile" || true
  fi
  if DisplayUsable "${DISPLAY:-}"; then
    : # the caller's own display wins; a shared Xvfb, if any, stays as it is
  elif ProcessAlive "$xvfbPid" && DisplayUsable "$display"; then
    export DISPLAY="$display"
  else
    local xvfbDisplay=""
    StartXvfb || return 1
    display="$xvfbDisplay"
    export DISPLAY="$display"
  fi
  # Keep one wineserver up between the many short Wine processes of a test run: exit status 0
  # means this call started it, 2 that one is already running for the prefix.
  if wineserver -p </dev/null >/dev/null 2>&1 8>&- 9>&-; then
    serverOurs=1
    # The first Wine process of a server starts Wine's own background processes (services,
    # the desktop process, device drivers), which inherit its output and keep it open for as
    # long as the server lives. Started here, they hold /dev/null rather than a caller's pipe
    # (a CTest run would otherwise wait for that pipe to close).
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1 8>&- 9>&-
  fi
  echo "${display:-none} ${xvfbPid:-0} ${serverOurs:-0}" >"$sessionFile"
}

# Stops what the session recorded: the wineserver if a session started it, and Xvfb.
TearDown() {
  local display="" xvfbPid=0 serverOurs=0
  if [ -f "$sessionFile" ]; then
    read -r display xvfbPid serverOurs <"$sessionFile" || true
  fi
  if [ "${serverOurs:-0}" = 1 ]; then
    # Kills what is left in the prefix and waits for the server to go.
    timeout 20 wineserver -k </dev/null >/dev/null 2>&1
  fi
  if ProcessAlive "$xvfbPid"; then
    kill "$xvfbPid" 2>/dev/null
    for _ in $(seq 50); do ProcessAlive "$xvfbPid" || break; sleep 0.1; done
    ProcessAlive "$xvfbPid" && kill -9 "$xvfbPid" 2>/dev/null
  fi
  rm -f "$sessionFile"
}

Leave() {
  # Only the last caller out (no one else holds the users lock) tears the session down.
  flock -n -x 8 || return 0
  TearDown
}

exec 8>>"$usersLock" 9>>"$mutexLock"
flock -x 9
# A session record that nobody is using was left by a caller that was killed: clear it away, so
# that no server tied to a display that is gone gets reused.
if [ -f "$sessionFile" ] && flock -n -x 8; then
  TearDown
  flock -u 8
fi
if ! Join; then
  flock -u 9
  exit 1
fi
flock -s 8
flock -u 9

# CMD runs without the lock descriptors, so processes it leaves behind cannot pin the session.
# It runs in the background only so that a TERM sent to this script can be passed on; its standard
# input is kept (a background command would otherwise get /dev/null).
exec 5<&0
trap '' INT TERM HUP
(
  trap - INT TERM HUP
  exec "$@"
) <&5 5<&- 8>&- 9>&- &
cmdPid=$!
exec 5<&-
trap 'kill -TERM $cmdPid 2>/dev/null' TERM HUP
trap 'kill -INT $cmdPid 2>/dev/null' INT
wait "$cmdPid"
status=$?
# wait returns early when a trapped signal arrives; collect the real status.
while ProcessAlive "$cmdPid"; do
  wait "$cmdPid"
  status=$?
done
trap '' INT TERM HUP

flock -x 9
flock -u 8
Leave
flock -u 9
exit "$status"
