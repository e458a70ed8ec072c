#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer and runs
# each for the given number of seconds (default 60), all of them or those named:
#   scripts/fuzz.sh 600                 # ten minutes each
#   scripts/fuzz.sh 3600 plugins        # an hour on the plugins' entry points
# Targets: plugins (LADSPA and LV2 C entry points), properties (property requests), process
# (the stream processor's Process). Each starts from its seeds in tests/fuzz/corpus/TARGET and
# keeps what it finds in BUILD/corpus/TARGET for the next run; a crash stops the script with its
# input in BUILD/artifacts/ (replay: BUILD/tests/fuzz/fuzz_TARGET FILE). BUILD is build-fuzz, or
# $TESSIL_FUZZ_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("${@:-plugins properties process}")
targets=(${targets[*]})
build=${TESSIL_FUZZ_BUILD:-build-fuzz}
mkdir -p "$build"
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Check \
         -DCMAKE_CXX_FLAGS_CHECK="-O1 -gline-tables-only" -DTESSIL_SANITIZE=address,undefined \
         -DTESSIL_FUZZ=ON -DTESSIL_WERROR=ON -DTESSIL_BUILD_TESTS=OFF -DTESSIL_BUILD_BENCH=OFF \
         -DTESSIL_BUILD_CLI=OFF &&
       cmake --build "$build" --target "${targets[@]/#/fuzz_}"; } >"$build/build.log" 2>&1; then
  cat "$build/build.log"
  echo "fuzz: build failed (log: $build/build.log)" >&2
  exit 1
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target" "$build/artifacts"
  log=$build/fuzz_$target.log
  if ! "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 \
       -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" \
       "$build/corpus/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    tail -60 "$log"
    echo "fuzz: $target failed (log: $log, input in $build/artifacts/)" >&2
    exit 1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  echo "fuzz: $target ran $runs inputs in $seconds s, no fault"
done
