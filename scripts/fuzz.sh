#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer (build/fuzz) and runs each for a while.
# Usage: scripts/fuzz.sh [SECONDS]   SECONDS per target, default 60.
# Each target works on build/fuzz/corpus-<target>, seeded from tests/fuzz/corpus/<target>; what it
# finds new stays there. A crash leaves its input in build/fuzz/crashes-<target>/, is reported
# with the command that replays it, and makes the script exit non-zero.
set -euo pipefail

seconds="${1:-60}"
case "$seconds" in
  '' | *[!0-9]*)
    echo "usage: $0 [SECONDS]" >&2
    exit 2
    ;;
esac

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/fuzz"
targets=(scan scenario)
clangVersion=14

# The compiler and the libFuzzer runtime, installed as root when missing.
cxx="clang++-$clangVersion"
cc="clang-$clangVersion"
FuzzerWorks() {
  command -v "$cxx" >/dev/null 2>&1 || return 1
  local probe
  probe="$(mktemp -d)"
  printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
    'extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }' \
    >"$probe/probe.cpp"
  local status=0
  "$cxx" -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
    >/dev/null 2>&1 || status=1
  rm -rf "$probe"
  return $status
}
if ! FuzzerWorks; then
  packages=("clang-$clangVersion" "libclang-rt-$clangVersion-dev")
  if [ "$(id -u)" -ne 0 ]; then
    echo "fuzz: $cxx with libFuzzer is missing; install ${packages[*]} as root" >&2
    exit 1
  fi
  echo "fuzz: installing ${packages[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
  if ! FuzzerWorks; then
    echo "fuzz: $cxx still cannot build a libFuzzer program" >&2
    exit 1
  fi
fi
command -v cmake >/dev/null 2>&1 || bash "$root/scripts/install-deps.sh"

# Everything is instrumented for coverage and checked by the sanitizers; only the targets
# themselves link libFuzzer's main.
flags="-O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined"
flags="$flags -fno-sanitize-recover=all"
cmake -S "$root" -B "$build" \
  -DCMAKE_BUILD_TYPE= \
  -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DFLASHWRIGHT_SANITIZE=OFF -DFLASHWRIGHT_FUZZ=ON >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
  --target "${targets[@]/#/flashwright_fuzz_}"

failed=()
for target in "${targets[@]}"; do
  program="$build/tests/fuzz/flashwright_fuzz_$target"
  corpus="$build/corpus-$target"
  crashes="$build/crashes-$target"
  seeds="$root/tests/fuzz/corpus/$target"
  mkdir -p "$corpus" "$crashes"
  cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true

  options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1 -max_len=16384
           -artifact_prefix="$crashes/")
  [ -f "$root/tests/fuzz/$target.dict" ] && options+=(-dict="$root/tests/fuzz/$target.dict")

  echo "fuzz: $target for ${seconds}s (corpus $corpus)"
  before="$(find "$crashes" -type f | wc -l)"
  # The whole log is kept; the terminal gets progress, the final numbers and any fault.
  set +e +o pipefail
  "$program" "${options[@]}" "$corpus" 2>&1 | tee "$build/fuzz-$target.log" |
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE|pulse)|^stat::|^==[0-9]+==|SUMMARY|check failed|Test unit written|^artifact_prefix'
  status="${PIPESTATUS[0]}"
  set -e -o pipefail
  if [ "$status" -ne 0 ]; then
    newest="$(ls -t "$crashes"/* 2>/dev/null | head -n 1 || true)"
    echo "fuzz: $target FAILED (exit $status); full log: $build/fuzz-$target.log" >&2
    if [ -n "$newest" ]; then
      echo "fuzz: reproducer: $newest" >&2
      echo "fuzz: replay it:  $program $newest" >&2
    fi
    failed+=("$target")
  elif [ "$(find "$crashes" -type f | wc -l)" -ne "$before" ]; then
    echo "fuzz: $target left new files in $crashes" >&2
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: faults found in: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz: no faults in ${targets[*]} (${seconds}s each)"
