#include "cli/render.h"

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "cli/audio_file.h"
#include "cli/channel_layout.h"
#include "cli/driver_stream.h"
#include "cli/errors.h"
#include "cli/interrupt.h"
#include "cli/loudness.h"
#include "cli/output_format.h"
#include "cli/stored_length.h"

namespace tessil::cli {

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// Host frames to and from the audio files in large pieces, whatever the buffers: a system call
// for every 480 frames would cost more than the effect itself. A piece holds the same number of
// samples whatever the channel count.
class FilePieces {
 public:
  explicit FilePieces(int channels)
      : stride_(static_cast<size_t>(channels)), pieceFrames_(std::max<size_t>(256, kPieceSamples / stride_)) {}

  // Up to `frames` frames, fewer only at the end; `read` fills a piece and returns its frames.
  template <typename ReadPiece>
  size_t Read(float* host, size_t frames, ReadPiece&& read) {
    size_t got = 0;
    while (got < frames) {
      if (readAt_ == readFrames_) {
        if (ended_) break;
        reading_.resize(pieceFrames_ * stride_);
        readFrames_ = read(reading_.data(), pieceFrames_);
        readAt_ = 0;
        ended_ = readFrames_ < pieceFrames_;
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
    if (writing_.size() >= pieceFrames_ * stride_) Flush(write);
  }

  template <typename WritePiece>
  void Flush(WritePiece&& write) {
    if (!writing_.empty()) write(writing_.data(), writing_.size() / stride_);
    writing_.clear();
  }

 private:
  static constexpr size_t kPieceSamples = 32768;
  size_t stride_;
  size_t pieceFrames_;
  std::vector<float> reading_;
  size_t readFrames_ = 0;
  size_t readAt_ = 0;
  bool ended_ = false;
  std::vector<float> writing_;
};

// Samples no stream can carry: counted per channel, and made what the driver makes of them
// (NaN 0, infinities full scale) before anyone sees them, so that the meters and the channels the
// driver passes through get the same samples the processed pair does.
struct InputRepairs {
  std::vector<int64_t> notANumber;
  std::vector<int64_t> infinite;

  void Clean(float* host, size_t frames, size_t channels, float fullScale) {
    if (notANumber.empty()) {
      notANumber.assign(channels, 0);
      infinite.assign(channels, 0);
    }
    for (size_t i = 0; i < frames * channels; ++i) {
      if (std::isfinite(host[i])) continue;
      const size_t channel = i % channels;
      if (host[i] != host[i]) {
        ++notANumber[channel];
        host[i] = 0.0f;
      } else {
        ++infinite[channel];
        host[i] = std::copysign(fullScale, host[i]);
      }
    }
  }
};

// Where the stream's samples reach the meters, the one place for every hook: the input as read
// (on the first pass) and the output as it is written or would be.
struct PassMeters {
  LoudnessMeter* input = nullptr;
  LoudnessMeter* output = nullptr;
};

struct PassResult {
  StreamResult stream;
  int64_t inputFrames = 0;
  int latency = 0;
  int processingRate = 0;
};

// One file's passes through the driver: the same input, streamed again from its start each time.
class FilePasses {
 public:
  FilePasses(const RenderContext& context, const RenderJob& job, AudioReader* reader, const StreamShape& shape)
      : context_(context), job_(job), reader_(reader), shape_(shape), integerInput_(EncodingOf(reader->Format()).integer) {}

  // The progress counts this many passes over the file (one until told otherwise).
  void ExpectPasses(int passes) {
    const int64_t frames = reader_->Frames();
    if (context_.progress != nullptr && frames > 0 && frames < (int64_t{1} << 48)) {
      context_.progress->AddWork((passes - expectedPasses_) * frames);
    }
    expectedPasses_ = passes;
  }
  bool Started() const { return passes_ > 0; }
  int Done() const { return passes_; }

  // Streams the whole input once through a processor of `manager`, the output scaled by
  // `gainDb` (on every channel), into the meters and, when given, `writer`.
  PassResult Run(ITessilManager* manager, const PassMeters& meters, double gainDb, AudioWriter* writer) {
    ThrowIfInterrupted();
    if (passes_++ > 0) {
      reader_->Rewind();
      if (context_.progress != nullptr) context_.progress->PassStarted();
    }
    if (passes_ > expectedPasses_) ExpectPasses(passes_);
    DriverStream driver(manager, job_.input, shape_, context_.lookaheadActive);
    const auto channels = static_cast<size_t>(shape_.channels);
    const float fullScale = std::ldexp(1.0f, shape_.bits - 1);
    const auto gain = static_cast<float>(std::pow(10.0, gainDb / 20.0));
    FilePieces pieces(shape_.channels);
    std::vector<float> scaled;
    PassResult result;
    InputRepairs& repairs = repairs_;
    const bool firstPass = passes_ == 1;
    const Source source = [&](float* host, size_t frames) {
      const size_t got = pieces.Read(host, frames, [&](float* piece, size_t count) {
        return reader_->ReadHost(piece, count, shape_.bits);
      });
      if (!integerInput_) {
        InputRepairs ignored;
        (firstPass ? repairs : ignored).Clean(host, got, channels, fullScale);
      }
      if (meters.input != nullptr) meters.input->AddHost(host, got, shape_.bits);
      if (context_.progress != nullptr) context_.progress->Advance(static_cast<int64_t>(got));
      result.inputFrames += static_cast<int64_t>(got);
      return got;
    };
    const auto write = [&](const float* piece, size_t count) { writer->WriteHost(piece, count, shape_.bits); };
    const Sink sink = [&](const float* host, size_t frames) {
      if (gainDb != 0.0) {
        scaled.assign(host, host + frames * channels);
        for (float& sample : scaled) sample *= gain;
        host = scaled.data();
      }
      if (meters.output != nullptr) meters.output->AddHost(host, frames, shape_.bits);
      if (writer != nullptr) pieces.Write(host, frames, write);
    };
    result.stream = StreamThroughDriver(&driver, shape_, source, sink);
    if (writer != nullptr) pieces.Flush(write);
    result.latency = driver.LatencyFrames();
    result.processingRate = driver.ProcessingRate();
    return result;
  }

  const InputRepairs& Repairs() const { return repairs_; }

 private:
  const RenderContext& context_;
  const RenderJob& job_;
  AudioReader* reader_;
  StreamShape shape_;
  bool integerInput_;
  int passes_ = 0;
  int expectedPasses_ = 1;
  InputRepairs repairs_;
};

// The settings each trial level runs with. A manager of its own: a core-level change on the
// run's shared one would reach every file.
class TrialManagers {
 public:
  explicit TrialManagers(const RenderContext& context) : context_(context) {}

  ITessilManager* ForLevel(int level) {
    if (level == 0) return context_.manager;
    if (!own_) own_ = CreateConfiguredManager(*context_.commandLine, false);
    PropertyClient(own_.get()).Apply(ParseSetting("core-level=" + std::to_string(level)), false);
    return own_.get();
  }

 private:
  const RenderContext& context_;
  ManagerHandle own_;
};

// The passes a --target search is expected to take, for the progress estimate before it starts.
constexpr int kExpectedTrials = 3;
// Renders of a lossy output beyond the first, when its encoder raised the true peak past the
// ceiling: each lowers the gain by what the encoder added.
constexpr int kEncoderRetries = 2;
// The written output may pass the ceiling by this much (the rounding of a decibel figure).
constexpr double kCeilingSlackDb = 0.005;

void AddInputNotes(const RenderJob& job, const ChannelLayout& layout, const InputRepairs& repairs,
                   FileReport* report) {
  for (size_t c = 0; c < repairs.notANumber.size(); ++c) {
    const int64_t nan = repairs.notANumber[c];
    const int64_t inf = repairs.infinite[c];
    if (nan == 0 && inf == 0) continue;
    std::string what;
    if (nan > 0) what = std::to_string(nan) + " NaN samples (read as 0)";
    if (inf > 0) what += (what.empty() ? "" : " and ") + std::to_string(inf) + " infinite samples (read as full scale)";
    report->warnings.push_back(job.input + ": " + DescribeChannel(layout, static_cast<int>(c)) + " holds " + what +
                               "; the figures and the output use those values");
  }
}

void AddChannelNote(const RenderJob& job, const ChannelLayout& layout, int channels, FileReport* report) {
  if (channels <= 2) return;
  std::string passed;
  for (int c = 2; c < channels; ++c) {
    if (c > 2) passed += ", ";
    passed += layout.Known() ? ChannelName(layout, c) : std::to_string(c + 1);
  }
  const std::string pair = layout.Known() ? ChannelName(layout, 0) + " and " + ChannelName(layout, 1) : "1 and 2";
  report->warnings.push_back(job.input + " has " + std::to_string(channels) + " channels (" + LayoutName(layout) +
                             "): only the first two are processed (" + pair + "); " +
                             (layout.Known() ? "" : "channels ") + passed + " pass through untouched");
}

void AddOutputNotes(const RenderJob& job, const ChannelLayout& layout, const StreamResult& stream, FileReport* report) {
  for (size_t c = 0; c < stream.clipped.size(); ++c) {
    const int64_t count = stream.clipped[c];
    if (count == 0) continue;
    const std::string channel = DescribeChannel(layout, static_cast<int>(c));
    if (c < 2) {
      report->warnings.push_back(job.output + ": " + channel + ": " + std::to_string(count) +
                                 " samples clipped at the output (lower output-gain or core-level, or give --ceiling)");
    } else {
      report->warnings.push_back(job.output + ": " + channel + " (passed through untouched): " + std::to_string(count) +
                                 " samples beyond full scale in the input, clamped");
    }
  }
}

// The channel whose true peak is highest, for saying where an over is.
int LoudestChannel(const LoudnessFigures& figures) {
  const auto& peaks = figures.channelTruePeakDbtp;
  if (peaks.empty()) return 0;
  return static_cast<int>(std::max_element(peaks.begin(), peaks.end()) - peaks.begin());
}

// What the written output holds against what was asked. Empty when every promise holds.
std::string MissedPromise(const RenderOptions& options, const FileReport& report, const ChannelLayout& layout) {
  const LoudnessFigures& after = report.after;
  if (!after.measured) return {};
  const double tolerance = kTargetTolerance + 0.005;
  if (!std::isnan(options.ceilingDbtp) && after.truePeakDbtp > options.ceilingDbtp + kCeilingSlackDb) {
    const int channel = LoudestChannel(after);
    return "the true peak of " + DescribeChannel(layout, channel) + " is " + Decimal(after.truePeakDbtp, 2) +
           " dBTP, above the ceiling of " + Decimal(options.ceilingDbtp, 1) + " dBTP" +
           (report.outputMeasuredFromFile ? " after encoding" : "");
  }
  if (!std::isnan(options.targetLufs) && !(std::fabs(after.integratedLufs - options.targetLufs) <= tolerance)) {
    return "the output's loudness is " + Decimal(after.integratedLufs, 2) + " LUFS, not within " +
           Decimal(kTargetTolerance, 1) + " LU of the target " + Decimal(options.targetLufs, 1) + " LUFS" +
           (report.outputMeasuredFromFile ? " after encoding" : "");
  }
  return {};
}

// A header promises a length; fewer frames may decode from a truncated or damaged file, and none
// at all is a failure. Only a plain-sample file whose header says it is empty is empty.
void CheckLength(const RenderJob& job, const AudioReader& reader, int64_t decoded, FileReport* report) {
  const int64_t declared = reader.Frames();
  // libsndfile gives the largest count for a length it does not know.
  const bool known = declared >= 0 && declared < (int64_t{1} << 48);
  if (decoded == 0 && (declared != 0 || !StoresPlainSamples(reader.Format()))) {
    throw CliError(job.input + ": no audio could be decoded" +
                   (known && declared > 0 ? ", although its header declares " + std::to_string(declared) + " frames" : "") +
                   " (damaged, truncated or empty)");
  }
  if (!known || decoded >= declared) return;
  report->declaredFrames = declared;
  report->warnings.push_back(job.input + ": only " + std::to_string(decoded) + " frames could be decoded of the " +
                             std::to_string(declared) + " its header declares (truncated or damaged)");
}

// Why a loudness figure is missing, where it is.
void AddFigureNotes(const std::string& name, const LoudnessFigures& figures, int64_t frames, int rate,
                    FileReport* report) {
  if (!figures.measured || std::isfinite(figures.integratedLufs)) return;
  const bool brief = static_cast<double>(frames) < 0.4 * rate;
  report->notes.push_back(name + ": no integrated loudness: " +
                             (brief ? "shorter than the 0.4 s of one measuring block"
                                    : "silent (no 0.4 s block above -70 LUFS)"));
}

void DescribeChannels(const ChannelLayout& layout, int channels, FileReport* report) {
  report->layout = LayoutName(layout);
  report->channelNames.clear();
  if (!layout.Known()) return;
  for (int c = 0; c < channels; ++c) report->channelNames.push_back(ChannelName(layout, c));
}

// One file's render in its three steps: plan the level and the host gain (trials when a promise
// needs them), stream the last pass into the output, and describe what was done.
class FileRender {
 public:
  FileRender(const RenderContext& context, const RenderJob& job, AudioReader* reader, const Container& container)
      : options_(context.commandLine->render),
        job_(job),
        reader_(*reader),
        layout_(reader->Layout()),
        channels_(reader->Channels()),
        shape_(Shape(options_, *reader)),
        outputFormat_(ChooseOutputFormat(container, options_.encoding, reader->Format(), job.output)),
        promises_(!std::isnan(options_.targetLufs) || !std::isnan(options_.ceilingDbtp)),
        measureFile_(IsLossyFormat(outputFormat_) && !IsStandardStream(job.output)),
        loudnessRoles_(LoudnessRoles(layout_, channels_)),
        before_(channels_, shape_.rate, options_.report, loudnessRoles_),
        passes_(context, job, reader, shape_),
        managers_(context),
        aimLufs_(options_.targetLufs),
        aimCeilingDbtp_(options_.ceilingDbtp) {
    writer_ = OpenWriter();
    report_.settings = context.settings;
  }

  // Plan: the level and the host gain, from trials when a promise needs them, aimed at the
  // target and the ceiling or, after an encoder moved them, at what makes up for it.
  void Plan() {
    const RunTrial trial = [&](int level) { return Trial(level); };
    if (!std::isnan(options_.targetLufs)) {
      passes_.ExpectPasses(passes_.Done() + kExpectedTrials + 1);
      choice_ = SearchLevel(aimLufs_, aimCeilingDbtp_, trial, job_.input);
      passes_.ExpectPasses(passes_.Done() + 1);
    } else if (!std::isnan(options_.ceilingDbtp)) {
      passes_.ExpectPasses(passes_.Done() + 2);
      choice_ = KeepCeiling(aimCeilingDbtp_, trial);
    }
  }

  // Stream: the last pass into the output, measured as written, lossy output as it decodes. Where
  // the encoder moved a lossy output past a promise (a low bit rate can take decibels of loudness
  // from broadband material), the plan is made again aimed by what the encoder added or took
  // and the file rendered again; a promise still missed after that is a failure.
  void Stream() {
    std::string missed;
    for (int attempt = 0;; ++attempt) {
      LoudnessMeter after(channels_, shape_.rate, options_.report || promises_, loudnessRoles_);
      output_ = Pass(choice_.trial.level, measureFile_ ? nullptr : &after, choice_.hostGainDb, writer_.get());
      AudioWriter::FrameSink readBack;
      if (measureFile_ && (options_.report || promises_)) {
        readBack = [&](const float* frames, size_t count) { after.AddHost(frames, count, 1); };
      }
      written_ = writer_->Finish(readBack);
      report_.after = after.Figures();
      report_.outputMeasuredFromFile = measureFile_;
      missed = promises_ ? MissedPromise(options_, report_, layout_) : std::string();
      if (missed.empty() || !measureFile_ || attempt == kEncoderRetries) break;
      AimPastTheEncoder(report_.after);
      writer_ = OpenWriter();
    }
    if (!missed.empty()) throw CliError(job_.output + ": cannot keep the promise: " + missed + "; nothing written");
    writer_->Publish();
  }

  // Measure: what the report says.
  FileReport Describe(Clock::time_point wallStart) {
    FileReport& report = report_;
    report.input = job_.input;
    report.output = job_.output;
    report.inputFormat = FormatName(reader_.Format());
    report.outputFormat = FormatName(written_.format);
    report.sampleRate = shape_.rate;
    report.processingRate = output_.processingRate;
    report.channels = channels_;
    report.processedChannels = std::min(channels_, 2);
    DescribeChannels(layout_, channels_, &report);
    report.hostBits = shape_.bits;
    report.bufferFrames = options_.bufferFrames;
    report.frames = output_.stream.frames;
    report.aligned = options_.align;
    report.latencyFrames = options_.align ? output_.latency : 0;
    report.processSeconds = Seconds(output_.stream.processing);
    for (const int64_t count : output_.stream.clipped) report.clippedSamples += count;
    report.before = before_.Figures();
    if (!std::isnan(options_.targetLufs)) {
      report.targetUsed = true;
      report.targetLufs = options_.targetLufs;
      report.targetCoreLevel = choice_.trial.level;
      report.settings.push_back("core-level=" + std::to_string(choice_.trial.level) + " (found for --target)");
    }
    report.targetIterations = trialPasses_;
    report.ceilingUsed = !std::isnan(options_.ceilingDbtp);
    report.ceilingDbtp = options_.ceilingDbtp;
    report.hostGainDb = choice_.hostGainDb;
    report.wallSeconds = Seconds(Clock::now() - wallStart);

    AddChannelNote(job_, layout_, channels_, &report);
    AddInputNotes(job_, layout_, passes_.Repairs(), &report);
    AddFigureNotes(job_.input, report.before, report.frames, shape_.rate, &report);
    AddFigureNotes(job_.output, report.after, report.frames, shape_.rate, &report);
    AddOutputNotes(job_, layout_, output_.stream, &report);
    if (!writer_->LayoutLoss().empty()) report.warnings.push_back(job_.output + ": " + writer_->LayoutLoss());
    if (report.after.measured && report.after.truePeakDbtp > 0.0) {
      report.warnings.push_back(job_.output + ": true peak " + Decimal(report.after.truePeakDbtp, 2) + " dBTP in " +
                                DescribeChannel(layout_, LoudestChannel(report.after)) + " is above 0 dBTP" +
                                (measureFile_ ? " after encoding" : ""));
    }
    return report;
  }

 private:
  static StreamShape Shape(const RenderOptions& options, const AudioReader& reader) {
    StreamShape shape{};
    shape.rate = reader.SampleRate();
    shape.bits = options.bits != 0 ? options.bits : DefaultHostBits(reader.Format());
    shape.channels = reader.Channels();
    shape.bufferFrames = static_cast<size_t>(options.bufferFrames);
    shape.align = options.align;
    return shape;
  }

  std::unique_ptr<AudioWriter> OpenWriter() {
    WriteOptions writeOptions;
    writeOptions.overwrite = options_.overwrite;
    writeOptions.quality = options_.quality;
    writeOptions.expectedFrames = reader_.Frames();
    writeOptions.layout = layout_;
    auto writer = std::make_unique<AudioWriter>(job_.output, outputFormat_, shape_.rate, channels_, writeOptions);
    writer->CopyMetadata(reader_);
    return writer;
  }

  // One trial: the output at `level` measured, nothing written. The same level always gives the
  // same output, so a second plan reuses what the first one measured.
  TrialFigures Trial(int level) {
    if (const auto known = trials_.find(level); known != trials_.end()) return known->second;
    LoudnessMeter measured(channels_, shape_.rate, true, loudnessRoles_);
    Pass(level, &measured, 0.0, nullptr);
    ++trialPasses_;
    const LoudnessFigures figures = measured.Figures();
    return trials_[level] = TrialFigures{level, figures.integratedLufs, figures.truePeakDbtp};
  }

  void AimPastTheEncoder(const LoudnessFigures& decoded) {
    if (!std::isnan(options_.ceilingDbtp) && decoded.truePeakDbtp > options_.ceilingDbtp) {
      aimCeilingDbtp_ -= decoded.truePeakDbtp - options_.ceilingDbtp + 0.05;
    }
    if (!std::isnan(options_.targetLufs) && std::fabs(decoded.integratedLufs - options_.targetLufs) > kTargetTolerance) {
      aimLufs_ += options_.targetLufs - decoded.integratedLufs;
    }
    try {
      Plan();
    } catch (const CliError& error) {
      throw CliError(job_.output + ": cannot keep the promise after encoding: the encoder moves the loudness by " +
                     Decimal(options_.targetLufs - aimLufs_, 2) + " LU and the true peak; " + error.what());
    }
  }

  // A pass at `level` (0: the run's own settings). The first pass, whichever it is, also measures
  // the input and finds out how much of it decodes.
  PassResult Pass(int level, LoudnessMeter* output, double gainDb, AudioWriter* writer) {
    const bool first = !passes_.Started();
    PassResult pass = passes_.Run(managers_.ForLevel(level), {first ? &before_ : nullptr, output}, gainDb, writer);
    if (first) CheckLength(job_, reader_, pass.inputFrames, &report_);
    return pass;
  }

  const RenderOptions& options_;
  const RenderJob& job_;
  AudioReader& reader_;
  const ChannelLayout& layout_;
  int channels_;
  StreamShape shape_;
  int outputFormat_;
  bool promises_;
  bool measureFile_;
  std::vector<host::ChannelRole> loudnessRoles_;
  LoudnessMeter before_;
  FilePasses passes_;
  TrialManagers managers_;
  std::unique_ptr<AudioWriter> writer_;
  LevelChoice choice_;
  double aimLufs_;
  double aimCeilingDbtp_;
  std::map<int, TrialFigures> trials_;
  int trialPasses_ = 0;
  PassResult output_;
  WrittenFile written_;
  FileReport report_;
};

}  // namespace

FileReport RenderFile(const RenderContext& context, const RenderJob& job) {
  const RenderOptions& options = context.commandLine->render;
  const Clock::time_point wallStart = Clock::now();
  // Everything about OUT that can fail does so before IN is opened (which may wait on a FIFO).
  AudioWriter::CheckDestination(job.output, options.overwrite);
  const Container& container = ContainerForOutput(job.output, options.type);
  AudioReader reader(job.input);
  if (context.progress != nullptr) context.progress->AddFile(reader.Frames());
  if (reader.Channels() > 0xFFFF) throw CliError(job.input + ": too many channels for a stream");
  FileRender render(context, job, &reader, container);
  render.Plan();
  render.Stream();
  return render.Describe(wallStart);
}

FileReport AnalyseFile(const std::string& path, Progress* progress) {
  const Clock::time_point wallStart = Clock::now();
  AudioReader reader(path);
  if (progress != nullptr) progress->AddFile(reader.Frames());
  const int bits = DefaultHostBits(reader.Format());
  const int channels = reader.Channels();
  const ChannelLayout& layout = reader.Layout();
  LoudnessMeter meter(channels, reader.SampleRate(), true, LoudnessRoles(layout, channels));
  const size_t chunk = std::max<size_t>(256, 131072 / static_cast<size_t>(channels));
  std::vector<float> buffer(chunk * static_cast<size_t>(channels));
  InputRepairs repairs;
  const bool integer = EncodingOf(reader.Format()).integer;
  int64_t frames = 0;
  for (;;) {
    ThrowIfInterrupted();
    const size_t got = reader.ReadHost(buffer.data(), chunk, bits);
    if (!integer) repairs.Clean(buffer.data(), got, static_cast<size_t>(channels), std::ldexp(1.0f, bits - 1));
    meter.AddHost(buffer.data(), got, bits);
    frames += static_cast<int64_t>(got);
    if (progress != nullptr) progress->Advance(static_cast<int64_t>(got));
    if (got < chunk) break;
  }
  FileReport report;
  report.analysisOnly = true;
  report.input = path;
  report.inputFormat = FormatName(reader.Format());
  report.sampleRate = reader.SampleRate();
  report.channels = channels;
  DescribeChannels(layout, channels, &report);
  report.hostBits = bits;
  report.frames = frames;
  const RenderJob job{path, std::string()};
  CheckLength(job, reader, frames, &report);
  AddInputNotes(job, layout, repairs, &report);
  report.before = meter.Figures();
  AddFigureNotes(path, report.before, frames, report.sampleRate, &report);
  report.wallSeconds = Seconds(Clock::now() - wallStart);
  return report;
}

}  // namespace tessil::cli
