#include "host/loudness_meter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

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

// Sums of squares of two channels' K-weighted samples x0[0], x0[stride], ... and x1[0], ...,
// side by side in the two lanes of a vector, so that both share the recursion's wait. The
// feedback terms are subtracted oldest first: the newest state, which the previous sample has
// only just produced, then enters last, and each sample waits on one multiply and one
// subtraction instead of four of each.
typedef double Pair __attribute__((vector_size(16)));

void FilterSquaresPair(const float* x0, const float* x1, size_t stride, size_t count, const KWeighting& k,
                       double* state0, double* state1, double* sum0, double* sum1) {
  const Pair b0 = {k.b[0], k.b[0]}, b1 = {k.b[1], k.b[1]}, b2 = {k.b[2], k.b[2]}, b3 = {k.b[3], k.b[3]},
             b4 = {k.b[4], k.b[4]};
  const Pair a1 = {k.a[1], k.a[1]}, a2 = {k.a[2], k.a[2]}, a3 = {k.a[3], k.a[3]}, a4 = {k.a[4], k.a[4]};
  Pair v1 = {state0[0], state1[0]}, v2 = {state0[1], state1[1]}, v3 = {state0[2], state1[2]},
       v4 = {state0[3], state1[3]};
  Pair sum = {0.0, 0.0};
  for (size_t i = 0; i < count; ++i) {
    const Pair x = {static_cast<double>(x0[i * stride]), static_cast<double>(x1[i * stride])};
    const Pair v0 = (((x - a4 * v4) - a3 * v3) - a2 * v2) - a1 * v1;
    const Pair y = b0 * v0 + b1 * v1 + b2 * v2 + b3 * v3 + b4 * v4;
    sum += y * y;
    v4 = v3;
    v3 = v2;
    v2 = v1;
    v1 = v0;
  }
  const Pair* states[4] = {&v1, &v2, &v3, &v4};
  for (int j = 0; j < 4; ++j) {
    state0[j] = (*states[j])[0];
    state1[j] = (*states[j])[1];
  }
  *sum0 = sum[0];
  *sum1 = sum[1];
}

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
    size_t m = 0;
    for (; m + 1 < measured_.size(); m += 2) {
      const int c0 = measured_[m], c1 = measured_[m + 1];
      double sum0 = 0.0, sum1 = 0.0;
      FilterSquaresPair(source.Channel(c0) + done * stride, source.Channel(c1) + done * stride, stride, count, filter_,
                        &states_[4 * c0], &states_[4 * c1], &sum0, &sum1);
      stepSums_[c0] += sum0;
      stepSums_[c1] += sum1;
    }
    if (m < measured_.size()) {
      // A channel without a partner runs in both lanes; the second lane's state is thrown away.
      const int c = measured_[m];
      double state[4] = {states_[4 * c], states_[4 * c + 1], states_[4 * c + 2], states_[4 * c + 3]};
      double sum = 0.0, unused = 0.0;
      const float* x = source.Channel(c) + done * stride;
      FilterSquaresPair(x, x, stride, count, filter_, &states_[4 * c], state, &sum, &unused);
      stepSums_[c] += sum;
    }
    done += count;
    stepFill_ += count;
    if (stepFill_ == stepFrames_) CompleteStep();
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
