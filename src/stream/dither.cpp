#include "stream/dither.h"

namespace tessil {

namespace {

constexpr int32_t kHistory = 34;

int32_t Add(int32_t a, int32_t b) {
  // The generator works modulo 2^32.
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

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
  for (int32_t i = 31; i < kHistory; ++i) r[i] = r[i - 31];
  generator->position = 0;
  // The seeding discards the first 310 outputs of the feedback sequence.
  for (int32_t i = 0; i < 310; ++i) DitherNext(generator);
}

int32_t DitherNext(DitherGenerator* generator) {
  // With the oldest of 34 terms at `position`, r[i-31] sits 3 places later and r[i-3] 31 later.
  int32_t* r = generator->history;
  const int32_t position = generator->position;
  const int32_t older = r[(position + 3) % kHistory];
  const int32_t newer = r[(position + 31) % kHistory];
  const int32_t term = Add(older, newer);
  r[position] = term;
  generator->position = (position + 1) % kHistory;
  return static_cast<int32_t>(static_cast<uint32_t>(term) >> 1);
}

}  // namespace tessil
