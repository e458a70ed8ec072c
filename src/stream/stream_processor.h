// One stream's way through the effect: host buffers of interleaved integer-scale floats in,
// the same out, the effect chain in between in blocks of at most 240 frames.
#pragma once

#include "chain/engine.h"
#include "stream/dither.h"
#include "stream/processor_owner.h"
#include "tessil/tessil.h"

namespace tessil {

// The chain sees one block at a time: the channel buffers and the pipeline's scratch hold one.
inline constexpr int32_t kProcessorScratchFloats = EngineScratchFloats(kBlockFrames);

class StreamProcessor final : public IStreamProcessor {
 public:
  // Constructed only by the manager, in place in a zero-filled non-paged block.
  static void* operator new(size_t, void* block) { return block; }
  static void operator delete(void* block);

  explicit StreamProcessor(ProcessorOwner* owner);
  ~StreamProcessor() TESSIL_OVERRIDE_DESTRUCTOR;
  TESSIL_DELETING_DESTRUCTOR(StreamProcessor)

  void Release() override;
  NTSTATUS Init(ULONG sampleRate, USHORT bitsPerSample, USHORT channels, ULONG reserved) override;
  void Process(const float* input, ULONG frames, float* output, ULONG reserved) override;

  // What the owner uses of a listed processor.
  static StreamProcessor* FromListEntry(LIST_ENTRY* entry);
  LIST_ENTRY* ListEntry() { return &listEntry_; }
  EngineContext* Engine() { return engine_; }
  FAST_MUTEX* ProcessingMutex() { return &processingMutex_; }
  bool IsComplete() const { return engine_ != nullptr && stateBlock_ != nullptr; }
  // The owner went away first: this processor no longer unregisters itself.
  void DetachOwner() { owner_ = nullptr; }

 private:
  struct Format {
    float inputScale;
    float inputReciprocal;  // 1 / inputScale, exact: the scale is a power of two
    float outputScale;
    float lowest;   // host samples are clamped to the format's range before scaling
    float highest;
    uint32_t channels;     // interleaved channels per frame
    uint32_t processed;    // channels read and written: min(channels, 2)
  };

  Format CurrentFormat() const;
  // A host sample within the format's range; NaN becomes 0.
  static float Clean(const Format& format, float sample);
  // Reads `count` host frames into the input channel buffers from frame `first` on, dithered, made
  // safe and brought to full scale 1.0; returns the next host frame.
  const float* ReadFrames(const Format& format, const float* input, int32_t first, int32_t count);
  // Writes `count` frames of the two channel signals to the host buffer; returns the next frame.
  float* WriteFrames(const Format& format, const float* left, const float* right, int32_t count,
                     float* output);
  void RunBlock(int32_t frames);
  void ProcessAligned(const Format& format, const float* input, ULONG frames, float* output);
  void ProcessQueued(const Format& format, const float* input, ULONG frames, float* output);

  ProcessorOwner* owner_;
  EngineStateBlock* stateBlock_;
  float scratch_[kProcessorScratchFloats];
  float channelBuffers_[4][kBlockFrames];  // input 0, input 1, output 0, output 1
  float* inputs_[2];
  float* outputs_[2];
  bool initialised_;
  USHORT bitsPerSample_;
  USHORT channels_;
  ULONG sampleRate_;
  LIST_ENTRY listEntry_;
  EngineContext* engine_;
  FAST_MUTEX processingMutex_;

  DitherGenerator dither_;
  // Short-buffer mode: once a buffer is not a whole number of blocks, frames are queued until a
  // whole block is pending, and the output comes from a queue that started with 239 zero frames.
  bool queued_;
  int32_t pendingFrames_;            // frames waiting in the input channel buffers
  float outputQueue_[2][2 * kBlockFrames];
  int32_t outputQueueRead_;
  int32_t outputQueueCount_;
};

}  // namespace tessil
