#!/usr/bin/env bash
# Time per run() call of both Tessil LV2 plugins and of lsp's stereo limiter (Debian package
# lsp-plugins-lv2) in one lilv host, on the same 20 s of music (the demo clip), at 64- and
# 256-frame calls: the mean, the median, the 99th percentile and the worst call.
#
#   bench/compare_plugins.sh [ROUNDS]      (default 5 rounds, the first one untimed)
#
# Builds the plugins and the host (bench/plugin_calls.cpp) in build-bench/current. Every port is
# connected and every plugin runs at its defaults, the meters included; the mono plugin gets the
# left channel. The stereo plugin runs a second time with its meter outputs unconnected, as hosts
# that show no meters may leave them (",meters-off").
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
work=$root/build-bench
lsp=http://lsp-plug.in/plugins/lv2/limiter_stereo
[ -d /usr/lib/lv2/lsp-plugins.lv2 ] || { echo "lsp's plugins are missing: apt-get install lsp-plugins-lv2" >&2; exit 1; }
mkdir -p "$work/plugins"
cmake -S "$root" -B "$work/current" -DCMAKE_BUILD_TYPE=Release -DTESSIL_BUILD_TESTS=OFF \
  -DTESSIL_BUILD_CLI=ON -DTESSIL_BUILD_BENCH=ON >/dev/null
cmake --build "$work/current" --target tessil_cli tessil_lv2 plugin_calls -j2 >/dev/null
"$work/current/cli/tessil" demo -o "$work/plugins" >/dev/null
export LV2_PATH=$work/current/lv2:/usr/lib/lv2
for frames in 64 256; do
  "$work/current/bench/plugin_calls" "$work/plugins/demo-input.wav" "$frames" "$rounds" \
    urn:tessil:lv2:stereo bare:urn:tessil:lv2:stereo urn:tessil:lv2:mono "$lsp" | tee "$work/plugins/calls-$frames.txt"
  awk -v lsp="$lsp" '$1 == lsp { peer = $5; peerMedian = $8 } $1 != lsp { mean[$1] = $5; median[$1] = $8 }
    END { for (p in mean) printf "  %s / lsp: mean %.2fx, median %.2fx\n", p, mean[p] / peer, median[p] / peerMedian }' \
    "$work/plugins/calls-$frames.txt" | sort
done
