// The block pipeline: the order in which the stages of one engine context run over a block.
#pragma once

#include <stdint.h>

#include "chain/engine.h"

namespace tessil {

// Runs one block of n frames (kBlockFrames..kLargestBlockFrames) through the chain: input gain,
// high-pass and low-pass, core, equalisers, output stage, output gain. scratch holds EngineScratchFloats(n)
// floats. A block length outside the range is refused with kResultBadIndex and writes nothing.
// The master switch is the caller's to read: the stream processor runs a block through here only
// while it is on, and applies the bypass gain itself otherwise.
int32_t EngineProcessBlock(EngineContext* context, float* input[2], float* output[2],
                           float* scratch, int32_t n);

}  // namespace tessil
