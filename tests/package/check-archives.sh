#!/usr/bin/env bash
# Makes both release archives and checks what is in them: exact file lists (the release must
# never carry the simulator), one and the same Flashwright.exe everywhere, the simulator files
# as built, all example scenarios, and READMEs whose quoted texts are the program's own.
# Usage: check-archives.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail

buildDir="$1"
sourceDir="$2"
version="$3"
binDir="$buildDir/bin"
# shellcheck source=tests/package/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

MakeAndUnpackPackages

# Only the two archives, named with the version.
actual="$(cd "$packageDir" && find . -maxdepth 1 -name '*.zip' | sed 's|^\./||' | sort)"
expected="$(printf '%s\n' "$kitName.zip" "$releaseName.zip" | sort)"
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

ExpectListing "$releaseName" \
  "$(printf "$releaseName/%s\n" Flashwright.exe README.txt flashwright-cli.exe | sort)"

scenarios=(
  01-up-to-date 02-update-required 03-no-device 04-two-devices 05-unsupported-chip
  06-wrong-running-mode 07-version-read-failure 08-image-mismatch 09-identification-failure
  10-programming-failure
)
kitFiles=(Flashwright.exe README.txt ZRFWUpdateDll.dll flashwright-cli.exe scenarios usbsim.exe)
for scenario in "${scenarios[@]}"; do kitFiles+=("scenarios/$scenario.scenario"); done
ExpectListing "$kitName" "$(printf "$kitName/%s\n" "${kitFiles[@]}" | sort)"

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
grep -qF "ZRFWUpdateDll.dll" "$releaseDir/README.txt" ||
  Fail "the release README does not name the library to put beside the program"
grep -qF "Initalize the API entries fail" "$releaseDir/README.txt" ||
  Fail "the release README does not explain the binding-failure box"

echo "package archives OK: $releaseName.zip, $kitName.zip"
