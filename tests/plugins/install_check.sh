#!/usr/bin/env bash
# Installs the build into a staging prefix and uses it from there the way a user would: both
# plugins load in real hosts, the command-line host finds its driver module, the presets are in
# place; then builds the Debian package and checks what it holds.
#   install_check.sh BUILD_DIR CMAKE CPACK
set -euo pipefail
build=$1 cmake=$2 cpack=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$stage" >/dev/null
for file in bin/tessil lib/tessil/libtessil.so lib/ladspa/tessil.so lib/lv2/tessil.lv2/tessil.so \
            lib/lv2/tessil.lv2/manifest.ttl lib/lv2/tessil.lv2/tessil.ttl \
            lib/lv2/tessil.lv2/presets/music.ttl share/tessil/presets/music.txt \
            share/tessil/presets/speech.txt share/tessil/pipewire/tessil-sink.conf; do
  [ -f "$stage/$file" ] || fail "$file was not installed"
done

# The staged command-line host runs with its staged driver module and reads a staged preset.
# (Outputs are read whole before grep looks at them: grep -q stopping early would break the pipe.)
preset=$stage/share/tessil/presets/speech.txt
level=$(sed -n 's/^core-level=//p' "$preset")
properties=$("$stage/bin/tessil" properties --settings "$preset")
grep -q "^core-level .* $level\$" <<<"$properties" || fail "staged tessil did not apply the speech preset"

sox -n -r 48000 -c 2 -b 24 "$work/in.wav" synth 0.5 sine 440 gain -6
# LADSPA: the plugin found on the staged LADSPA path, as sox looks for it.
analysis=$(LADSPA_PATH=$stage/lib/ladspa analyseplugin tessil)
grep -q 'Plugin Label: "tessil"' <<<"$analysis" || fail "analyseplugin did not load the staged LADSPA plugin"
LADSPA_PATH=$stage/lib/ladspa sox "$work/in.wav" "$work/ladspa.wav" ladspa tessil tessil \
  || fail "sox could not run the staged LADSPA plugin"
# LV2: the staged bundle found on LV2_PATH, its binary loaded and run, a preset listed.
info=$(LV2_PATH=$stage/lib/lv2 lv2info urn:tessil:lv2:stereo)
grep -q "Spoken word" <<<"$info" || fail "lv2info did not find the staged bundle and its presets"
LV2_PATH=$stage/lib/lv2 lv2apply -i "$work/in.wav" -o "$work/lv2.wav" -c core_level 60 \
  urn:tessil:lv2:stereo || fail "lv2apply could not run the staged LV2 plugin"
for out in ladspa lv2; do
  [ "$(soxi -s "$work/$out.wav")" = "$(soxi -s "$work/in.wav")" ] || fail "$out output length differs"
done

# The Debian package holds the same tree under /usr.
(cd "$work" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/*.deb)
contents=$(dpkg-deb -c "$deb")
for file in usr/bin/tessil usr/lib/ladspa/tessil.so usr/lib/lv2/tessil.lv2/manifest.ttl \
            usr/share/tessil/presets/music.txt; do
  grep -q "\./$file\$" <<<"$contents" || fail "$file is missing from $(basename "$deb")"
done
echo "installed, loaded and packaged: $(basename "$deb")"
