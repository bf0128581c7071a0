#!/usr/bin/env bash
# Signs programs (Authenticode, SHA-256) with osslsigncode, writing signed copies into OUT_DIR;
# the programs themselves stay as built, so the tests keep testing what was compiled.
#
#   FLASHWRIGHT_SIGN_PFX             PKCS#12 file with the code-signing certificate and its key;
#                                    unset or empty: nothing is signed, and it says so
#   FLASHWRIGHT_SIGN_PASSWORD        its password (none if unset or empty)
#   FLASHWRIGHT_SIGN_TIMESTAMP_URL   an RFC 3161 time-stamp server to countersign (optional); it
#                                    keeps the signature valid after the certificate expires, but
#                                    puts the server's time in it, so such files differ per build
#   SOURCE_DATE_EPOCH                the signing time (default: the last commit's time): signing
#                                    the same program with the same key and time gives the same file
#
# Usage: scripts/sign.sh OUT_DIR PROGRAM...   (`make sign`: both programs into build/win32/signed)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
Die() {
  echo "sign: $*" >&2
  exit 1
}
[ $# -ge 2 ] || Die "usage: sign.sh OUT_DIR PROGRAM..."
outDir="$1"
shift

if [ -z "${FLASHWRIGHT_SIGN_PFX:-}" ]; then
  # A signed copy left from an earlier run must not pass for this build's.
  for program in "$@"; do rm -f "$outDir/$(basename "$program")"; done
  echo "sign: FLASHWRIGHT_SIGN_PFX is not set: nothing signed"
  exit 0
fi
[ -f "$FLASHWRIGHT_SIGN_PFX" ] || Die "FLASHWRIGHT_SIGN_PFX names no file: $FLASHWRIGHT_SIGN_PFX"
command -v osslsigncode >/dev/null || Die "osslsigncode is missing: run scripts/install-deps.sh"

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct 2>/dev/null)" ||
    Die "not a git checkout: set SOURCE_DATE_EPOCH to the signing time (seconds since 1970)"
fi
[[ "$SOURCE_DATE_EPOCH" =~ ^[0-9]+$ ]] || Die "SOURCE_DATE_EPOCH is not a number: $SOURCE_DATE_EPOCH"

work="$(mktemp -d "${TMPDIR:-/tmp}/flashwright-sign.XXXXXX")"
trap 'rm -rf "$work"' EXIT
options=(-pkcs12 "$FLASHWRIGHT_SIGN_PFX" -h sha256 -n Flashwright -time "$SOURCE_DATE_EPOCH")
# The password goes through a file only we can read, never on a command line others can see.
# osslsigncode refuses an empty password file, and a key without a password needs none given.
if [ -n "${FLASHWRIGHT_SIGN_PASSWORD:-}" ]; then
  (umask 077 && printf '%s' "$FLASHWRIGHT_SIGN_PASSWORD" >"$work/password")
  options+=(-readpass "$work/password")
fi
if [ -n "${FLASHWRIGHT_SIGN_TIMESTAMP_URL:-}" ]; then
  options+=(-ts "$FLASHWRIGHT_SIGN_TIMESTAMP_URL")
fi

mkdir -p "$outDir"
for program in "$@"; do
  name="$(basename "$program")"
  # Into the scratch folder first: a failed signing leaves no half-written file in OUT_DIR.
  if ! osslsigncode sign "${options[@]}" -in "$program" -out "$work/$name" >"$work/log" 2>&1; then
    cat "$work/log" >&2
    Die "signing $program failed"
  fi
  mv -f "$work/$name" "$outDir/$name"
  echo "sign: $outDir/$name"
done
