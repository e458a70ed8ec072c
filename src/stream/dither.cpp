#include "stream/dither.h"

namespace tessil {

void DitherSeed(DitherGenerator* generator) {
  int32_t* r = generator->history;
  r[0] = 1;
  for (int32_t i = 1; i < 31; ++i) {
    // 16807 * r[i-1] mod (2^31 - 1) without overflow (Schrage's method).
    const int32_t hi = r[i - 1] / 127773;
    const int32_t lo = r[i - 1] % 127773;
    int32_t word = 16807 * lo - 2836 * hi;
    if (word < 0) word += 2147483647;
    r[i] = word;
  }
  for (int32_t i = 31; i < kDitherHistory; ++i) r[i] = r[i - 31];
  generator->position = 0;
  // The seeding discards the first 310 outputs of the feedback sequence.
  for (int32_t i = 0; i < 310; ++i) DitherNext(generator);
}

}  // namespace tessil
