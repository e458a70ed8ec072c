// Frame analysis of the loudness-maximiser core: look-ahead delay, peak, energy, linked envelope,
// and the decimated stream that feeds the strided analysis bands.
#pragma once

#include <stdint.h>

#include "core/core.h"

namespace tessil {

inline constexpr int32_t kDecimationFirLength = 33;
// Low-pass for decimation by 8, symmetric about tap 16.
extern const float kDecimationFir[kDecimationFirLength];

// Delays the channel's frame of n floats in place by the state's look-ahead, keeps the window of
// the delayed frame plus its look-ahead, measures framePeak (kept if already larger) and energy,
// and builds the linked envelope: channelIndex 0.0 writes it, 1.0 raises it to this channel's
// magnitude. envelope needs n + 2 * lookAhead floats; the last lookAhead of them are a temporary.
void AnalyseFrame(CoreChannel* channel, float* input, float* envelope, int32_t n);

// Feeds the channel's delayed frame through the decimator ring; output[7], output[15], ... hold
// the low-passed signal, every other position 0.
void DecimateFrame(CoreChannel* channel, const float* input, float* output, int32_t n);

}  // namespace tessil
