#include "stream/stream_processor.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "chain/pipeline.h"
#include "stream/pool_tags.h"
#include "platform/relaxed.h"

namespace tessil {

namespace {

// One entry per processed sample, chosen by the generator's two lowest bits.
constexpr float kDitherTable[4] = {0.0f, 1e-8f, 0.0f, -1e-8f};

float ClampOutput(float value) {
  if (value != value) return 0.0f;  // a NaN never reaches the host
  if (value < -1.0f) return -1.0f;
  if (value > 1.0f) return 1.0f;
  return value;
}

}  // namespace

void StreamProcessor::operator delete(void* block) { ExFreePool(block); }

StreamProcessor::StreamProcessor(ProcessorOwner* owner) {
  bitsPerSample_ = 0xFFFF;
  channels_ = 0xFFFF;
  sampleRate_ = 0xFFFFFFFFu;
  owner_ = owner;
  initialised_ = false;
  ExInitializeFastMutex(&processingMutex_);
  engine_ = static_cast<EngineContext*>(
      ExAllocatePoolWithTag(NonPagedPool, EngineContextSize(), kTagProcessorContext));
  // The manager copies its settings into the new context under its list mutex.
  if (engine_ != nullptr) EngineInit(engine_);
  stateBlock_ = static_cast<EngineStateBlock*>(
      ExAllocatePoolWithTag(NonPagedPool, EngineStateBlockSize(), kTagStateBlock));
  if (stateBlock_ != nullptr) ZeroFill(stateBlock_, EngineStateBlockSize(), 0);
  inputs_[0] = channelBuffers_[0];
  inputs_[1] = channelBuffers_[1];
  outputs_[0] = channelBuffers_[2];
  outputs_[1] = channelBuffers_[3];
}

StreamProcessor::~StreamProcessor() {
  if (owner_ != nullptr) owner_->UnregisterProcessor(this);
  if (engine_ != nullptr) ExFreePoolWithTag(engine_, kTagProcessorContext);
  if (stateBlock_ != nullptr) ExFreePoolWithTag(stateBlock_, kTagStateBlock);
}

void StreamProcessor::Release() { delete this; }

StreamProcessor* StreamProcessor::FromListEntry(LIST_ENTRY* entry) {
  return CONTAINING_RECORD(entry, StreamProcessor, listEntry_);
}

NTSTATUS StreamProcessor::Init(ULONG sampleRate, USHORT bitsPerSample, USHORT channels,
                               ULONG /*reserved*/) {
  bitsPerSample_ = bitsPerSample;
  channels_ = channels;
  sampleRate_ = sampleRate;
  initialised_ = false;
  // The scales shift by bits - 1 in 64 bits: outside 1..32 there is no meaningful format.
  if (bitsPerSample == 0 || bitsPerSample > 32) return STATUS_INVALID_PARAMETER;

  KFLOATING_SAVE floatingSave;
  const NTSTATUS saved = KeSaveFloatingPointState(&floatingSave);
  if (!NT_SUCCESS(saved)) return saved;

  // The set-up rebinds and redesigns what the manager's pushes touch: keep them out meanwhile,
  // taking the locks in their usual order.
  ProcessorOwner* owner = owner_;
  if (owner != nullptr) owner->AcquireListMutex();
  ExAcquireFastMutex(&processingMutex_);
  if (sampleRate < kTessilRateSetBounds[0]) {
    EnginePrepare32000(engine_, stateBlock_);
  } else if (sampleRate < kTessilRateSetBounds[1]) {
    EnginePrepare44100(engine_, stateBlock_);
  } else {
    EnginePrepare48000(engine_, stateBlock_);
  }
  // A stream with fewer than two channels never writes the input buffers it does not use; they
  // must hold what a fresh processor holds, not what an earlier format left there.
  for (uint32_t c = channels < 2 ? channels : 2; c < 2; ++c) {
    ZeroFill(channelBuffers_[c], sizeof channelBuffers_[c], 0);
  }
  DitherSeed(&dither_);
  queued_ = false;
  pendingFrames_ = 0;
  outputQueueRead_ = 0;
  outputQueueCount_ = 0;
  initialised_ = true;
  ExReleaseFastMutex(&processingMutex_);
  if (owner != nullptr) owner->ReleaseListMutex();

  KeRestoreFloatingPointState(&floatingSave);
  return STATUS_SUCCESS;
}

StreamProcessor::Format StreamProcessor::CurrentFormat() const {
  const uint32_t bits = bitsPerSample_;
  const int64_t half = int64_t{1} << (bits - 1);
  Format format;
  format.inputScale = static_cast<float>(half);
  format.inputReciprocal = 1.0f / format.inputScale;
  format.outputScale = static_cast<float>(TessilOutputScale(bits));
  format.lowest = -static_cast<float>(half);
  format.highest = static_cast<float>(half - 1);
  format.channels = channels_;
  format.processed = channels_ < 2 ? channels_ : 2;
  return format;
}

// One bad host sample must not poison the filter states for the rest of the stream.
float StreamProcessor::Clean(const Format& format, float sample) {
  if (sample != sample) return 0.0f;
  if (sample < format.lowest) return format.lowest;
  if (sample > format.highest) return format.highest;
  return sample;
}

const float* StreamProcessor::ReadFrames(const Format& format, const float* input,
                                         int32_t first, int32_t count) {
  float* left = inputs_[0] + first;
  float* right = inputs_[1] + first;
  int32_t* history = dither_.history;
  int32_t position = dither_.position;  // a local, so that the loop keeps it in a register
  const auto read = [&](float sample) {
    const float dither = kDitherTable[DitherStep(history, &position) & 3];
    // The scale is a power of two: multiplying by its reciprocal is the division, bit for bit.
    return dither + Clean(format, sample) * format.inputReciprocal;
  };
#if defined(__SSE2__)
  if (format.channels == 2) {
    // Plain stereo: the dither for a run of frames first (its order is the per-sample order,
    // left then right), then four frames at a time. MAXPS and MINPS return their second operand
    // on equality, so each lane clamps exactly as the comparisons above do; a NaN becomes +0.
    constexpr int32_t kRun = 64;
    float dither[2 * kRun];
    const __m128 lowest = _mm_set1_ps(format.lowest), highest = _mm_set1_ps(format.highest);
    const __m128 reciprocal = _mm_set1_ps(format.inputReciprocal);
    const auto clean = [&](__m128 x) {
      x = _mm_and_ps(x, _mm_cmpord_ps(x, x));
      return _mm_min_ps(_mm_max_ps(x, lowest), highest);
    };
    for (int32_t start = 0; start < count; start += kRun) {
      const int32_t run = count - start < kRun ? count - start : kRun;
      for (int32_t i = 0; i < 2 * run; ++i) {
        dither[i] = kDitherTable[DitherStep(history, &position) & 3];
      }
      int32_t i = 0;
      for (; i + 4 <= run; i += 4) {
        const __m128 first = _mm_add_ps(_mm_loadu_ps(dither + 2 * i),
                                        _mm_mul_ps(clean(_mm_loadu_ps(input)), reciprocal));
        const __m128 second = _mm_add_ps(_mm_loadu_ps(dither + 2 * i + 4),
                                         _mm_mul_ps(clean(_mm_loadu_ps(input + 4)), reciprocal));
        _mm_storeu_ps(left + start + i, _mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(right + start + i, _mm_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1)));
        input += 8;
      }
      for (; i < run; ++i) {
        left[start + i] = dither[2 * i] + Clean(format, input[0]) * format.inputReciprocal;
        right[start + i] = dither[2 * i + 1] + Clean(format, input[1]) * format.inputReciprocal;
        input += 2;
      }
    }
    dither_.position = position;
    return input;
  }
#endif
  if (format.processed == 2) {
    for (int32_t i = 0; i < count; ++i) {
      left[i] = read(input[0]);
      right[i] = read(input[1]);
      input += format.channels;
    }
  } else if (format.processed == 1) {
    for (int32_t i = 0; i < count; ++i) {
      left[i] = read(input[0]);
      input += format.channels;
    }
  } else {
    input += static_cast<size_t>(count) * format.channels;
  }
  dither_.position = position;
  return input;
}

float* StreamProcessor::WriteFrames(const Format& format, const float* left, const float* right,
                                    int32_t count, float* output) {
  if (format.processed == 2) {
    for (int32_t i = 0; i < count; ++i) {
      output[0] = ClampOutput(left[i]) * format.outputScale;
      output[1] = ClampOutput(right[i]) * format.outputScale;
      output += format.channels;
    }
  } else if (format.processed == 1) {
    for (int32_t i = 0; i < count; ++i) {
      output[0] = ClampOutput(left[i]) * format.outputScale;
      output += format.channels;
    }
  } else {
    output += static_cast<size_t>(count) * format.channels;
  }
  return output;
}

void StreamProcessor::RunBlock(int32_t frames) {
  if (EngineGetEnable(engine_) != 0) {
    EngineProcessBlock(engine_, inputs_, outputs_, scratch_, frames);
    return;
  }
  const float gain = EngineGetBypassGain(engine_);
  for (int32_t i = 0; i < frames; ++i) {
    outputs_[0][i] = inputs_[0][i] * gain;
    outputs_[1][i] = inputs_[1][i] * gain;
  }
}

void StreamProcessor::ProcessAligned(const Format& format, const float* input, ULONG frames,
                                     float* output) {
  ULONG remaining = frames;
  while (remaining > 0) {
    const int32_t n = remaining < kProcessorBlockFrames ? static_cast<int32_t>(remaining)
                                                        : kProcessorBlockFrames;
    // A whole block is read before any of it is written, so in-place buffers are safe.
    input = ReadFrames(format, input, 0, n);
    RunBlock(n);
    output = WriteFrames(format, outputs_[0], outputs_[1], n, output);
    remaining -= static_cast<ULONG>(n);
  }
}

void StreamProcessor::ProcessQueued(const Format& format, const float* input, ULONG frames,
                                    float* output) {
  constexpr int32_t kQueueFrames = 2 * kProcessorBlockFrames;
  ULONG remaining = frames;
  while (remaining > 0) {
    // Up to the end of the pending block: its frames are all read before any of their outputs
    // are written, which keeps in-place buffers safe. The queue then holds 239 - pending frames
    // plus, once the block is complete, its 240: never more than it has room for.
    const int32_t room = kProcessorBlockFrames - pendingFrames_;
    const int32_t n = remaining < static_cast<ULONG>(room) ? static_cast<int32_t>(remaining) : room;
    input = ReadFrames(format, input, pendingFrames_, n);
    pendingFrames_ += n;
    if (pendingFrames_ == kProcessorBlockFrames) {
      RunBlock(kProcessorBlockFrames);
      int32_t slot = (outputQueueRead_ + outputQueueCount_) % kQueueFrames;
      for (int32_t j = 0; j < kProcessorBlockFrames; ++j) {
        outputQueue_[0][slot] = outputs_[0][j];
        outputQueue_[1][slot] = outputs_[1][j];
        if (++slot == kQueueFrames) slot = 0;
      }
      outputQueueCount_ += kProcessorBlockFrames;
      pendingFrames_ = 0;
    }
    // The queue never runs dry: it started 239 frames ahead and at most 239 frames are pending.
    int32_t left = n;
    while (left > 0) {
      const int32_t run = kQueueFrames - outputQueueRead_ < left ? kQueueFrames - outputQueueRead_
                                                                 : left;
      output = WriteFrames(format, outputQueue_[0] + outputQueueRead_,
                           outputQueue_[1] + outputQueueRead_, run, output);
      outputQueueRead_ = (outputQueueRead_ + run) % kQueueFrames;
      outputQueueCount_ -= run;
      left -= run;
    }
    remaining -= static_cast<ULONG>(n);
  }
}

void StreamProcessor::Process(const float* input, ULONG frames, float* output,
                              ULONG /*reserved*/) {
  if (!initialised_) return;
  const Format format = CurrentFormat();
  ExAcquireFastMutex(&processingMutex_);
  if (!queued_ && frames % kProcessorBlockFrames != 0) {
    // From the first buffer that is not whole blocks on, the stream runs a fixed 239 frames late.
    queued_ = true;
    pendingFrames_ = 0;
    outputQueueRead_ = 0;
    outputQueueCount_ = kShortBufferLatency;
    for (int32_t j = 0; j < kShortBufferLatency; ++j) {
      outputQueue_[0][j] = 0.0f;
      outputQueue_[1][j] = 0.0f;
    }
  }
  if (queued_) {
    ProcessQueued(format, input, frames, output);
  } else {
    ProcessAligned(format, input, frames, output);
  }
  ExReleaseFastMutex(&processingMutex_);
}

}  // namespace tessil
