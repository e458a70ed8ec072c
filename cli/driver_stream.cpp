#include "cli/driver_stream.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/property_requests.h"
#include "host/effect_stream.h"
#include "host/latency.h"
#include "host/rates.h"

namespace tessil::cli {

namespace {

using Clock = std::chrono::steady_clock;

// Channels 3 and up pass through the processor untouched and undelayed, while channels 1 and 2
// come out late by the stream's latency. To keep every output frame whole, the extra channels of
// each input frame wait here until the processed pair of the same frame comes out; on the way
// out they are made valid as the driver makes its own output: NaN becomes 0 and anything beyond
// full scale is clamped, so nothing non-finite is ever written.
class PassThroughQueue {
 public:
  PassThroughQueue(int channels, int bits)
      : width_(channels > 2 ? static_cast<size_t>(channels) - 2 : 0),
        fullScale_(std::ldexp(1.0f, bits - 1)),
        repaired_(width_, 0) {}

  void Push(const float* frames, size_t count, size_t stride) {
    if (width_ == 0) return;
    for (size_t i = 0; i < count; ++i) {
      const float* extra = frames + i * stride + 2;
      samples_.insert(samples_.end(), extra, extra + width_);
    }
  }

  // Copies the oldest waiting frame's extra channels to `frame` + 2 and drops it.
  void PopInto(float* frame) {
    if (width_ == 0) return;
    const float* from = samples_.data() + head_;
    for (size_t c = 0; c < width_; ++c) {
      float value = from[c];
      if (!(std::fabs(value) <= fullScale_)) {  // NaN fails every comparison
        ++repaired_[c];
        value = value != value ? 0.0f : std::copysign(fullScale_, value);
      }
      frame[2 + c] = value;
    }
    head_ += width_;
    if (head_ == samples_.size()) {
      samples_.clear();
      head_ = 0;
    } else if (head_ >= kCompactAfter && head_ * 2 >= samples_.size()) {
      samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
  }

  // Samples made valid, per extra channel.
  const std::vector<int64_t>& Repaired() const { return repaired_; }

 private:
  static constexpr size_t kCompactAfter = 1 << 16;
  size_t width_;
  float fullScale_;
  std::vector<int64_t> repaired_;
  std::vector<float> samples_;
  size_t head_ = 0;
};

}  // namespace

float ClampLevel(int bits) {
  const double full = bits == 32 ? 2147483647.0 - 4096.0 : std::ldexp(1.0, bits - 1) - 1.0;
  return static_cast<float>(full);
}

// Channels 1 and 2 of a stream at a rate the driver has no tables for, through the host layer's
// rate-adapting stream, in place in interleaved host buffers.
class DriverStream::AdaptedPair {
 public:
  AdaptedPair(ITessilManager* manager, int rate, int channels, int bits, size_t bufferFrames)
      : stride_(static_cast<size_t>(channels)),
        pair_(channels < 2 ? 1u : 2u),
        toUnit_(std::ldexp(1.0f, 1 - bits)),
        toHost_(std::ldexp(1.0f, bits - 1)),
        stream_(manager, static_cast<uint32_t>(rate), pair_, static_cast<uint32_t>(bits)),
        planar_(pair_, std::vector<float>(bufferFrames)) {}

  int LatencyFrames() const { return static_cast<int>(stream_.LatencyFrames()); }
  int NativeRate() const { return static_cast<int>(stream_.NativeRate()); }

  void Process(float* buffer, size_t frames, bool lookaheadActive) {
    float* channels[2] = {planar_[0].data(), planar_.back().data()};
    for (size_t i = 0; i < frames; ++i) {
      for (uint32_t c = 0; c < pair_; ++c) channels[c][i] = buffer[i * stride_ + c] * toUnit_;
    }
    stream_.Run(channels, channels, static_cast<uint32_t>(frames), lookaheadActive);
    for (size_t i = 0; i < frames; ++i) {
      for (uint32_t c = 0; c < pair_; ++c) buffer[i * stride_ + c] = channels[c][i] * toHost_;
    }
  }

 private:
  size_t stride_;
  uint32_t pair_;
  float toUnit_;
  float toHost_;
  host::EffectStream stream_;
  std::vector<std::vector<float>> planar_;
};

DriverStream::DriverStream(ITessilManager* manager, const std::string& input, const StreamShape& shape,
                           bool lookaheadActive)
    : lookaheadActive_(lookaheadActive) {
  if (shape.bufferFrames * static_cast<size_t>(shape.channels) > kMaximumBufferSamples) {
    throw CliError(input + ": --buffer-frames " + std::to_string(shape.bufferFrames) + " is too long for " +
                   std::to_string(shape.channels) + " channels: at most " +
                   std::to_string(kMaximumBufferSamples / static_cast<size_t>(shape.channels)) + " frames");
  }
  if (host::IsNativeRate(static_cast<uint32_t>(shape.rate))) {
    processor_ = host::CreateProcessor(manager);
    if (!processor_) throw CliError(input + ": the driver could not create a stream processor");
    const NTSTATUS status = processor_->Init(static_cast<ULONG>(shape.rate), static_cast<USHORT>(shape.bits),
                                             static_cast<USHORT>(shape.channels), 0);
    if (!NT_SUCCESS(status)) {
      throw CliError(input + ": the processor refused the stream (" + std::to_string(shape.rate) + " Hz, " +
                     std::to_string(shape.bits) + " bits, " + std::to_string(shape.channels) +
                     " channels): " + StatusName(status));
    }
    latency_ = static_cast<int>(host::StreamLatencyFrames(lookaheadActive, static_cast<uint32_t>(shape.bufferFrames)));
    rate_ = shape.rate;
  } else {
    try {
      adapted_ = std::make_unique<AdaptedPair>(manager, shape.rate, shape.channels, shape.bits, shape.bufferFrames);
    } catch (const std::runtime_error& error) {
      throw CliError(input + ": " + error.what());
    }
    latency_ = adapted_->LatencyFrames();
    rate_ = adapted_->NativeRate();
  }
}

DriverStream::~DriverStream() = default;

void DriverStream::Process(float* buffer, size_t frames) {
  if (adapted_) {
    adapted_->Process(buffer, frames, lookaheadActive_);
  } else {
    processor_->Process(buffer, static_cast<ULONG>(frames), buffer, 0);
  }
}

StreamResult StreamThroughDriver(DriverStream* driver, const StreamShape& shape, const Source& source,
                                 const Sink& sink) {
  const auto stride = static_cast<size_t>(shape.channels);
  const size_t bufferFrames = shape.bufferFrames;
  std::vector<float> buffer(bufferFrames * stride);
  std::vector<float> output(bufferFrames * stride);
  PassThroughQueue passThrough(shape.channels, shape.bits);
  const float clampLevel = ClampLevel(shape.bits);
  const size_t processed = std::min<size_t>(stride, 2);
  const int latency = shape.align ? driver->LatencyFrames() : 0;
  StreamResult result;
  result.clipped.assign(stride, 0);

  // Frame counters of the stream: `read` input frames fed so far, `streamed` frames that came out
  // of the processor. Output frame i is the processor's frame i + latency; the stream is fed
  // silence after the input ends until every input frame is out.
  int64_t read = 0;
  int64_t streamed = 0;
  bool ended = false;
  for (;;) {
    ThrowIfInterrupted();
    size_t got = 0;
    if (!ended) {
      got = source(buffer.data(), bufferFrames);
      ended = got < bufferFrames;
    }
    if (got == 0 && result.frames == read) break;
    // The host always hands over full buffers, so the stream's latency never depends on where
    // the file ends.
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(got * stride), buffer.end(), 0.0f);
    passThrough.Push(buffer.data(), got, stride);
    read += static_cast<int64_t>(got);

    const Clock::time_point start = Clock::now();
    driver->Process(buffer.data(), bufferFrames);
    result.processing += Clock::now() - start;

    const int64_t first = streamed;
    streamed += static_cast<int64_t>(bufferFrames);
    size_t count = 0;
    for (size_t j = 0; j < bufferFrames; ++j) {
      const int64_t position = first + static_cast<int64_t>(j) - latency;  // output frame
      if (position < 0) continue;
      if (position >= read) break;  // padding behind the input's last frame
      float* frame = output.data() + count * stride;
      for (size_t c = 0; c < processed; ++c) {
        frame[c] = buffer[j * stride + c];
        if (std::fabs(frame[c]) >= clampLevel) ++result.clipped[c];
      }
      passThrough.PopInto(frame);
      ++count;
    }
    if (count > 0) {
      sink(output.data(), count);
      result.frames += static_cast<int64_t>(count);
    }
  }
  for (size_t c = 2; c < stride; ++c) result.clipped[c] = passThrough.Repaired()[c - 2];
  return result;
}

}  // namespace tessil::cli
