#include "module/units.h"

#include <math.h>

namespace tessil {

LONG DecibelsFromLinear(float linear) {
  if (linear == 0.0f) return kSilenceDecibels;
  const float decibels = static_cast<float>(20.0 * log10(static_cast<double>(linear)));
  if (decibels >= 0.0f) return static_cast<LONG>(decibels + 0.5f);
  return static_cast<LONG>(decibels - 0.5f);
}

float LinearFromDecibels(LONG decibels) {
  if (decibels == kSilenceDecibels) return 0.0f;
  // The exponent uses the single-precision 0.05; the power is taken in extended precision.
  const long double exponent =
      static_cast<long double>(decibels) * static_cast<long double>(0.05f);
  return static_cast<float>(powl(10.0L, exponent));
}

ULONG ToWholeHundredths(float value) {
  return static_cast<ULONG>(static_cast<double>(value) * 100.0 + 0.005);
}

ULONG ToNearestHundredths(float value) {
  return static_cast<ULONG>((static_cast<double>(value) + 0.005) * 100.0);
}

float FromHundredths(LONG hundredths) {
  return static_cast<float>(static_cast<double>(static_cast<ULONG>(hundredths)) * 0.01);
}

}  // namespace tessil
