#include "cli/render.h"

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include "cli/audio_file.h"
#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/loudness.h"
#include "cli/property_requests.h"
#include "host/effect_stream.h"
#include "host/latency.h"
#include "host/rates.h"

namespace tessil::cli {

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// Channels 2 and up pass through the processor untouched and undelayed, while channels 0 and 1
// come out late by the stream's latency. To keep every output frame whole, the extra channels of
// each input frame wait here until the processed pair of the same frame comes out.
class PassThroughQueue {
 public:
  explicit PassThroughQueue(int channels) : width_(channels > 2 ? static_cast<size_t>(channels) - 2 : 0) {}

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
    std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(head_), width_, frame + 2);
    head_ += width_;
    if (head_ == samples_.size()) {
      samples_.clear();
      head_ = 0;
    } else if (head_ >= kCompactAfter && head_ * 2 >= samples_.size()) {
      samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
  }

 private:
  static constexpr size_t kCompactAfter = 1 << 16;
  size_t width_;
  std::vector<float> samples_;
  size_t head_ = 0;
};

// Channels 0 and 1 of a stream at a rate the driver has no tables for, through the host layer's
// rate-adapting stream, in place in interleaved host buffers.
class AdaptedPair {
 public:
  AdaptedPair(ITessilManager* manager, int rate, int channels, int bits, size_t bufferFrames)
      : stride_(static_cast<size_t>(channels)),
        pair_(channels < 2 ? 1u : 2u),
        toUnit_(std::ldexp(1.0f, 1 - bits)),
        toHost_(std::ldexp(1.0f, bits - 1)),
        stream_(manager, static_cast<uint32_t>(rate), pair_, static_cast<uint32_t>(bits)),
        planar_(pair_, std::vector<float>(bufferFrames)) {}

  int LatencyFrames() const { return static_cast<int>(stream_.LatencyFrames()); }

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

}  // namespace

int OutputSndfileFormat(OutputFormat format, int inputFormat) {
  switch (format) {
    case OutputFormat::Same: return inputFormat;
    case OutputFormat::Float32: return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    case OutputFormat::Wav16: return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    case OutputFormat::Wav24: return SF_FORMAT_WAV | SF_FORMAT_PCM_24;
  }
  return inputFormat;
}

FileReport RenderFile(ITessilManager* manager, const RenderJob& job, const RenderOptions& options,
                      bool lookaheadActive, Progress* progress) {
  const Clock::time_point wallStart = Clock::now();
  AudioReader reader(job.input);
  const int channels = reader.Channels();
  const int rate = reader.SampleRate();
  const int bits = options.bits != 0 ? options.bits : DefaultHostBits(reader.Format());
  if (channels > 0xFFFF) throw CliError(job.input + ": too many channels for a stream");

  const int outputFormat = OutputSndfileFormat(options.format, reader.Format());
  AudioWriter writer(job.output, outputFormat, rate, channels);
  writer.CopyMetadata(reader);

  const auto stride = static_cast<size_t>(channels);
  const auto bufferFrames = static_cast<size_t>(options.bufferFrames);
  // At the driver's own rates the file streams straight through a processor; at any other rate
  // channels 0 and 1 are resampled to the native rate of their family and back, and the
  // resamplers' delay joins the latency that alignment trims.
  ProcessorHandle processor;
  std::unique_ptr<AdaptedPair> adapted;
  int streamLatency = 0;
  if (host::IsNativeRate(static_cast<uint32_t>(rate))) {
    processor = host::CreateProcessor(manager);
    if (!processor) throw CliError(job.input + ": the driver could not create a stream processor");
    const NTSTATUS status = processor->Init(static_cast<ULONG>(rate), static_cast<USHORT>(bits),
                                            static_cast<USHORT>(channels), 0);
    if (!NT_SUCCESS(status)) {
      throw CliError(job.input + ": the processor refused the stream (" + std::to_string(rate) +
                     " Hz, " + std::to_string(bits) + " bits, " + std::to_string(channels) +
                     " channels): " + StatusName(status));
    }
    streamLatency = static_cast<int>(
        host::StreamLatencyFrames(lookaheadActive, static_cast<uint32_t>(options.bufferFrames)));
  } else {
    try {
      adapted = std::make_unique<AdaptedPair>(manager, rate, channels, bits, bufferFrames);
    } catch (const std::runtime_error& error) {
      throw CliError(job.input + ": " + error.what());
    }
    streamLatency = adapted->LatencyFrames();
  }
  const int latency = options.align ? streamLatency : 0;
  std::vector<float> buffer(bufferFrames * stride);
  std::vector<float> output(bufferFrames * stride);
  PassThroughQueue passThrough(channels);
  LoudnessMeter before(channels, rate);
  LoudnessMeter after(channels, rate);
  Clock::duration processing{};

  // Frame counters of the stream: `read` input frames fed so far, `streamed` frames that came out
  // of the processor, `written` output frames. Output frame i is the processor's frame
  // i + latency; the stream is fed silence after the input ends until every input frame is out.
  int64_t read = 0;
  int64_t streamed = 0;
  int64_t written = 0;
  bool ended = false;
  for (;;) {
    ThrowIfInterrupted();
    size_t got = 0;
    if (!ended) {
      got = reader.ReadHost(buffer.data(), bufferFrames, bits);
      ended = got < bufferFrames;
    }
    if (got == 0 && written == read) break;
    // The host always hands over full buffers, so the stream's latency never depends on where
    // the file ends.
    std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(got * stride), buffer.end(), 0.0f);
    before.AddHost(buffer.data(), got, bits);
    passThrough.Push(buffer.data(), got, stride);
    read += static_cast<int64_t>(got);
    if (progress != nullptr) progress->Advance(static_cast<int64_t>(got));

    const Clock::time_point start = Clock::now();
    if (adapted) {
      adapted->Process(buffer.data(), bufferFrames, lookaheadActive);
    } else {
      processor->Process(buffer.data(), static_cast<ULONG>(bufferFrames), buffer.data(), 0);
    }
    processing += Clock::now() - start;

    const int64_t first = streamed;
    streamed += static_cast<int64_t>(bufferFrames);
    size_t count = 0;
    for (size_t j = 0; j < bufferFrames; ++j) {
      const int64_t position = first + static_cast<int64_t>(j) - latency;  // output frame
      if (position < 0) continue;
      if (position >= read) break;  // padding behind the input's last frame
      float* frame = output.data() + count * stride;
      frame[0] = buffer[j * stride];
      if (channels > 1) frame[1] = buffer[j * stride + 1];
      passThrough.PopInto(frame);
      ++count;
    }
    if (count > 0) {
      writer.WriteHost(output.data(), count, bits);
      after.AddHost(output.data(), count, bits);
      written += static_cast<int64_t>(count);
    }
  }
  writer.Commit();

  FileReport report;
  report.input = job.input;
  report.output = job.output;
  report.inputFormat = FormatName(reader.Format());
  report.outputFormat = FormatName(outputFormat);
  report.sampleRate = rate;
  report.channels = channels;
  report.hostBits = bits;
  report.bufferFrames = options.bufferFrames;
  report.frames = written;
  report.aligned = options.align;
  report.latencyFrames = latency;
  report.processSeconds = Seconds(processing);
  report.before = before.Figures();
  report.after = after.Figures();
  report.wallSeconds = Seconds(Clock::now() - wallStart);
  return report;
}

}  // namespace tessil::cli
