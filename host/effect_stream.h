// One stream of planar float audio (nominal full scale +-1.0) through the driver, the way a
// real-time plugin needs it: any number of frames per call, at any sample rate, with a latency
// that stays the same from the first call whatever the block sizes and switches.
//
// How the latency stays put:
//   - The driver gets whole 240-frame blocks only, so it never adds its short-buffer latency;
//     the blocks are gathered here instead, and the output starts behind by one block less a
//     frame, exactly as far as the driver's own short-buffer mode would put it.
//   - While the look-ahead is off (master or core switched off), the processed blocks pass a
//     delay line of the look-ahead's length, so switching never moves the audio in time.
//   - At rates the driver has no tables for, the audio is resampled to the native rate of its
//     family (host/rates.h) and back; the output waits behind as many frames as the resamplers
//     can hold back, measured once at creation by running silence through them.
// Everything is allocated at construction; Run() never allocates, locks only the driver's own
// uncontended processing mutex, and does no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/handles.h"
#include "host/resampler.h"

namespace tessil::host {

class EffectStream {
 public:
  // Larger calls are worked through in pieces of this many frames.
  static constexpr uint32_t kChunkFrames = 256;

  // A processor of `manager` for `channels` (1 or 2) channels at `sampleRate`, run as a stream
  // of `bits` bits per sample. Throws std::runtime_error when the driver or the resampler
  // refuses.
  EffectStream(ITessilManager* manager, uint32_t sampleRate, uint32_t channels = 2,
               uint32_t bits = 32);
  ~EffectStream();
  EffectStream(const EffectStream&) = delete;
  EffectStream& operator=(const EffectStream&) = delete;

  uint32_t SampleRate() const { return sampleRate_; }
  uint32_t NativeRate() const { return nativeRate_; }
  // Output frame i is the effect of input frame i - LatencyFrames() (to the nearest frame when
  // resampled).
  uint32_t LatencyFrames() const { return latency_; }

  // input[c] and output[c] for each channel; an output may be the same buffer as its input.
  // `lookAheadActive` says whether the master switch and the core are both on as of this call
  // (host/latency.h).
  void Run(const float* const* input, float* const* output, uint32_t frames, bool lookAheadActive);

  // Sets the processor up again from the manager's settings of this moment, as a new stream
  // would be: for settings that arrive after construction but before the first Run(). Takes
  // only the driver's own uncontended locks and allocates nothing.
  void Restart();

  // Output frames that had to be made up because the pipeline held back more than expected;
  // stays 0 unless something is wrong.
  uint64_t Underruns() const { return underruns_; }

 private:
  // A ring of interleaved frames.
  class FrameQueue {
   public:
    void Reserve(size_t frames, uint32_t channels);
    void PushSilence(size_t frames);
    void Push(const float* frames, size_t count);
    // Copies up to `count` frames out; returns how many there were.
    size_t Pop(float* frames, size_t count);
    size_t Size() const { return size_; }

   private:
    std::vector<float> samples_;
    size_t capacity_ = 0;
    size_t read_ = 0;
    size_t size_ = 0;
    uint32_t channels_ = 0;
  };

  // Gathers native-rate frames into whole blocks, runs each through the processor and the
  // look-ahead compensation, and writes the finished blocks to `output`; returns their frames.
  size_t RunBlocks(const float* native, size_t frames, float* output, bool lookAheadActive);
  void CompensateLookAhead(bool lookAheadActive);
  // Returns the hold-back; `queued` receives the silence the output queue starts with.
  uint32_t WarmUpResamplers(uint32_t* queued);

  ProcessorHandle processor_;
  uint32_t sampleRate_;
  uint32_t nativeRate_;
  uint32_t channels_;
  float inputScale_;
  float outputScale_;
  uint32_t latency_ = 0;
  uint64_t underruns_ = 0;

  std::unique_ptr<Resampler> toNative_;
  std::unique_ptr<Resampler> fromNative_;

  std::vector<float> chunk_;      // one chunk of input, interleaved, in host scale
  std::vector<float> native_;     // the chunk at the native rate
  std::vector<float> block_;      // the block being gathered
  uint32_t blockFill_ = 0;
  std::vector<float> delay_;      // the look-ahead compensation's delay line
  uint32_t delayPosition_ = 0;
  std::vector<float> processed_;  // finished blocks at the native rate
  std::vector<float> resampled_;  // finished blocks back at the stream's rate
  size_t nativeCapacity_ = 0;
  size_t resampledCapacity_ = 0;
  FrameQueue output_;
  std::vector<float> popped_;
};

}  // namespace tessil::host
