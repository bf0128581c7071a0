#!/usr/bin/env bash
# Checks that each given Windows binary imports only DLLs every Windows installation has: no
# MinGW runtime (libstdc++, libgcc, libwinpthread) and never the update library, which the
# program loads at run time from its own directory.
# Usage: check-imports.sh OBJDUMP BINARY...
set -euo pipefail
objdump=$1
shift
system='^(kernel32|user32|gdi32|msvcrt|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|version|shlwapi|ws2_32|setupapi|winmm|imm32|rpcrt4|bcrypt|ntdll)\.dll$'
status=0
for binary in "$@"; do
  mapfile -t imports < <("$objdump" -p "$binary" | sed -n 's/^\s*DLL Name: //p')
  if [ ${#imports[@]} -eq 0 ]; then
    echo "$binary: no import table found" >&2
    status=1
    continue
  fi
  for dll in "${imports[@]}"; do
    if ! grep -qiE "$system" <<<"$dll"; then
      echo "$binary imports $dll, which is not a system DLL" >&2
      status=1
    fi
  done
  echo "$(basename "$binary"): ${imports[*]}"
done
exit $status
