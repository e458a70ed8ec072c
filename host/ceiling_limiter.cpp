#include "host/ceiling_limiter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace tessil::host {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The smoothing's fixed point: gains in [0, 1] as multiples of 2^-40, kSmoothingFrames of them
// summing far below 2^63.
constexpr double kFixedOne = 1099511627776.0;

// Four consecutive positions per vector: SSE2 on every target this builds for.
typedef float Lanes __attribute__((vector_size(16)));
typedef int LaneMasks __attribute__((vector_size(16)));
constexpr uint32_t kLanes = 4;

inline Lanes Load(const float* values) {
  Lanes lanes;
  std::memcpy(&lanes, values, sizeof lanes);
  return lanes;
}

inline Lanes Magnitude(Lanes x) { return reinterpret_cast<Lanes>(reinterpret_cast<LaneMasks>(x) & 0x7FFFFFFF); }

inline Lanes Larger(Lanes a, Lanes b) {
  const LaneMasks greater = a > b;
  return reinterpret_cast<Lanes>((greater & reinterpret_cast<LaneMasks>(a)) | (~greater & reinterpret_cast<LaneMasks>(b)));
}

}  // namespace

CeilingLimiter::CeilingLimiter(uint32_t channels, uint32_t sampleRate)
    : channels_(channels),
      detection_(DetectionFrames(sampleRate)),
      holdRadius_(kSmoothingFrames / 2 + detection_),
      latency_(LatencyFrames(sampleRate)),
      history_(latency_ + 2 * detection_ - 1),
      releaseStep_(static_cast<float>(-std::expm1(-1.0 / (kReleaseSeconds * sampleRate)))),
      lines_(channels, std::vector<float>(history_ + kChunkFrames, 0.0f)),
      peaks_(kChunkFrames, 0.0f) {
  if (channels < 1 || sampleRate == 0) throw std::runtime_error("a ceiling needs channels and a sample rate");
  constexpr uint32_t kFactor = 4;
  const uint32_t taps = 2 * detection_;
  const uint32_t prototypeTaps = kFactor * taps + 1;
  for (uint32_t p = 1; p < kFactor; ++p) {
    for (uint32_t k = 0; k < taps; ++k) {
      const uint32_t j = p + kFactor * k;
      const double m = (static_cast<double>(j) - (prototypeTaps - 1) / 2.0) / kFactor;
      const double window = 0.5 * (1.0 - std::cos(2.0 * kPi * j / (prototypeTaps - 1)));
      coefficients_[p - 1][k] = static_cast<float>(std::sin(kPi * m) / (kPi * m) * window);
    }
  }
  Reset();
}

void CeilingLimiter::Reset() {
  holdFront_ = 0;
  holdSize_ = 0;
  released_ = 1.0f;
  std::fill(std::begin(smoothing_), std::end(smoothing_), static_cast<int64_t>(kFixedOne));
  smoothingSum_ = static_cast<int64_t>(kFixedOne) * kSmoothingFrames;
  smoothingIndex_ = 0;
}

void CeilingLimiter::Detect(uint32_t first, uint32_t count) {
  if (detection_ == 6) {
    DetectWith<12>(first, count);
  } else {
    DetectWith<24>(first, count);
  }
}

template <uint32_t Taps>
void CeilingLimiter::DetectWith(uint32_t first, uint32_t count) {
  // The interval a newest sample completes starts Taps / 2 before it; the taps run outermost so
  // that the three phases keep independent running sums.
  constexpr uint32_t kReach = Taps / 2;
  for (uint32_t c = 0; c < channels_; ++c) {
    const float* newest = lines_[c].data() + first;
    uint32_t n = 0;
    for (; n + kLanes <= count; n += kLanes) {
      Lanes first_phase = {}, second_phase = {}, third_phase = {};
      for (uint32_t k = 0; k < Taps; ++k) {
        const Lanes x = Load(newest + n - k);
        first_phase += coefficients_[0][k] * x;
        second_phase += coefficients_[1][k] * x;
        third_phase += coefficients_[2][k] * x;
      }
      Lanes peak = Magnitude(Load(newest + n - kReach));
      peak = Larger(peak, Magnitude(first_phase));
      peak = Larger(peak, Magnitude(second_phase));
      peak = Larger(peak, Magnitude(third_phase));
      if (c != 0) peak = Larger(peak, Load(peaks_.data() + n));
      std::memcpy(peaks_.data() + n, &peak, sizeof peak);
    }
    for (; n < count; ++n) {
      const float* at = newest + n;
      float peak = std::fabs(*(at - kReach));
      for (const auto& phase : coefficients_) {
        float sum = 0.0f;
        for (uint32_t k = 0; k < Taps; ++k) sum += phase[k] * *(at - k);
        peak = std::max(peak, std::fabs(sum));
      }
      peaks_[n] = c == 0 ? peak : std::max(peaks_[n], peak);
    }
  }
}

float CeilingLimiter::NextGain(float required) {
  // Hold: drop candidates that the new gain undercuts and the one that left the window.
  while (holdSize_ > 0 && holdGains_[(holdFront_ + holdSize_ - 1) % kHoldCapacity] >= required) --holdSize_;
  holdPositions_[(holdFront_ + holdSize_) % kHoldCapacity] = position_;
  holdGains_[(holdFront_ + holdSize_) % kHoldCapacity] = required;
  ++holdSize_;
  if (holdPositions_[holdFront_] + 2 * holdRadius_ < position_) {
    holdFront_ = (holdFront_ + 1) % kHoldCapacity;
    --holdSize_;
  }
  ++position_;
  const float held = holdGains_[holdFront_];

  // Release, never above what the hold allows.
  released_ = std::min(held, released_ + (1.0f - released_) * releaseStep_);

  const auto fixed = static_cast<int64_t>(static_cast<double>(released_) * kFixedOne);
  smoothingSum_ += fixed - smoothing_[smoothingIndex_];
  smoothing_[smoothingIndex_] = fixed;
  smoothingIndex_ = (smoothingIndex_ + 1) % kSmoothingFrames;
  // Rounded down again, so the mean never exceeds the gains it averages.
  const double mean = static_cast<double>(smoothingSum_ / kSmoothingFrames) / kFixedOne;
  return std::nextafter(static_cast<float>(mean), 0.0f);
}

void CeilingLimiter::Run(float* const* audio, uint32_t frames, bool enabled, float ceilingDbtp) {
  const double ceilingDb = std::isnan(ceilingDbtp) ? 0.0 : std::clamp(static_cast<double>(ceilingDbtp), -200.0, 0.0);
  const auto ceiling = static_cast<float>(std::pow(10.0, (ceilingDb - kMarginDb) / 20.0));
  for (uint32_t done = 0; done < frames;) {
    const uint32_t n = std::min(frames - done, kChunkFrames);
    for (uint32_t c = 0; c < channels_; ++c) std::copy_n(audio[c] + done, n, lines_[c].data() + history_);
    if (enabled && !active_) {
      // Run the chain over the frames still waiting in the delay line, as if it had been on.
      Reset();
      Detect(history_ - latency_, latency_);
      for (uint32_t i = 0; i < latency_; ++i) NextGain(peaks_[i] > ceiling ? ceiling / peaks_[i] : 1.0f);
    }
    active_ = enabled;
    if (enabled) {
      Detect(history_, n);
      for (uint32_t i = 0; i < n; ++i) {
        const float gain = NextGain(peaks_[i] > ceiling ? ceiling / peaks_[i] : 1.0f);
        for (uint32_t c = 0; c < channels_; ++c) {
          audio[c][done + i] = lines_[c][history_ + i - latency_] * gain;
        }
        lastGain_ = gain;
      }
    } else {
      for (uint32_t c = 0; c < channels_; ++c) {
        std::copy_n(lines_[c].data() + history_ - latency_, n, audio[c] + done);
      }
      lastGain_ = 1.0f;
    }
    for (uint32_t c = 0; c < channels_; ++c) {
      std::copy_n(lines_[c].data() + n, history_, lines_[c].data());
    }
    done += n;
  }
}

}  // namespace tessil::host
