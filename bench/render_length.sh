#!/usr/bin/env bash
# Peak memory and time of `tessil render` against the length of the file: a plain render, and
# `--target -16 --ceiling -1` from the file and from a pipe, on generated stereo programme (pink
# noise with a slow swell, 48 kHz, 16 bits) of 1 minute, 1 hour and 4 hours. Prints one row per
# run: the seconds it took, its peak resident memory, the output's loudness and true peak, and
# for --target the passes it made; the last column compares its time with (passes) plain renders.
#
#   bench/render_length.sh [BUILD_DIR] [LENGTHS...]     e.g. bench/render_length.sh build 60 3600
#
# The files go to $TMPDIR (4 hours of 16-bit stereo is 2.8 GB); they are removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
lengths=("${@:-60 3600 14400}")
tessil=$build/cli/tessil
[ -x "$tessil" ] || { echo "no $tessil: build the tessil_cli target first" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/tessil-length-XXXXXX")
trap 'rm -rf "$work"' EXIT

# seconds, peak KiB and the JSON report of one run: "SECONDS KIB" on the first line of $work/run.
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/report.json" 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  cat "$work/time"
}
field() {  # object key: from the last report
  python3 -c "import json,sys; d=json.load(open('$work/report.json')); o=d.get('$1') or {}; v=o.get('$2') if isinstance(o, dict) else None; print('-' if v is None else (round(v, 2) if isinstance(v, float) else v))"
}

printf '%-8s %-28s %9s %9s %9s %9s %7s %10s\n' length run seconds "peak MiB" LUFS dBTP passes "vs plain"
for length in ${lengths[*]}; do
  input=$work/in.wav
  sox -n -r 48000 -c 2 -b 16 "$input" synth "$length" pinknoise vol 0.35 tremolo 0.05 60 2>/dev/null
  label=$(awk -v s="$length" 'BEGIN { if (s >= 3600) printf "%g h", s / 3600; else printf "%g min", s / 60 }')
  plain=
  for run in plain target-file target-pipe; do
    case $run in
      plain) read -r seconds kib < <(measure "$tessil" render -y --json "$input" "$work/out.wav") ;;
      target-file) read -r seconds kib < <(measure "$tessil" render -y --json --target -16 --ceiling -1 "$input" "$work/out.wav") ;;
      target-pipe) read -r seconds kib < <(measure sh -c "\"$tessil\" render -y --json --target -16 --ceiling -1 - \"$work/out.wav\" < \"$input\"") ;;
    esac
    passes=1
    [ "$run" = plain ] && plain=$seconds
    if [ "$run" != plain ]; then passes=$(($(field target iterations) + 1)); fi
    ratio=$(awk -v s="$seconds" -v p="$plain" -v n="$passes" 'BEGIN { printf "%.2f x %d", s / p / n, n }')
    printf '%-8s %-28s %9.1f %9.1f %9s %9s %7s %10s\n' "$label" "$run" "$seconds" "$(awk -v k="$kib" 'BEGIN { print k / 1024 }')" \
      "$(field output_loudness integrated_lufs)" "$(field output_loudness true_peak_dbtp)" "$passes" "$ratio"
  done
  rm -f "$input" "$work/out.wav"
done
