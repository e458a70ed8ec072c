#include "core/loudness.h"

#include <emmintrin.h>
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

void ClearScratch(float* scratch, int32_t n) {
  for (int32_t i = 0; i < 2 * n; ++i) scratch[i] = 0.0f;
}

// A NaN peak fails the comparison and so counts as below the gate.
bool ReachesAnalysisGate(const CoreChannelState* state) {
  return state->framePeak >= LoadRelaxed(state->analysisGate);
}

static_assert(kCoreLowBandCount == 4 && kCoreHighBandCount % 4 == 0,
              "the analysis bands run four at a time");

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

// Coefficient k of four bands' rows, one band per lane.
__m128 RowLanes(const float* const rows[4], int32_t k) {
  return Lanes(rows[0][k], rows[1][k], rows[2][k], rows[3][k]);
}

// The four full-rate analysis bands: transposed-direct-form-II sections, the arithmetic of
// RunSectionTDF2, over every sample of the delayed frame.
struct LowBands {
  __m128 c0, c1, c2, c3, c4, s1, s2, weight, relative, activity, scale;

  LowBands(const CoreChannelState* state, const float* weights, float relativeGate,
           float activityGate)
      : c0(RowLanes(state->lowBandCoefficients, 0)),
        c1(RowLanes(state->lowBandCoefficients, 1)),
        c2(RowLanes(state->lowBandCoefficients, 2)),
        c3(RowLanes(state->lowBandCoefficients, 3)),
        c4(RowLanes(state->lowBandCoefficients, 4)),
        s1(Lanes(state->bandState[0], state->bandState[2], state->bandState[4],
                 state->bandState[6])),
        s2(Lanes(state->bandState[1], state->bandState[3], state->bandState[5],
                 state->bandState[7])),
        weight(_mm_loadu_ps(weights)),
        relative(_mm_set1_ps(relativeGate)),
        activity(_mm_set1_ps(activityGate)),
        scale(_mm_set1_ps(kLowBandScale)) {}

  // Band 0's raw and weighted output go to the scratch.
  void Step(float sample, BandLanes* lanes, float* bandOut, float* weightedOut) {
    const __m128 x = _mm_set1_ps(sample);
    const __m128 y = _mm_add_ps(s1, _mm_mul_ps(c0, x));
    s1 = _mm_add_ps(s2, _mm_add_ps(_mm_mul_ps(c2, x), _mm_mul_ps(c1, y)));
    s2 = _mm_add_ps(_mm_mul_ps(c3, y), _mm_mul_ps(c4, x));
    const __m128 weighted = GateAndSum(lanes, y, weight, relative, activity, scale, false);
    _mm_store_ss(bandOut, y);
    _mm_store_ss(weightedOut, weighted);
  }
};

// Four strided band-pass bands, band `first` + lane, over the decimated outputs (every eighth
// position): t = c0 x, y = s1 + t, s1 = s2 + c1 y, s2 = c2 y - t, the state kept between frames.
struct HighBands {
  __m128 c0, c1, c2, s1, s2, weight, relative, activity, scale;

  HighBands(const CoreChannelState* state, int32_t first, const float* weights,
            float relativeGate, float activityGate)
      : c0(RowLanes(state->highBandCoefficients + first - kCoreLowBandCount, 0)),
        c1(RowLanes(state->highBandCoefficients + first - kCoreLowBandCount, 1)),
        c2(RowLanes(state->highBandCoefficients + first - kCoreLowBandCount, 2)),
        s1(Lanes(state->bandState[2 * first], state->bandState[2 * first + 2],
                 state->bandState[2 * first + 4], state->bandState[2 * first + 6])),
        s2(Lanes(state->bandState[2 * first + 1], state->bandState[2 * first + 3],
                 state->bandState[2 * first + 5], state->bandState[2 * first + 7])),
        weight(_mm_loadu_ps(weights + first)),
        relative(_mm_set1_ps(relativeGate)),
        activity(_mm_set1_ps(activityGate)),
        scale(_mm_set1_ps(state->highBandScale)) {}

  void Step(float sample, BandLanes* lanes) {
    const __m128 t = _mm_mul_ps(c0, _mm_set1_ps(sample));
    const __m128 y = _mm_add_ps(s1, t);
    s1 = _mm_add_ps(s2, _mm_mul_ps(c1, y));
    s2 = _mm_sub_ps(_mm_mul_ps(c2, y), t);
    GateAndSum(lanes, y, weight, relative, activity, scale, true);
  }
};

// x^0.67 of four values per vector: x doubled h times until it reaches 0.5 (zero stays zero),
// ln x from the series of u = x - 1 (u + kLnSeries[k] u^(k+2), summed in that order), times 0.67,
// then e^y from 1 + y + kExpSeries[k] y^(k+2), scaled by kPowerScale[min(h, 14)] = 2^(-0.67 h).
// Single precision, in exactly this order, lane by lane; the four groups are independent, so
// their series run side by side.
void LoudnessPowers(const __m128 input[4], __m128 output[4]) {
  const __m128 zero = _mm_setzero_ps(), half = _mm_set1_ps(0.5f), two = _mm_set1_ps(2.0f);
  const __m128 one = _mm_set1_ps(1.0f);
  __m128 x[4], isZero[4], u[4], y[4], power[4], z[4], term[4];
  __m128i halvings[4];
  for (int32_t g = 0; g < 4; ++g) {
    x[g] = input[g];
    isZero[g] = _mm_cmpeq_ps(x[g], zero);
    halvings[g] = _mm_setzero_si128();
    for (;;) {
      const __m128 reduce = _mm_andnot_ps(isZero[g], _mm_cmplt_ps(x[g], half));
      if (_mm_movemask_ps(reduce) == 0) break;
      x[g] = _mm_or_ps(_mm_and_ps(reduce, _mm_mul_ps(x[g], two)), _mm_andnot_ps(reduce, x[g]));
      halvings[g] = _mm_sub_epi32(halvings[g], _mm_castps_si128(reduce));
    }
    u[g] = y[g] = power[g] = _mm_sub_ps(x[g], one);
  }
  for (int32_t k = 0; k < kLoudnessSeriesLength; ++k) {
    const __m128 coefficient = _mm_set1_ps(kLnSeries[k]);
    for (int32_t g = 0; g < 4; ++g) {
      power[g] = _mm_mul_ps(power[g], u[g]);
      y[g] = _mm_add_ps(_mm_mul_ps(power[g], coefficient), y[g]);
    }
  }
  for (int32_t g = 0; g < 4; ++g) {
    y[g] = _mm_mul_ps(y[g], _mm_set1_ps(kPowerExponent));
    z[g] = _mm_add_ps(one, y[g]);
    term[g] = y[g];
  }
  for (int32_t k = 0; k < kLoudnessSeriesLength; ++k) {
    const __m128 coefficient = _mm_set1_ps(kExpSeries[k]);
    for (int32_t g = 0; g < 4; ++g) {
      term[g] = _mm_mul_ps(term[g], y[g]);
      z[g] = _mm_add_ps(_mm_mul_ps(term[g], coefficient), z[g]);
    }
  }
  for (int32_t g = 0; g < 4; ++g) {
    int32_t reductions[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(reductions), halvings[g]);
    float scale[4];
    for (int32_t lane = 0; lane < 4; ++lane) {
      // Deeper reductions are scaled as the deepest tabulated one.
      const int32_t h = reductions[lane] < kPowerScaleLength - 1 ? reductions[lane]
                                                                   : kPowerScaleLength - 1;
      scale[lane] = kPowerScale[h];
    }
    output[g] = _mm_andnot_ps(isZero[g], _mm_mul_ps(_mm_loadu_ps(scale), z[g]));
  }
}

// The compressed figure of each band in a group: the gated mean (reciprocal of the count times
// the sum times the mean scale, left to right) through LoudnessPower; lanes that passed no
// sample are never added, whatever they hold.
__m128 GatedMeans(const BandLanes& lanes, float meanScale, int32_t passed[4]) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(passed), lanes.passed);
  float reciprocal[4];
  for (int32_t lane = 0; lane < 4; ++lane) {
    reciprocal[lane] = kReciprocals[passed[lane] > 0 ? passed[lane] - 1 : 0];
  }
  return _mm_mul_ps(_mm_mul_ps(_mm_loadu_ps(reciprocal), lanes.accumulated),
                    _mm_set1_ps(meanScale));
}

// Adds lanes 3, 2, 1, 0 in that order, each weighted by its count: bands are summed from the
// highest down.
float AddBands(float sum, __m128 powers, const int32_t passed[4]) {
  float figure[4];
  _mm_storeu_ps(figure, powers);
  for (int32_t lane = 3; lane >= 0; --lane) {
    if (passed[lane] > 0) {
      sum = figure[lane] * static_cast<float>(passed[lane]) + sum;
    }
  }
  return sum;
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

float LoudnessPower(float x) {
  const __m128 input[4] = {_mm_set1_ps(x), _mm_set1_ps(x), _mm_set1_ps(x), _mm_set1_ps(x)};
  __m128 output[4];
  LoudnessPowers(input, output);
  return _mm_cvtss_f32(output[0]);
}

void ComputeTargetGain(CoreChannel* channel, const float* delayed, const float* decimated,
                       float* scratch, int32_t n) {
  CoreChannelState* state = channel->state;
  float* weighted = scratch;
  float* band = scratch + n;

  // The settings the control plane may change meanwhile are read as the band sums use them:
  // for the strided bands first, then for the full-rate ones.
  const bool high = ReachesAnalysisGate(state);
  const float* highWeights = CurrentWeights(state);
  const float highRelativeGate = state->framePeak * kRelativeGate;
  const float highActivityGate = LoadRelaxed(state->activityGate);
  const bool low = ReachesAnalysisGate(state);
  const float* lowWeights = CurrentWeights(state);
  const float lowRelativeGate = state->framePeak * kRelativeGate;
  const float lowActivityGate = LoadRelaxed(state->activityGate);
  if (!low) ClearScratch(scratch, n);

  // Lanes 0: bands 0 to 3 (full rate), 1 to 3: bands 4 to 15 (strided). The full-rate
  // recursion is the longest chain; the strided bands' steps, one per eight samples, fill its
  // gaps.
  BandLanes lanes[4];
  LowBands lowBands(state, lowWeights, lowRelativeGate, lowActivityGate);
  HighBands highBands[3] = {
      HighBands(state, 4, highWeights, highRelativeGate, highActivityGate),
      HighBands(state, 8, highWeights, highRelativeGate, highActivityGate),
      HighBands(state, 12, highWeights, highRelativeGate, highActivityGate)};
  static_assert(kBlockFrames % kCoreDecimation == 0);
  for (int32_t start = 0; start < n; start += kCoreDecimation) {
    if (low) {
      for (int32_t i = start; i < start + kCoreDecimation; ++i) {
        lowBands.Step(delayed[i], &lanes[0], band + i, weighted + i);
      }
    }
    if (high) {
      const float sample = decimated[start + kCoreDecimation - 1];
      for (int32_t group = 0; group < 3; ++group) highBands[group].Step(sample, &lanes[group + 1]);
    }
  }
  if (low) StoreBandState(state->bandState, lowBands.s1, lowBands.s2);
  if (high) {
    for (int32_t group = 0; group < 3; ++group) {
      StoreBandState(state->bandState + 2 * (4 + 4 * group), highBands[group].s1,
                     highBands[group].s2);
    }
  }

  int32_t passed[4][4];
  __m128 means[4], powers[4];
  means[0] = GatedMeans(lanes[0], kLowBandMeanScale, passed[0]);
  for (int32_t group = 1; group < 4; ++group) {
    means[group] = GatedMeans(lanes[group], state->highBandGain, passed[group]);
  }
  LoudnessPowers(means, powers);
  float sumHigh = 0.0f;
  for (int32_t group = 3; high && group >= 1; --group) {
    sumHigh = AddBands(sumHigh, powers[group], passed[group]);
  }
  sumHigh = sumHigh * kHighBandSumFactor;
  const float sumLow = low ? AddBands(0.0f, powers[0], passed[0]) : 0.0f;

  const float loudness = sumLow * kLowBandSumFactor + sumHigh;
  state->target = TargetGainFromLoudness(channel, loudness);

  SweepFlushRing(&state->flushRing, 1);
}

}  // namespace tessil
