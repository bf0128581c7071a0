#!/usr/bin/env bash
# Builds the Windows test kit, build/win32/packages/Flashwright-<version>-windows-tests.zip: one
# folder with Run-Tests.ps1, run-tests.cmd and README.txt; bin/ with both programs, the simulator,
# usbsim, the helpers the end-to-end tests start, the unit, end-to-end and Windows-only test
# programs and the kit's runner (tests/kit); variants/ with the simulator's variants and the
# recorder, which the end-to-end tests take from beside bin/; fixtures/ from
# tests/windows/make-fixtures.sh when there is one; msi/ with Flashwright-current.msi (the
# simulator kit's MSI, as `make msi` makes it) and Flashwright-next.msi (the same with the last
# part of the version one higher, for the upgrade test). docs/windows-tests.md tells how to run it.
#
# Like the release archives (scripts/package.sh) the ZIP is made by packaging/make-archives.py:
# entries sorted, every time SOURCE_DATE_EPOCH (by default the last commit's), text with CRLF.
#
# Usage: scripts/windows-test-kit.sh                     (`make windows-test-kit`: builds what the
#                                                         kit holds in the win32 preset first)
#        scripts/windows-test-kit.sh --zip BUILD_DIR OUT_DIR  (the kit of a built win32 tree into
#                                                         OUT_DIR; for the kit's test)
# JOBS sets the build's parallelism.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

Die() {
  echo "windows-test-kit: $*" >&2
  exit 1
}

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct 2>/dev/null)" ||
    Die "not a git checkout: set SOURCE_DATE_EPOCH (seconds since 1970)"
fi
[[ "$SOURCE_DATE_EPOCH" =~ ^[0-9]+$ ]] || Die "SOURCE_DATE_EPOCH is not a number: $SOURCE_DATE_EPOCH"
export SOURCE_DATE_EPOCH

# What bin/ holds, from the build's bin folder.
programs=(Flashwright.exe flashwright-cli.exe ZRFWUpdateDll.dll usbsim.exe lock-holder.exe
  log-holder.exe unit_tests.exe e2e_tests.exe windows_tests.exe kit-runner.exe)
targets=(Flashwright flashwright-cli ZRFWUpdateDll ZRFWUpdateDll_missing_last ZRFWUpdateDll_recorder
  usbsim lock-holder log-holder unit_tests e2e_tests windows_tests kit-runner)

# MakeKit BUILD_DIR OUT_DIR: OUT_DIR/Flashwright-<version>-windows-tests.zip.
MakeKit() {
  local build="$1" out="$2" version name work list
  [ -f "$build/packaging/archives.txt" ] || Die "$build/packaging/archives.txt is missing: configure the win32 preset first"
  version="$(sed -n '1s/^Flashwright-\([0-9.]*\)-win32.*/\1/p' "$build/packaging/archives.txt")"
  [ -n "$version" ] || Die "no version in $build/packaging/archives.txt"
  name="Flashwright-$version-windows-tests"
  work="$(mktemp -d "${TMPDIR:-/tmp}/flashwright-kit.XXXXXX")"
  # shellcheck disable=SC2064
  trap "rm -rf '$work'" EXIT
  list="$work/list.txt"
  : >"$list"
  Add() { printf '%s\t%s\t%s\t%s\n' "$name" "$1" "$2" "$3" >>"$list"; }

  local kitSource="$root/tests/kit" file
  sed "s/@FLASHWRIGHT_VERSION@/$version/" "$kitSource/README.txt" >"$work/README.txt"
  Add text README.txt "$work/README.txt"
  Add text Run-Tests.ps1 "$kitSource/Run-Tests.ps1"
  Add text run-tests.cmd "$kitSource/run-tests.cmd"
  for file in "${programs[@]}"; do
    [ -f "$build/bin/$file" ] || Die "$build/bin/$file is missing: build the win32 preset"
    Add program "bin/$file" "$build/bin/$file"
  done
  # The files unit_tests.exe reads, copied there by its build.
  for file in "$build"/bin/unit-data/*; do Add file "bin/unit-data/${file##*/}" "$file"; done
  for file in variants/missing-last/ZRFWUpdateDll.dll variants/recorder/flashwright-recorder.dll; do
    [ -f "$build/$file" ] || Die "$build/$file is missing: build the win32 preset"
    Add program "$file" "$build/$file"
  done

  mkdir -p "$work/fixtures" "$work/msi"
  if [ -f "$root/tests/windows/make-fixtures.sh" ]; then
    bash "$root/tests/windows/make-fixtures.sh" "$work/fixtures" "$build/bin" >&2 ||
      Die "tests/windows/make-fixtures.sh failed"
  fi
  (cd "$work/fixtures" && find . -type f | LC_ALL=C sort) | while read -r file; do
    Add file "fixtures/${file#./}" "$work/fixtures/${file#./}"
  done

  # The upgrade pair: the simulator kit's MSI as it ships, and the same product one version on.
  local next="${version%.*}.$((${version##*.} + 1))"
  bash "$root/scripts/package.sh" --installer "$build" "$work/msi/Flashwright-current.msi" "$version"
  bash "$root/scripts/package.sh" --installer "$build" "$work/msi/Flashwright-next.msi" "$next"
  Add file msi/Flashwright-current.msi "$work/msi/Flashwright-current.msi"
  Add file msi/Flashwright-next.msi "$work/msi/Flashwright-next.msi"

  mkdir -p "$out"
  rm -f "$out/$name.zip"
  python3 "$root/packaging/make-archives.py" "$list" "$out" "$SOURCE_DATE_EPOCH" >/dev/null
  rm -rf "$work"
  trap - EXIT
  echo "$out/$name.zip"
}

if [ "${1:-}" = "--zip" ]; then
  [ $# -eq 3 ] || Die "usage: windows-test-kit.sh --zip BUILD_DIR OUT_DIR"
  MakeKit "$2" "$3"
  exit 0
fi
[ $# -eq 0 ] || Die "usage: windows-test-kit.sh | windows-test-kit.sh --zip BUILD_DIR OUT_DIR"

cd "$root"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs" --target "${targets[@]}"
zip="$(MakeKit "$root/build/win32" "$root/build/win32/packages")"
echo "windows-test-kit: ${zip#"$root"/}  sha256 $(sha256sum "$zip" | cut -d' ' -f1)"
