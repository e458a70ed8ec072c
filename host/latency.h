// Latency bookkeeping: how far the driver's output trails its input.
#pragma once

#include <cstdint>

#include "tessil/tessil.h"

namespace tessil::host {

// The core's look-ahead delays the stream only while both switches are on.
constexpr bool LookAheadActive(bool enable, bool coreEnable) { return enable && coreEnable; }

// Frames by which a processor's output trails its input when every buffer it is handed has
// `bufferFrames` frames.
constexpr uint32_t StreamLatencyFrames(bool lookAheadActive, uint32_t bufferFrames) {
  return (lookAheadActive ? kTessilLookAheadFrames : 0) +
         (bufferFrames % kTessilBlockFrames != 0 ? kTessilShortBufferLatencyFrames : 0);
}

}  // namespace tessil::host
