#include "stream/stream_processor.h"

#include <emmintrin.h>

#include "chain/pipeline.h"
#include "stream/pool_tags.h"
#include "platform/relaxed.h"

namespace tessil {

namespace {

// Host frames read per dither run.
constexpr int32_t kReadRun = kDitherRun / 2;

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
  if (stateBlock_ != nullptr) ZeroFill(stateBlock_, EngineStateBlockSize());
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
  if (sampleRate < kRateSetBounds[0]) {
    EnginePrepare32000(engine_, stateBlock_);
  } else if (sampleRate < kRateSetBounds[1]) {
    EnginePrepare44100(engine_, stateBlock_);
  } else {
    EnginePrepare48000(engine_, stateBlock_);
  }
  // A stream with fewer than two channels never writes the input buffers it does not use; they
  // must hold what a fresh processor holds, not what an earlier format left there.
  for (uint32_t c = channels < 2 ? channels : 2; c < 2; ++c) {
    ZeroFill(channelBuffers_[c], sizeof channelBuffers_[c]);
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
  const int32_t processed = static_cast<int32_t>(format.processed);
  const __m128 lowest = _mm_set1_ps(format.lowest), highest = _mm_set1_ps(format.highest);
  const __m128 reciprocal = _mm_set1_ps(format.inputReciprocal);
  // MAXPS and MINPS return their second operand on equality, so each lane clamps exactly as
  // Clean does; a NaN becomes +0.
  const auto clean = [&](__m128 x) {
    x = _mm_and_ps(x, _mm_cmpord_ps(x, x));
    return _mm_min_ps(_mm_max_ps(x, lowest), highest);
  };
  // The scale is a power of two: multiplying by its reciprocal is the division, bit for bit.
  const auto read = [&](float dither, float sample) {
    return dither + Clean(format, sample) * format.inputReciprocal;
  };
  for (int32_t start = 0; start < count; start += kReadRun) {
    const int32_t run = count - start < kReadRun ? count - start : kReadRun;
    // One dither value per processed sample, in the order the samples are read: left then right.
    float dither[kDitherRun];
    DitherSamples(&dither_, dither, run * processed);
    int32_t i = 0;
    if (format.channels == 2) {
      for (; i + 4 <= run; i += 4) {
        const __m128 first = _mm_add_ps(_mm_loadu_ps(dither + 2 * i),
                                        _mm_mul_ps(clean(_mm_loadu_ps(input)), reciprocal));
        const __m128 second = _mm_add_ps(_mm_loadu_ps(dither + 2 * i + 4),
                                         _mm_mul_ps(clean(_mm_loadu_ps(input + 4)), reciprocal));
        _mm_storeu_ps(left + start + i, _mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm_storeu_ps(right + start + i, _mm_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1)));
        input += 8;
      }
    }
    for (; i < run; ++i) {
      if (processed >= 1) left[start + i] = read(dither[processed * i], input[0]);
      if (processed == 2) right[start + i] = read(dither[2 * i + 1], input[1]);
      input += format.channels;
    }
  }
  return input;
}

float* StreamProcessor::WriteFrames(const Format& format, const float* left, const float* right,
                                    int32_t count, float* output) {
  int32_t i = 0;
  if (format.channels == 2) {
    // ClampOutput four samples at a time: a NaN becomes +0, then MAXPS and MINPS clamp (they
    // return their second operand on equality, so -1 and 1 stay themselves).
    const __m128 low = _mm_set1_ps(-1.0f), high = _mm_set1_ps(1.0f);
    const __m128 scale = _mm_set1_ps(format.outputScale);
    const auto clamp = [&](__m128 x) {
      x = _mm_and_ps(x, _mm_cmpord_ps(x, x));
      return _mm_mul_ps(_mm_min_ps(_mm_max_ps(x, low), high), scale);
    };
    for (; i + 4 <= count; i += 4) {
      const __m128 l = clamp(_mm_loadu_ps(left + i)), r = clamp(_mm_loadu_ps(right + i));
      _mm_storeu_ps(output, _mm_unpacklo_ps(l, r));
      _mm_storeu_ps(output + 4, _mm_unpackhi_ps(l, r));
      output += 8;
    }
  }
  for (; i < count; ++i) {
    if (format.processed >= 1) output[0] = ClampOutput(left[i]) * format.outputScale;
    if (format.processed == 2) output[1] = ClampOutput(right[i]) * format.outputScale;
    output += format.channels;
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
  // Whole blocks only: a buffer that is not is queued (ProcessQueued).
  for (ULONG block = 0; block < frames / kBlockFrames; ++block) {
    // A whole block is read before any of it is written, so in-place buffers are safe.
    input = ReadFrames(format, input, 0, kBlockFrames);
    RunBlock(kBlockFrames);
    output = WriteFrames(format, outputs_[0], outputs_[1], kBlockFrames, output);
  }
}

void StreamProcessor::ProcessQueued(const Format& format, const float* input, ULONG frames,
                                    float* output) {
  constexpr int32_t kQueueFrames = 2 * kBlockFrames;
  ULONG remaining = frames;
  while (remaining > 0) {
    // Up to the end of the pending block: its frames are all read before any of their outputs
    // are written, which keeps in-place buffers safe. The queue then holds 239 - pending frames
    // plus, once the block is complete, its 240: never more than it has room for.
    const int32_t room = kBlockFrames - pendingFrames_;
    const int32_t n = remaining < static_cast<ULONG>(room) ? static_cast<int32_t>(remaining) : room;
    input = ReadFrames(format, input, pendingFrames_, n);
    pendingFrames_ += n;
    if (pendingFrames_ == kBlockFrames) {
      RunBlock(kBlockFrames);
      int32_t slot = (outputQueueRead_ + outputQueueCount_) % kQueueFrames;
      for (int32_t j = 0; j < kBlockFrames; ++j) {
        outputQueue_[0][slot] = outputs_[0][j];
        outputQueue_[1][slot] = outputs_[1][j];
        if (++slot == kQueueFrames) slot = 0;
      }
      outputQueueCount_ += kBlockFrames;
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
  if (!queued_ && frames % kBlockFrames != 0) {
    // From the first buffer that is not whole blocks on, the stream runs a fixed 239 frames late.
    queued_ = true;
    pendingFrames_ = 0;
    outputQueueRead_ = 0;
    outputQueueCount_ = kShortBufferLatencyFrames;
    for (int32_t j = 0; j < kShortBufferLatencyFrames; ++j) {
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
