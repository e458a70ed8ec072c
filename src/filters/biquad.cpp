#include "filters/biquad.h"

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
  return RunCascade(coefficients, stateArea, input, output, count, ring, RunSectionTDF2, 2);
}

void ZeroFill(void* address, size_t byteCount, int value) {
  if (byteCount != 0) memset(address, value, byteCount);
}

}  // namespace tessil
