#include "host/loudness_meter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "host/wide_clones.h"

namespace tessil::host {

namespace {

constexpr double kPi = 3.14159265358979323846;

// The two stages of the K-weighting filter as analogue prototypes, in the form libebur128 uses
// so that both meters design the same filter at every rate.
constexpr double kShelfFrequency = 1681.974450955533;
constexpr double kShelfGainDb = 3.999843853973347;
constexpr double kShelfQ = 0.7071752369554196;
constexpr double kShelfBandwidthExponent = 0.4996667741545416;
constexpr double kHighPassFrequency = 38.13547087602444;
constexpr double kHighPassQ = 0.5003270373238773;

constexpr double kSurroundWeight = 1.41;
constexpr double kDualMonoWeight = 2.0;

// Filter states this small carry nothing audible; cleared at each step so that a long silence
// never runs the recursion on denormal numbers.
constexpr double kNegligibleState = 1e-30;

struct PlanarSource {
  const float* const* channels;
  const float* Channel(int channel) const { return channels[channel]; }
  static constexpr size_t Stride(size_t) { return 1; }
};

struct InterleavedSource {
  const float* samples;
  const float* Channel(int channel) const { return samples + channel; }
  static size_t Stride(size_t channels) { return channels; }
};

// Sums of squares of N channels' K-weighted samples x[l][0], x[l][stride], ..., side by side in
// the lanes of a vector, so that all share the recursion's wait. The feedback terms are
// subtracted oldest first: the newest state, which the previous sample has only just produced,
// then enters last, and each sample waits on one multiply and one subtraction instead of four of
// each. Every lane does exactly the arithmetic it would do alone.
template <int N>
struct Lanes;
template <>
struct Lanes<2> {
  typedef double Type __attribute__((vector_size(16)));
};
template <>
struct Lanes<4> {
  typedef double Type __attribute__((vector_size(32)));
};

template <int N>
TESSIL_WIDE_CLONES void FilterSquares(const float* const* x, size_t stride, size_t count, const KWeighting& k,
                                      double* const* state, double* sums) {
  using V = typename Lanes<N>::Type;
  V b[5], a[5], v[5];
  for (int j = 0; j < 5; ++j) {
    for (int l = 0; l < N; ++l) {
      b[j][l] = k.b[j];
      a[j][l] = k.a[j];
      v[j][l] = j == 0 ? 0.0 : state[l][j - 1];
    }
  }
  V sum = {};
  for (size_t i = 0; i < count; ++i) {
    V in;
    for (int l = 0; l < N; ++l) in[l] = static_cast<double>(x[l][i * stride]);
    const V v0 = (((in - a[4] * v[4]) - a[3] * v[3]) - a[2] * v[2]) - a[1] * v[1];
    const V y = b[0] * v0 + b[1] * v[1] + b[2] * v[2] + b[3] * v[3] + b[4] * v[4];
    sum += y * y;
    v[4] = v[3];
    v[3] = v[2];
    v[2] = v[1];
    v[1] = v0;
  }
  for (int l = 0; l < N; ++l) {
    for (int j = 0; j < 4; ++j) state[l][j] = v[j + 1][l];
    sums[l] = sum[l];
  }
}

// Channels gathered for FilterSquares: up to four lanes; a lane left over repeats the last
// channel into a state and a sum that are thrown away.
struct LaneSet {
  static constexpr int kMost = 4;
  const float* x[kMost];
  double* state[kMost];
  double* stepSum[kMost];
  int count = 0;
  double spareState[4];

  void Add(const float* samples, double* channelState, double* channelStepSum) {
    x[count] = samples;
    state[count] = channelState;
    stepSum[count] = channelStepSum;
    ++count;
  }

  void Run(size_t stride, size_t frames, const KWeighting& k) {
    if (count == 0) return;
    const int lanes = count <= 2 ? 2 : 4;
    for (int l = count; l < lanes; ++l) {
      x[l] = x[count - 1];
      std::copy_n(state[count - 1], 4, spareState);
      state[l] = spareState;
    }
    double sums[kMost];
    if (lanes == 2) {
      FilterSquares<2>(x, stride, frames, k, state, sums);
    } else {
      FilterSquares<4>(x, stride, frames, k, state, sums);
    }
    for (int l = 0; l < count; ++l) *stepSum[l] += sums[l];
    count = 0;
  }
};

}  // namespace

double LoudnessWeight(ChannelRole role) {
  switch (role) {
    case ChannelRole::Front: return 1.0;
    case ChannelRole::Surround: return kSurroundWeight;
    case ChannelRole::DualMono: return kDualMonoWeight;
    case ChannelRole::LowFrequency:
    case ChannelRole::Unused: return 0.0;
  }
  return 0.0;
}

std::vector<ChannelRole> DefaultChannelRoles(int channels) {
  constexpr ChannelRole F = ChannelRole::Front, S = ChannelRole::Surround, L = ChannelRole::LowFrequency;
  // Up to three channels every one is a front channel; past the eighth too.
  const std::vector<ChannelRole> known = [channels]() -> std::vector<ChannelRole> {
    switch (channels) {
      case 4: return {F, F, S, S};
      case 5: return {F, F, F, S, S};
      case 6: return {F, F, F, L, S, S};
      case 7: return {F, F, F, L, S, S, S};
      default: return {F, F, F, L, S, S, S, S};
    }
  }();
  std::vector<ChannelRole> roles(static_cast<size_t>(std::max(channels, 0)), F);
  std::copy_n(known.begin(), std::min(known.size(), roles.size()), roles.begin());
  return roles;
}

KWeighting DesignKWeighting(int sampleRate) {
  const double rate = sampleRate;
  double k = std::tan(kPi * kShelfFrequency / rate);
  const double vh = std::pow(10.0, kShelfGainDb / 20.0);
  const double vb = std::pow(vh, kShelfBandwidthExponent);
  const double shelfA0 = 1.0 + k / kShelfQ + k * k;
  const double shelfB[3] = {(vh + vb * k / kShelfQ + k * k) / shelfA0, 2.0 * (k * k - vh) / shelfA0,
                            (vh - vb * k / kShelfQ + k * k) / shelfA0};
  const double shelfA[3] = {1.0, 2.0 * (k * k - 1.0) / shelfA0, (1.0 - k / kShelfQ + k * k) / shelfA0};

  k = std::tan(kPi * kHighPassFrequency / rate);
  const double highPassA0 = 1.0 + k / kHighPassQ + k * k;
  const double highPassB[3] = {1.0, -2.0, 1.0};
  const double highPassA[3] = {1.0, 2.0 * (k * k - 1.0) / highPassA0, (1.0 - k / kHighPassQ + k * k) / highPassA0};

  // The product of the two stages, term by term.
  KWeighting filter{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      filter.b[i + j] += shelfB[i] * highPassB[j];
      filter.a[i + j] += shelfA[i] * highPassA[j];
    }
  }
  return filter;
}

double LoudnessFromEnergy(double energy) {
  return energy > 0.0 ? 10.0 * std::log10(energy) - 0.691 : -std::numeric_limits<double>::infinity();
}

LoudnessMeter::LoudnessMeter(int sampleRate, std::vector<ChannelRole> roles)
    : sampleRate_(sampleRate),
      // 100 ms rounded to the nearest frame, halves up: libebur128's step, so both meters
      // measure the same blocks.
      stepFrames_(static_cast<size_t>(std::max(sampleRate, 0) + 5) / 10),
      filter_(DesignKWeighting(std::max(sampleRate, 1))) {
  if (sampleRate < 16) throw std::invalid_argument("loudness meter: sample rate below 16 Hz");
  if (roles.empty()) throw std::invalid_argument("loudness meter: no channels");
  for (size_t c = 0; c < roles.size(); ++c) {
    weights_.push_back(LoudnessWeight(roles[c]));
    if (weights_.back() > 0.0) measured_.push_back(static_cast<int>(c));
  }
  states_.assign(roles.size() * 4, 0.0);
  stepSums_.assign(roles.size(), 0.0);
}

void LoudnessMeter::Add(const float* const* planar, size_t frames) { AddFrom(PlanarSource{planar}, frames); }

void LoudnessMeter::AddInterleaved(const float* interleaved, size_t frames) {
  AddFrom(InterleavedSource{interleaved}, frames);
}

template <typename Source>
void LoudnessMeter::AddFrom(const Source& source, size_t frames) {
  const size_t stride = Source::Stride(weights_.size());
  size_t done = 0;
  while (done < frames) {
    const size_t count = std::min(frames - done, stepFrames_ - stepFill_);
    LaneSet lanes;
    for (size_t m = 0; m < measured_.size(); ++m) {
      const int c = measured_[m];
      lanes.Add(source.Channel(c) + done * stride, &states_[4 * c], &stepSums_[c]);
      // Pairs: four lanes pay off only for channels fed side by side from two meters.
      if (lanes.count == 2) lanes.Run(stride, count, filter_);
    }
    lanes.Run(stride, count, filter_);
    done += count;
    stepFill_ += count;
    if (stepFill_ == stepFrames_) CompleteStep();
  }
}

void LoudnessMeter::AddSideBySide(LoudnessMeter& first, const float* const* firstPlanar, LoudnessMeter& second,
                                  const float* const* secondPlanar, size_t frames) {
  if (first.sampleRate_ != second.sampleRate_ || first.stepFill_ != second.stepFill_ ||
      first.measured_.size() + second.measured_.size() > LaneSet::kMost) {
    first.Add(firstPlanar, frames);
    second.Add(secondPlanar, frames);
    return;
  }
  size_t done = 0;
  while (done < frames) {
    const size_t count = std::min(frames - done, first.stepFrames_ - first.stepFill_);
    LaneSet lanes;
    for (const int c : first.measured_) lanes.Add(firstPlanar[c] + done, &first.states_[4 * c], &first.stepSums_[c]);
    for (const int c : second.measured_) lanes.Add(secondPlanar[c] + done, &second.states_[4 * c], &second.stepSums_[c]);
    lanes.Run(1, count, first.filter_);
    done += count;
    for (LoudnessMeter* meter : {&first, &second}) {
      meter->stepFill_ += count;
      if (meter->stepFill_ == meter->stepFrames_) meter->CompleteStep();
    }
  }
}

void LoudnessMeter::CompleteStep() {
  double energy = 0.0;
  for (const int c : measured_) {
    energy += weights_[c] * stepSums_[c];
    stepSums_[c] = 0.0;
  }
  for (double& state : states_) {
    // A NaN or an infinity in the input spoils its own step's figures, not every one after it.
    if (!(std::fabs(state) >= kNegligibleState) || std::isinf(state)) state = 0.0;
  }
  stepEnergies_[steps_ % kShortTermSteps] = energy;
  ++steps_;
  stepFill_ = 0;
  // Thirty additions every 100 ms, rather than a running sum that would keep rounding errors
  // (and never return to exactly zero after a loud passage).
  double momentary = 0.0;
  double shortTerm = 0.0;
  for (int back = 1; back <= kShortTermSteps; ++back) {
    const double step = stepEnergies_[(steps_ + kShortTermSteps - back) % kShortTermSteps];
    shortTerm += step;
    if (back == kMomentarySteps) momentary = shortTerm;
  }
  momentary_ = momentary / static_cast<double>(kMomentarySteps * stepFrames_);
  shortTerm_ = shortTerm / static_cast<double>(kShortTermSteps * stepFrames_);
}

void LoudnessMeter::Reset() {
  std::fill(states_.begin(), states_.end(), 0.0);
  std::fill(stepSums_.begin(), stepSums_.end(), 0.0);
  std::fill(std::begin(stepEnergies_), std::end(stepEnergies_), 0.0);
  stepFill_ = 0;
  steps_ = 0;
  momentary_ = shortTerm_ = 0.0;
}

}  // namespace tessil::host
