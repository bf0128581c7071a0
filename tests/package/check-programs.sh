#!/usr/bin/env bash
# Checks what the shipped programs say about themselves, read back from the built files: the
# version record (file and product version as numbers and as text, company, copyright, FILEOS,
# the file's own name) and the manifest's assembly version, all as the top-level CMakeLists.txt
# sets them.
# Usage: check-programs.sh WINDRES VERSION PRODUCT_VERSION COMPANY COPYRIGHT PROGRAM...
set -euo pipefail

windres="$1"
version="$2"
productVersion="$3"
company="$4"
copyright="$5"
shift 5

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

for program in "$@"; do
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

[ "$failures" -eq 0 ] || exit 1
echo "programs OK: $*"
