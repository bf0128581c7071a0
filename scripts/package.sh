#!/usr/bin/env bash
# Builds the win32 preset (as far as it is out of date) and makes the three release archives,
# build/win32/packages/Flashwright-<version>-win32.zip, ...-win32-simulator-kit.zip and
# ...-win32-support-kit.zip (the recorder and usbsim, for recording at a customer's PC), and the
# Windows Installer packages: ...-win32-simulator-kit.msi always, and ...-win32.msi, the release,
# when FLASHWRIGHT_LIBRARY names the vendor's ZRFWUpdateDll.dll to put in it (it is not ours to
# ship, so it is never taken from anywhere else). SHA256SUMS lists them all. With
# FLASHWRIGHT_SIGN_PFX set the two programs and the recorder in them are signed first, and the MSIs themselves
# after (scripts/sign.sh); without it nothing is, and it says so. Each MSI gets a winget manifest
# in build/win32/packages/winget/ (packaging/make-winget.py) whose installer address is
# FLASHWRIGHT_DOWNLOAD_URL/<file name>: the folder the MSIs are published in (without it, a
# placeholder at example.com, and it says so). FLASHWRIGHT_URL, the project's web page, becomes the
# MSIs' help and about links and the manifests' PackageUrl; without it the links open the
# installed README.txt.
#
# The archives are reproducible: every file in them has the time SOURCE_DATE_EPOCH (by default
# the last commit's time), so two builds of one commit give the same bytes. --verify proves it
# for this build: it copies the source to another folder, builds it there from scratch and
# compares the SHA256SUMS of both (`make package` does this).
#
# Usage: scripts/package.sh [--verify]
#        scripts/package.sh --msi                          (only the MSIs, `make msi`)
#        scripts/package.sh --archives BUILD_DIR OUT_DIR   (archives and SHA256SUMS of a built
#                                                           win32 tree, unsigned; for the tests)
#        scripts/package.sh --installer BUILD_DIR OUT.msi VERSION [LIBRARY]  (the kit's MSI of a
#                                  built win32 tree as VERSION, unsigned, or with LIBRARY the
#                                  release's; for the tests)
# JOBS sets the builds' parallelism.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="${JOBS:-$(nproc 2>/dev/null || echo 2)}"

Say() { echo "package: $*"; }
Die() {
  echo "package: $*" >&2
  exit 1
}

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct 2>/dev/null)" ||
    Die "not a git checkout: set SOURCE_DATE_EPOCH to the release's time (seconds since 1970)"
fi
[[ "$SOURCE_DATE_EPOCH" =~ ^[0-9]+$ ]] || Die "SOURCE_DATE_EPOCH is not a number: $SOURCE_DATE_EPOCH"
export SOURCE_DATE_EPOCH

# MakeArchives BUILD_DIR OUT_DIR [SIGNED_DIR]: the archives of a built tree, and their sums.
MakeArchives() {
  local outDir="$2" signedDir="${3:-}" list="$1/packaging/archives.txt"
  [ -f "$list" ] || Die "$list is missing: configure the win32 preset first"
  # Old archives (another version) must not be mistaken for this build's.
  rm -rf "$outDir"
  mkdir -p "$outDir"
  python3 "$root/packaging/make-archives.py" "$list" "$outDir" "$SOURCE_DATE_EPOCH" \
    ${signedDir:+--signed "$signedDir"} >/dev/null
  WriteSums "$outDir"
}

# WriteSums DIR: SHA256SUMS of the archives and MSIs in DIR.
WriteSums() {
  (cd "$1" && { compgen -G '*.zip' || true; compgen -G '*.msi' || true; } | LC_ALL=C sort |
    xargs -r sha256sum -- >SHA256SUMS)
}

# Version BUILD_DIR: the programs' version, as the archives are named.
Version() {
  sed -n '1s/^Flashwright-\([0-9.]*\)-win32.*/\1/p' "$1/packaging/archives.txt"
}

# MakeInstaller BUILD_DIR ARCHIVE OUT.msi VERSION [SIGNED_DIR] [LIBRARY]: one MSI (make-msi.py).
MakeInstaller() {
  # wixl reports harmless GLib warnings on standard error; they are kept for a failure only.
  /usr/bin/python3 "$root/packaging/make-msi.py" "$1/packaging/archives.txt" "$2" "$3" "$4" \
    "$SOURCE_DATE_EPOCH" ${6:+--library "$6"} ${5:+--signed "$5"} ${FLASHWRIGHT_URL:+--url "$FLASHWRIGHT_URL"} \
    >/dev/null 2>"$3.log" || {
    grep -v 'GLib' "$3.log" >&2 || true
    rm -f "$3.log"
    Die "making $3 failed"
  }
  rm -f "$3.log"
}

# MakeInstallers BUILD_DIR OUT_DIR [SIGNED_DIR]: the kit's MSI, and the release's when
# FLASHWRIGHT_LIBRARY is set; signed when SIGNED_DIR is given (the programs in them are).
MakeInstallers() {
  local buildDir="$1" outDir="$2" signedDir="${3:-}" version base
  version="$(Version "$buildDir")"
  base="Flashwright-$version-win32"
  rm -rf "$outDir"/*.msi "$outDir/winget"
  MakeInstaller "$buildDir" "$base-simulator-kit" "$outDir/$base-simulator-kit.msi" "$version" \
    "$signedDir"
  if [ -n "${FLASHWRIGHT_LIBRARY:-}" ]; then
    [ -f "$FLASHWRIGHT_LIBRARY" ] || Die "FLASHWRIGHT_LIBRARY names no file: $FLASHWRIGHT_LIBRARY"
    MakeInstaller "$buildDir" "$base" "$outDir/$base.msi" "$version" "$signedDir" \
      "$FLASHWRIGHT_LIBRARY"
  fi
  if [ -n "$signedDir" ]; then
    bash "$root/scripts/sign.sh" "$outDir/signed-msi" "$outDir"/*.msi >/dev/null
    mv -f "$outDir"/signed-msi/*.msi "$outDir/"
    rmdir "$outDir/signed-msi"
  fi
  # After signing: the manifest holds the published file's hash.
  /usr/bin/python3 "$root/packaging/make-winget.py" "$outDir/winget" \
    "${FLASHWRIGHT_DOWNLOAD_URL:-https://example.com/flashwright/$version}" "$outDir"/*.msi \
    ${FLASHWRIGHT_URL:+--url "$FLASHWRIGHT_URL"} >/dev/null
  WriteSums "$outDir"
}

# SignPrograms BUILD_DIR: signed copies of the two programs and the recorder in BUILD_DIR/signed.
SignPrograms() {
  bash "$root/scripts/sign.sh" "$1/signed" "$1/bin/Flashwright.exe" "$1/bin/flashwright-cli.exe" \
    "$1/variants/recorder/flashwright-recorder.dll"
}

if [ "${1:-}" = "--archives" ]; then
  [ $# -eq 3 ] || Die "usage: package.sh --archives BUILD_DIR OUT_DIR"
  MakeArchives "$2" "$3"
  exit 0
fi
if [ "${1:-}" = "--installer" ]; then
  [ $# -eq 4 ] || [ $# -eq 5 ] || Die "usage: package.sh --installer BUILD_DIR OUT.msi VERSION [LIBRARY]"
  archive="Flashwright-$(Version "$2")-win32"
  [ -n "${5:-}" ] || archive="$archive-simulator-kit"
  MakeInstaller "$2" "$archive" "$3" "$4" "" "${5:-}"
  exit 0
fi
verify=false
msiOnly=false
case "${1:-}" in
  --verify) verify=true ;;
  --msi) msiOnly=true ;;
  "") ;;
  *) Die "usage: package.sh [--verify | --msi] | --archives BUILD_DIR OUT_DIR" ;;
esac

cd "$root"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j "$jobs"

buildDir="$root/build/win32"
packageDir="$buildDir/packages"
signedDir=""
if [ -n "${FLASHWRIGHT_SIGN_PFX:-}" ]; then
  SignPrograms "$buildDir"
  signedDir="$buildDir/signed"
else
  Say "FLASHWRIGHT_SIGN_PFX is not set: the programs are not signed"
fi
if $msiOnly; then
  mkdir -p "$packageDir"
else
  MakeArchives "$buildDir" "$packageDir" "$signedDir"
fi
MakeInstallers "$buildDir" "$packageDir" "$signedDir"
[ -n "${FLASHWRIGHT_LIBRARY:-}" ] || Say "FLASHWRIGHT_LIBRARY is not set: the simulator kit's MSI only; for the release MSI give the vendor's library: make msi FLASHWRIGHT_LIBRARY=path/to/ZRFWUpdateDll.dll"
[ -n "${FLASHWRIGHT_DOWNLOAD_URL:-}" ] || Say "FLASHWRIGHT_DOWNLOAD_URL is not set: the winget manifests in ${packageDir#"$root"/}/winget point at https://example.com/flashwright/<version>/"
while read -r sum name; do
  Say "${packageDir#"$root"/}/${name#\*}  sha256 $sum"
done <"$packageDir/SHA256SUMS"

$verify || exit 0

# The second build: the same source (tracked and new files, as they are now) in another folder,
# built from nothing into its own build folder. Only what the archives hold is built.
work="$(mktemp -d "${TMPDIR:-/tmp}/flashwright-verify.XXXXXX")"
trap 'rm -rf "$work"' EXIT
copy="$work/source"
mkdir -p "$copy"
if git -C "$root" rev-parse --git-dir >/dev/null 2>&1; then
  git -C "$root" ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do
      if [ -e "$file" ] || [ -L "$file" ]; then printf '%s\0' "$file"; fi
    done | tar -C "$root" --null -T - -cf - | tar -C "$copy" -xf -
else
  tar -C "$root" --exclude=./build -cf - . | tar -C "$copy" -xf -
fi

Say "verify: building a second copy in $copy"
started=$SECONDS
(
  cd "$copy"
  cmake --preset win32 >/dev/null
  cmake --build --preset win32 -j "$jobs" --target Flashwright flashwright-cli ZRFWUpdateDll usbsim \
    ZRFWUpdateDll_recorder
) >"$work/build.log" 2>&1 || {
  tail -n 40 "$work/build.log" >&2
  Die "verify: the second build failed"
}
buildSeconds=$((SECONDS - started))
copyBuild="$copy/build/win32"

# Signing is reproducible too (the signing time is SOURCE_DATE_EPOCH), unless a time-stamp
# server adds its own time: then the archives of the unsigned programs are compared instead.
first="$packageDir"
if [ -n "$signedDir" ] && [ -n "${FLASHWRIGHT_SIGN_TIMESTAMP_URL:-}" ]; then
  Say "verify: time-stamped signatures differ between builds; comparing the unsigned archives"
  first="$work/first-unsigned"
  MakeArchives "$buildDir" "$first"
  MakeArchives "$copyBuild" "$work/packages"
  MakeInstallers "$buildDir" "$first"
  MakeInstallers "$copyBuild" "$work/packages"
elif [ -n "$signedDir" ]; then
  SignPrograms "$copyBuild" >/dev/null
  MakeArchives "$copyBuild" "$work/packages" "$copyBuild/signed"
  MakeInstallers "$copyBuild" "$work/packages" "$copyBuild/signed"
else
  MakeArchives "$copyBuild" "$work/packages"
  MakeInstallers "$copyBuild" "$work/packages"
fi

if ! diff -u "$first/SHA256SUMS" "$work/packages/SHA256SUMS" >&2; then
  for program in bin/Flashwright.exe bin/flashwright-cli.exe bin/ZRFWUpdateDll.dll bin/usbsim.exe \
    variants/recorder/flashwright-recorder.dll; do
    cmp -s "$buildDir/$program" "$copyBuild/$program" ||
      echo "package: verify: $program differs between the two builds" >&2
  done
  Die "verify: the second build's archives differ from the first's (second build: ${buildSeconds} s)"
fi
Say "verify: a second build in another folder gives identical archives and MSIs (its build took ${buildSeconds} s, $((SECONDS - started)) s with archives)"
