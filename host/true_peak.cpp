#include "host/true_peak.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#include "host/wide_clones.h"

namespace tessil::host {

namespace {

constexpr int kTaps = 49;
constexpr double kPi = 3.14159265358979323846;

// Eight consecutive samples of one phase per vector: on machines with AVX2 one register, on the
// others two SSE registers; the clone is chosen when the program starts.
typedef float Lanes __attribute__((vector_size(32)));
constexpr size_t kLanes = sizeof(Lanes) / sizeof(float);

// The helpers below pass eight-float vectors by value. They are forced inline at every
// optimisation level, so each lands inside the clone that calls it and no call ever passes a
// vector between code built for different instruction sets (an out-of-line copy at -O0 would be
// built for the baseline and called from the AVX2 clone with the wrong convention); that is why
// the calling-convention warning GCC gives for them does not apply.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wpsabi"
#elif defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

[[gnu::always_inline]] inline Lanes Load(const float* values) {
  Lanes lanes;
  std::memcpy(&lanes, values, sizeof lanes);
  return lanes;
}

typedef int LaneMasks __attribute__((vector_size(32)));

[[gnu::always_inline]] inline Lanes Magnitude(Lanes x) {
  return reinterpret_cast<Lanes>(reinterpret_cast<LaneMasks>(x) & 0x7FFFFFFF);
}

[[gnu::always_inline]] inline Lanes Larger(Lanes a, Lanes b) {
  const LaneMasks greater = a > b;
  return reinterpret_cast<Lanes>((greater & reinterpret_cast<LaneMasks>(a)) |
                                 (~greater & reinterpret_cast<LaneMasks>(b)));
}

// Largest |x| and largest |interpolated value| over `count` new samples of one channel, `line`
// holding Taps - 1 earlier samples in front of them. The taps run outermost so that each phase
// keeps its own running sum: the sums are independent and their additions overlap.
template <int Phases, int Taps>
  requires(Phases <= 3)
__attribute__((always_inline)) inline void Scan(const float* line, size_t count,
                                                const float* coefficients, float* samplePeak,
                                                float* truePeak) {
  const float* newest = line + Taps - 1;
  Lanes sampleLanes = {};
  Lanes trueLanes = {};
  size_t n = 0;
  for (; n + kLanes <= count; n += kLanes) {
    sampleLanes = Larger(sampleLanes, Magnitude(Load(newest + n)));
    // Named sums rather than an array, so that they stay in registers.
    Lanes first = {}, second = {}, third = {};
#pragma GCC unroll 24
    for (int k = 0; k < Taps; ++k) {
      const Lanes x = Load(newest + n - k);
      if constexpr (Phases >= 1) first += coefficients[k] * x;
      if constexpr (Phases >= 2) second += coefficients[Taps + k] * x;
      if constexpr (Phases >= 3) third += coefficients[2 * Taps + k] * x;
    }
    if constexpr (Phases >= 1) trueLanes = Larger(trueLanes, Magnitude(first));
    if constexpr (Phases >= 2) trueLanes = Larger(trueLanes, Magnitude(second));
    if constexpr (Phases >= 3) trueLanes = Larger(trueLanes, Magnitude(third));
  }
  float sample = *samplePeak, interpolated = *truePeak;
  for (size_t lane = 0; lane < kLanes; ++lane) {
    sample = std::max(sample, sampleLanes[lane]);
    interpolated = std::max(interpolated, trueLanes[lane]);
  }
  for (; n < count; ++n) {
    sample = std::max(sample, std::fabs(newest[n]));
    for (int p = 0; p < Phases; ++p) {
      float sum = 0.0f;
      for (int k = 0; k < Taps; ++k) {
        sum += coefficients[p * Taps + k] * newest[static_cast<ptrdiff_t>(n) - k];
      }
      interpolated = std::max(interpolated, std::fabs(sum));
    }
  }
  *samplePeak = sample;
  *truePeak = interpolated;
}

TESSIL_WIDE_CLONES
void ScanChannel(const float* line, size_t count, const float* coefficients, int factor,
                 float* samplePeak, float* truePeak) {
  if (factor == 4) {
    Scan<3, 12>(line, count, coefficients, samplePeak, truePeak);
  } else if (factor == 2) {
    Scan<1, 24>(line, count, coefficients, samplePeak, truePeak);
  } else {
    Scan<0, 1>(line, count, coefficients, samplePeak, truePeak);
  }
}

// Samples reach the interpolator in pieces of this many frames per channel, copied behind the
// history they need: the line buffers are sized once and never grow.
constexpr size_t kPieceFrames = 512;

struct PlanarSource {
  const float* const* channels;
  float At(int channel, size_t frame) const { return channels[channel][frame]; }
};

struct InterleavedSource {
  const float* samples;
  size_t stride;
  float At(int channel, size_t frame) const { return samples[frame * stride + static_cast<size_t>(channel)]; }
};

}  // namespace

TruePeakMeter::TruePeakMeter(int channels, int sampleRate)
    : channels_(channels), factor_(sampleRate < 96000 ? 4 : sampleRate < 192000 ? 2 : 1) {
  if (factor_ > 1) {
    phaseTaps_ = (kTaps - 1) / factor_;
    coefficients_.assign(static_cast<size_t>(factor_ - 1) * phaseTaps_, 0.0f);
    for (int p = 1; p < factor_; ++p) {
      for (int k = 0; k < phaseTaps_; ++k) {
        const int j = p + factor_ * k;
        const double m = (j - (kTaps - 1) / 2.0) / factor_;
        const double window = 0.5 * (1.0 - std::cos(2.0 * kPi * j / (kTaps - 1)));
        coefficients_[static_cast<size_t>(p - 1) * phaseTaps_ + k] =
            static_cast<float>(std::sin(kPi * m) / (kPi * m) * window);
      }
    }
  } else {
    phaseTaps_ = 1;
  }
  history_ = static_cast<size_t>(phaseTaps_) - 1;
  lines_.assign(static_cast<size_t>(channels) * (history_ + kPieceFrames), 0.0f);
  channelTruePeaks_.assign(static_cast<size_t>(channels), 0.0);
}

void TruePeakMeter::Add(const float* const* planar, size_t frames) {
  AddFrom(PlanarSource{planar}, frames);
}

void TruePeakMeter::AddInterleaved(const float* interleaved, size_t frames) {
  AddFrom(InterleavedSource{interleaved, static_cast<size_t>(channels_)}, frames);
}

template <typename Source>
void TruePeakMeter::AddFrom(const Source& source, size_t frames) {
  const size_t lineLength = history_ + kPieceFrames;
  float blockSample = 0.0f;
  float blockTrue = 0.0f;
  for (size_t start = 0; start < frames; start += kPieceFrames) {
    const size_t count = std::min(kPieceFrames, frames - start);
    for (int c = 0; c < channels_; ++c) {
      float* line = lines_.data() + static_cast<size_t>(c) * lineLength;
      for (size_t i = 0; i < count; ++i) line[history_ + i] = source.At(c, start + i);
      float sample = 0.0f;
      float interpolated = 0.0f;
      ScanChannel(line, count, coefficients_.data(), factor_, &sample, &interpolated);
      std::copy(line + count, line + count + history_, line);
      const float channelTrue = std::max(interpolated, sample);
      channelTruePeaks_[c] = std::max<double>(channelTruePeaks_[c], channelTrue);
      blockSample = std::max(blockSample, sample);
      blockTrue = std::max(blockTrue, channelTrue);
    }
  }
  blockTruePeak_ = blockTrue;
  samplePeak_ = std::max<double>(samplePeak_, blockSample);
  truePeak_ = std::max(truePeak_, blockTruePeak_);
}

void TruePeakMeter::Reset() {
  std::fill(lines_.begin(), lines_.end(), 0.0f);
  std::fill(channelTruePeaks_.begin(), channelTruePeaks_.end(), 0.0);
  samplePeak_ = truePeak_ = blockTruePeak_ = 0.0;
}

RecentPeak::RecentPeak(int sampleRate, double seconds)
    : sliceFrames_(std::max<size_t>(1, static_cast<size_t>(sampleRate * seconds / kSlices))) {}

void RecentPeak::Add(double peak, size_t frames) {
  current_ = std::max(current_, peak);
  currentFrames_ += frames;
  if (currentFrames_ >= sliceFrames_) {
    newest_ = (newest_ + 1) % kSlices;
    slices_[newest_] = current_;
    current_ = 0.0;
    currentFrames_ = 0;
  }
}

double RecentPeak::Highest() const {
  double highest = current_;
  for (const double slice : slices_) highest = std::max(highest, slice);
  return highest;
}

void RecentPeak::Reset() {
  std::fill(std::begin(slices_), std::end(slices_), 0.0);
  current_ = 0.0;
  currentFrames_ = 0;
}

double PeakDecibels(double linear) {
  return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

}  // namespace tessil::host
