// Conversions between the property set's integer units and the engine's values.
#pragma once

#include "tessil/tessil.h"

namespace tessil {

// Gains in whole decibels, rounded half away from zero; exactly 0.0 is kSilenceDecibels.
LONG DecibelsFromLinear(float linear);
float LinearFromDecibels(LONG decibels);
// Levels and amounts: the whole hundredths, x * 100 + 0.005 truncated (the nudge only keeps a
// value whose float lies a hair below a hundredth, 0.35 say, from losing it).
ULONG ToWholeHundredths(float value);
// Quality factors: the nearest hundredth, halves up: (x + 0.005) * 100 truncated.
ULONG ToNearestHundredths(float value);
// The value is read as unsigned: a negative LONG arrives as a huge count and is refused later.
float FromHundredths(LONG hundredths);

}  // namespace tessil
