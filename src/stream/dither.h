// The processor's own dither source: the additive-feedback generator behind the C library's
// rand() on glibc, seeded as srand(1) does. Each processor owns one, so streams share no state
// and take no lock, and two processors fed the same input give identical output.
#pragma once

#include <stdint.h>

namespace tessil {

struct DitherGenerator {
  int32_t history[34];  // the last 34 terms of r[i] = r[i-31] + r[i-3]
  int32_t position;     // index of the oldest term, where the next one is written
};

void DitherSeed(DitherGenerator* generator);
// The next value of the sequence, 0 .. 2^31 - 1.
int32_t DitherNext(DitherGenerator* generator);

}  // namespace tessil
