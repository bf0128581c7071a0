#!/usr/bin/env bash
# Takes the README's picture of the fleet report (docs/screenshots/report.png): writes a share of
# sample logs of 40 PCs, as the PCs copy theirs to a share (PC-NN/flashwright.log, or PC-NN.log):
# devices done, waiting for their power cycle (one of them for five days), a PC with two devices
# of which one did not take, a PC fixed after a failure, failures, a device that cannot be
# updated, an attempt cut short, PCs with no device, a station's run, an older version's line, a
# line cut off and a line that names another PC than its folder. Then runs `flashwright-cli
# report` on it under Wine and renders the page with a headless Chromium, which is not part of the
# build or the tests: install it for this (`apt-get install -y chromium`). The lines' times are
# hours before now, so that the picture shows the same whenever it is taken.
#
# Usage: scripts/report-screenshot.sh
# Environment: FLASHWRIGHT_BIN_DIR  directory with flashwright-cli.exe (default build/win32/bin)
#              FLASHWRIGHT_PICTURE  where the picture goes (default docs/screenshots/report.png)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
binDir="${FLASHWRIGHT_BIN_DIR:-$root/build/win32/bin}"
runDir="$root/build/report-sample"
picture="${FLASHWRIGHT_PICTURE:-$root/docs/screenshots/report.png}"
browser="$(command -v chromium || command -v chromium-browser || true)"
if [ -z "$browser" ]; then
  echo "report-screenshot: Chromium is needed: apt-get install -y chromium" >&2
  exit 1
fi

rm -rf "$runDir"
mkdir -p "$runDir/share"
python3 - "$runDir/share" <<'PY'
import json, os, sys, time
share = sys.argv[1]
now = time.time()
def stamp(hours):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(now - hours * 3600))
def line(pc, hours, result=None, state="update-required", exit_code=0, reason=None,
         command="update", path="\\\\.\\SIMUSB1", check="firmware-version", after=None,
         station=None, run=None, sequence=None, unit=None, file=None, before="00.01.01.05"):
    entry = {"time": stamp(hours), "program": "flashwright-cli", "version": "0.1.1.7",
             "command": command, "computer": pc, "user": "CORP\\svc-deploy", "station": station,
             "run": run, "sequence": sequence, "unit": unit, "path": path,
             "identity": "SIMDEV  USB Bridge" if path else None,
             "versionBefore": before if path else None, "versionAfter": after,
             "state": state, "check": check if path else None, "result": result,
             "exitCode": exit_code, "durationMs": 41250, "reason": reason, "warning": None}
    name = os.path.join(share, file or os.path.join(pc, "flashwright.log"))
    os.makedirs(os.path.dirname(name), exist_ok=True)
    with open(name, "a", newline="\n") as log:
        log.write(json.dumps(entry, separators=(",", ":")) + "\n")
for n in range(1, 23):  # updated, then found at the target by the next run
    pc = "PC-%02d" % n
    line(pc, 50 + n, "updated", exit_code=3010, after="00.01.01.07")
    line(pc, 20 + n, "up-to-date", "up-to-date", before="00.01.01.07")
for n in range(23, 29):  # updated today: waits for its power cycle
    line("PC-%02d" % n, n - 20, "updated", exit_code=3010, after="00.01.01.07")
line("PC-29", 120, "pending-power-cycle", "pending-power-cycle", 3010, after="00.01.01.07")
line("PC-30", 30, "up-to-date", "up-to-date", before="00.01.01.07")  # two devices
line("PC-30", 6, "did-not-take", "did-not-take", 1, path="\\\\.\\SIMUSB2",
     reason="after its power cycle the device reports 00.01.01.05, not 00.01.01.07")
line("PC-31", 40, "failed", exit_code=1, reason="programming failed: the device stopped answering")
line("PC-31", 10, "updated", exit_code=3010, after="00.01.01.07")
line("PC-31", 9, "up-to-date", "up-to-date", before="00.01.01.07")
line("PC-32", 3, "failed", exit_code=1,
     reason="The update library failed in ZR_FWUpdateProgrammingNoCustomizedSetting: access violation")
line("PC-33", 7, "not-updatable", "unsupported-chip", 5, check="chip-type")
line("PC-34", 2, None, "interrupted", 1, command="status", check=None)
for n in (35, 36, 37):  # detect on a PC without the device
    line("PC-%02d" % n, n - 30, None, "no-device", 0, command="detect", path=None,
         file="PC-%02d.log" % n)
line("PC-38", 4, None, "update-required", 10, command="status")
for sequence, unit, verdict in ((1, "SN-0041", "verified"), (2, "SN-0042", "verified"),
                                (3, "SN-0043", "failed"), (4, "SN-0044", "verified")):
    common = dict(command="station", station="LINE-1", run="20261208-0900-7f3a",
                  sequence=sequence, unit=unit)
    line("PC-39", 8 - sequence * 0.1, "updated", exit_code=3010, after="00.01.01.07", **common)
    line("PC-39", 8 - sequence * 0.1 - 0.05, verdict, exit_code=0 if verdict == "verified" else 1,
         reason=None if verdict == "verified" else
         "after the power cycle the device reports 00.01.01.05", **common)
# An older version's line, and a line cut off when a disk filled.
os.makedirs(os.path.join(share, "PC-40"), exist_ok=True)
with open(os.path.join(share, "PC-40", "flashwright.log"), "a") as log:
    log.write(json.dumps({"time": stamp(200), "computer": "PC-40", "identity": "SIMDEV  USB Bridge",
                          "path": "usb#1", "versionBefore": "00.01.01.07", "result": "up-to-date",
                          "durationMs": 95}, separators=(",", ":")) + "\n")
    log.write('{"time":"%s","computer":"PC-40","comm\n' % stamp(1))
# A line in PC-12's folder that says PC-32 is done.
line("PC-32", 1, "up-to-date", "up-to-date", file=os.path.join("PC-12", "flashwright.log"),
     path="\\\\.\\SIMUSB9")
PY

# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
(cd "$runDir" && wine "$binDir/flashwright-cli.exe" report share --csv report.csv --html report.html)
"$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1400,2400 \
  --screenshot="$runDir/report.png" "file://$runDir/report.html" 2>/dev/null
# A palette PNG: a tenth of the size, the same picture.
convert "$runDir/report.png" -trim -bordercolor white -border 16 -dither None -colors 64 "PNG8:$picture"
echo "report-screenshot: $picture"
