#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the main job: renders the synthesised demo
# clip through the effect as a 44.1 kHz stream in 441-frame buffers and prints the before/after
# report. The clip and its rendering land in build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
echo
./build/cli/tessil demo -o build/demo
echo
echo "Listen to build/demo/demo-input.wav and build/demo/demo-output.wav;"
echo "render your own files with: ./build/cli/tessil render IN OUT   (--help for the options)"
