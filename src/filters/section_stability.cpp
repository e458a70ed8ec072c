#include "filters/section_stability.h"

#include <stdint.h>

#include <bit>

namespace tessil {

namespace {

double Magnitude(float value) {
  return value < 0.0f ? -static_cast<double>(value) : static_cast<double>(value);
}

float StepTowardsZero(float value) {
  // The magnitude bits shrink by one and the sign stays.
  return std::bit_cast<float>(std::bit_cast<uint32_t>(value) - 1u);
}

}  // namespace

float StrictlyStableNegatedA1(float negatedA1, float negatedA2) {
  // Both sides are exact in double, so the test sees the stored section, not the design.
  const double onePlusA2 = 1.0 - static_cast<double>(negatedA2);
  // No a1 can save a section with |a2| >= 1 on that side; a NaN cannot be mended either.
  if (!(onePlusA2 > 0.0) || !(Magnitude(negatedA1) >= onePlusA2)) return negatedA1;
  // Stepping -a1 towards zero one float at a time ends on the largest magnitude strictly below
  // 1 + a2, so start there: the nearest float to the bound is at most a step or two away.
  float limit = static_cast<float>(onePlusA2);
  while (limit != 0.0f && !(static_cast<double>(limit) < onePlusA2)) limit = StepTowardsZero(limit);
  return negatedA1 < 0.0f ? -limit : limit;
}

}  // namespace tessil
