#include "cli/render.h"

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <optional>
#include <vector>

#include "cli/audio_file.h"
#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/loudness.h"
#include "cli/output_format.h"
#include "host/effect_stream.h"
#include "host/latency.h"
#include "host/rates.h"

namespace tessil::cli {

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

std::string Decimal(double value, int digits) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", digits, value);
  return text;
}

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

// The stream's shape, fixed for one file.
struct StreamShape {
  int rate;
  int bits;
  int channels;
  size_t bufferFrames;
  bool align;  // trim the latency from the start
};

// Where the processor clamps: full scale times 2^(bits-1) - 1, less 4096 for 32-bit streams.
float ClampLevel(int bits) {
  const double full = bits == 32 ? 2147483647.0 - 4096.0 : std::ldexp(1.0, bits - 1) - 1.0;
  return static_cast<float>(full);
}

// Host frames to and from the audio files in pieces of kFilePieceFrames, whatever the buffers.
class FilePieces {
 public:
  static constexpr size_t kFilePieceFrames = 16384;
  explicit FilePieces(int channels) : stride_(static_cast<size_t>(channels)) {}

  // Up to `frames` frames, fewer only at the end; `read` fills a piece and returns its frames.
  template <typename ReadPiece>
  size_t Read(float* host, size_t frames, ReadPiece&& read) {
    size_t got = 0;
    while (got < frames) {
      if (readAt_ == readFrames_) {
        if (ended_) break;
        reading_.resize(kFilePieceFrames * stride_);
        readFrames_ = read(reading_.data(), kFilePieceFrames);
        readAt_ = 0;
        ended_ = readFrames_ < kFilePieceFrames;
        if (readFrames_ == 0) break;
      }
      const size_t take = std::min(frames - got, readFrames_ - readAt_);
      std::copy_n(reading_.data() + readAt_ * stride_, take * stride_, host + got * stride_);
      readAt_ += take;
      got += take;
    }
    return got;
  }

  template <typename WritePiece>
  void Write(const float* host, size_t frames, WritePiece&& write) {
    writing_.insert(writing_.end(), host, host + frames * stride_);
    if (writing_.size() >= kFilePieceFrames * stride_) Flush(write);
  }

  template <typename WritePiece>
  void Flush(WritePiece&& write) {
    if (!writing_.empty()) write(writing_.data(), writing_.size() / stride_);
    writing_.clear();
  }

 private:
  size_t stride_;
  std::vector<float> reading_;
  size_t readFrames_ = 0;
  size_t readAt_ = 0;
  bool ended_ = false;
  std::vector<float> writing_;
};

using Source = std::function<size_t(float* host, size_t frames)>;  // fewer frames: the end
using Sink = std::function<void(const float* host, size_t frames)>;

struct StreamResult {
  int64_t frames = 0;
  int64_t clipped = 0;
  Clock::duration processing{};
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

// The driver as one file's stream sees it. At the driver's own rates the file streams straight
// through a processor; at any other rate channels 0 and 1 are resampled to the native rate of
// their family and back, and the resamplers' delay joins the latency that alignment trims.
class DriverStream {
 public:
  DriverStream(ITessilManager* manager, const std::string& input, const StreamShape& shape, bool lookaheadActive)
      : lookaheadActive_(lookaheadActive) {
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
      latency_ = static_cast<int>(
          host::StreamLatencyFrames(lookaheadActive, static_cast<uint32_t>(shape.bufferFrames)));
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

  int LatencyFrames() const { return latency_; }
  int ProcessingRate() const { return rate_; }

  void Process(float* buffer, size_t frames) {
    if (adapted_) {
      adapted_->Process(buffer, frames, lookaheadActive_);
    } else {
      processor_->Process(buffer, static_cast<ULONG>(frames), buffer, 0);
    }
  }

 private:
  bool lookaheadActive_;
  ProcessorHandle processor_;
  std::unique_ptr<AdaptedPair> adapted_;
  int latency_ = 0;
  int rate_ = 0;
};

// Streams `source` through the processor and hands the output, aligned as `shape` says, to `sink`.
StreamResult Stream(DriverStream* driver, const StreamShape& shape, const Source& source, const Sink& sink,
                    Progress* progress) {
  const auto stride = static_cast<size_t>(shape.channels);
  const size_t bufferFrames = shape.bufferFrames;
  std::vector<float> buffer(bufferFrames * stride);
  std::vector<float> output(bufferFrames * stride);
  PassThroughQueue passThrough(shape.channels);
  const float clampLevel = ClampLevel(shape.bits);
  const size_t processed = std::min<size_t>(stride, 2);
  const int latency = shape.align ? driver->LatencyFrames() : 0;
  StreamResult result;

  // Frame counters of the stream: `read` input frames fed so far, `streamed` frames that came out
  // of the processor, `written` output frames. Output frame i is the processor's frame
  // i + latency; the stream is fed silence after the input ends until every input frame is out.
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
    if (progress != nullptr) progress->Advance(static_cast<int64_t>(got));

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
        if (std::fabs(frame[c]) >= clampLevel) ++result.clipped;
      }
      passThrough.PopInto(frame);
      ++count;
    }
    if (count > 0) {
      sink(output.data(), count);
      result.frames += static_cast<int64_t>(count);
    }
  }
  return result;
}

// Loudness and true peak of the processed pair alone: what --target and --ceiling act on.
LoudnessFigures MeasurePair(const std::vector<float>& host, int channels, int rate, int bits) {
  const auto stride = static_cast<size_t>(channels);
  const int pair = std::min(channels, 2);
  LoudnessMeter meter(pair, rate);
  if (pair == channels) {
    meter.AddHost(host.data(), host.size() / stride, bits);
  } else {
    constexpr size_t kChunk = 8192;
    std::vector<float> extract(kChunk * 2);
    const size_t frames = host.size() / stride;
    for (size_t start = 0; start < frames; start += kChunk) {
      const size_t count = std::min(kChunk, frames - start);
      for (size_t i = 0; i < count; ++i) {
        extract[2 * i] = host[(start + i) * stride];
        extract[2 * i + 1] = host[(start + i) * stride + 1];
      }
      meter.AddHost(extract.data(), count, bits);
    }
  }
  return meter.Figures();
}

// A margin below the ceiling for the rounding of the written samples.
constexpr double kCeilingMarginDb = 0.01;

double CeilingGainDb(const LoudnessFigures& figures, double ceiling) {
  if (std::isnan(ceiling) || !std::isfinite(figures.truePeakDbtp)) return 0.0;
  return std::min(0.0, ceiling - kCeilingMarginDb - figures.truePeakDbtp);
}

struct Trial {
  int level = 0;
  LoudnessFigures figures;
  double hostGainDb = 0.0;
  double finalLufs = 0.0;  // after the host gain
  int64_t clipped = 0;
  Clock::duration processing{};
  int latency = 0;
  int processingRate = 0;
  std::vector<float> output;
};

void ApplyHostGain(std::vector<float>* host, int channels, double gainDb) {
  if (gainDb == 0.0) return;
  const auto gain = static_cast<float>(std::pow(10.0, gainDb / 20.0));
  const auto stride = static_cast<size_t>(channels);
  const size_t processed = std::min<size_t>(stride, 2);
  for (size_t i = 0; i < host->size(); i += stride) {
    for (size_t c = 0; c < processed; ++c) (*host)[i + c] *= gain;
  }
}

class InMemoryRender {
 public:
  InMemoryRender(const RenderContext& context, const RenderJob& job, const StreamShape& shape,
                 std::vector<float> input)
      : context_(context), job_(job), shape_(shape), input_(std::move(input)) {}

  // A render with the run's own settings, or with core-level set to `level` (hundredths).
  Trial Run(std::optional<int> level) {
    ThrowIfInterrupted();
    ITessilManager* manager = context_.manager;
    if (level) {
      // A manager of its own: a core-level change on the shared one would reach every file.
      if (!own_) own_ = CreateConfiguredManager(*context_.commandLine, false);
      PropertyClient(own_.get()).Apply(ParseSetting("core-level=" + std::to_string(*level)), false);
      manager = own_.get();
    }
    DriverStream driver(manager, job_.input, shape_, context_.lookaheadActive);
    Trial trial;
    trial.level = level.value_or(0);
    trial.output.reserve(input_.size());
    size_t position = 0;
    const auto stride = static_cast<size_t>(shape_.channels);
    const Source source = [&](float* host, size_t frames) {
      const size_t count = std::min(frames, input_.size() / stride - position);
      std::copy_n(input_.begin() + static_cast<std::ptrdiff_t>(position * stride), count * stride, host);
      position += count;
      return count;
    };
    const Sink sink = [&](const float* host, size_t frames) {
      trial.output.insert(trial.output.end(), host, host + frames * stride);
    };
    const StreamResult result = Stream(&driver, shape_, source, sink, nullptr);
    trial.clipped = result.clipped;
    trial.latency = driver.LatencyFrames();
    trial.processingRate = driver.ProcessingRate();
    trial.processing = result.processing;
    trial.figures = MeasurePair(trial.output, shape_.channels, shape_.rate, shape_.bits);
    trial.hostGainDb = CeilingGainDb(trial.figures, context_.commandLine->render.ceilingDbtp);
    trial.finalLufs = trial.figures.integratedLufs + trial.hostGainDb;
    ++iterations_;
    return trial;
  }

  // A core level whose output lands within the tolerance of the target. The core scales its
  // output by the level, so loudness follows 20 log10(level) closely: each guess comes from that
  // model through the nearest render above the target, inside the bracket found so far. Where one
  // level step is coarser than the tolerance (low levels), the host trims the rest.
  Trial SearchTarget(double target) {
    const double ceiling = context_.commandLine->render.ceilingDbtp;
    const auto outOfReach = [&](const Trial& high) {
      const Trial low = high.level == kLowestLevel ? high : Run(kLowestLevel);
      const Trial& top = high.level == kHighestLevel ? high : Run(kHighestLevel);
      return CliError(job_.input + ": --target " + Decimal(target, 1) + " LUFS is out of reach: the core level reaches " +
                      Decimal(low.finalLufs, 1) + " to " + Decimal(top.finalLufs, 1) + " LUFS on this file" +
                      (std::isnan(ceiling) ? std::string() : " under the ceiling of " + Decimal(ceiling, 1) + " dBTP"));
    };
    const auto inWindow = [&](const Trial& trial) { return std::fabs(trial.finalLufs - target) <= kTargetTolerance; };
    Trial high = Run(kHighestLevel);
    if (!std::isfinite(high.finalLufs)) {
      throw CliError(job_.input + ": --target: the output has no measurable loudness (silent or shorter than 0.4 s)");
    }
    if (high.finalLufs < target - kTargetTolerance) throw outOfReach(high);
    int lowLevel = kLowestLevel - 1;  // the highest level known to fall short; none yet
    while (!inWindow(high) && high.level - lowLevel > 1) {
      const double model = high.level * std::pow(10.0, (target - high.finalLufs) / 20.0);
      const int guess = std::clamp(static_cast<int>(std::lround(model)), lowLevel + 1, high.level - 1);
      Trial trial = Run(guess);
      if (trial.finalLufs >= target - kTargetTolerance) {
        high = std::move(trial);
      } else {
        lowLevel = trial.level;
      }
    }
    if (high.level == kLowestLevel && high.finalLufs > target + kTargetTolerance) throw outOfReach(high);
    if (high.finalLufs > target + kTargetTolerance) {
      const double trim = target - high.finalLufs;
      high.hostGainDb += trim;
      high.finalLufs += trim;
    }
    return high;
  }

  int Iterations() const { return iterations_; }
  const std::vector<float>& Input() const { return input_; }

 private:
  static constexpr int kLowestLevel = 1;
  static constexpr int kHighestLevel = 100;

  const RenderContext& context_;
  const RenderJob& job_;
  StreamShape shape_;
  std::vector<float> input_;
  ManagerHandle own_;
  int iterations_ = 0;
};

std::vector<float> ReadWhole(AudioReader& reader, int bits, Progress* progress) {
  std::vector<float> host;
  const auto stride = static_cast<size_t>(reader.Channels());
  constexpr size_t kChunk = 65536;
  for (;;) {
    ThrowIfInterrupted();
    const size_t used = host.size();
    host.resize(used + kChunk * stride);
    const size_t got = reader.ReadHost(host.data() + used, kChunk, bits);
    host.resize(used + got * stride);
    if (progress != nullptr) progress->Advance(static_cast<int64_t>(got));
    if (got < kChunk) return host;
  }
}

void AddChannelNotes(FileReport* report) {
  if (report->channels <= 2) return;
  report->warnings.push_back(report->input + " has " + std::to_string(report->channels) +
                             " channels: only the first two are processed; channels 3 to " +
                             std::to_string(report->channels) + " pass through untouched");
}

}  // namespace

FileReport RenderFile(const RenderContext& context, const RenderJob& job) {
  const RenderOptions& options = context.commandLine->render;
  const Clock::time_point wallStart = Clock::now();
  // Everything about OUT that can fail does so before IN is opened (which may wait on a FIFO).
  AudioWriter::CheckDestination(job.output, options.overwrite);
  const Container& container = ContainerForOutput(job.output, options.type);
  AudioReader reader(job.input);
  if (context.progress != nullptr) context.progress->AddFile(reader.Frames());
  const int channels = reader.Channels();
  if (channels > 0xFFFF) throw CliError(job.input + ": too many channels for a stream");
  StreamShape shape{};
  shape.rate = reader.SampleRate();
  shape.bits = options.bits != 0 ? options.bits : DefaultHostBits(reader.Format());
  shape.channels = channels;
  shape.bufferFrames = static_cast<size_t>(options.bufferFrames);
  shape.align = options.align;

  const int outputFormat = ChooseOutputFormat(container, options.encoding, reader.Format(), job.output);
  WriteOptions writeOptions;
  writeOptions.overwrite = options.overwrite;
  writeOptions.quality = options.quality;
  writeOptions.expectedFrames = reader.Frames();
  AudioWriter writer(job.output, outputFormat, shape.rate, channels, writeOptions);
  writer.CopyMetadata(reader);

  const bool lossy = IsLossyFormat(outputFormat);
  const bool measureFile = lossy && !IsStandardStream(job.output);
  LoudnessMeter before(channels, shape.rate, options.report);
  LoudnessMeter after(channels, shape.rate, options.report);
  FileReport report;
  report.settings = context.settings;

  StreamResult streamed;
  int latency = 0;
  int processingRate = shape.rate;
  if (!std::isnan(options.targetLufs) || !std::isnan(options.ceilingDbtp)) {
    std::vector<float> input = ReadWhole(reader, shape.bits, context.progress);
    before.AddHost(input.data(), input.size() / static_cast<size_t>(channels), shape.bits);
    InMemoryRender render(context, job, shape, std::move(input));
    Trial chosen;
    if (!std::isnan(options.targetLufs)) {
      chosen = render.SearchTarget(options.targetLufs);
      report.targetUsed = true;
      report.targetLufs = options.targetLufs;
      report.targetCoreLevel = chosen.level;
      report.targetIterations = render.Iterations();
      report.settings.push_back("core-level=" + std::to_string(chosen.level) + " (found for --target)");
    } else {
      chosen = render.Run(std::nullopt);
    }
    report.ceilingUsed = !std::isnan(options.ceilingDbtp);
    report.ceilingDbtp = options.ceilingDbtp;
    report.hostGainDb = chosen.hostGainDb;
    ApplyHostGain(&chosen.output, channels, chosen.hostGainDb);
    const size_t frames = chosen.output.size() / static_cast<size_t>(channels);
    constexpr size_t kChunk = 65536;
    for (size_t start = 0; start < frames; start += kChunk) {
      ThrowIfInterrupted();
      const size_t count = std::min(kChunk, frames - start);
      const float* host = chosen.output.data() + start * static_cast<size_t>(channels);
      writer.WriteHost(host, count, shape.bits);
      if (!measureFile) after.AddHost(host, count, shape.bits);
    }
    streamed.frames = static_cast<int64_t>(frames);
    streamed.clipped = chosen.clipped;
    streamed.processing = chosen.processing;
    latency = chosen.latency;
    processingRate = chosen.processingRate;
  } else {
    DriverStream driver(context.manager, job.input, shape, context.lookaheadActive);
    latency = driver.LatencyFrames();
    processingRate = driver.ProcessingRate();
    // The file is read and written in large pieces while the stream still gets its buffers: a
    // system call for every 480 frames would cost more than the effect itself.
    FilePieces pieces(channels);
    const Source source = [&](float* host, size_t frames) {
      const size_t got = pieces.Read(host, frames, [&](float* piece, size_t count) {
        return reader.ReadHost(piece, count, shape.bits);
      });
      before.AddHost(host, got, shape.bits);
      return got;
    };
    const auto write = [&](const float* piece, size_t count) {
      writer.WriteHost(piece, count, shape.bits);
    };
    const Sink sink = [&](const float* host, size_t frames) {
      pieces.Write(host, frames, write);
      if (!measureFile) after.AddHost(host, frames, shape.bits);
    };
    streamed = Stream(&driver, shape, source, sink, context.progress);
    pieces.Flush(write);
  }

  // Lossy output is measured as a listener will hear it: decoded from the file.
  AudioWriter::FrameSink readBack;
  if (measureFile && options.report) {
    readBack = [&](const float* frames, size_t count) { after.AddHost(frames, count, 1); };
  }
  const WrittenFile written = writer.Commit(readBack);

  report.input = job.input;
  report.output = job.output;
  report.inputFormat = FormatName(reader.Format());
  report.outputFormat = FormatName(written.format);
  report.sampleRate = shape.rate;
  report.processingRate = processingRate;
  report.channels = channels;
  report.processedChannels = std::min(channels, 2);
  report.hostBits = shape.bits;
  report.bufferFrames = options.bufferFrames;
  report.frames = streamed.frames;
  report.aligned = options.align;
  report.latencyFrames = options.align ? latency : 0;
  report.processSeconds = Seconds(streamed.processing);
  report.clippedSamples = streamed.clipped;
  report.outputMeasuredFromFile = measureFile;
  report.before = before.Figures();
  report.after = after.Figures();
  report.wallSeconds = Seconds(Clock::now() - wallStart);

  AddChannelNotes(&report);
  if (report.clippedSamples > 0) {
    report.warnings.push_back(job.output + ": " + std::to_string(report.clippedSamples) +
                              " samples clipped at the output (lower output-gain or core-level, or "
                              "give --ceiling)");
  }
  if (report.after.measured && report.after.truePeakDbtp > 0.0) {
    report.warnings.push_back(job.output + ": true peak " + Decimal(report.after.truePeakDbtp, 2) +
                              " dBTP is above 0 dBTP");
  } else if (report.ceilingUsed && report.after.measured &&
             report.after.truePeakDbtp > options.ceilingDbtp + 0.005) {
    report.warnings.push_back(job.output + ": the encoder raised the true peak to " +
                              Decimal(report.after.truePeakDbtp, 2) + " dBTP, above the ceiling");
  }
  return report;
}

FileReport AnalyseFile(const std::string& path, Progress* progress) {
  const Clock::time_point wallStart = Clock::now();
  AudioReader reader(path);
  if (progress != nullptr) progress->AddFile(reader.Frames());
  const int bits = DefaultHostBits(reader.Format());
  LoudnessMeter meter(reader.Channels(), reader.SampleRate());
  std::vector<float> buffer(65536 * static_cast<size_t>(reader.Channels()));
  int64_t frames = 0;
  for (;;) {
    ThrowIfInterrupted();
    const size_t got = reader.ReadHost(buffer.data(), 65536, bits);
    meter.AddHost(buffer.data(), got, bits);
    frames += static_cast<int64_t>(got);
    if (progress != nullptr) progress->Advance(static_cast<int64_t>(got));
    if (got < 65536) break;
  }
  FileReport report;
  report.analysisOnly = true;
  report.input = path;
  report.inputFormat = FormatName(reader.Format());
  report.sampleRate = reader.SampleRate();
  report.channels = reader.Channels();
  report.hostBits = bits;
  report.frames = frames;
  report.before = meter.Figures();
  report.wallSeconds = Seconds(Clock::now() - wallStart);
  return report;
}

}  // namespace tessil::cli
