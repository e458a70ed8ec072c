#include "filters/biquad.h"

#include <emmintrin.h>
#include <string.h>

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

// A negative zero, a denormal (which flush-to-zero or denormals-are-zero modes would change), an
// infinity or a NaN.
bool IsUnusual(uint32_t bits) {
  const uint32_t exponent = bits & 0x7F800000u;
  return bits == 0x80000000u || exponent == 0x7F800000u ||
         (exponent == 0 && (bits & 0x007FFFFFu) != 0);
}

}  // namespace

bool IsIdentitySectionTDF2(const float* coefficients, const float* state) {
  // b0 = 1, b1 = a1 and b2 = a2 with a clean (+0, +0) state: every product pair cancels exactly.
  const float c0 = coefficients[0], c1 = coefficients[1], c2 = coefficients[2];
  const float c3 = coefficients[3], c4 = coefficients[4];
  return c0 == 1.0f && c2 == -c1 && c4 == -c3 && Bits(state[0]) == 0 && Bits(state[1]) == 0;
}

bool PassesIdentityExactly(const float* samples, int32_t count) {
  // A -0 input or a non-finite one would leave a signed zero or a NaN behind in the state, a
  // denormal depends on the flush modes, and a directed rounding mode turns the cancellations
  // into -0: blocks holding any of them take the real kernel.
  if ((_mm_getcsr() & 0x6000u) != 0) return false;  // not rounding to nearest
  int32_t n = 0;
  __m128i unusual = _mm_setzero_si128();
  const __m128i exponent = _mm_set1_epi32(0x7F800000);
  const __m128i noBits = _mm_setzero_si128();
  for (; n + 4 <= count; n += 4) {
    const __m128i bits = _mm_castps_si128(_mm_loadu_ps(samples + n));
    const __m128i exponentBits = _mm_and_si128(bits, exponent);
    // A zero exponent marks a zero or a denormal; only +0 (all bits clear) is welcome.
    const __m128i zeroExponent = _mm_cmpeq_epi32(exponentBits, noBits);
    const __m128i plusZero = _mm_cmpeq_epi32(bits, noBits);
    unusual = _mm_or_si128(unusual, _mm_andnot_si128(plusZero, zeroExponent));
    unusual = _mm_or_si128(unusual, _mm_cmpeq_epi32(exponentBits, exponent));
  }
  bool any = _mm_movemask_epi8(unusual) != 0;
  for (; n < count; ++n) any = any || IsUnusual(Bits(samples[n]));
  return !any;
}

bool PassIdentitySectionTDF2(const float* input, float* output, int32_t count,
                             const float* coefficients, float* state) {
  if (!IsIdentitySectionTDF2(coefficients, state) || !PassesIdentityExactly(input, count)) {
    return false;
  }
  // y = x + 0.0f is x itself and the state stays +0: in place there is nothing to write.
  if (input == output) return true;
  const __m128 zero = _mm_setzero_ps();
  int32_t n = 0;
  for (; n + 4 <= count; n += 4) {
    _mm_storeu_ps(output + n, _mm_add_ps(_mm_loadu_ps(input + n), zero));
  }
  for (; n < count; ++n) output[n] = input[n] + 0.0f;
  return true;
}

namespace {

using SectionKernel = void (*)(const float*, float*, int32_t, const float*, float*);

void RunCascade(const CascadeCoefficients* coefficients, float* stateArea, const float* input,
                float* output, int32_t count, FlushRing* ring, SectionKernel kernel,
                int32_t statePerSection) {
  const int32_t order = static_cast<int32_t>(coefficients[0]);
  if (order == 0) {
    if (input != output) {
      for (int32_t n = 0; n < count; ++n) output[n] = input[n];
    }
    return;
  }
  const int32_t sections = CascadeSectionCount(order);
  const float* source = input;
  for (int32_t k = 0; k < sections; ++k) {
    kernel(source, output, count, coefficients + 2 + kCascadeSectionStride * k,
           stateArea + statePerSection * k);
    SweepFlushRing(ring, 4);
    source = output;
  }
}

// RunSectionTDF2, or the identity shortcut where it gives the same bits.
void RunSectionTDF2OrPass(const float* input, float* output, int32_t count,
                          const float* coefficients, float* state) {
  if (!PassIdentitySectionTDF2(input, output, count, coefficients, state)) {
    RunSectionTDF2(input, output, count, coefficients, state);
  }
}

}  // namespace

void RunCascadeDF1(const CascadeCoefficients* coefficients, float* stateArea, const float* input,
                   float* output, int32_t count, FlushRing* ring) {
  RunCascade(coefficients, stateArea, input, output, count, ring, RunSectionDF1, 4);
}

void RunCascadeTDF2(const CascadeCoefficients* coefficients, float* stateArea,
                    const float* input, float* output, int32_t count, FlushRing* ring) {
  RunCascade(coefficients, stateArea, input, output, count, ring, RunSectionTDF2OrPass, 2);
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

void RunCascadeDF1Pair(const CascadeCoefficients* leftCoefficients, float* leftStateArea,
                       FlushRing* leftRing, float* left,
                       const CascadeCoefficients* rightCoefficients, float* rightStateArea,
                       FlushRing* rightRing, float* right, int32_t count) {
  const int32_t order = static_cast<int32_t>(leftCoefficients[0]);
  if (order == 0 || static_cast<int32_t>(rightCoefficients[0]) != order) {
    RunCascadeDF1(leftCoefficients, leftStateArea, left, left, count, leftRing);
    RunCascadeDF1(rightCoefficients, rightStateArea, right, right, count, rightRing);
    return;
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
}

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

bool RunTwoStagesDF1Pair(const CascadeRun stages[2][2], float* left, float* right,
                         int32_t count) {
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
}

void ZeroFill(void* address, size_t byteCount) {
  if (byteCount != 0) memset(address, 0, byteCount);
}

}  // namespace tessil
