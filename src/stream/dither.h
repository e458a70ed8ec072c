// The processor's own dither source: the additive-feedback generator behind the C library's
// rand() on glibc, seeded as srand(1) does. Each processor owns one, so streams share no state
// and take no lock, and two processors fed the same input give identical output.
#pragma once

#include <stdint.h>

namespace tessil {

inline constexpr int32_t kDitherHistory = 34;

struct DitherGenerator {
  int32_t history[kDitherHistory];  // the last 34 terms of r[i] = r[i-31] + r[i-3]
  int32_t position;     // index of the oldest term, where the next one is written
};

void DitherSeed(DitherGenerator* generator);
// The next value of the sequence, 0 .. 2^31 - 1. Inline: it runs once per processed sample.
inline int32_t DitherNext(DitherGenerator* generator) {
  // With the oldest of 34 terms at `position`, r[i-31] sits 3 places later and r[i-3] 31 later.
  int32_t* r = generator->history;
  const int32_t position = generator->position;
  const int32_t older =
      position + 3 < kDitherHistory ? position + 3 : position + 3 - kDitherHistory;
  const int32_t newer =
      position + 31 < kDitherHistory ? position + 31 : position + 31 - kDitherHistory;
  // The generator works modulo 2^32.
  const uint32_t term = static_cast<uint32_t>(r[older]) + static_cast<uint32_t>(r[newer]);
  r[position] = static_cast<int32_t>(term);
  generator->position = position + 1 < kDitherHistory ? position + 1 : 0;
  return static_cast<int32_t>(term >> 1);
}

}  // namespace tessil
