#!/usr/bin/env bash
# Process speed of this tree against an older build, side by side in one run.
#
#   bench/compare_process.sh [BASELINE_COMMIT]     (default 00a5765, before the glue went vector)
#
# Builds the older commit's module in a temporary worktree (kept under build-bench/ for reuse),
# builds this tree's module, then runs both in one benchmark program with the runs interleaved at
# random, and prints the CPU time per buffer, the speed-up, and callgrind's instruction count
# inside Process for one second of audio. REPETITIONS (default 10) sets the number of runs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
baseline=${1:-00a5765}
repetitions=${REPETITIONS:-10}
work=$root/build-bench
mkdir -p "$work"
commit=$(git -C "$root" rev-parse --short "$baseline")

configure() {  # source dir, build dir
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSIL_BUILD_TESTS=OFF \
    -DTESSIL_BUILD_CLI=OFF -DTESSIL_BUILD_BENCH="${3:-OFF}" >/dev/null
}

if [ ! -f "$work/baseline-$commit/build/libtessil.so" ]; then
  rm -rf "$work/baseline-$commit"
  git -C "$root" worktree prune
  git -C "$root" worktree add --detach "$work/baseline-$commit/src" "$commit" >/dev/null
  configure "$work/baseline-$commit/src" "$work/baseline-$commit/build"
  cmake --build "$work/baseline-$commit/build" --target tessil -j2 >/dev/null
  git -C "$root" worktree remove --force "$work/baseline-$commit/src"
fi
configure "$root" "$work/current" ON
cmake --build "$work/current" --target tessil process_compare -j2 >/dev/null

old=$work/baseline-$commit/build/libtessil.so
new=$work/current/libtessil.so
compare=$work/current/bench/process_compare

echo "== CPU time per buffer, $repetitions interleaved runs each (baseline $commit vs this tree)"
"$compare" "baseline=$old" "current=$new" --benchmark_repetitions="$repetitions" \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true \
  --benchmark_format=json --benchmark_out="$work/process_compare.json" >/dev/null
python3 - "$work/process_compare.json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {r["run_name"]: r["cpu_time"] for r in runs if r.get("aggregate_name") == "median"}
unit = {r["run_name"]: r["time_unit"] for r in runs}
for case in ("48000/480", "44100/441"):
    old, new = median[f"Process/{case}/baseline"], median[f"Process/{case}/current"]
    u = unit[f"Process/{case}/current"]
    print(f"{case:>10} frames: baseline {old:9.1f} {u}  current {new:9.1f} {u}  speed-up {old / new:.2f}x")
PY

if command -v valgrind >/dev/null; then
  counts=()
  echo "== Instructions inside Process for one second of stereo audio (callgrind)"
  for case in "48000 480" "44100 441"; do
    set -- $case
    line="$1/$2 frames:"
    for build in "baseline=$old" "current=$new"; do
      out=$work/callgrind.${build%%=*}
      valgrind --tool=callgrind --callgrind-out-file="$out" "$compare" --count "$build" "$1" "$2" 1 \
        >/dev/null 2>&1
      counts[${#counts[@]}]=$(callgrind_annotate --inclusive=yes "$out" |
        awk '/StreamProcessor::Process\(/ && !done {gsub(",", "", $1); print $1; done = 1}')
    done
    n=${#counts[@]}
    awk -v line="$line" -v old="${counts[n-2]}" -v new="${counts[n-1]}" \
      'BEGIN { printf "%s baseline %s  current %s  ratio %.2fx\n", line, old, new, old / new }'
  done
fi
