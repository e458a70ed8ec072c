#include "filters/biquad.h"

#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessil {

void SweepFlushRing(FlushRing* ring, int32_t visits) {
  for (int32_t visit = 0; visit < visits; ++visit) {
    float* value = FlushRingEntry(ring, ring->cursor);
    // Written as two strict comparisons so that a NaN is left alone.
    if (*value > -kDenormalFlushThreshold && *value < kDenormalFlushThreshold) *value = 0.0f;
    ring->cursor += 1;
    if (ring->cursor == ring->length) ring->cursor = 0;
  }
}

void AppendFlushRingRange(FlushRing* ring, float* first, int32_t count) {
  for (int32_t i = 0; i < count; ++i) {
    ring->items[ring->length] = static_cast<int32_t>(reinterpret_cast<char*>(first + i) -
                                                     reinterpret_cast<char*>(ring->items));
    ring->length += 1;
  }
}

void RunSectionDF1(const float* input, float* output, int32_t count, const float* coefficients,
                   float* state) {
  const float b0 = coefficients[0], b1 = coefficients[1], b2 = coefficients[2];
  const float na1 = coefficients[3], na2 = coefficients[4];
  float x1 = state[0], x2 = state[1], y1 = state[2], y2 = state[3];
  for (int32_t n = 0; n < count; ++n) {
    const float x = input[n];
    // The association is part of the result: ((((b0 x + b1 x1) + b2 x2) - a1 y1) - a2 y2).
    const float y = (((b0 * x + b1 * x1) + b2 * x2) + na1 * y1) + na2 * y2;
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    output[n] = y;
  }
  state[0] = x1;
  state[1] = x2;
  state[2] = y1;
  state[3] = y2;
}

void RunSectionTDF2(const float* input, float* output, int32_t count, const float* coefficients,
                    float* state) {
  const float c0 = coefficients[0], c1 = coefficients[1], c2 = coefficients[2];
  const float c3 = coefficients[3], c4 = coefficients[4];
  float s1 = state[0], s2 = state[1];
  for (int32_t n = 0; n < count; ++n) {
    const float x = input[n];
    const float y = s1 + c0 * x;
    output[n] = y;
    s1 = s2 + (c2 * x + c1 * y);
    s2 = c3 * y + c4 * x;
  }
  state[0] = s1;
  state[1] = s2;
}

namespace {

uint32_t Bits(float value) {
  uint32_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

#if defined(__SSE2__)
// A negative zero, a denormal (which flush-to-zero or denormals-are-zero modes would change), an
// infinity or a NaN.
bool IsUnusual(uint32_t bits) {
  const uint32_t exponent = bits & 0x7F800000u;
  return bits == 0x80000000u || exponent == 0x7F800000u ||
         (exponent == 0 && (bits & 0x007FFFFFu) != 0);
}
#endif

}  // namespace

bool PassIdentitySectionTDF2(const float* input, float* output, int32_t count,
                             const float* coefficients, float* state) {
  // b0 = 1, b1 = a1 and b2 = a2 with a clean (+0, +0) state: every product pair cancels exactly,
  // y = x and the state stays +0. A -0 input or a non-finite one would leave a signed zero or a
  // NaN behind in the state, a denormal depends on the flush modes, and a directed rounding mode
  // turns the cancellations into -0: those blocks take the real kernel.
  const float c0 = coefficients[0], c1 = coefficients[1], c2 = coefficients[2];
  const float c3 = coefficients[3], c4 = coefficients[4];
  if (c0 != 1.0f || c2 != -c1 || c4 != -c3 || Bits(state[0]) != 0 || Bits(state[1]) != 0) {
    return false;
  }
#if defined(__SSE2__)
  if ((_mm_getcsr() & 0x6000u) != 0) return false;  // not rounding to nearest
  int32_t n = 0;
  __m128i unusual = _mm_setzero_si128();
  const __m128i exponent = _mm_set1_epi32(0x7F800000);
  const __m128i noBits = _mm_setzero_si128();
  for (; n + 4 <= count; n += 4) {
    const __m128i bits = _mm_castps_si128(_mm_loadu_ps(input + n));
    const __m128i exponentBits = _mm_and_si128(bits, exponent);
    // A zero exponent marks a zero or a denormal; only +0 (all bits clear) is welcome.
    const __m128i zeroExponent = _mm_cmpeq_epi32(exponentBits, noBits);
    const __m128i notPlusZero = _mm_xor_si128(_mm_cmpeq_epi32(bits, noBits), _mm_set1_epi32(-1));
    unusual = _mm_or_si128(unusual, _mm_and_si128(zeroExponent, notPlusZero));
    unusual = _mm_or_si128(unusual, _mm_cmpeq_epi32(exponentBits, exponent));
  }
  bool any = _mm_movemask_epi8(unusual) != 0;
  for (; n < count; ++n) any = any || IsUnusual(Bits(input[n]));
  if (any) return false;
  // Without -0 and non-finite values x + 0.0f is x itself: in place there is nothing to write.
  if (input == output) return true;
  const __m128 zero = _mm_setzero_ps();
  for (n = 0; n + 4 <= count; n += 4) {
    _mm_storeu_ps(output + n, _mm_add_ps(_mm_loadu_ps(input + n), zero));
  }
  for (; n < count; ++n) output[n] = input[n] + 0.0f;
  return true;
#else
  // Without a way to read the rounding mode here, the shortcut cannot be known to be exact.
  (void)input;
  (void)output;
  (void)count;
  return false;
#endif
}

void RunBandPassStrided(const float* input, float* output, int32_t count,
                        const float* coefficients, float* state, int32_t step) {
  const float c0 = coefficients[0], c1 = coefficients[1], c2 = coefficients[2];
  float s1 = state[0], s2 = state[1];
  for (int32_t n = step - 1; n < count; n += step) {
    const float x = input[n];
    const float t = c0 * x;
    const float y = s1 + t;
    output[n] = y;
    s1 = s2 + c1 * y;
    s2 = c2 * y - t;
  }
  state[0] = s1;
  state[1] = s2;
}

namespace {

using SectionKernel = void (*)(const float*, float*, int32_t, const float*, float*);

int32_t RunCascade(const CascadeCoefficients* coefficients, float* stateArea, const float* input,
                   float* output, int32_t count, FlushRing* ring, SectionKernel kernel,
                   int32_t statePerSection) {
  const int32_t order = static_cast<int32_t>(coefficients[0]);
  if (order == 0) {
    if (input != output) {
      for (int32_t n = 0; n < count; ++n) output[n] = input[n];
    }
    return 0;
  }
  const int32_t sections = CascadeSectionCount(order);
  const float* source = input;
  for (int32_t k = 0; k < sections; ++k) {
    kernel(source, output, count, coefficients + 2 + kCascadeSectionStride * k,
           stateArea + statePerSection * k);
    SweepFlushRing(ring, 4);
    source = output;
  }
  return 0;
}

}  // namespace

int32_t RunCascadeDF1(const CascadeCoefficients* coefficients, float* stateArea,
                      const float* input, float* output, int32_t count, FlushRing* ring) {
  return RunCascade(coefficients, stateArea, input, output, count, ring, RunSectionDF1, 4);
}

int32_t RunCascadeTDF2(const CascadeCoefficients* coefficients, float* stateArea,
                       const float* input, float* output, int32_t count, FlushRing* ring) {
  const int32_t order = static_cast<int32_t>(coefficients[0]);
  if (order == 0) return RunCascade(coefficients, stateArea, input, output, count, ring,
                                    RunSectionTDF2, 2);
  const int32_t sections = CascadeSectionCount(order);
  const float* source = input;
  for (int32_t k = 0; k < sections; ++k) {
    const float* section = coefficients + 2 + kCascadeSectionStride * k;
    float* state = stateArea + 2 * k;
    if (!PassIdentitySectionTDF2(source, output, count, section, state)) {
      RunSectionTDF2(source, output, count, section, state);
    }
    SweepFlushRing(ring, 4);
    source = output;
  }
  return 0;
}

namespace {

// Two channels' sections in one loop: the two recursions are independent, so each hides the
// other's latency. Per channel the operations are those of RunSectionDF1, in the same order.
void RunSectionDF1Pair(float* left, float* right, int32_t count, const float* leftCoefficients,
                       const float* rightCoefficients, float* leftState, float* rightState) {
  const float lb0 = leftCoefficients[0], lb1 = leftCoefficients[1], lb2 = leftCoefficients[2];
  const float la1 = leftCoefficients[3], la2 = leftCoefficients[4];
  const float rb0 = rightCoefficients[0], rb1 = rightCoefficients[1], rb2 = rightCoefficients[2];
  const float ra1 = rightCoefficients[3], ra2 = rightCoefficients[4];
  float lx1 = leftState[0], lx2 = leftState[1], ly1 = leftState[2], ly2 = leftState[3];
  float rx1 = rightState[0], rx2 = rightState[1], ry1 = rightState[2], ry2 = rightState[3];
  for (int32_t n = 0; n < count; ++n) {
    const float lx = left[n], rx = right[n];
    const float ly = (((lb0 * lx + lb1 * lx1) + lb2 * lx2) + la1 * ly1) + la2 * ly2;
    const float ry = (((rb0 * rx + rb1 * rx1) + rb2 * rx2) + ra1 * ry1) + ra2 * ry2;
    lx2 = lx1;
    lx1 = lx;
    ly2 = ly1;
    ly1 = ly;
    rx2 = rx1;
    rx1 = rx;
    ry2 = ry1;
    ry1 = ry;
    left[n] = ly;
    right[n] = ry;
  }
  leftState[0] = lx1;
  leftState[1] = lx2;
  leftState[2] = ly1;
  leftState[3] = ly2;
  rightState[0] = rx1;
  rightState[1] = rx2;
  rightState[2] = ry1;
  rightState[3] = ry2;
}

}  // namespace

int32_t RunCascadeDF1Pair(const CascadeCoefficients* leftCoefficients, float* leftStateArea,
                          FlushRing* leftRing, float* left,
                          const CascadeCoefficients* rightCoefficients, float* rightStateArea,
                          FlushRing* rightRing, float* right, int32_t count) {
  const int32_t order = static_cast<int32_t>(leftCoefficients[0]);
  if (order == 0 || static_cast<int32_t>(rightCoefficients[0]) != order) {
    RunCascadeDF1(leftCoefficients, leftStateArea, left, left, count, leftRing);
    return RunCascadeDF1(rightCoefficients, rightStateArea, right, right, count, rightRing);
  }
  // Each ring is swept after its own section, as the one-channel runner does; the two rings and
  // states never overlap, so interleaving the channels changes nothing.
  const int32_t sections = CascadeSectionCount(order);
  for (int32_t k = 0; k < sections; ++k) {
    RunSectionDF1Pair(left, right, count, leftCoefficients + 2 + kCascadeSectionStride * k,
                      rightCoefficients + 2 + kCascadeSectionStride * k, leftStateArea + 4 * k,
                      rightStateArea + 4 * k);
    SweepFlushRing(leftRing, 4);
    SweepFlushRing(rightRing, 4);
  }
  return 0;
}

#if defined(__SSE2__)
namespace {

// One second-order section of the left and the right channel, in lanes 0 and 1 (lanes 2 and 3
// carry zeros along), stepped with RunSectionDF1's operations in its order.
struct SectionPair {
  static __m128 Lanes(float leftValue, float rightValue) {
    return _mm_setr_ps(leftValue, rightValue, 0.0f, 0.0f);
  }

  SectionPair(const CascadeRun& leftRun, const CascadeRun& rightRun) {
    const float* l = leftRun.coefficients + 2;
    const float* r = rightRun.coefficients + 2;
    b0 = Lanes(l[0], r[0]);
    b1 = Lanes(l[1], r[1]);
    b2 = Lanes(l[2], r[2]);
    a1 = Lanes(l[3], r[3]);
    a2 = Lanes(l[4], r[4]);
    const float* ls = leftRun.stateArea;
    const float* rs = rightRun.stateArea;
    x1 = Lanes(ls[0], rs[0]);
    x2 = Lanes(ls[1], rs[1]);
    y1 = Lanes(ls[2], rs[2]);
    y2 = Lanes(ls[3], rs[3]);
  }

  __m128 Step(__m128 x) {
    const __m128 y = _mm_add_ps(
        _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(b0, x), _mm_mul_ps(b1, x1)),
                              _mm_mul_ps(b2, x2)),
                   _mm_mul_ps(a1, y1)),
        _mm_mul_ps(a2, y2));
    x2 = x1;
    x1 = x;
    y2 = y1;
    y1 = y;
    return y;
  }

  void Store(float* leftState, float* rightState) const {
    const __m128 state[4] = {x1, x2, y1, y2};
    for (int32_t i = 0; i < 4; ++i) {
      float lanes[4];
      _mm_storeu_ps(lanes, state[i]);
      leftState[i] = lanes[0];
      rightState[i] = lanes[1];
    }
  }

  __m128 b0, b1, b2, a1, a2;
  __m128 x1, x2, y1, y2;
};

}  // namespace
#endif

bool RunTwoStagesDF1Pair(const CascadeRun stages[2][2], float* left, float* right,
                         int32_t count) {
#if defined(__SSE2__)
  for (int32_t stage = 0; stage < 2; ++stage) {
    for (int32_t channel = 0; channel < 2; ++channel) {
      const int32_t order = static_cast<int32_t>(stages[stage][channel].coefficients[0]);
      if ((order != 1 && order != 2) || stages[stage][channel].ring->length != 4) return false;
    }
  }
  // The second stage takes the first stage's output of the same sample; the two stages'
  // recursions are independent, so they overlap.
  SectionPair first(stages[0][0], stages[0][1]);
  SectionPair second(stages[1][0], stages[1][1]);
  for (int32_t n = 0; n < count; ++n) {
    const __m128 x = _mm_unpacklo_ps(_mm_load_ss(left + n), _mm_load_ss(right + n));
    const __m128 z = second.Step(first.Step(x));
    _mm_store_ss(left + n, z);
    _mm_store_ss(right + n, _mm_shuffle_ps(z, z, 1));
  }
  first.Store(stages[0][0].stateArea, stages[0][1].stateArea);
  second.Store(stages[1][0].stateArea, stages[1][1].stateArea);
  // One section per cascade: each ring's four entries are that section's state, swept after its
  // block as the one-stage runner does; no ring reaches another cascade's state.
  for (int32_t stage = 0; stage < 2; ++stage) {
    for (int32_t channel = 0; channel < 2; ++channel) {
      SweepFlushRing(stages[stage][channel].ring, 4);
    }
  }
  return true;
#else
  (void)stages;
  (void)left;
  (void)right;
  (void)count;
  return false;
#endif
}

void ZeroFill(void* address, size_t byteCount, int value) {
  if (byteCount != 0) memset(address, value, byteCount);
}

}  // namespace tessil
