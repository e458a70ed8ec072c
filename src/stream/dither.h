// The processor's own dither source: the additive-feedback generator behind the C library's
// rand() on glibc, seeded as srand(1) does. Each processor owns one, so streams share no state
// and take no lock, and two processors fed the same input give identical output.
#pragma once

#include <stdint.h>

namespace tessil {

// Terms of r[i] = r[i-31] + r[i-3] (mod 2^32) the sequence carries from one value to the next.
inline constexpr int32_t kDitherHistory = 34;
// Values one call may ask for.
inline constexpr int32_t kDitherRun = 128;

struct DitherGenerator {
  // The last kDitherHistory terms, oldest first; the words after them receive the terms of one
  // run while it is formed, three at a time (hence the two spare words past a whole run).
  int32_t terms[kDitherHistory + kDitherRun + 3];
};

void DitherSeed(DitherGenerator* generator);

// The next `count` values of the sequence, each 0 .. 2^31 - 1; count is at most kDitherRun.
void DitherValues(DitherGenerator* generator, int32_t* values, int32_t count);

// Dither for the next `count` samples, one value of the sequence each: entry (value & 3) of
// {0.0, 1e-8, 0.0, -1e-8}. count is at most kDitherRun.
void DitherSamples(DitherGenerator* generator, float* dither, int32_t count);

}  // namespace tessil
