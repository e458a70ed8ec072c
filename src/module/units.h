// Conversions between the property set's integer units and the engine's values.
#pragma once

#include "tessil/tessil.h"

namespace tessil {

// Gains in whole decibels, rounded half away from zero; exactly 0.0 is the silence value -999.
inline constexpr LONG kSilenceDecibels = kTessilSilenceDecibels;
LONG DecibelsFromLinear(float linear);
float LinearFromDecibels(LONG decibels);
// Levels and amounts: x * 100 + 0.005, truncated.
ULONG ToHundredths(float value);
// Quality factors: (x + 0.005) * 100, truncated, so halves round up.
ULONG ToHundredthsRounded(float value);
// The value is read as unsigned: a negative LONG arrives as a huge count and is refused later.
float FromHundredths(LONG hundredths);

}  // namespace tessil
