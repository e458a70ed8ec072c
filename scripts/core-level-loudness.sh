#!/usr/bin/env bash
# Measures what core-level does to the output's integrated loudness: renders the demo clip and
# generated material (pink noise at two input levels, pink noise pulsed three times a second as
# speech is) at several core levels with the driver's other settings at their defaults, and
# prints the output loudness of each as a markdown table. Uses build/cli/tessil (./scripts/demo.sh
# builds it) and sox.
#   scripts/core-level-loudness.sh [level ...]
set -euo pipefail
cd "$(dirname "$0")/.."
tessil=$PWD/build/cli/tessil
[ -x "$tessil" ] || { echo "build/cli/tessil is missing: run ./scripts/demo.sh first" >&2; exit 1; }
levels=("${@:-10 25 40 50 60 75 100}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$tessil" demo -o "$work" >/dev/null
mv "$work/demo-input.wav" "$work/demo.wav"
sox "$work/demo.wav" "$work/demo-quiet.wav" gain -12
# sox's pink noise at -3.4 dBFS gain measures -14 LUFS; 16 dB less, -30 LUFS.
sox -n -r 44100 -c 2 -b 24 "$work/pink-loud.wav" synth 30 pinknoise gain -3.4
sox -n -r 44100 -c 2 -b 24 "$work/pink-quiet.wav" synth 30 pinknoise gain -19.4
sox -n -r 44100 -c 2 -b 24 "$work/pulsed.wav" synth 30 pinknoise tremolo 3 90 gain -12

inputs=(demo demo-quiet pink-quiet pink-loud pulsed)
loudness() {  # the integrated loudness of the object named $1 in a JSON report on stdin
  grep -o "\"$1\": *{[^}]*" | grep -o '"integrated_lufs": *[-0-9.]*' | grep -o '[-0-9.]*$'
}
header="| core-level |"
rule="|---|"
for input in "${inputs[@]}"; do
  in=$("$tessil" analyse --json "$work/$input.wav" | grep -o '"integrated_lufs": *[-0-9.]*' |
       grep -o '[-0-9.]*$')
  header+=" $input ($(printf '%.1f' "$in") LUFS in) |"
  rule+="---|"
done
echo "$header"
echo "$rule"
for level in ${levels[*]}; do
  row="| $level |"
  for input in "${inputs[@]}"; do
    out=$("$tessil" render -y --json --set core-level="$level" "$work/$input.wav" "$work/out.wav" \
            2>/dev/null | loudness output_loudness)
    row+=" $(printf '%.1f' "$out") |"
  done
  echo "$row"
done
