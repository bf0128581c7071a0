#!/usr/bin/env bash
# The Windows test kit under Wine, as a Windows PC runs it: makes the ZIP from this build
# (scripts/windows-test-kit.sh --zip), unpacks it into a scratch folder, runs bin/kit-runner.exe
# from it to the end in a Wine prefix of its own (a "PC" without Flashwright), and checks the
# outcome: exit code 0; every Windows-only test skipped, each with a "needs Windows: ..." reason,
# the summary counting them by reason; every other test passed; the summary's counts those of
# junit.xml; and nothing of Flashwright left in the prefix afterwards.
# Usage: check-kit.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build="$1"
source="$2"
scratch="$build/kit-check"
# Its own prefix, made once and kept: a run that left Flashwright's data in it fails the next.
export FLASHWRIGHT_WINEPREFIX="$build/kit-wineprefix"
# Under Wine the end-to-end tests run in the Wine preset's own test run already; here a few that
# leave data behind (the attempt records and status summary in the registry, the shared log in
# the data folder) and one that opens the window, so that the kit's clean-up is proven, at a
# small share of the suite's time. On Windows the kit runs them all.
e2eFilter='CliTest.StatusAndUpdateExitCodes:CliTest.TheMachinesSummaryIsInTheRegistryAfterEachLook:BindingFailureTest.WithoutLibraryShowsOneErrorBoxAndEnds'

Fail() {
  echo "check-kit: $*" >&2
  exit 1
}

rm -rf "$scratch"
mkdir -p "$scratch"
zip="$(bash "$source/scripts/windows-test-kit.sh" --zip "$build" "$scratch")"
python3 -m zipfile -e "$zip" "$scratch/unpacked"
kit="$(echo "$scratch"/unpacked/*)"
[ -f "$kit/bin/kit-runner.exe" ] || Fail "the kit has no bin/kit-runner.exe"

status=0
(cd "$kit" && bash "$source/scripts/wine-exec.sh" bin/kit-runner.exe --e2e-filter "$e2eFilter") ||
  status=$?
summary="$kit/results/summary.txt"
[ -f "$summary" ] || Fail "no results/summary.txt (exit code $status)"
cat "$summary"
[ "$status" -eq 0 ] || Fail "kit-runner.exe ended with exit code $status, not 0"

# The Windows-only tests, as the program lists them.
listed="$(cd "$kit/bin" && bash "$source/scripts/wine-exec.sh" windows_tests.exe --gtest_list_tests |
  tr -d '\r' | awk '/^[^ ]/ { suite = $1 } /^  / { print suite $1 }')"

python3 - "$kit/results/junit.xml" "$summary" "$listed" <<'EOF'
import re
import sys
import xml.etree.ElementTree as ET

junit, summary_path, listed = sys.argv[1], sys.argv[2], sys.argv[3].split()
problems = []
root = ET.parse(junit).getroot()
passed = failed = skipped = 0
reasons = {}
windows = set()
for suite in root.iter("testsuite"):
    for case in suite.iter("testcase"):
        name = f"{suite.get('name')}.{case.get('name')}"
        failure = case.find("failure")
        skip = case.find("skipped")
        if failure is not None:
            failed += 1
            problems.append(f"{name} failed: {failure.get('message')}")
            continue
        if skip is None:
            passed += 1
            if name.startswith("windows_tests") or name.startswith("kit."):
                problems.append(f"{name} passed under Wine: only Windows can answer it")
            continue
        skipped += 1
        reason = skip.get("message").splitlines()[-1].strip()
        reasons[reason] = reasons.get(reason, 0) + 1
        if not reason.startswith("needs Windows: "):
            problems.append(f"{name} skipped without saying what it needs from Windows: {reason!r}")
        if not (name.startswith("windows_tests") or name.startswith("kit.")):
            problems.append(f"{name} skipped, but it is not a Windows-only test: {reason!r}")
        if name.startswith("windows_tests"):
            windows.add(name.split(".", 2)[-1] if name.startswith("windows_tests.standard-user.")
                        else name.split(".", 1)[-1])
missing = sorted(set(listed) - windows)
if missing:
    problems.append(f"Windows-only tests that did not run in either part: {missing}")
if "kit.StandardUserPart" not in {f"{s.get('name')}.{c.get('name')}" for s in root.iter("testsuite")
                                  for c in s.iter("testcase")}:
    problems.append("the standard user's part is not reported as skipped")
if passed == 0:
    problems.append("no test passed: the unit and end-to-end tests did not run")

text = open(summary_path, encoding="utf-8").read()
match = re.search(r"^Tests: (\d+) passed, (\d+) failed, (\d+) skipped$", text, re.M)
if not match or tuple(map(int, match.groups())) != (passed, failed, skipped):
    problems.append(f"the summary's counts are not junit.xml's ({passed}, {failed}, {skipped})")
if int(root.get("tests")) != passed + failed + skipped:
    problems.append("junit.xml's total is not the sum of its tests")
for reason, count in reasons.items():
    if not re.search(rf"^  {re.escape(reason)}\s+{count}$", text, re.M):
        problems.append(f"the summary does not count {count} skipped for {reason!r}")
for problem in problems:
    print(f"check-kit: {problem}", file=sys.stderr)
sys.exit(1 if problems else 0)
EOF

# Nothing of Flashwright is left in the prefix: the run removed what it made.
(cd "$kit/bin" && bash "$source/scripts/wine-exec.sh" kit-runner.exe --results "$scratch/again" \
  --e2e-filter NoSuchTest >/dev/null) || {
  cat "$scratch/again/summary.txt" >&2
  Fail "a second run refuses or fails: the first left Flashwright's data behind"
}
rm -rf "$scratch"
echo "check-kit: the kit ran to the end under Wine and left nothing behind"
