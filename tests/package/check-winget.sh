#!/usr/bin/env bash
# The winget manifests as scripts/package.sh writes them, for the simulator kit's MSI and a release
# MSI (the simulator's library standing in for the vendor's), checked against the MSIs themselves
# (check-winget.py). Host only: no Wine.
# Usage: check-winget.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail

buildDir="$1"
sourceDir="$2"
version="$3"

# shellcheck source=tests/package/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-1700000000}"
baseUrl="https://downloads.example/flashwright/$version"

mkdir -p "$scratch/msi"
kit="$scratch/msi/Flashwright-$version-win32-simulator-kit.msi"
release="$scratch/msi/Flashwright-$version-win32.msi"
if ! { bash "$sourceDir/scripts/package.sh" --installer "$buildDir" "$kit" "$version" &&
  bash "$sourceDir/scripts/package.sh" --installer "$buildDir" "$release" "$version" \
    "$buildDir/bin/ZRFWUpdateDll.dll"; } >"$scratch/log" 2>&1; then
  cat "$scratch/log" >&2
  Fail "scripts/package.sh --installer failed"
fi
/usr/bin/python3 "$sourceDir/packaging/make-winget.py" "$scratch/winget" "$baseUrl" "$kit" "$release" \
  >/dev/null || Fail "make-winget.py failed"
/usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/check-winget.py" "$scratch/winget" "$baseUrl" \
  "$version" "$kit" "$release" || Fail "the winget manifests do not match the MSIs"

# A manifest written before the MSI changed (signed, rebuilt) no longer matches it.
printf 'x' >>"$release"
! /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/check-winget.py" "$scratch/winget" "$baseUrl" \
  "$version" "$kit" "$release" 2>/dev/null || Fail "check-winget.py missed a changed MSI"
echo "check-winget: the manifests of both MSIs match their product codes, upgrade code, version and hash"
