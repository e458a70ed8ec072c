// The core's entry point: the frame driver that links the two channels.
#pragma once

#include <stdint.h>

#include "core/core.h"

namespace tessil {

// Works through count samples in frames of kBlockFrames (two, three and four times that give 2, 3
// and 4 frames; any other count is one frame of the first kBlockFrames samples). Each input is
// delayed in place by kLookAheadFrames samples, continuously across calls; each output receives one
// gain factor per processed sample. scratch holds kCoreScratchFloats floats. The core must be
// bound.
void CoreProcessBlock(LoudnessCore* core, float* inputs[2], float* outputs[2], float* scratch,
                      int32_t count);

}  // namespace tessil
