#include "core/core_process_block.h"

#include "core/analysis.h"
#include "core/gain_stage.h"
#include "core/loudness.h"
#include "platform/relaxed.h"

namespace tessil {

namespace {

static_assert(kDecimationWorkspaceFloats <= kCoreScratchEnvelope,
              "the decimator works below the envelope, which the gain stage still reads");

void FillSamples(float* destination, float value, int32_t n) {
  for (int32_t j = 0; j < n; ++j) destination[j] = value;
}

}  // namespace

void CoreProcessBlock(LoudnessCore* core, float* inputs[2], float* outputs[2], float* scratch,
                      int32_t count) {
  const int32_t n = kBlockFrames;
  int32_t frames = 1;
  if (count > 0 && count % n == 0 && count <= kLargestBlockFrames) frames = count / n;

  CoreChannel* channels[2] = {&core->left, &core->right};
  float* envelope = scratch + kCoreScratchEnvelope;
  float* input[2] = {inputs[0], inputs[1]};
  float* output[2] = {outputs[0], outputs[1]};

  for (int32_t frame = 0; frame < frames; ++frame) {
    for (int32_t c = 0; c < 2; ++c) {
      CoreChannelState* state = channels[c]->state;
      state->lookAhead = kLookAheadFrames;
      state->framePeak = 0.0f;
      state->channelIndex = static_cast<float>(c);
    }
    AnalyseFrames(channels, input, envelope, n);

    CoreChannelState* leftState = channels[0]->state;
    CoreChannelState* rightState = channels[1]->state;
    const int32_t leading = leftState->energy >= rightState->energy ? 0 : 1;
    const int32_t other = 1 - leading;
    CoreChannelState* leadingState = channels[leading]->state;
    CoreChannelState* otherState = channels[other]->state;
    const bool leadingActive = leadingState->framePeak > LoadRelaxed(leadingState->activityGate);
    const bool otherActive = otherState->framePeak > LoadRelaxed(otherState->activityGate);

    if (otherActive || leadingActive) {
      DecimateFrame(channels[leading], input[leading], output[leading], scratch);
      FillSamples(output[other], 0.0f, n);
      ComputeTargetGain(channels[leading], input[leading], output[leading], scratch, n);
      if (otherActive) {
        for (int32_t i = 0; i < kCoreBandStateFloats; ++i) {
          otherState->bandState[i] = leadingState->bandState[i];
        }
        ApplyGainLinked(channels[0], channels[1], input, output, n, scratch);
      } else {
        // The quiet channel keeps the zeros: it is muted while the other carries the signal.
        ApplyGainSingle(channels[leading], input[leading], output[leading], n, scratch);
        if (leading == 1) leftState->gain = rightState->gain;
      }
    } else {
      FillSamples(output[0], 1.0f, n);
      FillSamples(output[1], 1.0f, n);
    }

    for (int32_t c = 0; c < 2; ++c) {
      input[c] += n;
      output[c] += n;
    }
  }
}

}  // namespace tessil
