#include "core/gain_stage.h"

#include <emmintrin.h>
#include <math.h>

#include "core/loudness.h"
#include "platform/relaxed.h"

namespace tessil {

namespace {

// The first position m in [from, to) with value(m) x envelope[m] over the limit, or -1; values
// holds the predictions, or is null when every prediction is `value`.
int32_t FirstOverLimit(const float* values, float value, const float* envelope, float limit,
                       int32_t from, int32_t to) {
  const __m128 bound = _mm_set1_ps(limit);
  const __m128 constant = _mm_set1_ps(value);
  int32_t m = from;
  for (; m + 4 <= to; m += 4) {
    const __m128 predicted = values != nullptr ? _mm_loadu_ps(values + m) : constant;
    const __m128 over = _mm_cmpgt_ps(_mm_mul_ps(predicted, _mm_loadu_ps(envelope + m)), bound);
    const int32_t mask = _mm_movemask_ps(over);
    if (mask != 0) return m + __builtin_ctz(static_cast<uint32_t>(mask));
  }
  for (; m < to; ++m) {
    if ((values != nullptr ? values[m] : value) * envelope[m] > limit) return m;
  }
  return -1;
}

// Runs the gain g of one frame: it approaches `target` by a fixed increment per sample until the
// look-ahead finds that g x envelope would cross the limit within lookAhead samples; then g steps
// a share of the distance to the limit and stops rising for the rest of the frame. Records every
// stepping sample. Returns the number of steps.
//
// The prediction for a position is the gain the curve reaches there if no step comes first, so
// one chain of sums `increment + g` gives the curve and the predictions alike, and the first
// position over the limit decides the next step: the look-ahead sees it lookAhead - 1 samples
// ahead, or at once. After a step the increment is 0 and the chain is `0 + g`, which settles by
// its second sum at the latest: 0 + x is x, or the zero x becomes (a negative denormal under
// flush-to-zero turns into -0 and then, rounding to nearest, into +0), and stays that.
int32_t BuildGainCurve(const CoreChannel* settings, CoreChannelState* state, float target,
                       const float* envelope, float* curve, float* steps, int32_t n) {
  float gain = state->gain;
  float increment = (target - gain) * LoadRelaxed(state->smoothing);
  const float limit = (LoadRelaxed(settings->ceiling) * kCoreCeilingScale) * kCoreLimitMargin;
  const int32_t lookAhead = state->lookAhead;
  const int32_t horizon = n + lookAhead - 1;  // the last sample's look-ahead ends before this
  float lastStep = state->lastStep;
  int32_t stepCount = 0;

  float predicted = gain;
  for (int32_t m = 0; m < n; ++m) {
    predicted = increment + predicted;
    curve[m] = predicted;
  }
  int32_t hit = FirstOverLimit(curve, 0.0f, envelope, limit, 0, n);
  for (int32_t m = n; hit < 0 && m < horizon; ++m) {
    predicted = increment + predicted;
    if (predicted * envelope[m] > limit) hit = m;
  }
  if (hit >= 0) {
    int32_t at = hit - lookAhead + 1 > 0 ? hit - lookAhead + 1 : 0;
    float before = at > 0 ? curve[at - 1] : gain;
    increment = 0.0f;
    for (;;) {
      // Reach the limit by the time the peak arrives, and always downwards.
      lastStep = -fabsf((limit - before) * kReciprocals[hit - at]);
      const float stepped = lastStep + before;
      curve[at] = stepped;
      steps[stepCount] = static_cast<float>(at);
      stepCount += 1;
      const int32_t from = at + 1;
      if (from >= n) break;
      const float first = increment + stepped;
      const float held = increment + first;
      hit = first * envelope[from] > limit
                ? from
                : FirstOverLimit(nullptr, held, envelope, limit, from + 1, horizon);
      at = hit < 0 ? n : (hit - lookAhead + 1 > from ? hit - lookAhead + 1 : from);
      if (from < at) curve[from] = first;
      for (int32_t m = from + 1; m < at; ++m) curve[m] = held;
      if (hit < 0) break;
      before = at == from ? stepped : at == from + 1 ? first : held;
    }
  }
  state->gain = curve[n - 1];
  state->increment = increment;
  state->lastStep = lastStep;
  return stepCount;
}

// Scales the curve to the output level; max(level, ceiling) x 0.25 is the full-scale gain.
void WriteGains(const CoreChannel* settings, const float* curve, float* output, int32_t n) {
  const float level = LoadRelaxed(settings->level);
  const float ceiling = LoadRelaxed(settings->ceiling);
  const float largest = ceiling > level ? ceiling : level;
  const float scale = 1.0f / (largest * kCoreCeilingScale);
  for (int32_t j = 0; j < n; ++j) output[j] = (curve[j] * scale) * level;
}

void CopySamples(const float* source, float* destination, int32_t n) {
  for (int32_t j = 0; j < n; ++j) destination[j] = source[j];
}

// Ramps the step at p forward over up to 150 samples, ending on the old curve value at its end.
void RampForward(float* curve, int32_t n, int32_t p, int32_t distance, float previousGain) {
  if (distance <= 1) return;
  int32_t length = distance < kCoreLongestRamp ? distance : kCoreLongestRamp;
  if (p + length > n) length = n - p;
  const float reciprocal = kReciprocals[length - 1];
  if (p >= 1) {
    const float start = curve[p - 1];
    const float end = curve[p + length - 1];
    float slope = (end - start) * reciprocal;
    // The sign follows the curve at the step, not the ramp's end points: where the curve did not
    // fall (an earlier ramp may have lifted it) the ramp runs the other way, as tuned.
    if (!(curve[p] - curve[p - 1] < 0.0f)) slope = -slope;
    for (int32_t k = 0; k < length; ++k) curve[p + k] = curve[p + k - 1] + slope;
  } else {
    // From the previous frame's last value; the end is read one position further on.
    const float end = curve[length];
    float slope = (end - previousGain) * reciprocal;
    if (!(curve[0] - previousGain < 0.0f)) slope = -slope;
    curve[0] = previousGain + slope;
    for (int32_t k = 1; k < length; ++k) curve[k] = curve[k - 1] + slope;
  }
}

// Ramps the up to 150 samples before the step at p into a line ending on the old value at p.
void RampBackward(float* curve, int32_t p, int32_t previousStep) {
  int32_t length = kCoreLongestRamp;
  if (previousStep >= 0 && p - kCoreLongestRamp < previousStep) {
    length = p - previousStep;
    if (length <= 1) return;
  }
  if (p - length < 0) length = p;
  // Nothing lies before the first sample to ramp from.
  if (length < 1) return;
  float slope = (curve[p] - curve[p - length]) * kReciprocals[length - 1];
  if (!(curve[p] - curve[p - 1] < 0.0f)) slope = -slope;
  for (int32_t k = 0; k < length; ++k) {
    curve[p - length + k + 1] = curve[p - length + k] + slope;
  }
}

}  // namespace

void RampGainSteps(CoreChannel* channel, int32_t n, float* curve, int32_t stepCount,
                   const float* steps) {
  const float previousGain = channel->state->previousGain;
  for (int32_t s = 0; s < stepCount; ++s) {
    const int32_t p = static_cast<int32_t>(steps[s]);
    if (n - p - 1 > kCoreLongestRamp) {
      const int32_t distance =
          s + 1 < stepCount ? static_cast<int32_t>(steps[s + 1]) - p : n - p - 1;
      RampForward(curve, n, p, distance, previousGain);
    } else {
      const int32_t previousStep = s > 0 ? static_cast<int32_t>(steps[s - 1]) : -1;
      RampBackward(curve, p, previousStep);
    }
  }
}

void ApplyGainSingle(CoreChannel* channel, const float* input, float* output, int32_t n,
                     float* scratch) {
  CoreChannelState* state = channel->state;
  float* curve = scratch + kCoreScratchCurve;
  float* steps = scratch + kCoreScratchSteps;
  const float* envelope = scratch + kCoreScratchEnvelope;
  const int32_t stepCount =
      BuildGainCurve(channel, state, state->target, envelope, curve, steps, n);
  if (LoadRelaxed(channel->level) > kCoreRampLevelThreshold) {
    RampGainSteps(channel, n, curve, stepCount, steps);
  }
  if (LoadRelaxed(state->bypassed) == 0) {
    WriteGains(channel, curve, output, n);
  } else {
    CopySamples(input, output, n);
  }
  state->previousGain = curve[n - 1];
}

void ApplyGainLinked(CoreChannel* left, CoreChannel* right, float* const inputs[2],
                     float* const outputs[2], int32_t n, float* scratch) {
  CoreChannelState* state = left->state;
  float* curve = scratch + kCoreScratchCurve;
  float* steps = scratch + kCoreScratchSteps;
  const float* envelope = scratch + kCoreScratchEnvelope;
  // The louder peak decides where the shared gain heads.
  const float target =
      state->framePeak >= right->state->framePeak ? state->target : right->state->target;
  const int32_t stepCount = BuildGainCurve(left, state, target, envelope, curve, steps, n);
  if (LoadRelaxed(left->level) > kCoreRampLevelThreshold) {
    RampGainSteps(left, n, curve, stepCount, steps);
  }
  if (LoadRelaxed(state->bypassed) == 0) {
    WriteGains(left, curve, outputs[0], n);
    CopySamples(outputs[0], outputs[1], n);
  } else {
    CopySamples(inputs[0], outputs[0], n);
    CopySamples(inputs[1], outputs[1], n);
  }
  state->previousGain = curve[n - 1];
}

}  // namespace tessil
