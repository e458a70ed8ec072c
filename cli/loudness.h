// Loudness and peak figures of a signal, measured with libebur128 (ITU-R BS.1770 / EBU R 128).
#pragma once

#include <ebur128.h>

#include <cstddef>
#include <vector>

namespace tessil::cli {

struct LoudnessFigures {
  bool measured = false;  // false when the meter cannot run at the file's rate
  double integratedLufs = 0.0;   // -inf when no block passed the gates (silence, under 0.4 s)
  double rangeLu = 0.0;
  double samplePeakDbfs = 0.0;   // over all channels; -inf for silence
  double truePeakDbtp = 0.0;
};

class LoudnessMeter {
 public:
  LoudnessMeter(int channels, int sampleRate);
  ~LoudnessMeter();
  LoudnessMeter(const LoudnessMeter&) = delete;
  LoudnessMeter& operator=(const LoudnessMeter&) = delete;

  // Host samples of a `hostBits` stream, measured at nominal full scale 1.0.
  void AddHost(const float* host, size_t frames, int hostBits);
  LoudnessFigures Figures() const;

 private:
  ebur128_state* state_ = nullptr;
  int channels_;
  std::vector<float> nominal_;
};

}  // namespace tessil::cli
