// One pass of a file's audio through the driver, as a host streams it: full buffers of
// integer-scale host samples, processed in place, the output aligned with the input unless asked
// otherwise. Plain renders, the loudness search's trials and the final render all come this way;
// what reads the input and what takes the output are the caller's.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/handles.h"

namespace tessil::host {
class EffectStream;
}

namespace tessil::cli {

// The stream's shape, fixed for one file.
struct StreamShape {
  int rate;
  int bits;
  int channels;
  size_t bufferFrames;
  bool align;  // trim the latency from the start
};

// Samples in one host buffer at most: past this a file with many channels and a long buffer
// would hold more memory than the whole render may use.
inline constexpr size_t kMaximumBufferSamples = size_t{1} << 22;

// Where the processor clamps its output: full scale times 2^(bits-1) - 1, less 4096 for 32-bit
// streams.
float ClampLevel(int bits);

// The driver as one file's stream sees it. At the driver's own rates the file streams straight
// through a processor; at any other rate channels 1 and 2 are resampled to the native rate of
// their family and back, and the resamplers' delay joins the latency that alignment trims.
class DriverStream {
 public:
  // Throws CliError naming `input` when the driver refuses the stream.
  DriverStream(ITessilManager* manager, const std::string& input, const StreamShape& shape, bool lookaheadActive);
  ~DriverStream();
  DriverStream(const DriverStream&) = delete;
  DriverStream& operator=(const DriverStream&) = delete;

  int LatencyFrames() const { return latency_; }
  int ProcessingRate() const { return rate_; }
  // In place, `frames` interleaved frames of the stream's channels.
  void Process(float* buffer, size_t frames);

 private:
  class AdaptedPair;

  bool lookaheadActive_;
  host::ProcessorHandle processor_;
  std::unique_ptr<AdaptedPair> adapted_;
  int latency_ = 0;
  int rate_ = 0;
};

using Source = std::function<size_t(float* host, size_t frames)>;  // fewer frames: the end
using Sink = std::function<void(const float* host, size_t frames)>;

struct StreamResult {
  int64_t frames = 0;
  // Per channel: processed samples that reached the output clamp; in the channels the driver
  // passes through, samples the host had to make valid (NaN to 0, beyond full scale clamped).
  std::vector<int64_t> clipped;
  std::chrono::steady_clock::duration processing{};
};

// Streams `source` through `driver` and hands the output, aligned as `shape` says, to `sink`.
// Channels 3 and up leave as they came, only made valid as the driver makes its own.
StreamResult StreamThroughDriver(DriverStream* driver, const StreamShape& shape, const Source& source,
                                 const Sink& sink);

}  // namespace tessil::cli
