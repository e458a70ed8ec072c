#include "host/effect_stream.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "host/rates.h"

namespace tessil::host {

namespace {

// The most frames one resampler call can release at once: libsoxr works in blocks of its own
// and hands each block over whole.
constexpr size_t kResamplerBurstFrames = 16384;

size_t ScaledFrames(size_t frames, uint32_t to, uint32_t from) {
  return static_cast<size_t>(std::ceil(static_cast<double>(frames) * to / from));
}

}  // namespace

void EffectStream::FrameQueue::Reserve(size_t frames, uint32_t channels) {
  channels_ = channels;
  capacity_ = frames;
  samples_.assign(frames * channels, 0.0f);
  read_ = 0;
  size_ = 0;
}

void EffectStream::FrameQueue::PushSilence(size_t frames) {
  for (size_t i = 0; i < frames && size_ < capacity_; ++i) {
    const size_t slot = (read_ + size_) % capacity_;
    std::fill_n(samples_.begin() + static_cast<std::ptrdiff_t>(slot * channels_), channels_, 0.0f);
    ++size_;
  }
}

void EffectStream::FrameQueue::Push(const float* frames, size_t count) {
  for (size_t i = 0; i < count && size_ < capacity_; ++i) {
    const size_t slot = (read_ + size_) % capacity_;
    std::copy_n(frames + i * channels_, channels_, samples_.begin() + static_cast<std::ptrdiff_t>(slot * channels_));
    ++size_;
  }
}

size_t EffectStream::FrameQueue::Pop(float* frames, size_t count) {
  const size_t available = std::min(count, size_);
  for (size_t i = 0; i < available; ++i) {
    std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(read_ * channels_), channels_, frames + i * channels_);
    read_ = (read_ + 1) % capacity_;
  }
  size_ -= available;
  return available;
}

EffectStream::EffectStream(ITessilManager* manager, uint32_t sampleRate, uint32_t channels,
                           uint32_t bits)
    : sampleRate_(sampleRate), nativeRate_(NativeRateFor(sampleRate)), channels_(channels) {
  if (channels < 1 || channels > 2) throw std::runtime_error("a stream has one or two channels");
  if (bits < 2 || bits > 32) throw std::runtime_error("a stream has 2 to 32 bits per sample");
  if (sampleRate == 0) throw std::runtime_error("a stream needs a sample rate");
  // Powers of two both ways, so the scaling itself never changes a sample.
  inputScale_ = std::ldexp(1.0f, static_cast<int>(bits) - 1);
  outputScale_ = std::ldexp(1.0f, 1 - static_cast<int>(bits));

  processor_ = CreateProcessor(manager);
  if (!processor_) throw std::runtime_error("the driver could not create a stream processor");
  const NTSTATUS status = processor_->Init(nativeRate_, static_cast<USHORT>(bits),
                                           static_cast<USHORT>(channels), 0);
  if (!NT_SUCCESS(status)) throw std::runtime_error("the stream processor refused the stream");

  chunk_.assign(size_t{kChunkFrames} * channels, 0.0f);
  block_.assign(size_t{kTessilBlockFrames} * channels, 0.0f);
  delay_.assign(size_t{kTessilLookAheadFrames} * channels, 0.0f);
  uint32_t holdBack = kTessilShortBufferLatencyFrames;
  uint32_t queued = holdBack;
  if (nativeRate_ != sampleRate_) {
    toNative_ = std::make_unique<Resampler>(sampleRate_, nativeRate_, channels);
    fromNative_ = std::make_unique<Resampler>(nativeRate_, sampleRate_, channels);
    nativeCapacity_ = ScaledFrames(kChunkFrames, nativeRate_, sampleRate_) + kResamplerBurstFrames;
    resampledCapacity_ =
        ScaledFrames(nativeCapacity_ + kTessilBlockFrames, sampleRate_, nativeRate_) + kResamplerBurstFrames;
    native_.assign(nativeCapacity_ * channels, 0.0f);
    resampled_.assign(resampledCapacity_ * channels, 0.0f);
    processed_.assign((nativeCapacity_ + kTessilBlockFrames) * channels, 0.0f);
    holdBack = WarmUpResamplers(&queued);
  } else {
    nativeCapacity_ = kChunkFrames;
    processed_.assign((nativeCapacity_ + kTessilBlockFrames) * channels, 0.0f);
  }
  popped_.assign(size_t{kChunkFrames} * channels, 0.0f);

  // The look-ahead (the core's, or the compensation's) is part of the signal's way; at the native
  // rate it is a whole number of frames.
  const double lookAhead = static_cast<double>(kTessilLookAheadFrames) * sampleRate_ / nativeRate_;
  latency_ = holdBack + static_cast<uint32_t>(std::lround(lookAhead));
  output_.Reserve(holdBack + std::max(resampledCapacity_, processed_.size() / channels) + kChunkFrames, channels);
  output_.PushSilence(queued);
}

EffectStream::~EffectStream() = default;

uint32_t EffectStream::WarmUpResamplers(uint32_t* shortfall) {
  // How far behind its input the output can fall: run silence through both resamplers and the
  // block gathering, in pieces of awkward and changing sizes, and keep the worst shortfall. The
  // margin covers patterns the run did not try; a shortfall beyond it shows as Underruns().
  //
  // The stream then simply goes on from where the silence ended, as if it had started with it:
  // libsoxr has grown its buffers by then and never allocates again, and the output queue only
  // needs the silence that a stream started with the full hold-back would still hold. The
  // processor itself sees none of it, so its stream starts fresh.
  static constexpr uint32_t kPieces[] = {1, 7, 64, 256, 256, 256, 256, 256, 256, 256, 256,
                                         100, 13, 255, 3, 200, 128, 1, 1, 1, 1};
  std::fill(chunk_.begin(), chunk_.end(), 0.0f);
  int64_t fed = 0;
  int64_t out = 0;
  int64_t worst = 0;
  for (int round = 0; fed < 4 * static_cast<int64_t>(sampleRate_); ++round) {
    const uint32_t n = kPieces[round % std::size(kPieces)];
    const size_t native = toNative_->Process(chunk_.data(), n, native_.data(), nativeCapacity_);
    blockFill_ += static_cast<uint32_t>(native);
    const size_t blocks = blockFill_ / kTessilBlockFrames;
    blockFill_ %= kTessilBlockFrames;
    std::fill_n(processed_.begin(), blocks * kTessilBlockFrames * channels_, 0.0f);
    out += static_cast<int64_t>(fromNative_->Process(processed_.data(), blocks * kTessilBlockFrames,
                                                     resampled_.data(), resampledCapacity_));
    fed += n;
    worst = std::max(worst, fed - out);
  }
  std::fill(block_.begin(), block_.end(), 0.0f);
  const auto margin = static_cast<int64_t>(ScaledFrames(kTessilBlockFrames, sampleRate_, nativeRate_)) / 4 + 8;
  const int64_t holdBack = worst + margin;
  *shortfall = static_cast<uint32_t>(holdBack - (fed - out));
  return static_cast<uint32_t>(holdBack);
}

void EffectStream::CompensateLookAhead(bool lookAheadActive) {
  // The delay line always takes the newest output, so switching it in or out mid-stream replays
  // recent audio rather than stale audio.
  for (uint32_t i = 0; i < kTessilBlockFrames; ++i) {
    float* frame = block_.data() + size_t{i} * channels_;
    float* delayed = delay_.data() + size_t{delayPosition_} * channels_;
    for (uint32_t c = 0; c < channels_; ++c) {
      const float newest = frame[c];
      if (!lookAheadActive) frame[c] = delayed[c];
      delayed[c] = newest;
    }
    delayPosition_ = (delayPosition_ + 1) % kTessilLookAheadFrames;
  }
}

size_t EffectStream::RunBlocks(const float* native, size_t frames, float* output,
                               bool lookAheadActive) {
  size_t produced = 0;
  for (size_t i = 0; i < frames; ++i) {
    std::copy_n(native + i * channels_, channels_, block_.data() + size_t{blockFill_} * channels_);
    if (++blockFill_ < kTessilBlockFrames) continue;
    processor_->Process(block_.data(), kTessilBlockFrames, block_.data(), 0);
    CompensateLookAhead(lookAheadActive);
    std::copy(block_.begin(), block_.end(), output + produced * channels_);
    produced += kTessilBlockFrames;
    blockFill_ = 0;
  }
  return produced;
}

void EffectStream::Run(const float* const* input, float* const* output, uint32_t frames,
                       bool lookAheadActive) {
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = std::min(frames - done, kChunkFrames);
    // The whole piece is read before any of it is written: outputs may alias inputs.
    for (uint32_t i = 0; i < n; ++i) {
      for (uint32_t c = 0; c < channels_; ++c) chunk_[size_t{i} * channels_ + c] = input[c][done + i] * inputScale_;
    }
    if (toNative_) {
      const size_t native = toNative_->Process(chunk_.data(), n, native_.data(), nativeCapacity_);
      const size_t ready = RunBlocks(native_.data(), native, processed_.data(), lookAheadActive);
      output_.Push(resampled_.data(),
                   fromNative_->Process(processed_.data(), ready, resampled_.data(), resampledCapacity_));
    } else {
      output_.Push(processed_.data(), RunBlocks(chunk_.data(), n, processed_.data(), lookAheadActive));
    }
    const size_t got = output_.Pop(popped_.data(), n);
    if (got < n) {
      underruns_ += n - got;
      std::fill(popped_.begin() + static_cast<std::ptrdiff_t>(got * channels_), popped_.end(), 0.0f);
    }
    for (uint32_t i = 0; i < n; ++i) {
      for (uint32_t c = 0; c < channels_; ++c) output[c][done + i] = popped_[size_t{i} * channels_ + c] * outputScale_;
    }
    done += n;
  }
}

void EffectStream::Restart() {
  const auto bits = static_cast<USHORT>(std::ilogb(inputScale_) + 1);
  processor_->Init(nativeRate_, bits, static_cast<USHORT>(channels_), 0);
}

}  // namespace tessil::host
