#include "core/gain_stage.h"

#include <math.h>

#include "core/loudness.h"
#include "platform/relaxed.h"

namespace tessil {

namespace {

// Runs the gain g of one frame: it approaches `target` by a fixed increment per sample until the
// look-ahead finds that g x envelope would cross the limit within lookAhead samples; then g steps
// a share of the distance to the limit and stops rising for the rest of the frame. Records every
// stepping sample. Returns the number of steps.
int32_t BuildGainCurve(const CoreChannel* settings, CoreChannelState* state, float target,
                       const float* envelope, float* curve, float* steps, int32_t n) {
  float gain = state->gain;
  float increment = (target - gain) * LoadRelaxed(state->smoothing);
  const float limit = (LoadRelaxed(settings->ceiling) * kCoreCeilingScale) * kCoreLimitMargin;
  const int32_t lookAhead = state->lookAhead;
  float lastStep = state->lastStep;
  int32_t stepCount = 0;
  // The prediction for sample j + 1 is the one for sample j moved on by one sample, so the sums
  // `increment + predicted` are formed once per position and shared: `predicted` is the sum at
  // position `predictedEnd - 1`, and `hit` the first position (from j on) over the limit. The
  // first position over the limit always makes a step, and a step starts the sums again from the
  // stepped gain, so one hit is all that needs remembering.
  float predicted = gain;
  int32_t predictedEnd = 0;
  int32_t hit = -1;
  for (int32_t j = 0; j < n; ++j) {
    for (; predictedEnd < j + lookAhead; ++predictedEnd) {
      predicted = increment + predicted;
      if (hit < 0 && predicted * envelope[predictedEnd] > limit) hit = predictedEnd;
    }
    if (hit >= 0) {
      const int32_t distance = hit - j;
      // Reach the limit by the time the peak arrives, and always downwards.
      lastStep = -fabsf((limit - gain) * kReciprocals[distance]);
      gain = lastStep + gain;
      // No rise for the rest of the frame towards a peak the gain has just stepped down for.
      increment = 0.0f;
      steps[stepCount] = static_cast<float>(j);
      stepCount += 1;
      predicted = gain;
      predictedEnd = j + 1;
      hit = -1;
    } else {
      gain = increment + gain;
    }
    curve[j] = gain;
  }
  state->gain = gain;
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
