#!/usr/bin/env bash
# Builds the kernel image tessil.sys with the mingw-w64 i686 cross toolchain, then loads it into
# a 32-bit Linux process over stand-ins of the kernel services and runs the loader test and the
# image header check. The image lands in build-kernel/tessil.sys.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
image_dir=${TESSIL_KERNEL_BUILD:-build-kernel}
cmake -S kernel -B "$image_dir" --toolchain "$PWD/cmake/i686-w64-mingw32.cmake" \
      -DTESSIL_WERROR=ON >/dev/null
cmake --build "$image_dir" -j "$jobs"
cmake -S tests/kernel -B "$image_dir/loader" -DTESSIL_WERROR=ON \
      -DTESSIL_KERNEL_IMAGE="$PWD/$image_dir/tessil.sys" >/dev/null
cmake --build "$image_dir/loader" -j "$jobs"
ctest --test-dir "$image_dir/loader" --output-on-failure
