#include "host/effect_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <stdexcept>

#include "host/rates.h"

namespace tessil::host {

namespace {

constexpr uint32_t kBlock = kTessilBlockFrames;
constexpr uint32_t kRingFrames = 3 * kBlock;
// The oldest frame a native-rate output reads must still be in the ring after the newest block.
static_assert(kRingFrames >= 2 * kBlock + kTessilLookAheadFrames);

// libsoxr keeps each stage's samples in a buffer that it grows with realloc whenever a write
// would pass its end before the read position has moved past 16 KiB, which depends on the whole
// history of the stream. Having run this many frames through every stage in one go, its buffers
// are past any size a stream's pieces need, and they never grow again.
constexpr size_t kResamplerPrimeFrames = 16384;
// How long each resampler's lag is measured: half a second, and at low rates, where its blocks
// are long in time, at least this many frames of the lower rate. A resampler's release pattern
// repeats within that at rates in a simple ratio; at the others (196709 Hz to 48000 Hz) its
// stages meet in ever new ways and the worst lag creeps up by a few tenths of a percent more
// over a minute, which the margin covers.
constexpr double kLagMeasureSeconds = 0.5;
constexpr double kLagMeasureSlowFrames = 8192;
constexpr double kLagMargin = 1.01;

size_t ScaledFrames(size_t frames, uint32_t to, uint32_t from) {
  return static_cast<size_t>(std::ceil(static_cast<double>(frames) * to / from));
}

// Extra native frames after the look-ahead so that the two together are a whole number of
// frames at the stream's rate: 2 at 11025 Hz (24 native frames, 6 at the stream's rate). None
// where that would take more than a block.
uint32_t AlignmentFrames(uint32_t rate, uint32_t native) {
  const uint32_t step = native / std::gcd(rate, native);
  if (step > kBlock) return 0;
  return (step - kTessilLookAheadFrames % step) % step;
}

// How far behind its input a resampler's output can be, in seconds, after each input frame: the
// time of the input minus the time of the output so far. Silence goes in pieces of `piece` frames;
// the frames out after a piece are known, and none came out before it began, so within a piece
// the lag is at most that of its last frame with only the frames out before it.
double MeasureLag(uint32_t fromRate, uint32_t toRate, size_t piece) {
  Resampler probe(fromRate, toRate, 1);
  const std::vector<float> silence(piece, 0.0f);
  std::vector<float> output(kResamplerPrimeFrames);
  const double seconds = std::max(kLagMeasureSeconds, kLagMeasureSlowFrames / std::min(fromRate, toRate));
  const auto pieces = static_cast<size_t>(seconds * fromRate / static_cast<double>(piece));
  uint64_t in = 0;
  uint64_t out = 0;
  double worst = 0.0;
  for (size_t k = 0; k < pieces; ++k) {
    const uint64_t before = out;
    for (size_t count = piece, got = output.size(); got == output.size(); count = 0) {
      got = probe.Process(silence.data(), count, output.data(), output.size());
      out += got;
    }
    in += piece;
    worst = std::max(worst, static_cast<double>(in) / fromRate - static_cast<double>(before) / toRate);
  }
  return worst;
}

void Interleave(const float* const* input, uint32_t offset, uint32_t frames, uint32_t channels,
                float scale, float* output) {
  if (channels == 2) {
    const float* left = input[0] + offset;
    const float* right = input[1] + offset;
    for (uint32_t i = 0; i < frames; ++i) {
      output[2 * i] = left[i] * scale;
      output[2 * i + 1] = right[i] * scale;
    }
  } else {
    const float* mono = input[0] + offset;
    for (uint32_t i = 0; i < frames; ++i) output[i] = mono[i] * scale;
  }
}

void Deinterleave(const float* input, uint32_t frames, uint32_t channels, float scale,
                  float* const* output, uint32_t offset) {
  if (channels == 2) {
    float* left = output[0] + offset;
    float* right = output[1] + offset;
    for (uint32_t i = 0; i < frames; ++i) {
      left[i] = input[2 * i] * scale;
      right[i] = input[2 * i + 1] * scale;
    }
  } else {
    float* mono = output[0] + offset;
    for (uint32_t i = 0; i < frames; ++i) mono[i] = input[i] * scale;
  }
}

// As the driver treats host samples: NaN to 0, the rest clamped; a comparison with NaN is false.
float Clamp(float sample, float lowest, float highest) {
  if (!(sample >= lowest)) return sample < lowest ? lowest : 0.0f;
  return sample > highest ? highest : sample;
}

}  // namespace

EffectStream::EffectStream(ITessilManager* manager, uint32_t sampleRate, uint32_t channels,
                           uint32_t bits)
    : sampleRate_(sampleRate), nativeRate_(NativeRateFor(sampleRate)), channels_(channels), bits_(bits) {
  if (channels < 1 || channels > 2) throw std::runtime_error("a stream has one or two channels");
  if (bits < 2 || bits > 32) throw std::runtime_error("a stream has 2 to 32 bits per sample");
  if (const std::string problem = StreamRateProblem(sampleRate); !problem.empty()) {
    throw std::runtime_error(problem);
  }
  inputScale_ = std::ldexp(1.0f, static_cast<int>(bits) - 1);
  outputScale_ = std::ldexp(1.0f, 1 - static_cast<int>(bits));
  lowest_ = -inputScale_;
  highest_ = static_cast<float>(std::ldexp(1.0, static_cast<int>(bits) - 1) - 1.0);
  fullScale_ = static_cast<float>(TessilOutputScale(bits));

  processor_ = CreateProcessor(manager);
  if (!processor_) throw std::runtime_error("the driver could not create a stream processor");
  const NTSTATUS status = processor_->Init(nativeRate_, static_cast<USHORT>(bits),
                                           static_cast<USHORT>(channels), 0);
  if (!NT_SUCCESS(status)) throw std::runtime_error("the stream processor refused the stream");

  if (nativeRate_ == sampleRate_) {
    ring_.assign(size_t{kRingFrames} * channels, 0.0f);
    latency_ = kTessilShortBufferLatencyFrames + kTessilLookAheadFrames;
    return;
  }

  toNative_ = std::make_unique<Resampler>(sampleRate_, nativeRate_, channels);
  fromNative_ = std::make_unique<Resampler>(nativeRate_, sampleRate_, channels);
  alignFrames_ = AlignmentFrames(sampleRate_, nativeRate_);
  historyFrames_ = kTessilLookAheadFrames + alignFrames_;
  chunk_.assign(size_t{kChunkFrames} * channels, 0.0f);
  nativeCapacity_ = kBlock + kResamplerPrimeFrames + ScaledFrames(kChunkFrames, nativeRate_, sampleRate_);
  native_.assign((historyFrames_ + nativeCapacity_) * channels, 0.0f);
  resampledCapacity_ = kResamplerPrimeFrames + ScaledFrames(kBlock, sampleRate_, nativeRate_);
  resampled_.assign(resampledCapacity_ * channels, 0.0f);

  // How far the output can fall behind the input, in frames: at worst what each resampler holds
  // back plus a block less a frame being gathered between them. Measured as one chain instead,
  // the three patterns would have to meet at their worst, which they may first do minutes in.
  const double lag = MeasureLag(sampleRate_, nativeRate_, std::max<size_t>(1, sampleRate_ / nativeRate_)) +
                     static_cast<double>(kTessilShortBufferLatencyFrames) / nativeRate_ +
                     MeasureLag(nativeRate_, sampleRate_, 1);
  const auto holdBack = static_cast<size_t>(std::ceil(lag * kLagMargin * sampleRate_));
  const size_t behind = Prime();
  // The stream goes on from where the silence ended, as if it had started with it: the queue
  // starts with the silence that would still be waiting in it, and the processor, which saw
  // none of it, starts fresh.
  queueCapacity_ = 2 * holdBack + kChunkFrames + kBlock;
  queue_.assign(queueCapacity_ * channels, 0.0f);
  queueSize_ = holdBack - std::min(behind, holdBack);
  const double lookAhead = static_cast<double>(historyFrames_) * sampleRate_ / nativeRate_;
  latency_ = static_cast<uint32_t>(holdBack + static_cast<size_t>(std::lround(lookAhead)));
}

EffectStream::~EffectStream() = default;

size_t EffectStream::Prime() {
  const size_t frames = kResamplerPrimeFrames * ScaledFrames(1, sampleRate_, nativeRate_);
  const std::vector<float> silence(frames * channels_, 0.0f);
  Advance(silence.data(), frames, true, true);
  return frames - primedFrames_;
}

void EffectStream::Run(const float* const* input, float* const* output, uint32_t frames,
                       bool lookAheadActive) {
  if (toNative_) {
    RunResampled(input, output, frames, lookAheadActive);
  } else {
    RunNative(input, output, frames, lookAheadActive);
  }
}

void EffectStream::Restart() {
  processor_->Init(nativeRate_, static_cast<USHORT>(bits_), static_cast<USHORT>(channels_), 0);
}

void EffectStream::RunNative(const float* const* input, float* const* output, uint32_t frames,
                             bool lookAheadActive) {
  const uint32_t behind = kTessilShortBufferLatencyFrames + (lookAheadActive ? 0 : kTessilLookAheadFrames);
  float* ring = ring_.data();
  for (uint32_t done = 0; done < frames;) {
    const uint32_t first = blockStart_ + blockFill_;
    const uint32_t n = std::min(frames - done, kBlock - blockFill_);
    // The whole piece is read before any of it is written: outputs may alias inputs.
    Interleave(input, done, n, channels_, inputScale_, ring + size_t{first} * channels_);
    blockFill_ += n;
    if (blockFill_ == kBlock) {
      float* block = ring + size_t{blockStart_} * channels_;
      processor_->Process(block, kBlock, block, 0);
      blockStart_ = (blockStart_ + kBlock) % kRingFrames;
      blockFill_ = 0;
    }
    const uint32_t source = (first + kRingFrames - behind) % kRingFrames;
    const uint32_t beforeWrap = std::min(n, kRingFrames - source);
    Deinterleave(ring + size_t{source} * channels_, beforeWrap, channels_, outputScale_, output, done);
    Deinterleave(ring, n - beforeWrap, channels_, outputScale_, output, done + beforeWrap);
    done += n;
  }
}

void EffectStream::RunResampled(const float* const* input, float* const* output, uint32_t frames,
                                bool lookAheadActive) {
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = std::min(frames - done, kChunkFrames);
    // Made safe here, as the driver would, before the resampler spreads a bad sample.
    Interleave(input, done, n, channels_, inputScale_, chunk_.data());
    for (size_t i = 0; i < size_t{n} * channels_; ++i) chunk_[i] = Clamp(chunk_[i], lowest_, highest_);
    Advance(chunk_.data(), n, lookAheadActive, false);
    Dequeue(output, done, n);
    done += n;
  }
}

void EffectStream::Advance(const float* frames, size_t count, bool lookAheadActive, bool priming) {
  // Each resampler is drained until it returns less than it had room for, so what comes out
  // never depends on how the input was split.
  const float* input = frames;
  for (;;) {
    const size_t room = nativeCapacity_ - gathered_;
    float* gather = native_.data() + (historyFrames_ + gathered_) * channels_;
    const size_t got = toNative_->Process(input, count, gather, room);
    count = 0;
    gathered_ += got;
    if (gathered_ >= kBlock) RunGatheredBlocks(gathered_ / kBlock, lookAheadActive, priming);
    if (got < room) return;
  }
}

void EffectStream::RunGatheredBlocks(size_t blocks, bool lookAheadActive, bool priming) {
  float* first = native_.data() + size_t{historyFrames_} * channels_;
  // Silence needs no processing: the processor's stream starts with the first real frame.
  if (!priming) {
    for (size_t b = 0; b < blocks; ++b) {
      float* block = first + b * kBlock * channels_;
      processor_->Process(block, kBlock, block, 0);
    }
  }
  const size_t frames = blocks * kBlock;
  // The look-ahead and the alignment delay every frame alike: the driver's look-ahead while it
  // is on, the history here while it is off. The history always takes the newest frames, so
  // switching replays recent audio rather than stale audio.
  const uint32_t delay = alignFrames_ + (lookAheadActive ? 0 : kTessilLookAheadFrames);
  ReturnToStreamRate(first - size_t{delay} * channels_, frames, priming);
  // Keep the newest processed frames as the history, and the block still being gathered.
  const size_t kept = historyFrames_ + gathered_ - frames;
  std::memmove(native_.data(), native_.data() + frames * channels_, kept * channels_ * sizeof(float));
  gathered_ -= frames;
}

void EffectStream::ReturnToStreamRate(const float* native, size_t count, bool priming) {
  for (;;) {
    const size_t got = fromNative_->Process(native, count, resampled_.data(), resampledCapacity_);
    count = 0;
    if (priming) {
      primedFrames_ += got;
    } else {
      Enqueue(resampled_.data(), got);
    }
    if (got < resampledCapacity_) return;
  }
}

void EffectStream::Enqueue(const float* frames, size_t count) {
  const size_t dropped = std::min(owed_, count);
  owed_ -= dropped;
  frames += dropped * channels_;
  count -= dropped;
  // The queue holds the measured shortfall twice over and a piece more, which no run can fill.
  count = std::min(count, queueCapacity_ - queueSize_);
  size_t write = (queueRead_ + queueSize_) % queueCapacity_;
  while (count > 0) {
    const size_t n = std::min(count, queueCapacity_ - write);
    std::copy_n(frames, n * channels_, queue_.begin() + static_cast<std::ptrdiff_t>(write * channels_));
    frames += n * channels_;
    count -= n;
    queueSize_ += n;
    write = 0;
  }
}

void EffectStream::Dequeue(float* const* output, uint32_t offset, uint32_t frames) {
  const auto available = static_cast<uint32_t>(std::min<size_t>(frames, queueSize_));
  for (uint32_t done = 0; done < available;) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(available - done, queueCapacity_ - queueRead_));
    float* frame = queue_.data() + queueRead_ * channels_;
    // The driver's full scale, also where resampling back has overshot it.
    for (size_t i = 0; i < size_t{n} * channels_; ++i) frame[i] = Clamp(frame[i], -fullScale_, fullScale_);
    Deinterleave(frame, n, channels_, outputScale_, output, offset + done);
    queueRead_ = (queueRead_ + n) % queueCapacity_;
    queueSize_ -= n;
    done += n;
  }
  if (available < frames) {
    const uint32_t missing = frames - available;
    underruns_ += missing;
    owed_ += missing;
    for (uint32_t c = 0; c < channels_; ++c) std::fill_n(output[c] + offset + available, missing, 0.0f);
  }
}

}  // namespace tessil::host
