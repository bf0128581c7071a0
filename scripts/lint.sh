#!/usr/bin/env bash
# Code checks over our own sources: clang-format (check only), clang-tidy (both builds) and
# cppcheck. Prints every finding and exits non-zero when there is one. Needs the native and
# win32 builds configured (their compile_commands.json); `make lint` sees to that.
set -uo pipefail
cd "$(dirname "$0")/.."

status=0
fail() {
  echo "lint: $1" >&2
  status=1
}

mapfile -t sources < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' | sort -u)
[ ${#sources[@]} -gt 0 ] || { echo "lint: no sources found" >&2; exit 1; }

echo "lint: clang-format (${#sources[@]} files)"
clang-format --dry-run --Werror "${sources[@]}" || fail "clang-format: run clang-format -i on the files above"

# Production code only: the tests are held to the compiler's warnings and the sanitizers.
native=(app/*.cpp cli/*.cpp core/*.cpp platform/*.cpp device/*.cpp update/*.cpp updatelib/*.cpp
        sim/Scenario.cpp sim/SimLibrary.cpp)
win32=(programs/*.cpp platform/win32/*.cpp sim/ZRFWUpdateDll.cpp sim/usbsim.cpp)

for db in build/native build/win32; do
  [ -f "$db/compile_commands.json" ] || { fail "$db/compile_commands.json missing: configure it first"; }
done

# Runs clang-tidy over the files after "--", two at a time; shows only its findings.
tidy() {
  local label=$1 output
  shift
  echo "lint: clang-tidy ($label)"
  if ! output=$(printf '%s\n' "$@" | xargs -P 2 -n 2 clang-tidy --quiet "${tidyArgs[@]}" 2>&1); then
    grep -E -A3 '(warning|error):' <<<"$output" || echo "$output"
    fail "clang-tidy ($label) found the problems above"
  fi
}

tidyArgs=(-p build/native)
tidy "native, ${#native[@]} files" "${native[@]}"

# The cross build's headers: clang finds MinGW's C headers itself, not its libstdc++.
cross=(--extra-arg=--target=i686-w64-mingw32)
while read -r dir; do
  cross+=("--extra-arg=-isystem$dir")
done < <(echo | i686-w64-mingw32-g++-posix -xc++ -E -v - 2>&1 |
         sed -n '/#include <...> search starts here/,/End of search list/p' | sed -n 's/^ //p')
tidyArgs=(-p build/win32 "${cross[@]}")
tidy "win32, ${#win32[@]} files" "${win32[@]}"

echo "lint: cppcheck"
cppcheck --quiet --std=c++20 --language=c++ --enable=warning,performance,portability \
  --inline-suppr --error-exitcode=1 --suppress=missingIncludeSystem --library=windows -I . \
  app cli core device update updatelib platform programs sim || fail "cppcheck found the problems above"

if [ $status -eq 0 ]; then echo "lint: clean"; fi
exit $status
