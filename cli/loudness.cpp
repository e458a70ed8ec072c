#include "cli/loudness.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace tessil::cli {

namespace {

// Audio reaches the thread in chunks of about a third of a second of 48 kHz stereo: large enough
// that handing them over costs next to nothing, small enough to keep the thread busy alongside
// the stream. About 20 s of 48 kHz stereo (8 MiB, 10 MiB at most) wait in the queue, so memory
// stays bounded; up to there a meter thread that lost its core for a while can fall behind and
// catch up. Files with more channels get shorter chunks, so the bound holds in bytes.
constexpr size_t kChunkSamples = 16384 * 2;
constexpr size_t kMaximumQueuedSamples = 64 * kChunkSamples;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

}  // namespace

LoudnessMeter::LoudnessMeter(int channels, int sampleRate, bool enabled, std::vector<host::ChannelRole> roles)
    : channels_(channels),
      sampleRate_(sampleRate),
      chunkFrames_(std::max<size_t>(256, kChunkSamples / static_cast<size_t>(std::max(channels, 1)))) {
  if (!enabled || channels <= 0) return;
  if (roles.empty()) roles = host::DefaultChannelRoles(channels);
  if (roles.size() != static_cast<size_t>(channels)) {
    throw std::invalid_argument("loudness meter: " + std::to_string(roles.size()) + " channel roles for " +
                                std::to_string(channels) + " channels");
  }
  try {
    loudness_ = std::make_unique<host::ProgrammeLoudness>(sampleRate, std::move(roles));
  } catch (const std::invalid_argument&) {
    return;  // a rate the meter cannot measure: the figures say so
  }
  peaks_ = std::make_unique<host::TruePeakMeter>(channels, sampleRate);
  // Room for every chunk that can be in flight, so that the meter's thread never allocates: out
  // of memory there could not be reported.
  spare_.reserve(std::max<size_t>(2, kMaximumQueuedSamples / (chunkFrames_ * static_cast<size_t>(channels_))) + 4);
  thread_ = std::thread([this] { Run(); });
}

LoudnessMeter::~LoudnessMeter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void LoudnessMeter::AddHost(const float* host, size_t frames, int hostBits) {
  if (!loudness_ || frames == 0) return;
  // Scaling by a power of two is exact, so it is done while copying: one pass over the samples.
  const float scale = std::ldexp(1.0f, 1 - hostBits);
  const size_t channels = static_cast<size_t>(channels_);
  while (frames > 0) {
    const size_t count = std::min(frames, chunkFrames_ - filling_.frames);
    const size_t start = filling_.frames * channels;
    const size_t samples = count * channels;
    if (!filling_.samples) filling_.samples.reset(new float[chunkFrames_ * channels]);
    float* to = filling_.samples.get() + start;
    for (size_t i = 0; i < samples; ++i) to[i] = host[i] * scale;
    filling_.frames += count;
    host += samples;
    frames -= count;
    if (filling_.frames == chunkFrames_) HandOver();
  }
}

void LoudnessMeter::HandOver() {
  if (filling_.frames == 0) return;
  std::unique_lock<std::mutex> lock(mutex_);
  queue_.push_back(std::move(filling_));
  filling_ = Chunk{};
  if (!spare_.empty()) {
    filling_ = std::move(spare_.back());
    spare_.pop_back();
  }
  filling_.frames = 0;
  changed_.notify_all();
  // A meter thread that cannot keep up (a machine busy with other work) is not waited for: the
  // stream measures the oldest chunks itself until the queue is back within its bound. While
  // the thread is inside a chunk (and may have lost its core there), a few more chunks may
  // queue before the stream waits for it.
  const size_t most = std::max<size_t>(2, kMaximumQueuedSamples / (chunkFrames_ * static_cast<size_t>(channels_)));
  while (queue_.size() > most && !(busy_ && queue_.size() <= most + most / 4)) MeasureHere(lock);
}

void LoudnessMeter::MeasureHere(std::unique_lock<std::mutex>& lock) {
  if (busy_) {
    // The meter thread is inside a chunk, a few milliseconds of work: the only wait there is.
    const Clock::time_point start = Clock::now();
    changed_.wait(lock, [this] { return !busy_; });
    waitSeconds_ += Seconds(Clock::now() - start);
    return;
  }
  Chunk chunk = std::move(queue_.front());
  queue_.pop_front();
  busy_ = true;
  lock.unlock();
  Measure(chunk);
  lock.lock();
  busy_ = false;
  spare_.push_back(std::move(chunk));
  changed_.notify_all();
}

void LoudnessMeter::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || (!queue_.empty() && !busy_); });
    if (stopping_) return;  // nobody will ask for the figures
    // One chunk at a time, in order, by whichever thread gets to it first.
    Chunk chunk = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    Measure(chunk);
    lock.lock();
    busy_ = false;
    spare_.push_back(std::move(chunk));
    changed_.notify_all();
  }
}

// The chunk in pieces that end where the meter's steps end, so that each step's figures join
// the series.
void LoudnessMeter::Measure(const Chunk& chunk) {
  const host::LoudnessMeter& meter = loudness_->Meter();
  const float* samples = chunk.samples.get();
  size_t left = chunk.frames;
  while (left > 0) {
    const size_t count = std::min(left, meter.FramesToNextStep());
    loudness_->AddInterleaved(samples, count);
    peaks_->AddInterleaved(samples, count);
    stepPeak_ = std::max(stepPeak_, peaks_->BlockTruePeak());
    samples += count * static_cast<size_t>(channels_);
    left -= count;
    if (meter.FramesToNextStep() == meter.StepFrames()) {
      series_.AddStep(meter.MomentaryLufs(), meter.ShortTermLufs(), stepPeak_);
      stepPeak_ = 0.0;
    }
  }
}

LoudnessFigures LoudnessMeter::Figures() {
  LoudnessFigures figures;
  if (!loudness_) return figures;
  HandOver();
  {
    // What the thread has not measured yet is measured here.
    std::unique_lock<std::mutex> lock(mutex_);
    while (!queue_.empty() || busy_) MeasureHere(lock);
  }
  figures.measured = true;
  figures.integratedLufs = loudness_->IntegratedLufs();
  figures.rangeLu = loudness_->RangeLu();
  figures.samplePeakDbfs = host::PeakDecibels(peaks_->SamplePeak());
  figures.truePeakDbtp = host::PeakDecibels(peaks_->TruePeak());
  for (int c = 0; c < channels_; ++c) figures.channelTruePeakDbtp.push_back(host::PeakDecibels(peaks_->ChannelTruePeak(c)));
  figures.series = series_.Series(static_cast<double>(loudness_->Meter().StepFrames()) / sampleRate_);
  figures.waitSeconds = waitSeconds_;
  return figures;
}

void SeriesRecorder::AddStep(double momentaryLufs, double shortTermLufs, double truePeak) {
  pendingPeak_ = std::max(pendingPeak_, truePeak);
  if (++pendingSteps_ < stepsPerPoint_) return;
  series_.momentary.push_back(static_cast<float>(momentaryLufs));
  series_.shortTerm.push_back(static_cast<float>(shortTermLufs));
  series_.truePeak.push_back(static_cast<float>(host::PeakDecibels(pendingPeak_)));
  pendingSteps_ = 0;
  pendingPeak_ = 0.0;
  if (series_.shortTerm.size() < LoudnessSeries::kMaximumPoints) return;
  // Point i ends at step (i + 1) * n; the odd points end at whole multiples of 2n, and the peaks
  // of each pair combine.
  const size_t kept = series_.shortTerm.size() / 2;
  for (size_t j = 0; j < kept; ++j) {
    series_.momentary[j] = series_.momentary[2 * j + 1];
    series_.shortTerm[j] = series_.shortTerm[2 * j + 1];
    series_.truePeak[j] = std::max(series_.truePeak[2 * j], series_.truePeak[2 * j + 1]);
  }
  series_.momentary.resize(kept);
  series_.shortTerm.resize(kept);
  series_.truePeak.resize(kept);
  stepsPerPoint_ *= 2;
}

LoudnessSeries SeriesRecorder::Series(double stepSeconds) const {
  LoudnessSeries series = series_;
  series.hopSeconds = stepSeconds * static_cast<double>(stepsPerPoint_);
  return series;
}

}  // namespace tessil::cli
