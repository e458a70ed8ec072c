#!/usr/bin/env bash
# Starts a private, headless PipeWire with the example configuration and looks for the Tessil
# sink. Everything runs in its own runtime directory and is stopped at the end.
#   pipewire_check.sh CONFIG LADSPA_DIR
set -euo pipefail
config=$1 ladspa=$2
for tool in pipewire pw-cli; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"; exit 77; }
done
work=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/run" "$work/config/pipewire.conf.d"
chmod 700 "$work/run"
cp /usr/share/pipewire/pipewire.conf "$work/config/"
cp "$config" "$work/config/pipewire.conf.d/"
export XDG_RUNTIME_DIR=$work/run
# Only the daemon reads the private configuration; pw-cli keeps its usual client one.
PIPEWIRE_CONFIG_DIR=$work/config LADSPA_PATH=$ladspa timeout 60 pipewire >"$work/log" 2>&1 &
pid=$!
for _ in $(seq 50); do
  nodes=$(timeout 5 pw-cli ls Node 2>/dev/null || true)
  if grep -q 'node.name = "tessil_input"' <<<"$nodes"; then
    grep -A3 'node.name = "tessil_input"' <<<"$nodes" | grep -q 'media.class = "Audio/Sink"' \
      || { echo "FAIL: tessil_input is not an audio sink" >&2; exit 1; }
    grep -q 'node.name = "tessil_output"' <<<"$nodes" \
      || { echo "FAIL: no tessil_output stream" >&2; exit 1; }
    echo "PipeWire shows the Tessil sink"
    exit 0
  fi
  sleep 0.2
done
echo "FAIL: the Tessil sink never appeared; PipeWire said:" >&2
cat "$work/log" >&2
exit 1
