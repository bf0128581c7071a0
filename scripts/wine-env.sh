# Sourced, not run: points Wine at the project's own 32-bit prefix and creates that prefix once.
# Usage: source scripts/wine-env.sh   (FLASHWRIGHT_WINEPREFIX overrides the prefix directory)
# shellcheck shell=bash

# Where this file lives decides where the repository is, whatever the caller's directory.
FLASHWRIGHT_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export FLASHWRIGHT_ROOT

export WINEPREFIX="${FLASHWRIGHT_WINEPREFIX:-$FLASHWRIGHT_ROOT/build/wineprefix}"
export WINEARCH=win32
# Keep Wine's own chatter out of test output; callers that want it set FLASHWRIGHT_WINEDEBUG.
export WINEDEBUG="${FLASHWRIGHT_WINEDEBUG:--all}"
# No Mono or Gecko installer dialog may ever appear (it would block an unattended run).
export WINEDLLOVERRIDES="mscoree=;mshtml="

# The window's font is "MS Sans Serif", which Wine provides with its bitmap font sserife.fon
# (Debian package fonts-wine, installed to /usr/share/wine/fonts). Without it text falls back to
# another face and measures differently. Prints the directory holding Wine's own fonts.
FlashwrightWineFontDir() {
  local dir
  for dir in /usr/share/wine/fonts /usr/lib/wine/fonts /opt/wine*/share/wine/fonts; do
    if [ -f "$dir/sserife.fon" ]; then
      echo "$dir"
      return 0
    fi
  done
  echo "wine-env: sserife.fon (MS Sans Serif) not found; install the fonts-wine package" >&2
  return 1
}

# Settings the prefix needs on top of Wine's defaults. Bump the stamp's number when this list
# changes, and existing prefixes pick the new settings up on their next use.
FlashwrightPrefixStamp=".flashwright-prefix-1"
FlashwrightApplySettings() {
  # Windows are not handed to an X window manager: Wine draws their Windows frames itself. On a
  # bare X server (Xvfb, CI) there is no window manager, and a managed window then costs a
  # 2-second wait for a state change that never comes each time it is hidden or closed.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
}

# Debian's Wine does not look for its own fonts where fonts-wine puts them; in the prefix's
# Fonts folder they are found (MS Sans Serif, Marlett for the caption buttons, Tahoma, ...).
# Cheap when done, so checked on every use: fonts installed later are still picked up.
FlashwrightEnsureFonts() {
  local target="$WINEPREFIX/drive_c/windows/Fonts" fontDir
  [ -f "$target/sserife.fon" ] && return 0
  fontDir="$(FlashwrightWineFontDir)" || return 0
  mkdir -p "$target" && cp -n "$fontDir"/* "$target/"
}

# Creates the prefix the first time and applies the settings; later calls only see the stamp.
# Serialised with a lock so parallel callers (ctest -j) do not set up the same prefix twice.
FlashwrightEnsurePrefix() {
  local stamp="$WINEPREFIX/$FlashwrightPrefixStamp"
  [ -f "$stamp" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [ -f "$stamp" ] && exit 0
    started=$SECONDS
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine-env: creating Wine prefix $WINEPREFIX (once)" >&2
      # wineboot needs no display for -i; DISPLAY is cleared so it never waits on a dead one.
      if ! env -u DISPLAY wineboot -i </dev/null >/dev/null 2>&1; then
        echo "wine-env: wineboot -i failed" >&2
        exit 1
      fi
    fi
    if ! FlashwrightApplySettings </dev/null >/dev/null; then
      echo "wine-env: could not apply the prefix settings" >&2
      exit 1
    fi
    # Registry changes reach the prefix's files once the wineserver has written them out; a
    # persistent server (another session) keeps them live instead, so the wait is bounded.
    timeout 20 wineserver -w </dev/null >/dev/null 2>&1
    [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-env: prefix has no registry" >&2; exit 1; }
    rm -f "$WINEPREFIX"/.flashwright-prefix-*
    touch "$stamp"
    echo "wine-env: prefix ready after $((SECONDS - started)) s" >&2
  ) 9>"$WINEPREFIX.lock"
}

FlashwrightEnsurePrefix && FlashwrightEnsureFonts
