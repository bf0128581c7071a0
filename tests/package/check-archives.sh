#!/usr/bin/env bash
# Makes the three release archives and checks what is in them: exact file lists (the release must
# never carry the simulator or the recorder; the release and the simulator kit carry the detection
# script), one and the same Flashwright.exe everywhere, the simulator and support kits' files as
# built, all example scenarios, READMEs whose quoted texts are the program's own, the licenses and
# notices, text files with CRLF line ends, the simulator's documentation usbsim names; and that
# they are reproducible: right SHA256SUMS, sorted entries with one time and fixed modes, and the
# same bytes when made again elsewhere.
# Usage: check-archives.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail

buildDir="$1"
sourceDir="$2"
version="$3"
binDir="$buildDir/bin"
# shellcheck source=tests/package/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

MakeAndUnpackPackages

# Only the three archives, named with the version.
actual="$(cd "$packageDir" && find . -maxdepth 1 -name '*.zip' | sed 's|^\./||' | sort)"
expected="$(printf '%s\n' "$kitName.zip" "$releaseName.zip" "$supportName.zip" | sort)"
[ "$actual" = "$expected" ] || Fail "archives made:"$'\n'"$actual"$'\n'"expected:"$'\n'"$expected"

# Every entry of an archive, directories included, relative to the unpack directory.
Listing() {
  (cd "$scratch/unpacked" && find "$1" -mindepth 1 | sort)
}
ExpectListing() {
  local name="$1" expected="$2" actual
  actual="$(Listing "$name")"
  [ "$actual" = "$expected" ] ||
    Fail "$name.zip holds:"$'\n'"$actual"$'\n'"expected:"$'\n'"$expected"
}

ExpectListing "$releaseName" "$(printf "$releaseName/%s\n" CHANGELOG.txt Detect-Flashwright.ps1 \
  Flashwright-Status.mof Flashwright.exe LICENSE.txt README.txt Test-FlashwrightStatus.ps1 \
  THIRD-PARTY-NOTICES.txt flashwright-cli.exe | sort)"

scenarios=(
  01-up-to-date 02-update-required 03-no-device 04-two-devices 05-unsupported-chip
  06-wrong-running-mode 07-version-read-failure 08-image-mismatch 09-identification-failure
  10-programming-failure
)
kitFiles=(Detect-Flashwright.ps1 Flashwright-Status.mof Flashwright.exe LICENSE.txt README.txt
          SIMULATOR.md Test-FlashwrightStatus.ps1 THIRD-PARTY-NOTICES.txt ZRFWUpdateDll.dll
          flashwright-cli.exe scenarios usbsim.exe)
for scenario in "${scenarios[@]}"; do kitFiles+=("scenarios/$scenario.scenario"); done
ExpectListing "$kitName" "$(printf "$kitName/%s\n" "${kitFiles[@]}" | sort)"

ExpectListing "$supportName" "$(printf "$supportName/%s\n" LICENSE.txt SUPPORT-RECORDING.md \
  THIRD-PARTY-NOTICES.txt flashwright-recorder.dll usbsim.exe | sort)"
# The recorder under its own name (never the library's), and the same usbsim.
cmp "$supportDir/flashwright-recorder.dll" "$buildDir/variants/recorder/flashwright-recorder.dll" ||
  Fail "the support kit's flashwright-recorder.dll is not the recorder"
cmp "$supportDir/usbsim.exe" "$binDir/usbsim.exe" || Fail "the support kit's usbsim.exe differs"

# The program users get is the program that was built and tested, in both archives.
cmp "$releaseDir/Flashwright.exe" "$binDir/Flashwright.exe" ||
  Fail "the release's Flashwright.exe is not build/bin/Flashwright.exe"
cmp "$kitDir/Flashwright.exe" "$releaseDir/Flashwright.exe" ||
  Fail "the kit's Flashwright.exe differs from the release's"
for archived in "$releaseDir/flashwright-cli.exe" "$kitDir/flashwright-cli.exe"; do
  cmp "$archived" "$binDir/flashwright-cli.exe" ||
    Fail "${archived#"$scratch"/} is not build/bin/flashwright-cli.exe"
done
# The full simulator, not the variant lacking an entry point (which has the same file name).
cmp "$kitDir/ZRFWUpdateDll.dll" "$binDir/ZRFWUpdateDll.dll" ||
  Fail "the kit's ZRFWUpdateDll.dll is not the simulator built in bin/"
cmp "$kitDir/usbsim.exe" "$binDir/usbsim.exe" || Fail "the kit's usbsim.exe differs from bin/"
for scenario in "${scenarios[@]}"; do
  cmp "$kitDir/scenarios/$scenario.scenario" "$sourceDir/packaging/scenarios/$scenario.scenario" ||
    Fail "scenario $scenario differs from its source"
done

# READMEs: version filled in, and every text they quote is one the program really shows, so a
# reworded or "corrected" status text cannot leave the README describing a line nobody sees.
for readme in "$releaseDir/README.txt" "$kitDir/README.txt"; do
  grep -q "^Flashwright $version" "$readme" || Fail "${readme#"$scratch"/} lacks the version"
  if grep -n '@[A-Z_]*@' "$readme"; then Fail "${readme#"$scratch"/}: unreplaced variable"; fi
  while IFS= read -r quoted; do
    text="${quoted:1:${#quoted}-2}"
    grep -qaF -- "$text" "$binDir/Flashwright.exe" "$binDir/flashwright-cli.exe" ||
      Fail "${readme#"$scratch"/} quotes \"$text\", which neither program contains"
  done < <(grep -o '"[^"]*"' "$readme")
done

# Text files for Windows users: CRLF line ends only, and otherwise the files as written.
ExpectText() {
  local archived="$1" source="$2" lines returns crlfLines
  lines="$(tr -cd '\n' <"$archived" | wc -c)"
  returns="$(tr -cd '\r' <"$archived" | wc -c)"
  crlfLines="$(grep -c $'\r$' "$archived" || true)"
  [ "$lines" -gt 0 ] && [ "$returns" = "$lines" ] && [ "$crlfLines" = "$lines" ] ||
    Fail "${archived#"$scratch"/} does not end every line with CRLF"
  tr -d '\r' <"$archived" | cmp -s - "$source" ||
    Fail "${archived#"$scratch"/} is not ${source#"$sourceDir"/} with CRLF line ends"
}
for dir in "$releaseDir" "$kitDir"; do
  ExpectText "$dir/LICENSE.txt" "$sourceDir/LICENSE"
  ExpectText "$dir/THIRD-PARTY-NOTICES.txt" "$sourceDir/THIRD-PARTY-NOTICES"
  for script in Detect-Flashwright.ps1 Test-FlashwrightStatus.ps1 Flashwright-Status.mof; do
    ExpectText "$dir/$script" "$sourceDir/deploy/$script"
  done
done
ExpectText "$releaseDir/README.txt" "$buildDir/packaging/release/README.txt"
ExpectText "$kitDir/README.txt" "$buildDir/packaging/simulator-kit/README.txt"
ExpectText "$kitDir/SIMULATOR.md" "$sourceDir/sim/README.md"
ExpectText "$supportDir/SUPPORT-RECORDING.md" "$sourceDir/docs/support-recording.md"
for name in LICENSE.txt THIRD-PARTY-NOTICES.txt; do
  cmp "$supportDir/$name" "$releaseDir/$name" || Fail "the support kit's $name differs"
done
ExpectText "$releaseDir/CHANGELOG.txt" "$sourceDir/CHANGELOG.md"

# The licenses: ours, and a notice with its license for everything linked into the programs.
grep -qx $'MIT License\r' "$releaseDir/LICENSE.txt" &&
  grep -qx $'Copyright (c) 2026 Flashwright developers\r' "$releaseDir/LICENSE.txt" ||
  Fail "LICENSE.txt is not the MIT license of the Flashwright developers"
notices="$releaseDir/THIRD-PARTY-NOTICES.txt"
for notice in \
  "1. MinGW-w64 runtime" "Copyright (c) 2009-2016 the mingw-w64 project" "License: ZPL-2.1" \
  "2. winpthreads" "Copyright (c) 2011-2016 mingw-w64 project" "License: expat" \
  "3. GCC runtime libraries: libgcc, libstdc++, libssp" "GCC RUNTIME LIBRARY EXCEPTION" \
  "Version 3.1, 31 March 2009" "4. CLI11" "License: BSD-3-clause" \
  "Copyright (c) 2017-2020 University of Cincinnati, developed by Henry Schreiner under NSF AWARD 1414736" \
  "5. JSON for Modern C++ (nlohmann/json)" "Copyright (c) 2013-2022 Niels Lohmann" "License: Expat"; do
  grep -qxF "$notice"$'\r' "$notices" || Fail "THIRD-PARTY-NOTICES.txt lacks the line: $notice"
done

# usbsim's help points to documentation the kit has. (Lines starting with # are the comment
# heading the scenario files it writes, not its help.)
mapfile -t named < <(strings -a "$kitDir/usbsim.exe" | grep -v '^ *#' |
                     grep -oE '[A-Za-z0-9_/-]+\.md' | sort -u)
[ ${#named[@]} -gt 0 ] || Fail "usbsim.exe names no documentation file"
for doc in "${named[@]}"; do
  [ -f "$kitDir/$doc" ] || Fail "usbsim --help names $doc, which the kit lacks"
done

grep -qF "ZRFWUpdateDll.dll" "$releaseDir/README.txt" ||
  Fail "the release README does not name the library to put beside the program"
grep -qF "Initalize the API entries fail" "$releaseDir/README.txt" ||
  Fail "the release README does not explain the binding-failure box"

# Reproducible archives. SHA256SUMS names both archives, and rightly.
sums="$(cd "$packageDir" && sed 's/^[0-9a-f]\{64\} [ *]//' SHA256SUMS | sort)"
[ "$sums" = "$expected" ] || Fail "SHA256SUMS names:"$'\n'"$sums"$'\n'"expected:"$'\n'"$expected"
(cd "$packageDir" && sha256sum --quiet -c SHA256SUMS) || Fail "SHA256SUMS does not match the archives"
# Entries in sorted order, every one at the release time (the last commit's unless
# SOURCE_DATE_EPOCH says otherwise), files 644 and programs 755, no extra fields (owners, times).
epoch="${SOURCE_DATE_EPOCH:-$(git -C "$sourceDir" log -1 --format=%ct)}"
for archive in "$releaseName" "$kitName" "$supportName"; do
  problems="$(python3 - "$packageDir/$archive.zip" "$epoch" <<'PYTHON'
import sys, time, zipfile
infos = zipfile.ZipFile(sys.argv[1]).infolist()
# A zip time counts seconds in twos.
stamp = time.gmtime(int(sys.argv[2]) // 2 * 2)[:6]
names = [info.filename for info in infos]
if names != sorted(names):
    print("entries not in sorted order:", names)
for info in infos:
    mode = info.external_attr >> 16
    wanted = 0o40755 if info.is_dir() else 0o100755 if info.filename.endswith((".exe", ".dll")) else 0o100644
    if info.date_time != stamp:
        print(info.filename, "has the time", info.date_time, "not", stamp)
    if mode != wanted or info.extra:
        print(info.filename, "has mode %o and %d bytes of extra fields" % (mode, len(info.extra)))
PYTHON
)"
  [ -z "$problems" ] || Fail "$archive.zip:"$'\n'"$problems"
done
# Made again in another time zone, with another umask: the same bytes.
(umask 077 && TZ=Pacific/Kiritimati bash "$sourceDir/scripts/package.sh" --archives "$buildDir" \
  "$scratch/again" >/dev/null) || Fail "making the archives again failed"
cmp "$packageDir/SHA256SUMS" "$scratch/again/SHA256SUMS" ||
  Fail "archives made again in another time zone and umask differ"

# The release notes have a section for this version, and one for what comes after it.
grep -qx '## \[Unreleased\]' "$sourceDir/CHANGELOG.md" ||
  Fail "CHANGELOG.md has no [Unreleased] section"
grep -qE "^## \[${version//./\\.}\] - [0-9]{4}-[0-9]{2}-[0-9]{2}$" "$sourceDir/CHANGELOG.md" ||
  Fail "CHANGELOG.md has no dated section for $version"

echo "package archives OK: $releaseName.zip, $kitName.zip, $supportName.zip"
