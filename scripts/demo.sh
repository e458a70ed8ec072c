#!/usr/bin/env bash
# Installs what is missing, builds the command-line host, both plugins and the documentation
# (what the README's examples and `cmake --install build` use: build/cli/tessil,
# build/ladspa/tessil.so, build/lv2/tessil.lv2/, the manual page) and runs the main job: renders
# the synthesised demo clip through the effect as a 44.1 kHz stream in 441-frame buffers and
# prints the before/after report with a picture of the loudness over time. The clip, its
# rendering and the picture land in build/demo/. The build's log goes to build/demo-build.log
# and is shown only when the build fails. The tests build elsewhere (build-test/), so running one
# never undoes the other.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
mkdir -p build
log=build/demo-build.log
echo "Building the command-line host and the plugins (log: $log) ..."
if ! { cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build build -j "$(nproc)" --target tessil_cli tessil_ladspa tessil_lv2 tessil_doc; } >"$log" 2>&1; then
  cat "$log"
  echo "The build failed; its log is above and in $log." >&2
  exit 1
fi
echo
./build/cli/tessil demo -o build/demo --plot build/demo/demo-loudness.png
echo
echo "Listen to build/demo/demo-input.wav and build/demo/demo-output.wav, and look at what the"
echo "leveller did in build/demo/demo-loudness.png;"
echo "render your own files with: ./build/cli/tessil render IN OUT   (--help for the options)."
echo "The plugins: build/ladspa/tessil.so (LADSPA) and build/lv2/tessil.lv2/ (LV2)."
