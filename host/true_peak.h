// True peak of a signal: the largest magnitude of its oversampled reconstruction (ITU-R BS.1770
// Annex 2), through a polyphase windowed-sinc interpolator run several samples at a time.
//
// The interpolator is the 49-tap Hann-windowed sinc that libebur128 uses, oversampling four
// times below 96 kHz, twice below 192 kHz and not at all above; its phase 0 is the sample itself,
// so the true peak is never below the sample peak.
//
// A plugin meters each run() call and reads the highest true peak of about the last second:
//
//   host::TruePeakMeter peaks(2, rate);       // construction allocates
//   host::RecentPeak recent(rate);
//   ...                                       // in run(), nothing below allocates
//   peaks.Add(outputs, frames);               // planar: outputs[c][i]
//   recent.Add(peaks.BlockTruePeak(), frames);
//   *port = host::PeakDecibels(recent.Highest());
#pragma once

#include <cstddef>
#include <vector>

namespace tessil::host {

class TruePeakMeter {
 public:
  // Everything the meter needs is allocated here; Add never allocates, locks or blocks.
  TruePeakMeter(int channels, int sampleRate);

  // `frames` frames at nominal full scale 1.0: channel c of frame i at planar[c][i], or at
  // interleaved[i * channels + c].
  void Add(const float* const* planar, size_t frames);
  void AddInterleaved(const float* interleaved, size_t frames);

  // Largest linear magnitudes over all channels since construction or Reset().
  double SamplePeak() const { return samplePeak_; }
  double TruePeak() const { return truePeak_; }
  double ChannelTruePeak(int channel) const { return channelTruePeaks_[static_cast<size_t>(channel)]; }
  // The true peak of the frames given to the last Add call alone (0 before the first).
  double BlockTruePeak() const { return blockTruePeak_; }

  // Forgets the peaks and the interpolator's history, as a new meter.
  void Reset();

  int Channels() const { return channels_; }
  // Interpolating phases per input sample (the sample itself included): 4, 2 or 1.
  int Factor() const { return factor_; }

 private:
  template <typename Source>
  void AddFrom(const Source& source, size_t frames);

  int channels_;
  int factor_;
  int phaseTaps_ = 0;                // taps per phase
  size_t history_ = 0;               // earlier samples each channel's line keeps: phaseTaps_ - 1
  std::vector<float> coefficients_;  // [phase 1..factor-1][tap], taps newest sample first
  std::vector<float> lines_;         // per channel: history_ earlier samples, then a piece
  std::vector<double> channelTruePeaks_;
  double samplePeak_ = 0.0;
  double truePeak_ = 0.0;
  double blockTruePeak_ = 0.0;
};

// The highest of the peaks of about the last `seconds`: block peaks are gathered into ten slices
// of a tenth of the window each, so the answer covers between nine and ten slices and the
// current one, and costs ten comparisons. Real-time safe after construction.
class RecentPeak {
 public:
  explicit RecentPeak(int sampleRate, double seconds = 1.0);

  // The peak (linear) of the next `frames` frames.
  void Add(double peak, size_t frames);
  double Highest() const;
  void Reset();

 private:
  static constexpr int kSlices = 10;
  size_t sliceFrames_;
  double slices_[kSlices] = {};
  int newest_ = 0;
  double current_ = 0.0;
  size_t currentFrames_ = 0;
};

// 20 log10 of a linear peak; -inf for 0.
double PeakDecibels(double linear);

}  // namespace tessil::host
