// A look-ahead true-peak ceiling for a plugin's output: one gain for all channels, low enough that
// the output's reconstruction, oversampled four times, stays at or below the ceiling.
//
// The way a sample takes through it, in frames at the stream's rate:
//   detection   a 4x interpolator finds the largest value of each sample interval, reading
//               DetectionFrames() samples either side. Below 96 kHz it is the true-peak meters'
//               (the 49-tap Hann-windowed sinc libebur128 uses); from 96 kHz, where the meters
//               oversample twice with that sinc at 2x, its 97-tap stretch to 4x, whose even
//               phases are exactly the meters' and which adds the quarter phases;
//   hold        the gain an interval needs is held over the interpolator's reach plus half the
//               smoothing either side, so that the gain is flat across every sample the
//               interpolator reads around a peak: the limited reconstruction there is the
//               unlimited one times that gain;
//   release     the held gain recovers towards 1 with a time constant of kReleaseSeconds;
//   smoothing   a moving average over kSmoothingFrames turns each step into a ramp.
// Where a stronger peak's ramp crosses a weaker one the gain is not flat there; kMarginDb below the
// ceiling covers what that can add. The output is the input LatencyFrames() late, whether the ceiling is on or off, so switching it
// never moves the audio; while off, the output is the input delayed and nothing else.
//
// All memory is taken at construction; Run() never allocates, locks or does I/O.
#pragma once

#include <cstdint>
#include <vector>

namespace tessil::host {

class CeilingLimiter {
 public:
  static constexpr uint32_t kSmoothingFrames = 49;  // odd, so the average is centred on a frame
  static constexpr double kReleaseSeconds = 0.05;
  static constexpr double kMarginDb = 0.01;
  // Larger calls are worked through in pieces of this many frames.
  static constexpr uint32_t kChunkFrames = 256;

  CeilingLimiter(uint32_t channels, uint32_t sampleRate);

  // Samples the interpolator reads on each side of an interval: 6 below 96 kHz, 12 from there.
  static uint32_t DetectionFrames(uint32_t sampleRate) { return sampleRate < 96000 ? 6 : 12; }
  // How far the output trails the input, on or off.
  static uint32_t LatencyFrames(uint32_t sampleRate) {
    return 2 * DetectionFrames(sampleRate) + 2 * (kSmoothingFrames / 2);
  }

  // In place, audio[c] for each channel. `ceilingDbtp` applies to audio arriving from this call
  // on; switching on starts from what the delay line holds, so the first frames out are limited.
  void Run(float* const* audio, uint32_t frames, bool enabled, float ceilingDbtp);

  // The gain applied to the last frame out (1 while off).
  float Gain() const { return lastGain_; }

 private:
  static constexpr uint32_t kMostTaps = 24;

  void Reset();
  // For the line positions [first, first + count) as newest samples, the largest magnitude of
  // the interval detection_ frames before each, over all channels, into peaks_.
  void Detect(uint32_t first, uint32_t count);
  template <uint32_t Taps>
  void DetectWith(uint32_t first, uint32_t count);
  // Feeds one interval's required gain into hold, release and smoothing; returns the gain for the
  // frame latency_ behind the newest.
  float NextGain(float required);

  uint32_t channels_;
  uint32_t detection_;
  uint32_t holdRadius_;
  uint32_t latency_;
  uint32_t history_;  // frames each line keeps from earlier calls: the delay plus the reach
  float releaseStep_;
  bool active_ = false;
  float lastGain_ = 1.0f;

  std::vector<std::vector<float>> lines_;  // per channel: history, then the current piece
  std::vector<float> peaks_;               // per position of the current piece
  float coefficients_[3][kMostTaps] = {};  // phases 1..3, newest sample first

  // The hold: a running minimum over the last 2 * holdRadius_ + 1 required gains, kept as a ring
  // of (position, gain) candidates with gains increasing from the front.
  static constexpr uint32_t kHoldCapacity = 2 * (kMostTaps / 2 + kSmoothingFrames / 2) + 2;
  uint64_t holdPositions_[kHoldCapacity] = {};
  float holdGains_[kHoldCapacity] = {};
  uint32_t holdFront_ = 0;
  uint32_t holdSize_ = 0;
  uint64_t position_ = 0;
  float released_ = 1.0f;

  // The smoothing: the last kSmoothingFrames released gains as fixed-point integers rounded down,
  // so their running sum never drifts and never exceeds the gains themselves.
  int64_t smoothing_[kSmoothingFrames] = {};
  uint32_t smoothingIndex_ = 0;
  int64_t smoothingSum_ = 0;
};

}  // namespace tessil::host
