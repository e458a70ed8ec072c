#!/usr/bin/env bash
# Installs the build into a staging prefix and builds the Debian package, then checks both as a
# user meets them. The staged tessil runs with its staged driver module and presets. The package
# is unpacked into a folder standing in for / and checked from its own contents, not from a list:
# nothing named like a plugin sits where the dynamic loader looks; every LADSPA plugin is where
# sox and where other hosts look and runs in sox and applyplugin, every LV2 plugin lv2ls finds
# runs in lv2apply; binaries are stripped; the manual page names every command and option the
# program has; completion completes; lintian finds no error and no warning without an override.
#   install_check.sh BUILD_DIR CMAKE CPACK
set -euo pipefail
build=$1 cmake=$2 cpack=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
shopt -s nullglob
# (Outputs are read whole before grep looks at them: grep -q stopping early would break the pipe.)

# The staged command-line host runs with its staged driver module and reads a staged preset.
stage=$work/stage
"$cmake" --install "$build" --prefix "$stage" >/dev/null
libraries=$(ldd "$stage/bin/tessil")
grep -q "libtessil.so => $stage/" <<<"$libraries" || fail "staged tessil does not load the staged module: $libraries"
preset=$stage/share/tessil/presets/speech.txt
level=$(sed -n 's/^core-level=//p' "$preset")
properties=$("$stage/bin/tessil" properties --settings "$preset")
grep -q "^core-level .* $level\$" <<<"$properties" || fail "staged tessil did not apply the speech preset"

(cd "$work" && "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/package") >"$work/cpack.log" 2>&1 ||
  fail "cpack: $(cat "$work/cpack.log")"
deb=$(ls "$work"/package/*.deb)
version=$(dpkg-deb -f "$deb" Version)
root=$work/root
dpkg-deb -x "$deb" "$root"
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

# Plugin modules by name, as hosts ask for them ("tessil" for tessil.so).
modules=$(find "$root/usr/lib" \( -path '*/ladspa/*.so' -o -path '*/lv2/*.lv2/*.so' \) -printf '%f\n' |
          sed 's/\.so$//' | sort -u)
[ -n "$modules" ] || fail "the package holds no plugin"
for dir in lib usr/lib lib/$triplet usr/lib/$triplet; do
  [ -d "$root/$dir" ] || continue
  for entry in "$root/$dir"/*; do
    name=$(basename "$entry")
    for module in $modules; do
      [ "$name" != "$module" ] && [ "$name" != "$module.so" ] ||
        fail "/$dir/$name would be found by hosts that load the plugin '$module' by name"
    done
    # Libraries in the loader's own folders are versioned; unversioned ones belong to -dev packages.
    [[ -d $entry || $name == lib*.so.* ]] || fail "/$dir/$name: not a versioned library or a folder"
  done
done

# LADSPA: sox searches /usr/lib/<triplet>/ladspa, PipeWire, Ardour and others /usr/lib/ladspa.
sox_dir=$root/usr/lib/$triplet/ladspa
[ -n "$(echo "$root"/usr/lib/ladspa/*.so)" ] || fail "the package holds no LADSPA plugin"
for plugin in "$root"/usr/lib/ladspa/*.so "$sox_dir"/*.so; do
  name=$(basename "$plugin")
  [ "$(readlink -f "$root/usr/lib/ladspa/$name")" = "$(readlink -f "$sox_dir/$name")" ] ||
    fail "$name is not the same plugin in /usr/lib/ladspa and /usr/lib/$triplet/ladspa"
done
channels_wav() {  # FILE CHANNELS BITS: a short tone with that many channels
  sox -n -r 48000 -c "$2" -b "$3" "$1" synth 0.5 sine 440 gain -6
}
for plugin in "$sox_dir"/*.so; do
  analysis=$(analyseplugin "$plugin") || fail "analyseplugin cannot load $plugin"
  for label in $(sed -n 's/^Plugin Label: "\(.*\)"$/\1/p' <<<"$analysis"); do
    # That plugin's block: from its label to the next one.
    block=$(sed -n "/^Plugin Label: \"$label\"\$/,/^Plugin Name:/p" <<<"$analysis")
    inputs=$(grep -c 'input, audio' <<<"$block" || true)
    defaults=$(grep -o 'input, control.*default [-0-9.]*' <<<"$block" |
               sed 's/.*default //' | awk '{printf "%d ", $1}')
    channels_wav "$work/in-$label.wav" "$inputs" 24
    LADSPA_PATH=$sox_dir sox "$work/in-$label.wav" "$work/sox-$label.wav" \
      ladspa "$(basename "$plugin" .so)" "$label" || fail "sox could not run $label from the package"
    channels_wav "$work/in16-$label.wav" "$inputs" 16
    # shellcheck disable=SC2086  # one word per control value
    applyplugin "$work/in16-$label.wav" "$work/apply-$label.wav" "$plugin" "$label" $defaults \
      >/dev/null || fail "applyplugin could not run $label"
    for out in sox apply; do
      [ "$(soxi -s "$work/$out-$label.wav")" = "$(soxi -s "$work/in-$label.wav")" ] ||
        fail "$label in $out: output length differs"
    done
  done
done

# LV2: every plugin lilv finds in the package's bundles describes itself and runs.
uris=$(LV2_PATH=$root/usr/lib/lv2 lv2ls)
[ -n "$uris" ] || fail "lv2ls finds no plugin in the package"
for uri in $uris; do
  info=$(LV2_PATH=$root/usr/lib/lv2 lv2info "$uri") || fail "lv2info cannot describe $uri"
  # Audio inputs: ports whose types name both AudioPort and InputPort.
  inputs=$(awk '/^\tPort [0-9]+:/ { if (audio && input) n++; audio = input = 0 }
                /lv2core#AudioPort/ { audio = 1 } /lv2core#InputPort/ { input = 1 }
                END { if (audio && input) n++; print n + 0 }' <<<"$info")
  channels_wav "$work/in-lv2.wav" "$inputs" 24
  LV2_PATH=$root/usr/lib/lv2 lv2apply -i "$work/in-lv2.wav" -o "$work/lv2.wav" "$uri" ||
    fail "lv2apply could not run $uri"
  [ "$(soxi -s "$work/lv2.wav")" = "$(soxi -s "$work/in-lv2.wav")" ] || fail "$uri: output length differs"
done

# Every binary is stripped; the packaged tessil finds the packaged module wherever / is.
while IFS= read -r -d '' file; do
  [ "$(head -c 4 "$file" | tr -d '\0')" = $'\x7fELF' ] || continue
  sections=$(readelf -S --wide "$file")
  ! grep -q ' \.symtab \| \.debug_' <<<"$sections" || fail "${file#"$root"} is not stripped"
done < <(find "$root" -type f -print0)
tessil=$root/usr/bin/tessil
libraries=$(ldd "$tessil")
grep -q "libtessil.so => $root/" <<<"$libraries" || fail "packaged tessil does not load the packaged module"
[ "$("$tessil" --version)" = "tessil $version" ] || fail "tessil --version does not say $version"

# Documentation: the changelog's last entry is this version; the manual page names every
# command and every option of every command.
doc=$root/usr/share/doc/tessil
head -1 "$doc/copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
  fail "the copyright file is not machine-readable"
entry=$(zcat "$doc/changelog.gz" | head -1)
[[ $entry == "tessil ($version) "* ]] || fail "the changelog's last entry is not $version: $entry"
manual=$(zcat "$root/usr/share/man/man1/tessil.1.gz" | sed 's/\\-/-/g')
options() {  # the option spellings in `tessil [COMMAND] --help`
  "$tessil" "$@" --help | sed -n '/^Options:$/,/^$/s/^  \(-[^ ]*\).*/\1/p' | tr , '\n'
}
commands=$("$tessil" --help | sed -n '/^Subcommands:$/,/^$/s/^  \([a-z][a-z-]*\).*/\1/p')
[ -n "$commands" ] || fail "tessil --help lists no command"
for command in "" $commands; do
  [ -z "$command" ] || grep -q "^\.SS \"tessil $command\"" <<<"$manual" || fail "tessil(1) lacks '$command'"
  for option in $(options $command); do
    grep -q -- "$option" <<<"$manual" || fail "tessil(1) lacks $command $option"
  done
done

# Completion, as bash-completion loads it for an interactive shell.
cat >"$work/complete.sh" <<EOF
source /usr/share/bash-completion/bash_completion
source "$root/usr/share/bash-completion/completions/tessil"
compopt() { :; }  # stands in for the builtin, which works only inside a completion
PATH=$root/usr/bin:\$PATH
cd "$work/files"
while IFS='|' read -r line expected; do
  read -ra COMP_WORDS <<<"\$line"
  [[ \$line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=\$((\${#COMP_WORDS[@]} - 1)) COMP_LINE=\$line COMP_POINT=\${#line} COMPREPLY=()
  _tessil
  got=" \${COMPREPLY[*]} "
  for word in \$expected; do
    [[ \$word == !* ]] && { [[ \$got != *" \${word#!} "* ]] || echo "'\$line' offers \${word#!}"; continue; }
    [[ \$got == *" \$word "* ]] || echo "'\$line' does not offer \$word (offers:\$got)"
  done
done <<'TABLE'
tessil |render analyse properties demo
tessil an|analyse analyze !render
tessil render --tar|--target
tessil render -|--overwrite --set --settings --help
tessil analyse --|--json !--target
tessil render --set core-l|core-level=
tessil render --set eq-band-gain.b|eq-band-gain.both.0= eq-band-gain.both.3=
tessil render --format pcm2|pcm24 !pcm16
tessil render --bits |8 16 24 32
tessil render --target |!song.flac
tessil render |song.flac take.WAV sub !notes.txt
tessil render -o |sub !song.flac
TABLE
EOF
mkdir -p "$work/files/sub"
touch "$work/files/song.flac" "$work/files/take.WAV" "$work/files/notes.txt"
completion=$(bash "$work/complete.sh" 2>&1)
[ -z "$completion" ] || fail "completion: $completion"

# lintian: no error, and a warning only where an override says why it does not apply.
overrides=$root/usr/share/lintian/overrides/tessil
if [ -f "$overrides" ]; then
  awk '/^[^#]/ && previous !~ /^#/ { print "override without a reason: " $0; bad = 1 }
       { previous = $0 } END { exit bad }' "$overrides" || fail "lintian overrides need a comment each"
fi
lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 || fail "lintian: $(cat "$work/lintian.log")"
echo "installed, packaged and checked: $(basename "$deb")"
