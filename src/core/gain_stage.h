// Gain stage of the core: a per-sample gain that creeps towards the target, is pulled down ahead
// of peaks by the look-ahead limit, and has its downward steps smoothed into ramps. The frame
// driver in core_process_block.h decides which of these runs for each frame.
#pragma once

#include <stdint.h>

#include "core/core.h"

namespace tessil {

// Limit on gain x envelope: (ceiling x 0.25) x 0.96.
inline constexpr float kCoreCeilingScale = 0.25f;
inline constexpr float kCoreLimitMargin = 0.96f;
// Levels above this also ramp the gain steps.
inline constexpr float kCoreRampLevelThreshold = 0.08f;
inline constexpr int32_t kCoreLongestRamp = 150;

// The gain-stage functions below take the driver's scratch (curve at 0, step list at 240,
// linked envelope at 480) and treat one frame of n samples.

// Builds the channel's gain curve from its own target and writes its gains (or, while bypassed,
// the delayed input) to output.
void ApplyGainSingle(CoreChannel* channel, const float* input, float* output, int32_t n,
                     float* scratch);

// Builds one curve from the left channel's gain state and settings, towards the target of the
// channel with the larger frame peak (left on a tie), and writes it to both outputs. The right
// channel's gain state is not touched.
void ApplyGainLinked(CoreChannel* left, CoreChannel* right, float* const inputs[2],
                     float* const outputs[2], int32_t n, float* scratch);

// Smooths the curve around each recorded step (positions stored as floats, increasing) into a
// linear ramp of at most 150 samples, forward where room remains in the frame, else backward.
void RampGainSteps(CoreChannel* channel, int32_t n, float* curve, int32_t stepCount,
                   const float* steps);

}  // namespace tessil
