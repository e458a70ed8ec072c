// One stream of planar float audio (nominal full scale +-1.0) through the driver, the way a
// real-time plugin needs it: any number of frames per call, at any rate from kLowestStreamRate to
// kHighestStreamRate (host/rates.h), with a latency that stays the same from the first call
// whatever the block sizes and switches, and an output that depends on the input alone, never on
// how it was split into calls.
//
// How the latency stays put:
//   - The driver gets whole 240-frame blocks only, so it never adds its short-buffer latency;
//     the blocks are gathered here instead, and the output starts behind by one block less a
//     frame, exactly as far as the driver's own short-buffer mode would put it.
//   - While the look-ahead is off (master or core switched off), the processed frames are taken
//     from that many frames further back, so switching never moves the audio in time.
//   - At rates the driver has no tables for, the audio is resampled to the native rate of its
//     family (host/rates.h) and back. How many frames the resamplers and the block gathering
//     have released after n input frames depends on n alone; the output waits behind by the
//     most that can ever fall short, the sum of what each resampler holds back at worst
//     (measured at creation by running silence through a copy of each) and of a block.
//     The processed native frames are delayed a little more where that makes the look-ahead a
//     whole number of frames at the stream's rate, so the delay is exactly the latency.
//
// What the driver guarantees at its own rates holds at every rate: samples are made safe before
// anything else sees them (NaN to 0, clamped to the stream format's range), so one bad sample
// changes only what it changes at a native rate, and the output never passes the full scale the
// driver writes (tessil_facts.h), also after resampling back.
//
// Everything is allocated at construction, libsoxr's own buffers included: Run() never
// allocates, locks only the driver's own uncontended processing mutex, and does no I/O.
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
  // At resampled rates, larger calls are worked through in pieces of this many frames.
  static constexpr uint32_t kChunkFrames = 256;

  // A processor of `manager` for `channels` (1 or 2) channels at `sampleRate`, run as a stream
  // of `bits` bits per sample. Throws std::runtime_error when the rate is outside the supported
  // range (the message says why) or when the driver or the resampler refuses.
  EffectStream(ITessilManager* manager, uint32_t sampleRate, uint32_t channels = 2,
               uint32_t bits = 32);
  ~EffectStream();
  EffectStream(const EffectStream&) = delete;
  EffectStream& operator=(const EffectStream&) = delete;

  uint32_t SampleRate() const { return sampleRate_; }
  uint32_t NativeRate() const { return nativeRate_; }
  // Output frame i is the effect of input frame i - LatencyFrames(); at the few rates where the
  // look-ahead is no whole number of frames (44322 Hz, say), to the nearest frame.
  uint32_t LatencyFrames() const { return latency_; }

  // input[c] and output[c] for each channel; an output may be the same buffer as its input.
  // `lookAheadActive` says whether the master switch and the core are both on as of this call
  // (host/latency.h).
  void Run(const float* const* input, float* const* output, uint32_t frames, bool lookAheadActive);

  // Sets the processor up again from the manager's settings of this moment, as a new stream
  // would be: for settings that arrive after construction but before the first Run(). Takes
  // only the driver's own uncontended locks and allocates nothing.
  void Restart();

  // Output frames that had to be made up because the resamplers held back more than measured;
  // stays 0 unless something is wrong. The frames that arrive late are then dropped, so the
  // latency holds even so.
  uint64_t Underruns() const { return underruns_; }

 private:
  void RunNative(const float* const* input, float* const* output, uint32_t frames, bool lookAheadActive);
  void RunResampled(const float* const* input, float* const* output, uint32_t frames, bool lookAheadActive);

  // The resampled way, for `count` interleaved frames at the stream's rate: to the native rate,
  // gathered into blocks, processed, back to the stream's rate and into the output queue. While
  // priming, the processor is skipped and the output only counted.
  void Advance(const float* frames, size_t count, bool lookAheadActive, bool priming);
  void RunGatheredBlocks(size_t blocks, bool lookAheadActive, bool priming);
  void ReturnToStreamRate(const float* native, size_t count, bool priming);
  // Runs one long piece of silence through the resampled way, which takes libsoxr's buffers to
  // their final size; returns how many frames it fell behind.
  size_t Prime();

  // The output queue: a ring of interleaved frames at the stream's rate, in host scale.
  void Enqueue(const float* frames, size_t count);
  void Dequeue(float* const* output, uint32_t offset, uint32_t frames);

  ProcessorHandle processor_;
  uint32_t sampleRate_;
  uint32_t nativeRate_;
  uint32_t channels_;
  uint32_t bits_;
  float inputScale_;   // unit scale to host scale
  float outputScale_;  // and back; both powers of two, so the scaling never changes a sample
  float lowest_;       // the host-scale range the driver clamps its input to
  float highest_;
  float fullScale_;    // the largest host-scale magnitude the driver writes
  uint32_t latency_ = 0;
  uint64_t underruns_ = 0;

  // Native rates: a ring of three blocks. Input frames are written where the block being
  // gathered is, a block is processed in place once whole, and the output is read from 239 (or,
  // with the look-ahead off, 261) frames back, which by then belongs to a processed block.
  std::vector<float> ring_;
  uint32_t blockStart_ = 0;
  uint32_t blockFill_ = 0;

  // Resampled rates.
  std::unique_ptr<Resampler> toNative_;
  std::unique_ptr<Resampler> fromNative_;
  uint32_t alignFrames_ = 0;    // native frames that make the look-ahead whole at the stream's rate
  uint32_t historyFrames_ = 0;  // the look-ahead and the alignment: the most any frame is delayed
  std::vector<float> chunk_;    // one piece of input, interleaved, made safe, in host scale
  // Native frames: the last historyFrames_ processed ones, then those being gathered into blocks.
  std::vector<float> native_;
  size_t nativeCapacity_ = 0;  // frames after the history
  size_t gathered_ = 0;
  std::vector<float> resampled_;  // back at the stream's rate
  size_t resampledCapacity_ = 0;
  uint64_t primedFrames_ = 0;  // frames that came out while priming
  std::vector<float> queue_;
  size_t queueCapacity_ = 0;
  size_t queueRead_ = 0;
  size_t queueSize_ = 0;
  size_t owed_ = 0;  // made-up frames whose real counterparts are still to come, to be dropped
};

}  // namespace tessil::host
