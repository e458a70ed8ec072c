// Loudness as ITU-R BS.1770 defines it: each channel K-weighted (a high shelf then a high-pass),
// its mean square weighted by the channel's place and summed; L = -0.691 + 10 log10(sum), in
// LUFS. The meter works in steps of 100 ms (rounded to whole frames as libebur128 rounds them)
// and keeps one energy per step, so momentary (400 ms) and short-term (3 s) loudness are sums
// of 4 and 30 step energies: no window of samples is kept or summed again.
//
// A plugin meters each run() call and reads the figures between calls:
//
//   host::LoudnessMeter meter(rate, host::DefaultChannelRoles(2));  // construction allocates
//   ...                                                              // in run():
//   meter.Add(inputs, frames);                                       // planar: inputs[c][i]
//   *port = static_cast<float>(std::max(meter.ShortTermLufs(), -70.0));
//
// Add and every reading are real-time safe: no allocation, no lock, no system call. Figures
// change once per completed step; before the first 400 ms (3 s) the missing audio counts as
// silence, as in libebur128. A NaN or an infinity in the input makes the windows that hold its
// step NaN or infinite; the meter starts afresh with the next step. Integrated loudness and loudness range are built on top of this
// meter in host/programme_loudness.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessil::host {

// Where a channel plays, as far as its loudness weight goes.
enum class ChannelRole : uint8_t {
  Front,         // left, right, centre and any other front or height channel: weight 1.0
  Surround,      // side and rear channels: 1.41
  LowFrequency,  // left out of the measurement, like any channel without a role
  Unused,
  DualMono,      // one channel standing for the same signal on left and right: 2.0
};

double LoudnessWeight(ChannelRole role);

// The usual order of each channel count (WAVE / SMPTE): mono; L R; L R C; L R Ls Rs; L R C Ls Rs;
// L R C LFE Ls Rs; L R C LFE Cs Ls Rs; L R C LFE Lb Rb Ls Rs. Up to six channels this is also
// libebur128's default map. Channels past the eighth count as front channels.
std::vector<ChannelRole> DefaultChannelRoles(int channels);

// The K-weighting filter at one rate as a single fourth-order recursion (the shelf and the
// high-pass multiplied out):  v[n] = x[n] - a1 v[n-1] - ... - a4 v[n-4],
// y[n] = b0 v[n] + ... + b4 v[n-4]. The feedback coefficients are stored as they appear in the
// denominator, not negated.
struct KWeighting {
  double b[5];
  double a[5];  // a[0] is 1
};
KWeighting DesignKWeighting(int sampleRate);

// -0.691 + 10 log10(energy): loudness in LUFS of a weighted mean square; -inf for 0.
double LoudnessFromEnergy(double energy);

class LoudnessMeter {
 public:
  // One role per channel. Throws std::invalid_argument for a rate below 16 Hz or no channels.
  LoudnessMeter(int sampleRate, std::vector<ChannelRole> roles);

  // `frames` frames at nominal full scale 1.0: channel c of frame i at planar[c][i], or at
  // interleaved[i * Channels() + c].
  void Add(const float* const* planar, size_t frames);
  void AddInterleaved(const float* interleaved, size_t frames);
  // first.Add(firstPlanar, frames) and second.Add(secondPlanar, frames) to the bit, in about the
  // time of one where both meters are at the same rate and point of their step and measure four
  // channels between them (a plugin's input and output): their filters share the wait.
  static void AddSideBySide(LoudnessMeter& first, const float* const* firstPlanar, LoudnessMeter& second,
                            const float* const* secondPlanar, size_t frames);

  // Of the 400 ms and the 3 s ending with the last completed step; -inf for silence.
  double MomentaryLufs() const { return LoudnessFromEnergy(MomentaryEnergy()); }
  double ShortTermLufs() const { return LoudnessFromEnergy(ShortTermEnergy()); }
  // The same windows as weighted mean squares, for gating and averaging.
  double MomentaryEnergy() const { return momentary_; }
  double ShortTermEnergy() const { return shortTerm_; }

  // Step k (from 0) ends after (k + 1) * StepFrames() frames.
  size_t StepFrames() const { return stepFrames_; }
  uint64_t Steps() const { return steps_; }  // completed so far
  size_t FramesToNextStep() const { return stepFrames_ - stepFill_; }

  int Channels() const { return static_cast<int>(weights_.size()); }
  int SampleRate() const { return sampleRate_; }

  // Back to silence, as a new meter.
  void Reset();

  static constexpr int kShortTermSteps = 30;
  static constexpr int kMomentarySteps = 4;

 private:
  template <typename Source>
  void AddFrom(const Source& source, size_t frames);
  void CompleteStep();

  int sampleRate_;
  size_t stepFrames_;
  KWeighting filter_;
  std::vector<double> weights_;    // per channel
  std::vector<int> measured_;      // the channels with a weight, in order
  std::vector<double> states_;     // per channel: v[n-1] .. v[n-4]
  std::vector<double> stepSums_;   // per channel: sum of squares in the current step
  size_t stepFill_ = 0;
  uint64_t steps_ = 0;
  double stepEnergies_[kShortTermSteps] = {};  // ring of the last 30 steps' weighted sums
  double momentary_ = 0.0;
  double shortTerm_ = 0.0;
};

}  // namespace tessil::host
