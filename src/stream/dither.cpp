#include "stream/dither.h"

#include <emmintrin.h>

namespace tessil {

namespace {

// One entry per processed sample, chosen by the two lowest bits of a value of the sequence.
constexpr float kDitherTable[4] = {0.0f, 1e-8f, 0.0f, -1e-8f};

// Forms the next `count` terms right after the history. The nearest earlier term a term needs
// is three back, so three are formed at a time; the fourth lane of each step is a spare that the
// next step writes over.
const int32_t* FormTerms(DitherGenerator* generator, int32_t count) {
  int32_t* terms = generator->terms;
  for (int32_t m = kDitherHistory; m < kDitherHistory + count; m += 3) {
    const __m128i older = _mm_loadu_si128(reinterpret_cast<const __m128i*>(terms + m - 31));
    const __m128i newer = _mm_loadu_si128(reinterpret_cast<const __m128i*>(terms + m - 3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(terms + m), _mm_add_epi32(older, newer));
  }
  return terms + kDitherHistory;
}

// The newest kDitherHistory terms become the history (a forward copy: the target lies below).
void KeepHistory(DitherGenerator* generator, int32_t count) {
  int32_t* terms = generator->terms;
  for (int32_t i = 0; i < kDitherHistory; ++i) terms[i] = terms[count + i];
}

int32_t Value(int32_t term) { return static_cast<int32_t>(static_cast<uint32_t>(term) >> 1); }

}  // namespace

void DitherSeed(DitherGenerator* generator) {
  int32_t* r = generator->terms;
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
  // The spare lanes read the words past the history before anything was formed there.
  for (int32_t i = kDitherHistory; i < kDitherHistory + kDitherRun + 3; ++i) r[i] = 0;
  // The seeding discards the first 310 values of the feedback sequence.
  int32_t discarded[kDitherRun];
  for (int32_t left = 310; left > 0; left -= kDitherRun) {
    DitherValues(generator, discarded, left < kDitherRun ? left : kDitherRun);
  }
}

void DitherValues(DitherGenerator* generator, int32_t* values, int32_t count) {
  const int32_t* terms = FormTerms(generator, count);
  for (int32_t i = 0; i < count; ++i) values[i] = Value(terms[i]);
  KeepHistory(generator, count);
}

void DitherSamples(DitherGenerator* generator, float* dither, int32_t count) {
  const int32_t* terms = FormTerms(generator, count);
  // Bit 1 of a term (bit 0 of its value) picks 1e-8 over +0.0, bit 2 gives it its sign.
  const __m128i magnitude = _mm_castps_si128(_mm_set1_ps(kDitherTable[1]));
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i term = _mm_loadu_si128(reinterpret_cast<const __m128i*>(terms + i));
    const __m128i chosen = _mm_srai_epi32(_mm_slli_epi32(term, 30), 31);
    const __m128i sign = _mm_slli_epi32(_mm_srli_epi32(term, 2), 31);
    _mm_storeu_ps(dither + i,
                  _mm_castsi128_ps(_mm_and_si128(chosen, _mm_or_si128(sign, magnitude))));
  }
  for (; i < count; ++i) dither[i] = kDitherTable[Value(terms[i]) & 3];
  KeepHistory(generator, count);
}

}  // namespace tessil
