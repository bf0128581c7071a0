#!/usr/bin/env bash
# Checks the shipped binaries as built. The programs: what they say about themselves, read back
# from the files (the version record's file and product version as numbers and as text, company,
# copyright, FILEOS, the file's own name; the manifest's assembly version), all as the top-level
# CMakeLists.txt sets them. Every binary, the simulator's too: nothing that differs from one
# build to the next, that is no link time in the PE header or the export table, and neither the
# source nor the build folder's path.
# Usage: check-programs.sh WINDRES OBJDUMP SOURCE_DIR BUILD_DIR VERSION PRODUCT_VERSION COMPANY
#                          COPYRIGHT PROGRAM... -- OTHER_BINARY...
set -euo pipefail

windres="$1"
objdump="$2"
sourceDir="$3"
buildDir="$4"
version="$5"
productVersion="$6"
company="$7"
copyright="$8"
shift 8
programs=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  programs+=("$1")
  shift
done
[ $# -gt 0 ] && shift
binaries=("${programs[@]}" "$@")

failures=0
Fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# windres decompiles a program's resources into a resource script; each expected line must be
# in it exactly once.
ExpectLine() {
  local program="$1" script="$2" line="$3" count
  count="$(grep -cxF -- "$line" <<<"$script" || true)"
  [ "$count" = 1 ] || Fail "$(basename "$program"): expected once, found $count times: $line"
}

for program in "${programs[@]}"; do
  name="$(basename "$program")"
  if ! script="$("$windres" -i "$program" -O rc 2>&1)"; then
    Fail "$name: windres cannot read its resources: $script"
    continue
  fi
  ExpectLine "$program" "$script" " FILEVERSION ${version//./, }"
  ExpectLine "$program" "$script" " PRODUCTVERSION ${productVersion//./, }"
  # VOS_NT_WINDOWS32: a 32-bit program for Windows NT.
  ExpectLine "$program" "$script" " FILEOS 0x40004"
  ExpectLine "$program" "$script" "      VALUE \"CompanyName\", \"$company\""
  ExpectLine "$program" "$script" "      VALUE \"LegalCopyright\", \"$copyright\""
  ExpectLine "$program" "$script" "      VALUE \"FileVersion\", \"$version\""
  ExpectLine "$program" "$script" "      VALUE \"ProductVersion\", \"$productVersion\""
  ExpectLine "$program" "$script" "      VALUE \"OriginalFilename\", \"$name\""
  # The manifest is stored as quoted lines with doubled quotes.
  grep -qF "version=\"\"$version\"\" processorArchitecture=\"\"x86\"\"" <<<"$script" ||
    Fail "$name: the manifest's assembly version is not $version"
  if grep -n '@[A-Z_]*@' <<<"$script"; then Fail "$name: unreplaced variable in its resources"; fi
done

# A little-endian 32-bit word of a file at a byte offset.
Word() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

for binary in "${binaries[@]}"; do
  name="$(basename "$binary")"
  # The PE header starts where the word at 0x3C says; its link time is 8 bytes in.
  peHeader="$(Word "$binary" 60)"
  stamp="$(Word "$binary" $((peHeader + 8)))"
  [ "$stamp" = 0 ] || Fail "$name: the PE header carries a link time ($stamp)"
  exportStamp="$("$objdump" -p "$binary" | sed -n 's/^Time\/Date stamp[[:space:]]*//p')"
  [ -z "$exportStamp" ] || [ "$exportStamp" = 0 ] ||
    Fail "$name: the export table carries a link time ($exportStamp)"
  for folder in "$sourceDir" "$buildDir"; do
    if grep -qaF -- "$folder" "$binary"; then Fail "$name contains the path $folder"; fi
  done
done

[ "$failures" -eq 0 ] || exit 1
echo "binaries OK: ${binaries[*]}"
