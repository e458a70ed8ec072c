#!/usr/bin/env bash
# `tessil render` with its full report and a picture against a sox chain doing comparable work,
# alternated in one run on a long 48 kHz stereo 16-bit file.
#
#   bench/compare_render.sh [ROUNDS] [SECONDS]      (defaults 5 rounds, 120 s of audio)
#
# Builds the command-line host in build-bench/current, synthesises the file with sox (layered
# tones with a slow tremolo over pink noise, so that both the loudness core and the limiter
# work), then runs each command ROUNDS times in turn and prints the median wall time and the
# median CPU time (user + system, every thread) of each, the ratios, and `--no-report` alone.
# It also prints how long the stream waited on the report's meters (the render's own count, from
# its JSON report: time blocked on a full meter queue and on the final figures) as a share of the
# render's wall time.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
seconds=${2:-120}
work=$root/build-bench
mkdir -p "$work/render"
cmake -S "$root" -B "$work/current" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSIL_BUILD_TESTS=OFF \
  -DTESSIL_BUILD_CLI=ON -DTESSIL_BUILD_BENCH=ON >/dev/null
cmake --build "$work/current" --target tessil_cli -j2 >/dev/null
tessil=$work/current/cli/tessil

input=$work/render/programme-$seconds.wav
if [ ! -f "$input" ]; then
  sox -n -r 48000 -b 16 -c 2 "$input" synth "$seconds" sine 110 sine 165 \
    synth "$seconds" sine mix 440-880 synth "$seconds" pinknoise mix \
    tremolo 0.3 70 gain -n -3 2>/dev/null
fi

sox_chain=(sox -q "$input" "$work/render/sox.wav" highpass 20 lowpass 20000
  compand 0.005,0.1 6:-70,-60,-20 -5 -90 0.005
  equalizer 80 1q 1 equalizer 400 1q -1 equalizer 2500 1q 1 equalizer 9000 1q -1)
render=("$tessil" render -y --json --plot "$work/render/loudness.png" "$input" "$work/render/tessil.wav")
bare=("$tessil" render -y --no-report "$input" "$work/render/tessil-bare.wav")
if ! "${bare[@]}" >/dev/null 2>&1; then bare=(); fi

measure() {  # prints "wall cpu" of one run; its standard output goes to $work/render/stdout
  /usr/bin/time -o "$work/render/time" -f "%e %U %S" "$@" >"$work/render/stdout" 2>/dev/null
  tail -1 "$work/render/time" | awk '{printf "%.3f %.3f\n", $1, $2 + $3}'
}

waited() {  # the last render's wait on its meters and its own wall time, from its JSON report
  python3 -c 'import json, sys; r = json.load(open(sys.argv[1])); print(r["meter_wait_seconds"], r["wall_seconds"])' \
    "$work/render/stdout"
}

: >"$work/render/times"
for ((round = 0; round < rounds; ++round)); do
  echo "sox $(measure "${sox_chain[@]}")" >>"$work/render/times"
  echo "render $(measure "${render[@]}")" >>"$work/render/times"
  echo "wait $(waited)" >>"$work/render/times"
  if [ ${#bare[@]} -gt 0 ]; then echo "bare $(measure "${bare[@]}")" >>"$work/render/times"; fi
done

python3 - "$work/render/times" "$seconds" <<'PY'
import statistics, sys
runs = {}
for line in open(sys.argv[1]):
    name, wall, cpu = line.split()
    runs.setdefault(name, []).append((float(wall), float(cpu)))
median = {name: (statistics.median(w for w, _ in r), statistics.median(c for _, c in r))
          for name, r in runs.items()}
labels = {"sox": "sox chain", "render": "tessil render (report, picture)",
          "bare": "tessil render --no-report"}
print(f"{sys.argv[2]} s of 48 kHz stereo 16-bit, median of {len(runs['sox'])} alternated runs")
for name in ("sox", "render", "bare"):
    if name in median:
        wall, cpu = median[name]
        print(f"  {labels[name]:<32} wall {wall:6.3f} s   cpu {cpu:6.3f} s")
wall, cpu = median["render"]
print(f"  render / sox: wall {wall / median['sox'][0]:.2f}x   cpu {cpu / median['sox'][1]:.2f}x")
waits = [w / t for w, t in runs["wait"]]
print(f"  stream waiting on the meters: median {100 * statistics.median(waits):.2f} %, "
      f"worst {100 * max(waits):.2f} % of the render's wall time")
PY
