// Loudness and peak figures of a signal, measured on a thread of its own while the stream runs:
// integrated loudness, loudness range and loudness over time with the host layer's meter
// (ITU-R BS.1770 / EBU R 128, held to libebur128 by its tests), sample and true peak with its
// interpolator. The stream hands the samples over in chunks and goes on; should the meter's
// thread fall a bounded amount behind, the stream measures the oldest chunks itself, so it only
// ever waits for a chunk the thread is in the middle of.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "host/loudness_meter.h"
#include "host/programme_loudness.h"
#include "host/true_peak.h"

namespace tessil::cli {

// Loudness over time, one value per hop: value i belongs to the window that ends at
// (i + 1) * hopSeconds. The hop is 100 ms (rounded to whole frames) and doubles whenever the
// series would pass kMaximumPoints, keeping every other value, so a file of any length keeps a
// few hundred kilobytes: ten hours at 1.6 s a point.
struct LoudnessSeries {
  static constexpr size_t kMaximumPoints = 32768;
  double hopSeconds = 0.0;
  std::vector<float> momentary;  // LUFS of the 400 ms ending there; -inf for silence
  std::vector<float> shortTerm;  // LUFS of the 3 s ending there
  std::vector<float> truePeak;   // dBTP: the highest true peak within the hop
};

// Builds a LoudnessSeries from the meter's 100 ms steps, halving itself as it says.
class SeriesRecorder {
 public:
  // One completed step: its momentary and short-term loudness, and its true peak (linear).
  void AddStep(double momentaryLufs, double shortTermLufs, double truePeak);
  LoudnessSeries Series(double stepSeconds) const;

 private:
  size_t stepsPerPoint_ = 1;
  size_t pendingSteps_ = 0;
  double pendingPeak_ = 0.0;
  LoudnessSeries series_;
};

struct LoudnessFigures {
  bool measured = false;  // false when the meter cannot run at the file's rate
  double integratedLufs = 0.0;   // -inf when no block passed the gates (silence, under 0.4 s)
  double rangeLu = 0.0;
  double samplePeakDbfs = 0.0;   // over all channels; -inf for silence
  double truePeakDbtp = 0.0;
  std::vector<double> channelTruePeakDbtp;  // per channel
  LoudnessSeries series;
  double waitSeconds = 0.0;  // how long the caller waited for the meter's thread to finish a chunk
};

class LoudnessMeter {
 public:
  // A meter that is not `enabled` measures nothing and reports itself unmeasured. `roles`: where
  // each channel plays, for its loudness weight; empty: the usual order of the channel count
  // (host::DefaultChannelRoles).
  LoudnessMeter(int channels, int sampleRate, bool enabled = true, std::vector<host::ChannelRole> roles = {});
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
    // Room for a whole chunk, left uninitialised: every sample measured was written first.
    std::unique_ptr<float[]> samples;

    size_t frames = 0;
  };
  void HandOver();  // queues the chunk being filled
  // Measures the oldest queued chunk on the calling thread, or waits while the meter thread is
  // inside one; `lock` holds mutex_ on entry and on return.
  void MeasureHere(std::unique_lock<std::mutex>& lock);
  void Run();
  void Measure(const Chunk& chunk);

  int channels_;
  int sampleRate_;
  size_t chunkFrames_;  // fewer for more channels: a chunk's bytes stay the same
  std::unique_ptr<host::ProgrammeLoudness> loudness_;  // null when not measuring
  std::unique_ptr<host::TruePeakMeter> peaks_;
  SeriesRecorder series_;
  double stepPeak_ = 0.0;   // true peak of the step in progress
  double waitSeconds_ = 0.0;

  Chunk filling_;  // added on the caller's thread, not yet handed over

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Chunk> queue_;     // added, not yet measured
  std::vector<Chunk> spare_;    // measured, kept for reuse
  bool busy_ = false;           // a chunk is being measured (by either thread)
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tessil::cli
