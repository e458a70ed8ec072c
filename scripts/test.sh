#!/usr/bin/env bash
# Builds and runs every test: the normal build with g++, then the whole suite again under
# AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer with clang, and the
# 32-bit kernel image with its loader test (scripts/kernel.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
jobs=$(nproc)

run_suite() {  # build-dir, compiler, sanitizers
  local dir=$1 cxx=$2 sanitize=$3
  cmake -S . -B "$dir" -DCMAKE_CXX_COMPILER="$cxx" -DTESSIL_WERROR=ON \
        -DTESSIL_SANITIZE="$sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

echo "== g++ build and tests"
run_suite build g++ ""
echo "== kernel image: cross-built, loaded in a 32-bit process, every stream vector"
./scripts/kernel.sh
echo "== clang AddressSanitizer + UndefinedBehaviorSanitizer"
run_suite build-asan clang++ "address,undefined"
echo "== clang ThreadSanitizer"
run_suite build-tsan clang++ "thread"
echo "All test suites passed."
