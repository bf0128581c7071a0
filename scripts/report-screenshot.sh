#!/usr/bin/env bash
# Takes the README's picture of the fleet report (docs/screenshots/report.png): writes a small
# share of sample logs (a dozen PCs, this version's lines and an older version's, one line cut
# off), runs `flashwright-cli report` on it under Wine and renders the page with a headless
# Chromium, which is not part of the build or the tests: install it for this
# (`apt-get install -y chromium`).
#
# Usage: scripts/report-screenshot.sh
# Environment: FLASHWRIGHT_BIN_DIR  directory with flashwright-cli.exe (default build/win32/bin)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
binDir="${FLASHWRIGHT_BIN_DIR:-$root/build/win32/bin}"
runDir="$root/build/report-sample"
picture="$root/docs/screenshots/report.png"
browser="$(command -v chromium || command -v chromium-browser || true)"
if [ -z "$browser" ]; then
  echo "report-screenshot: Chromium is needed: apt-get install -y chromium" >&2
  exit 1
fi

rm -rf "$runDir"
mkdir -p "$runDir/share"
# One log per PC, as the PCs copy theirs to a share: PC-NN/flashwright.log.
line() {  # computer time result state exitCode reason(JSON) [check]
  local check="${7:-firmware-version}"
  [ -n "$check" ] && check="\"$check\"" || check=null
  mkdir -p "$runDir/share/$1"
  printf '{"time":"%s","program":"flashwright-cli","version":"0.1.1.7","command":"update","computer":"%s","user":"CORP\\\\svc-deploy","station":null,"path":"\\\\\\\\.\\\\SIMUSB1","identity":"SIMDEV  USB Bridge","versionBefore":"00.01.01.05","versionAfter":null,"state":"%s","check":%s,"result":"%s","exitCode":%s,"durationMs":41250,"reason":%s,"warning":null}\n' \
    "$2" "$1" "$4" "$check" "$3" "$5" "$6" >>"$runDir/share/$1/flashwright.log"
}
for pc in 01 02 03 04 05 06; do line "PC-$pc" "2026-12-08T09:${pc}:10Z" updated update-required 3010 null; done
line PC-02 "2026-12-08T10:02:00Z" up-to-date up-to-date 0 null
line PC-03 "2026-12-08T10:03:00Z" up-to-date up-to-date 0 null
line PC-07 "2026-12-08T09:07:30Z" failed update-required 1 '"programming failed"'
line PC-07 "2026-12-08T10:07:30Z" pending-power-cycle pending-power-cycle 3010 null
line PC-08 "2026-12-08T09:08:45Z" not-updatable unsupported-chip 5 null chip-type
line PC-09 "2026-12-08T09:09:12Z" failed update-required 1 '"The update library failed in ZR_FWUpdateProgrammingNoCustomizedSetting: access violation"'
line PC-10 "2026-12-08T09:10:40Z" not-updatable internal-code 5 null running-mode
printf '%s\n' '{"time":"2026-12-08T09:11:05Z","program":"flashwright-cli","version":"0.1.1.7","command":"update","computer":"PC-11","user":"CORP\\svc-deploy","station":null,"path":null,"identity":null,"versionBefore":null,"versionAfter":null,"state":"no-device","check":null,"result":null,"exitCode":3,"durationMs":310,"reason":null,"warning":null}' \
  >"$runDir/share/PC-11.log"
# An older version's line, and a line cut off when a disk filled.
mkdir -p "$runDir/share/PC-12"
printf '%s\n' '{"time":"2026-11-30T16:20:00Z","computer":"PC-12","identity":"SIMDEV  USB Bridge","path":"usb#1","versionBefore":"00.01.01.07","result":"up-to-date","durationMs":95}' \
  '{"time":"2026-12-08T09:12:00Z","computer":"PC-12","comm' >"$runDir/share/PC-12/flashwright.log"

# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
(cd "$runDir" && wine "$binDir/flashwright-cli.exe" report share --csv report.csv --html report.html)
"$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1280,1500 \
  --screenshot="$runDir/report.png" "file://$runDir/report.html" 2>/dev/null
# A palette PNG: a tenth of the size, the same picture.
convert "$runDir/report.png" -trim -bordercolor white -border 16 -dither None -colors 64 "PNG8:$picture"
echo "report-screenshot: $picture"
