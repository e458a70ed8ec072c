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

// Precision of LoudnessPower's last product and of the band sums built from it
// (LoudnessPower(x) * m + sum, stored as float either way). Single precision reproduces the
// reference vectors bit for bit. Double does too: it moves the last bit of about one target in
// four there, but the per-sample smoothing of the gain absorbs such differences, so those
// vectors cannot tell the two apart and the plain single-precision reading stays. Every other
// step of the estimate is single precision regardless.
using LoudnessPowerValue = float;

// Approximates x^0.67 for x >= 0 (inputs of 0.5 and above are not range-reduced, so it falls
// away above about 1.5; inputs below 2^-14 are under-scaled). Never pass a negative x.
LoudnessPowerValue LoudnessPower(float x);

// The target gain for a frame of this loudness: 1.0 up to the weighting's loudness threshold,
// above it the loudness over the frame energy with the weighting's knee and factors.
float TargetGainFromLoudness(const CoreChannel* channel, float loudness);

// Writes the channel's target gain from its analysed frame. delayed: the frame after
// AnalyseFrame; decimated: DecimateFrame's output; scratch: 2 n floats (weighted band values,
// then raw band output), overwritten. Advances the band filters and one flush-ring entry.
void ComputeTargetGain(CoreChannel* channel, const float* delayed, const float* decimated,
                       float* scratch, int32_t n);

}  // namespace tessil
