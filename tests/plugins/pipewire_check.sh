#!/usr/bin/env bash
# Plays a clip through the example's Tessil sink in a private, headless PipeWire and records what
# goes in and what comes out; then changes two controls live, with float values, and does it
# again. Everything runs in a folder of its own (runtime directory, session bus, configuration)
# and is stopped at the end. Exit 77: PipeWire could not start here.
#   pipewire_check.sh CONFIG LADSPA_DIR CLIP OUT_DIR
# writes OUT_DIR/in1.wav, out1.wav (defaults), in2.wav and out2.wav (ceiling on at -12 dBTP).
set -euo pipefail
config=$1 ladspa=$2 clip=$3 out=$4
for tool in pipewire wireplumber pw-cli pw-play pw-record dbus-daemon; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (scripts/setup.sh installs it)"; exit 77; }
done
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/run" "$work/config/pipewire/pipewire.conf.d" "$work/config/wireplumber" "$work/state"
chmod 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run XDG_CONFIG_HOME=$work/config XDG_STATE_HOME=$work/state
cp /usr/share/pipewire/pipewire.conf "$work/config/pipewire/"
cp "$config" "$work/config/pipewire/pipewire.conf.d/"
# The device the Tessil sink plays to: a sink that goes nowhere, whose monitor is recorded. The
# graph runs in cycles of 8192 frames, so that a busy machine (the rest of the suite runs beside
# this) does not make it drop any.
cat >"$work/config/pipewire/pipewire.conf.d/test-sink.conf" <<'CONF'
context.properties = {
    default.clock.rate        = 48000
    default.clock.quantum     = 8192
    default.clock.min-quantum = 8192
    default.clock.max-quantum = 8192
}
context.objects = [
    {   factory = adapter
        args = {
            factory.name     = support.null-audio-sink
            node.name        = "test_sink"
            media.class      = Audio/Sink
            audio.position   = [ FL FR ]
            audio.rate       = 48000
            priority.session = 2000
            priority.driver  = 2000
        }
    }
]
CONF

dbus-daemon --session --address="unix:path=$work/bus" --nofork --nopidfile >"$work/dbus.log" 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
LADSPA_PATH=$ladspa pipewire >"$work/pipewire.log" 2>&1 &
pids+=($!)
started=
for _ in $(seq 100); do
  if [ -S "$work/run/pipewire-0" ] && [ -S "$work/bus" ]; then started=1; break; fi
  sleep 0.1
done
[ -n "$started" ] || { echo "SKIP: PipeWire did not start here:"; cat "$work/pipewire.log" "$work/dbus.log"; exit 77; }
wireplumber >"$work/wireplumber.log" 2>&1 &
pids+=($!)

# The session manager links the Tessil sink's output to the test sink once it has seen both.
linked=
for _ in $(seq 100); do
  if pw-link -l 2>/dev/null | grep -q 'tessil_output:output_FL'; then linked=1; break; fi
  sleep 0.1
done
if [ -z "$linked" ]; then
  echo "FAIL: the Tessil sink never reached the test sink" >&2
  pw-cli ls Node >&2 || true
  cat "$work/pipewire.log" "$work/wireplumber.log" >&2
  exit 1
fi

record() {  # SINK FILE: the sink's monitor, from before anything plays until stopped
  pw-record --target "$1" -P '{ stream.capture.sink = true }' --rate 48000 --channels 2 --format f32 "$2" &
  pids+=($!)
}
play_once() {  # N: records inN.wav and outN.wav around one play of the clip
  # The input's recorder comes first and starts the graph, so the plugin's first frame is its.
  record tessil_input "$out/in$1.wav"
  local in=$!
  sleep 0.3
  record test_sink "$out/out$1.wav"
  local outpid=$!
  sleep 0.3
  pw-play --target tessil_input "$clip"
  sleep 0.8  # the tail still in the plugin and the graph
  kill -INT "$outpid" "$in"
  wait "$outpid" "$in" || true
  sleep 0.3  # the graph pauses, and the filter starts afresh next time
}

play_once 1
node=$(pw-cli ls Node | awk '/^\tid /{id=$2} /node.name = "tessil_input"/{sub(",", "", id); print id}')
pw-cli set-param "$node" Props '{ params = [ "tessil:ceiling_enable" 1.0 "tessil:ceiling" -12.0 ] }' >/dev/null
sleep 0.2
play_once 2
echo "played and recorded through the Tessil sink"
