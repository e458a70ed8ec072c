#include "core/loudness.h"

#include <math.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// Four analysis bands side by side, one per lane. Each lane repeats its band's scalar operations
// in the same order (filter, weight, gates, running sum), so every band's figures are bit for bit
// those of one band at a time; only the interleaving differs.
struct BandLanes {
  __m128 accumulated = _mm_setzero_ps();
  __m128i passed = _mm_setzero_si128();
};

inline __m128 Lanes(float b0, float b1, float b2, float b3) { return _mm_setr_ps(b0, b1, b2, b3); }

// The gates and the running sum of one sample of four bands; `scale` multiplies the magnitude
// on the side each band's scalar loop has it.
inline __m128 GateAndSum(BandLanes* lanes, __m128 band, __m128 weights, __m128 relativeGate,
                         __m128 activityGate, __m128 scale, bool scaleFirst) {
  const __m128 weighted = _mm_mul_ps(weights, band);
  const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), weighted);
  const __m128 passes = _mm_and_ps(_mm_cmpgt_ps(magnitude, relativeGate),
                                   _mm_cmpgt_ps(magnitude, activityGate));
  const __m128 term = scaleFirst ? _mm_mul_ps(scale, magnitude) : _mm_mul_ps(magnitude, scale);
  const __m128 sum = _mm_add_ps(term, lanes->accumulated);
  lanes->accumulated =
      _mm_or_ps(_mm_and_ps(passes, sum), _mm_andnot_ps(passes, lanes->accumulated));
  lanes->passed = _mm_sub_epi32(lanes->passed, _mm_castps_si128(passes));
  return weighted;
}

// Four bands' two state words, band b's at 2b and 2b + 1, back from the lanes they ran in.
void StoreBandState(float* bandState, __m128 s1, __m128 s2) {
  float first[4], second[4];
  _mm_storeu_ps(first, s1);
  _mm_storeu_ps(second, s2);
  for (int32_t b = 0; b < 4; ++b) {
    bandState[2 * b] = first[b];
    bandState[2 * b + 1] = second[b];
  }
}

// Bands first..first+3 of the full-rate analysis (direct-form-II-transposed sections); band
// `first`'s raw and weighted output go to the scratch as the one-band-at-a-time loop leaves them.
void RunLowBands(CoreChannelState* state, const float* delayed, const float* weights,
                 float relativeGate, float activityGate, float* weightedOut, float* bandOut,
                 int32_t n, BandLanes* lanes) {
  const float* c[4];
  for (int32_t b = 0; b < 4; ++b) c[b] = state->lowBandCoefficients[b];
  const __m128 c0 = Lanes(c[0][0], c[1][0], c[2][0], c[3][0]);
  const __m128 c1 = Lanes(c[0][1], c[1][1], c[2][1], c[3][1]);
  const __m128 c2 = Lanes(c[0][2], c[1][2], c[2][2], c[3][2]);
  const __m128 c3 = Lanes(c[0][3], c[1][3], c[2][3], c[3][3]);
  const __m128 c4 = Lanes(c[0][4], c[1][4], c[2][4], c[3][4]);
  float* bandState = state->bandState;
  __m128 s1 = Lanes(bandState[0], bandState[2], bandState[4], bandState[6]);
  __m128 s2 = Lanes(bandState[1], bandState[3], bandState[5], bandState[7]);
  const __m128 weight = _mm_loadu_ps(weights);
  const __m128 relative = _mm_set1_ps(relativeGate), activity = _mm_set1_ps(activityGate);
  const __m128 scale = _mm_set1_ps(kLowBandScale);
  for (int32_t i = 0; i < n; ++i) {
    const __m128 x = _mm_set1_ps(delayed[i]);
    const __m128 y = _mm_add_ps(s1, _mm_mul_ps(c0, x));
    s1 = _mm_add_ps(s2, _mm_add_ps(_mm_mul_ps(c2, x), _mm_mul_ps(c1, y)));
    s2 = _mm_add_ps(_mm_mul_ps(c3, y), _mm_mul_ps(c4, x));
    const __m128 weighted = GateAndSum(lanes, y, weight, relative, activity, scale, false);
    _mm_store_ss(bandOut + i, y);
    _mm_store_ss(weightedOut + i, weighted);
  }
  StoreBandState(bandState, s1, s2);
}

// Four strided band-pass bands, band `first` + lane, at every step-th position.
void RunHighBands(CoreChannelState* state, int32_t first, const float* decimated,
                  const float* weights, float relativeGate, float activityGate, int32_t n,
                  BandLanes* lanes) {
  const float* c[4];
  for (int32_t b = 0; b < 4; ++b) {
    c[b] = state->highBandCoefficients[first + b - state->firstHighBand];
  }
  const __m128 c0 = Lanes(c[0][0], c[1][0], c[2][0], c[3][0]);
  const __m128 c1 = Lanes(c[0][1], c[1][1], c[2][1], c[3][1]);
  const __m128 c2 = Lanes(c[0][2], c[1][2], c[2][2], c[3][2]);
  float* bandState = state->bandState + 2 * first;
  __m128 s1 = Lanes(bandState[0], bandState[2], bandState[4], bandState[6]);
  __m128 s2 = Lanes(bandState[1], bandState[3], bandState[5], bandState[7]);
  const __m128 weight = _mm_loadu_ps(weights + first);
  const __m128 relative = _mm_set1_ps(relativeGate), activity = _mm_set1_ps(activityGate);
  const __m128 scale = _mm_set1_ps(state->highBandScale);
  const int32_t step = state->decimation;
  for (int32_t p = step - 1; p < n; p += step) {
    const __m128 t = _mm_mul_ps(c0, _mm_set1_ps(decimated[p]));
    const __m128 y = _mm_add_ps(s1, t);
    s1 = _mm_add_ps(s2, _mm_mul_ps(c1, y));
    s2 = _mm_sub_ps(_mm_mul_ps(c2, y), t);
    GateAndSum(lanes, y, weight, relative, activity, scale, true);
  }
  StoreBandState(bandState, s1, s2);
}

// Adds lanes 3, 2, 1, 0 in that order: bands are summed from the highest down.
float AddLanes(float sum, const BandLanes& lanes, float meanScale) {
  float accumulated[4];
  int32_t passed[4];
  _mm_storeu_ps(accumulated, lanes.accumulated);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(passed), lanes.passed);
  for (int32_t lane = 3; lane >= 0; --lane) {
    if (passed[lane] > 0) sum = AddBand(sum, accumulated[lane], passed[lane], meanScale);
  }
  return sum;
}
#endif

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

#if defined(__SSE2__)
  const bool fourBandGroups =
      state->firstHighBand == 4 && (kCoreBandCount - state->firstHighBand) % 4 == 0;
#else
  const bool fourBandGroups = false;
#endif
  if (ReachesAnalysisGate(state)) {
    if (fourBandGroups) {
#if defined(__SSE2__)
      const float* weights = CurrentWeights(state);
      const float relativeGate = state->framePeak * kRelativeGate;
      const float activityGate = LoadRelaxed(state->activityGate);
      for (int32_t first = kCoreBandCount - 4; first >= state->firstHighBand; first -= 4) {
        BandLanes lanes;
        RunHighBands(state, first, decimated, weights, relativeGate, activityGate, n, &lanes);
        sumHigh = AddLanes(sumHigh, lanes, state->highBandGain);
      }
#endif
    } else {
      const int32_t step = state->decimation;
      for (int32_t b = kCoreBandCount - 1; b >= state->firstHighBand; --b) {
        RunBandPassStrided(decimated, band, n,
                           state->highBandCoefficients[b - state->firstHighBand],
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
    }
  } else {
    ClearScratch(scratch, n);
  }
  sumHigh = sumHigh * kHighBandSumFactor;

  if (ReachesAnalysisGate(state)) {
    if (fourBandGroups) {
#if defined(__SSE2__)
      BandLanes lanes;
      RunLowBands(state, delayed, CurrentWeights(state), state->framePeak * kRelativeGate,
                  LoadRelaxed(state->activityGate), weighted, band, n, &lanes);
      sumLow = AddLanes(sumLow, lanes, kLowBandMeanScale);
#endif
    } else {
      for (int32_t b = state->firstHighBand - 1; b >= 0; --b) {
        RunSectionTDF2(delayed, band, n, state->lowBandCoefficients[b],
                       &state->bandState[2 * b]);
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
    }
  } else {
    ClearScratch(scratch, n);
  }

  const float loudness = sumLow * kLowBandSumFactor + sumHigh;
  state->target = TargetGainFromLoudness(channel, loudness);

  SweepFlushRing(&state->flushRing, 1);
}

}  // namespace tessil
