#include "cli/loudness.h"

#include <ebur128.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tessil::cli {

namespace {

// Audio reaches the thread in chunks of about a third of a second: large enough that handing
// them over costs next to nothing, small enough to keep the thread busy alongside the stream. A
// producer that runs more than about 20 s of 48 kHz stereo ahead (8 MiB) waits, so memory stays
// bounded; up to there a meter that yields to the stream can fall behind and catch up. Files with
// more channels get fewer chunks, so that the bound holds in bytes whatever the channel count.
constexpr size_t kChunkSamples = 16384 * 2;
constexpr size_t kMaximumQueuedSamples = 64 * kChunkSamples;
constexpr int kMeterNice = 10;

double Decibels(double linear) {
  return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

}  // namespace

LoudnessMeter::LoudnessMeter(int channels, int sampleRate, bool enabled, const std::vector<int>& loudnessChannels)
    : channels_(channels),
      chunkFrames_(std::max<size_t>(256, kChunkSamples / static_cast<size_t>(std::max(channels, 1)))),
      peaks_(enabled ? channels : 0, sampleRate) {
  if (!enabled) return;
  state_ = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(sampleRate),
                        EBUR128_MODE_I | EBUR128_MODE_LRA);
  for (size_t c = 0; state_ != nullptr && c < loudnessChannels.size(); ++c) {
    ebur128_set_channel(state_, static_cast<unsigned>(c), loudnessChannels[c]);
  }
  if (state_ == nullptr) return;
  // Room for every chunk that can be in flight, so that the meter's thread never allocates: out
  // of memory there could not be reported.
  spare_.reserve(std::max<size_t>(2, kMaximumQueuedSamples / (chunkFrames_ * static_cast<size_t>(channels_))) + 2);
  thread_ = std::thread([this] { Run(); });
}

LoudnessMeter::~LoudnessMeter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
  if (state_ != nullptr) ebur128_destroy(&state_);
}

void LoudnessMeter::AddHost(const float* host, size_t frames, int hostBits) {
  if (state_ == nullptr || frames == 0) return;
  // Scaling by a power of two is exact, so it is done while copying: one pass over the samples.
  const float scale = std::ldexp(1.0f, 1 - hostBits);
  const size_t channels = static_cast<size_t>(channels_);
  while (frames > 0) {
    const size_t count = std::min(frames, chunkFrames_ - filling_.frames);
    const size_t start = filling_.frames * channels;
    const size_t samples = count * channels;
    if (filling_.samples.size() < chunkFrames_ * channels) filling_.samples.resize(chunkFrames_ * channels);
    float* to = filling_.samples.data() + start;
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
  const size_t most = std::max<size_t>(2, kMaximumQueuedSamples / (chunkFrames_ * static_cast<size_t>(channels_)));
  changed_.wait(lock, [&] { return queue_.size() < most; });
  queue_.push_back(std::move(filling_));
  filling_ = Chunk{};
  if (!spare_.empty()) {
    filling_ = std::move(spare_.back());
    spare_.pop_back();
  }
  filling_.frames = 0;
  lock.unlock();
  changed_.notify_all();
}

void LoudnessMeter::Run() {
  // Measuring yields to the stream: on a machine with fewer cores than threads, a stream slowed by
  // its meters would starve them in turn and leave a core idle. A meter that falls behind catches
  // up once the stream is done or waits for it.
  ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kMeterNice);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;  // stopping, with nothing left
    Chunk chunk = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    lock.unlock();
    changed_.notify_all();
    Measure(chunk);
    lock.lock();
    busy_ = false;
    spare_.push_back(std::move(chunk));
    changed_.notify_all();
  }
}

void LoudnessMeter::Measure(Chunk& chunk) {
  ebur128_add_frames_float(state_, chunk.samples.data(), chunk.frames);
  peaks_.AddInterleaved(chunk.samples.data(), chunk.frames);
}

LoudnessFigures LoudnessMeter::Figures() {
  LoudnessFigures figures;
  if (state_ == nullptr) return figures;
  HandOver();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
  }
  figures.measured = true;
  double value = 0.0;
  figures.integratedLufs = ebur128_loudness_global(state_, &value) == EBUR128_SUCCESS
                               ? value
                               : -std::numeric_limits<double>::infinity();
  figures.rangeLu = ebur128_loudness_range(state_, &value) == EBUR128_SUCCESS ? value : 0.0;
  figures.samplePeakDbfs = Decibels(peaks_.SamplePeak());
  figures.truePeakDbtp = Decibels(peaks_.TruePeak());
  for (int c = 0; c < channels_; ++c) figures.channelTruePeakDbtp.push_back(Decibels(peaks_.ChannelTruePeak(c)));
  return figures;
}

}  // namespace tessil::cli
