# Sourced by the package tests: makes the three archives from a win32 build tree into a scratch
# directory, as `make package` does but unsigned, and unpacks them, so a test never depends on
# (or disturbs) build/win32/packages. Needs: buildDir, sourceDir, version. Sets: scratch
# (removed on exit), packageDir, releaseName, kitName, supportName, releaseDir, kitDir,
# supportDir. With needsDisplay=1 it
# first moves the test into a display session.
# shellcheck shell=bash disable=SC2034,SC2154

# A test that talks to Wine sets needsDisplay=1 before sourcing this: it then runs again inside
# one display session (one wineserver on one display), with the same arguments.
if [ "${needsDisplay:-0}" = 1 ] && [ -z "${FLASHWRIGHT_PACKAGE_IN_SESSION:-}" ]; then
  export FLASHWRIGHT_PACKAGE_IN_SESSION=1
  exec "$sourceDir/scripts/with-display.sh" bash "$0" "$@"
fi

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
supportName="Flashwright-$version-win32-support-kit"
supportDir="$scratch/unpacked/$supportName"

MakeAndUnpackPackages() {
  if ! bash "$sourceDir/scripts/package.sh" --archives "$buildDir" "$packageDir" \
    >"$scratch/package.log" 2>&1; then
    cat "$scratch/package.log" >&2
    Fail "scripts/package.sh --archives failed"
  fi
  mkdir -p "$scratch/unpacked"
  local archive
  for archive in "$releaseName" "$kitName" "$supportName"; do
    [ -f "$packageDir/$archive.zip" ] || Fail "$archive.zip was not made"
    (cd "$scratch/unpacked" && "${CMAKE:-cmake}" -E tar xf "$packageDir/$archive.zip") ||
      Fail "$archive.zip does not unpack"
  done
}
