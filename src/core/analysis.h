// Frame analysis of the loudness-maximiser core: look-ahead delay, peak, energy, linked envelope,
// and the decimated stream that feeds the strided analysis bands.
#pragma once

#include <stdint.h>

#include "core/core.h"

namespace tessil {

// The ring keeps one sample per tap.
inline constexpr int32_t kDecimationFirLength = kCoreDecimatorRingLength;
// Low-pass for decimation by 8, symmetric about tap 16.
extern const float kDecimationFir[kDecimationFirLength];

// Delays each channel's frame of n floats in place by its state's look-ahead, keeps the window
// of the delayed frame plus its look-ahead, measures framePeak (kept if already larger) and
// energy, and builds the linked envelope: a channel whose channelIndex is 0.0 writes it, 1.0
// raises it to that channel's magnitude, the first channel before the second. envelope holds
// n + lookAhead floats.
void AnalyseFrames(CoreChannel* const channels[2], float* const inputs[2], float* envelope,
                   int32_t n);

// Floats of scratch DecimateFrame works in.
inline constexpr int32_t kDecimationWorkspaceFloats = 288;

// Feeds the channel's delayed frame (kBlockFrames samples) through the decimator ring;
// output[7], output[15], ... hold the low-passed signal, every other position 0. workspace holds
// kDecimationWorkspaceFloats floats, overwritten.
void DecimateFrame(CoreChannel* channel, const float* input, float* output, float* workspace);

}  // namespace tessil
