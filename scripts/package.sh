#!/usr/bin/env bash
# Builds the win32 preset (as far as it is out of date) and makes the two release archives with
# CPack: build/win32/packages/Flashwright-<version>-win32.zip and ...-win32-simulator-kit.zip.
# Usage: scripts/package.sh   (JOBS sets the build's parallelism)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "${JOBS:-$(nproc 2>/dev/null || echo 2)}"

buildDir="$root/build/win32"
packageDir="$buildDir/packages"
# Old archives (another version) must not be mistaken for this build's.
rm -rf "$packageDir"
cpack --config "$buildDir/CPackConfig.cmake" -B "$packageDir" >/dev/null
rm -rf "$packageDir/_CPack_Packages"

shopt -s nullglob
archives=("$packageDir"/*.zip)
if [ ${#archives[@]} -ne 2 ]; then
  echo "package: expected 2 archives in $packageDir, found ${#archives[@]}" >&2
  exit 1
fi
for archive in "${archives[@]}"; do
  echo "package: ${archive#"$root"/}"
done
