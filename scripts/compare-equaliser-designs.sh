#!/usr/bin/env bash
# Designs every equaliser band the property set can reach (41 whole-decibel gains, centres from
# 20 to 20000 Hz, quality factors 0.25 to 16 in hundredths, the three design rates) with the
# C library's math and with the kernel math layer, and reports how many float coefficient sets
# differ. Takes several minutes; the test suite runs a random sample of the same comparison.
#   scripts/compare-equaliser-designs.sh [rate ...]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build >/dev/null
cmake --build build -j "$(nproc)" --target compare_equaliser_designs
./build/tests/compare_equaliser_designs "$@"
