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
// The next value of the sequence, 0 .. 2^31 - 1, with the generator's position held by the
// caller (a local, so that a loop keeps it in a register rather than in the generator).
inline int32_t DitherStep(int32_t* history, int32_t* position) {
  // With the oldest of 34 terms at `position`, r[i-31] sits 3 places later and r[i-3] 31 later.
  const int32_t at = *position;
  const int32_t older = at + 3 < kDitherHistory ? at + 3 : at + 3 - kDitherHistory;
  const int32_t newer = at + 31 < kDitherHistory ? at + 31 : at + 31 - kDitherHistory;
  // The generator works modulo 2^32.
  const uint32_t term =
      static_cast<uint32_t>(history[older]) + static_cast<uint32_t>(history[newer]);
  history[at] = static_cast<int32_t>(term);
  *position = at + 1 < kDitherHistory ? at + 1 : 0;
  return static_cast<int32_t>(term >> 1);
}

// The next value of the sequence, 0 .. 2^31 - 1.
inline int32_t DitherNext(DitherGenerator* generator) {
  return DitherStep(generator->history, &generator->position);
}

}  // namespace tessil
