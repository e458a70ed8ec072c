// True peak of a signal: the largest magnitude of its oversampled reconstruction (ITU-R BS.1770
// Annex 2), through a polyphase windowed-sinc interpolator run several samples at a time.
//
// The interpolator is the 49-tap Hann-windowed sinc that libebur128 uses, oversampling four
// times below 96 kHz, twice below 192 kHz and not at all above; its phase 0 is the sample itself,
// so the true peak is never below the sample peak.
#pragma once

#include <cstddef>
#include <vector>

namespace tessil::cli {

class TruePeakMeter {
 public:
  TruePeakMeter(int channels, int sampleRate);

  // Interleaved samples at nominal full scale 1.0.
  void Add(const float* interleaved, size_t frames);

  // Largest linear magnitudes so far over all channels.
  double SamplePeak() const { return samplePeak_; }
  double TruePeak() const { return truePeak_; }
  // The largest linear true peak of one channel.
  double ChannelTruePeak(int channel) const { return channelTruePeaks_[static_cast<size_t>(channel)]; }

  // Interpolating phases per input sample (the sample itself included): 4, 2 or 1.
  int Factor() const { return factor_; }

 private:
  int channels_;
  int factor_;
  int phaseTaps_ = 0;               // taps per phase
  std::vector<float> coefficients_;  // [phase 1..factor-1][tap], taps newest sample first
  std::vector<std::vector<float>> lines_;  // per channel: phaseTaps_ - 1 earlier samples, then new
  double samplePeak_ = 0.0;
  double truePeak_ = 0.0;
  std::vector<double> channelTruePeaks_;
};

}  // namespace tessil::cli
