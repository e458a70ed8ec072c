#!/usr/bin/env bash
# Builds and runs the tests in passes, each in a folder of its own under build-test/, so neither
# the demo's build/ nor another pass is ever reconfigured:
#   gcc     g++, warnings as errors: everything (driver, hosts, benchmarks) and every CTest test.
#   debug   g++ at -O0 as a Debug build makes it: the command-line host and its end-to-end tests
#           (code that is only sound when inlined shows here, not in an optimised build).
#   kernel  the 32-bit kernel image cross-built, loaded into a 32-bit process and run over
#           every stream vector (scripts/kernel.sh).
#   asan    clang with AddressSanitizer + UndefinedBehaviorSanitizer: the test programs that ask
#           for it (every driver layer and the host layer), at -O1 with line tables.
#   tsan    clang with ThreadSanitizer: the test programs where threads meet.
# Sanitizer passes build only their test programs and what those link (target tessil_tests) and
# run only the tests labelled `sanitized`. Each pass says what it is doing while it runs and
# prints one line when it passes; a failing build or test prints its log. Run some passes only
# with, say: ./scripts/test.sh gcc tsan
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
jobs=$(nproc)

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

say() { echo "== $*"; }

# run_pass NAME COMPILER SANITIZERS BUILD_TYPE FLAGS TEST_FLAGS TARGET [CTEST_SELECTION...]
# Configures build-test/NAME with FLAGS for the code under test and TEST_FLAGS for the test
# programs, builds TARGET and runs the CTest tests the selection names (default: all of them).
run_pass() {
  local name=$1 cxx=$2 sanitize=$3 type=$4 flags=$5 testFlags=$6 target=$7
  local selection=("${@:8}")
  local dir=build-test/$name log=build-test/$name.log start=$SECONDS
  mkdir -p build-test
  say "$name: building $target (log: $log)"
  if ! { cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DTESSIL_WERROR=ON \
           -DTESSIL_SANITIZE="$sanitize" -DCMAKE_BUILD_TYPE="$type" \
           -DCMAKE_CXX_FLAGS_"${type^^}"="$flags" -DTESSIL_TEST_FLAGS="$testFlags" &&
         cmake --build "$dir" -j "$jobs" --target "$target"; } >"$log" 2>&1; then
    cat "$log"
    say "$name: build failed (log: $log)"
    exit 1
  fi
  say "$name: running the tests ($(($SECONDS - start)) s so far)"
  if ! ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" "${selection[@]}" \
         >"$log.ctest" 2>&1; then
    grep -v ' Passed \|^ *Start ' "$log.ctest"
    say "$name: tests failed (log: $log.ctest)"
    exit 1
  fi
  say "$name: $(grep -E '^[0-9]+% tests passed' "$log.ctest") ($((SECONDS - start)) s)"
}

run_kernel() {
  local log=build-test/kernel.log start=$SECONDS
  mkdir -p build-test
  say "kernel: building tessil.sys and its loader, running the loader test (log: $log)"
  if ! TESSIL_KERNEL_BUILD=build-test/kernel ./scripts/kernel.sh >"$log" 2>&1; then
    cat "$log"
    say "kernel: failed (log: $log)"
    exit 1
  fi
  say "kernel: $(grep -E '^[0-9]+% tests passed' "$log" | tail -1) ($((SECONDS - start)) s)"
}

all_passes="gcc debug kernel asan tsan"
passes=("${@:-$all_passes}")
for pass in ${passes[*]}; do
  case $pass in
    # The code under test builds as hosts' optimised builds do (the driver layers add -O3), without
    # debug information; the test programs themselves need little optimisation and build twice
    # as fast without it.
    gcc) run_pass gcc g++ "" Release "-O2 -DNDEBUG" -Og all ;;
    # Only the command-line host and its own tests: the driver's tests at -O0 would take minutes
    # and find nothing the optimised passes miss.
    debug) run_pass debug g++ "" Debug -O0 -O0 tests_cli -R '^cli\.' ;;
    asan) run_pass asan clang++ "address,undefined" Check "-O1 -gline-tables-only" -O0 tessil_tests -L sanitized ;;
    tsan) run_pass tsan clang++ "thread" Check "-O1 -gline-tables-only" -O0 tessil_tests -L sanitized ;;
    kernel) run_kernel ;;
    *) echo "unknown pass: $pass (one of: $all_passes)" >&2; exit 2 ;;
  esac
done
echo "All test passes passed ($SECONDS s)."
