# Sourced by the package tests: makes both archives from a win32 build tree into a scratch
# directory, as `make package` does but unsigned, and unpacks them, so a test never depends on
# (or disturbs) build/win32/packages. Needs: buildDir, sourceDir, version. Sets: scratch
# (removed on exit), packageDir, releaseName, kitName, releaseDir, kitDir.
# shellcheck shell=bash disable=SC2034,SC2154

Fail() {
  echo "FAIL: $*" >&2
  exit 1
}

scratch="$(mktemp -d "${TMPDIR:-/tmp}/flashwright-package.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT

releaseName="Flashwright-$version-win32"
kitName="Flashwright-$version-win32-simulator-kit"
packageDir="$scratch/packages"
releaseDir="$scratch/unpacked/$releaseName"
kitDir="$scratch/unpacked/$kitName"

MakeAndUnpackPackages() {
  if ! bash "$sourceDir/scripts/package.sh" --archives "$buildDir" "$packageDir" \
    >"$scratch/package.log" 2>&1; then
    cat "$scratch/package.log" >&2
    Fail "scripts/package.sh --archives failed"
  fi
  mkdir -p "$scratch/unpacked"
  local archive
  for archive in "$releaseName" "$kitName"; do
    [ -f "$packageDir/$archive.zip" ] || Fail "$archive.zip was not made"
    (cd "$scratch/unpacked" && "${CMAKE:-cmake}" -E tar xf "$packageDir/$archive.zip") ||
      Fail "$archive.zip does not unpack"
  done
}
