#include "core/loudness.h"

#include <math.h>

#include "filters/biquad.h"
#include "platform/relaxed.h"

namespace tessil {

// The second and fifth values are the six-digit decimals, not the exact fractions.
const float kLnSeries[kLoudnessSeriesLength] = {
    -0.5f, 0.333333f, -0.25f, 0.2f, -0.166666f, 0.14285715f, -0.125f, 0.11111111f, -0.1f,
};

// 1/k! for k = 2..10, the first three written to six digits.
const float kExpSeries[kLoudnessSeriesLength] = {
    0.5f,          0.166666f,     0.0416666f,     0.008333334f,  0.0013888889f,
    0.0001984127f, 2.4801588e-05f, 2.7557319e-06f, 2.755732e-07f,
};

const float kPowerScale[kPowerScaleLength] = {
    1.0f,          0.62850666f,   0.39502066f,   0.24827312f,   0.15604132f,
    0.09807301f,   0.061639544f,  0.038740866f,  0.024348892f,  0.015303442f,
    0.009618316f,  0.0060451757f, 0.0037994334f, 0.0023879693f, 0.0015008546f,
};

namespace {

constexpr float kRelativeGate = 0.00025f;     // of the frame peak
constexpr float kLowBandScale = 0.00390625f;  // 1/256
constexpr float kLowBandMeanScale = 240.0f;
constexpr float kHighBandSumFactor = 0.32f;
constexpr float kLowBandSumFactor = 0.04f;
constexpr float kPowerExponent = 0.67f;

// Per weighting: above the knee the target follows loudness over energy; at or below it the
// factor is ten times smaller than the one the knee itself would give, so the target jumps where
// the energy crosses the knee.
struct TargetKnee {
  float energy;
  float aboveFactor;
  float belowFactor;
};
constexpr TargetKnee kTargetKnees[2] = {
    {0.0001f, 100.0f, 10.0f},
    {0.0002f, 50.0f, 5.0f},
};

// Gated mean of one band, compressed and weighted by how many samples passed the gates.
float AddBand(float sum, float accumulated, int32_t passed, float meanScale) {
  const float x = kReciprocals[passed - 1] * accumulated * meanScale;
  return static_cast<float>(LoudnessPower(x) * static_cast<LoudnessPowerValue>(passed) +
                            static_cast<LoudnessPowerValue>(sum));
}

// Both gates are strict: a value equal to either is not counted.
bool PassesGates(float magnitude, float relativeGate, float activityGate) {
  return magnitude > relativeGate && magnitude > activityGate;
}

void ClearScratch(float* scratch, int32_t n) {
  for (int32_t i = 0; i < 2 * n; ++i) scratch[i] = 0.0f;
}

// A NaN peak fails the comparison and so counts as below the gate.
bool ReachesAnalysisGate(const CoreChannelState* state) {
  return state->framePeak >= LoadRelaxed(state->analysisGate);
}

}  // namespace

float TargetGainFromLoudness(const CoreChannel* channel, float loudness) {
  const CoreChannelState* state = channel->state;
  if (!(loudness > LoadRelaxed(state->loudnessThreshold))) return 1.0f;
  const TargetKnee& knee = kTargetKnees[LoadRelaxed(channel->weighting) == 1 ? 1 : 0];
  const float energy = state->energy;
  // Products left to right.
  if (energy > knee.energy) return (knee.energy / energy) * loudness * knee.aboveFactor;
  return loudness * knee.belowFactor;
}

LoudnessPowerValue LoudnessPower(float x) {
  if (x == 0.0f) return 0.0f;
  int32_t halvings = 0;
  while (x < 0.5f) {
    x = x * 2.0f;
    halvings += 1;
  }
  const float u = x - 1.0f;
  float y = u;
  float power = u;
  for (int32_t k = 0; k < kLoudnessSeriesLength; ++k) {
    power = power * u;
    y = power * kLnSeries[k] + y;
  }
  y = y * kPowerExponent;
  float z = 1.0f + y;
  float term = y;
  for (int32_t k = 0; k < kLoudnessSeriesLength; ++k) {
    term = term * y;
    z = term * kExpSeries[k] + z;
  }
  // Deeper reductions are scaled as the deepest tabulated one.
  if (halvings > kPowerScaleLength - 1) halvings = kPowerScaleLength - 1;
  return static_cast<LoudnessPowerValue>(kPowerScale[halvings]) *
         static_cast<LoudnessPowerValue>(z);
}

void ComputeTargetGain(CoreChannel* channel, const float* delayed, const float* decimated,
                       float* scratch, int32_t n) {
  CoreChannelState* state = channel->state;
  float* weighted = scratch;
  float* band = scratch + n;

  float sumHigh = 0.0f;
  float sumLow = 0.0f;

  if (ReachesAnalysisGate(state)) {
    const int32_t step = state->decimation;
    for (int32_t b = kCoreBandCount - 1; b >= state->firstHighBand; --b) {
      RunBandPassStrided(decimated, band, n, state->highBandCoefficients[b - state->firstHighBand],
                         &state->bandState[2 * b], step);
      const float* weights = CurrentWeights(state);
      for (int32_t p = step - 1; p < n; p += step) weighted[p] = weights[b] * band[p];
      const float relativeGate = state->framePeak * kRelativeGate;
      const float activityGate = LoadRelaxed(state->activityGate);
      const float highBandScale = state->highBandScale;
      float accumulated = 0.0f;
      int32_t passed = 0;
      for (int32_t p = step - 1; p < n; p += step) {
        const float magnitude = fabsf(weighted[p]);
        if (PassesGates(magnitude, relativeGate, activityGate)) {
          accumulated = highBandScale * magnitude + accumulated;
          passed += 1;
        }
      }
      if (passed > 0) sumHigh = AddBand(sumHigh, accumulated, passed, state->highBandGain);
    }
  } else {
    ClearScratch(scratch, n);
  }
  sumHigh = sumHigh * kHighBandSumFactor;

  if (ReachesAnalysisGate(state)) {
    for (int32_t b = state->firstHighBand - 1; b >= 0; --b) {
      RunSectionTDF2(delayed, band, n, state->lowBandCoefficients[b], &state->bandState[2 * b]);
      const float weight = CurrentWeights(state)[b];
      for (int32_t i = 0; i < n; ++i) weighted[i] = weight * band[i];
      const float relativeGate = state->framePeak * kRelativeGate;
      const float activityGate = LoadRelaxed(state->activityGate);
      float accumulated = 0.0f;
      int32_t passed = 0;
      for (int32_t i = 0; i < n; ++i) {
        const float magnitude = fabsf(weighted[i]);
        if (PassesGates(magnitude, relativeGate, activityGate)) {
          accumulated = magnitude * kLowBandScale + accumulated;
          passed += 1;
        }
      }
      if (passed > 0) sumLow = AddBand(sumLow, accumulated, passed, kLowBandMeanScale);
    }
  } else {
    ClearScratch(scratch, n);
  }

  const float loudness = sumLow * kLowBandSumFactor + sumHigh;
  state->target = TargetGainFromLoudness(channel, loudness);

  SweepFlushRing(&state->flushRing, 1);
}

}  // namespace tessil
