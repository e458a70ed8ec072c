// Loudness estimate of the core: 16 weighted analysis bands, gated and averaged per band,
// compressed by LoudnessPower and summed into a loudness figure that sets the target gain.
#pragma once

#include <stdint.h>

#include "core/core.h"

namespace tessil {

inline constexpr int32_t kLoudnessSeriesLength = 9;
inline constexpr int32_t kPowerScaleLength = 15;
extern const float kLnSeries[kLoudnessSeriesLength];    // coefficients of u^2 .. u^10 of ln(1+u)
extern const float kExpSeries[kLoudnessSeriesLength];   // coefficients of y^2 .. y^10 of e^y
extern const float kPowerScale[kPowerScaleLength];      // 2^(-0.67 i), i = 0..14

// Approximates x^0.67 for x >= 0 (inputs of 0.5 and above are not range-reduced, so it falls
// away above about 1.5; inputs below 2^-14 are under-scaled). Never pass a negative x.
float LoudnessPower(float x);

// The target gain for a frame of this loudness: 1.0 up to the weighting's loudness threshold,
// above it the loudness over the frame energy with the weighting's knee and factors.
float TargetGainFromLoudness(const CoreChannel* channel, float loudness);

// Writes the channel's target gain from its analysed frame. delayed: the frame after
// AnalyseFrames; decimated: DecimateFrame's output; scratch: 2 n floats (weighted band values,
// then raw band output), overwritten. Advances the band filters and one flush-ring entry.
void ComputeTargetGain(CoreChannel* channel, const float* delayed, const float* decimated,
                       float* scratch, int32_t n);

}  // namespace tessil
