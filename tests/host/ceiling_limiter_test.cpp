// The true-peak ceiling after the driver: held at every rate family, a smooth gain, exactly a
// delay while off, and the same output however the audio is split into calls.
#include "host/ceiling_limiter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "support/ebur128_reference.h"
#include <vector>

namespace tessil::host {
namespace {

using Planar = std::vector<std::vector<float>>;

// Loud passages of white noise, of its first difference (most energy near the top of the band,
// where inter-sample peaks are largest), and isolated full-scale clicks, between quiet ones.
Planar HotSignal(uint32_t rate, double seconds, uint32_t seed) {
  std::mt19937 random(seed);
  std::normal_distribution<float> normal(0.0f, 1.0f);
  const auto frames = static_cast<size_t>(rate * seconds);
  Planar signal(2, std::vector<float>(frames));
  float previous = 0.0f;
  for (size_t i = 0; i < frames; ++i) {
    const size_t section = i / (rate / 5);
    const float white = normal(random);
    const float loud = section % 3 == 0 ? 4.0f * white : section % 3 == 1 ? 6.0f * (white - previous) : 0.1f * white;
    previous = white;
    const float click = i % 5000 == 7 && section % 3 != 2 ? 3.0f : 0.0f;
    signal[0][i] = loud + click;
    signal[1][i] = section % 2 == 0 ? -loud : 0.5f * normal(random);
  }
  return signal;
}

Planar RunPieces(CeilingLimiter& limiter, Planar audio, const std::vector<uint32_t>& pieces, bool enabled, float ceiling) {
  for (size_t done = 0, k = 0; done < audio[0].size(); ++k) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(pieces[k % pieces.size()], audio[0].size() - done));
    float* channels[2] = {audio[0].data() + done, audio[1].data() + done};
    limiter.Run(channels, n, enabled, ceiling);
    done += n;
  }
  return audio;
}

double TruePeakDbtp(const Planar& audio, uint32_t rate) {
  std::vector<float> interleaved;
  for (size_t i = 0; i < audio[0].size(); ++i) {
    interleaved.push_back(audio[0][i]);
    interleaved.push_back(audio[1][i]);
  }
  return test_support::Ebur128Measure(interleaved.data(), audio[0].size(), 2, static_cast<int>(rate)).truePeakDb;
}

TEST(CeilingLimiter, HoldsTheTruePeakWithASmoothGainAtEveryRateFamily) {
  for (const uint32_t rate : {8000u, 44100u, 48000u, 96000u, 192000u}) {
    for (const float ceiling : {-1.0f, -6.5f, 0.0f}) {
      SCOPED_TRACE(std::to_string(rate) + " Hz, ceiling " + std::to_string(ceiling));
      const Planar input = HotSignal(rate, 1.2, rate);
      ASSERT_GT(TruePeakDbtp(input, rate), ceiling + 10.0);
      CeilingLimiter limiter(2, rate);
      const Planar output = RunPieces(limiter, input, {300, 1, 64}, true, ceiling);
      EXPECT_LE(TruePeakDbtp(output, rate), ceiling);
      // Only where peaks are: by the end of a quiet passage the gain has recovered.
      double in = 0.0, out = 0.0;
      for (size_t i = rate / 5 * 3 - rate / 30; i < rate / 5 * 3 - rate / 100; ++i) {  // before the next attack
        in += input[0][i] * input[0][i];
        out += output[0][i + CeilingLimiter::LatencyFrames(rate)] * output[0][i + CeilingLimiter::LatencyFrames(rate)];
      }
      EXPECT_GT(std::sqrt(out / in), 0.95);
    }
  }
  // Frame by frame the gain moves in ramps no steeper than the smoothing allows.
  CeilingLimiter limiter(2, 48000);
  Planar audio = HotSignal(48000, 0.5, 1);
  float previous = 1.0f;
  float steepest = 0.0f;
  float lowest = 1.0f;
  for (size_t i = 0; i < audio[0].size(); ++i) {
    float* channels[2] = {&audio[0][i], &audio[1][i]};
    limiter.Run(channels, 1, true, -1.0f);
    steepest = std::max(steepest, std::fabs(limiter.Gain() - previous));
    lowest = std::min(lowest, limiter.Gain());
    previous = limiter.Gain();
  }
  EXPECT_LT(lowest, 0.2f);
  EXPECT_LE(steepest, 1.0f / CeilingLimiter::kSmoothingFrames + 1e-6f);
}

TEST(CeilingLimiter, OffIsADelayAndSplittingOrSwitchingChangesNothingElse) {
  const uint32_t rate = 44100;
  const uint32_t latency = CeilingLimiter::LatencyFrames(rate);
  const Planar input = HotSignal(rate, 0.6, 7);
  CeilingLimiter off(2, rate);
  const Planar delayed = RunPieces(off, input, {1000}, false, -1.0f);
  for (size_t i = 0; i + latency < input[0].size(); ++i) {
    ASSERT_EQ(delayed[0][i + latency], input[0][i]) << i;
    ASSERT_EQ(delayed[1][i + latency], input[1][i]) << i;
  }
  for (size_t i = 0; i < latency; ++i) ASSERT_EQ(delayed[0][i], 0.0f);

  CeilingLimiter whole(2, rate);
  const Planar reference = RunPieces(whole, input, {100000}, true, -3.0f);
  for (const std::vector<uint32_t>& pieces : std::vector<std::vector<uint32_t>>{{1}, {7, 300, 64, 1}, {256}}) {
    CeilingLimiter split(2, rate);
    EXPECT_EQ(RunPieces(split, input, pieces, true, -3.0f), reference) << pieces.size();
  }

  // Switched on while loud audio waits in the delay line: it leaves already limited.
  CeilingLimiter switched(2, rate);
  Planar audio = input;
  const uint32_t before = rate / 10;  // inside the first loud passage
  float* first[2] = {audio[0].data(), audio[1].data()};
  switched.Run(first, before, false, -3.0f);
  float* rest[2] = {audio[0].data() + before, audio[1].data() + before};
  switched.Run(rest, static_cast<uint32_t>(audio[0].size() - before), true, -3.0f);
  const Planar after = {std::vector<float>(audio[0].begin() + before, audio[0].end()),
                        std::vector<float>(audio[1].begin() + before, audio[1].end())};
  EXPECT_LE(TruePeakDbtp(after, rate), -3.0);
}

}  // namespace
}  // namespace tessil::host
