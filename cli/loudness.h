// Loudness and peak figures of a signal: integrated loudness and loudness range with libebur128
// (ITU-R BS.1770 / EBU R 128), sample and true peak with the interpolator in host/true_peak.h. Each
// meter measures on a thread of its own while the stream runs.
#pragma once

#include <ebur128.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "host/true_peak.h"

namespace tessil::cli {

struct LoudnessFigures {
  bool measured = false;  // false when the meter cannot run at the file's rate
  double integratedLufs = 0.0;   // -inf when no block passed the gates (silence, under 0.4 s)
  double rangeLu = 0.0;
  double samplePeakDbfs = 0.0;   // over all channels; -inf for silence
  double truePeakDbtp = 0.0;
  std::vector<double> channelTruePeakDbtp;  // per channel
};

class LoudnessMeter {
 public:
  // A meter that is not `enabled` measures nothing and reports itself unmeasured.
  // `loudnessChannels`: libebur128's channel for each channel (its weights, the LFE unused);
  // empty: libebur128's default order.
  LoudnessMeter(int channels, int sampleRate, bool enabled = true, const std::vector<int>& loudnessChannels = {});
  ~LoudnessMeter();
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;

  // Host samples of a `hostBits` stream, measured at nominal full scale 1.0. The samples are
  // copied and measured on the meter's thread in chunks; call from one thread only.
  void AddHost(const float* host, size_t frames, int hostBits);
  // Waits until everything added has been measured.
  LoudnessFigures Figures();

 private:
  struct Chunk {
    std::vector<float> samples;  // room for a whole chunk; the first `frames` are filled
    size_t frames = 0;
  };
  void HandOver();  // queues the chunk being filled
  void Run();
  void Measure(Chunk& chunk);

  ebur128_state* state_ = nullptr;
  int channels_;
  size_t chunkFrames_;  // fewer for more channels: a chunk's bytes stay the same
  host::TruePeakMeter peaks_;

  Chunk filling_;  // added on the caller's thread, not yet handed over

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> queue_;     // added, not yet measured
  std::vector<Chunk> spare_;    // measured, kept for reuse
  bool busy_ = false;           // the thread holds a chunk
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tessil::cli
