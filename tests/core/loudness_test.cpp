#include "core/loudness.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/analysis.h"
#include "core/core_test_support.h"

namespace tessil {
namespace {

using coretest::CoreRate;
using coretest::CoreRig;

constexpr int32_t kN = kBlockFrames;

TEST(LoudnessPower, ApproximatesThePowerInItsRange) {
  EXPECT_EQ(LoudnessPower(0.0f), 0.0f);
  EXPECT_EQ(LoudnessPower(1.0f), 1.0f);
  EXPECT_NEAR(LoudnessPower(0.25f), 0.39504f, 2e-5f);
  for (float x = std::ldexp(1.0f, -15); x <= 1.5f; x *= 1.37f) {
    const double exact = std::pow(static_cast<double>(x), 0.67);
    EXPECT_NEAR(LoudnessPower(x) / exact, 1.0, 1e-4) << x;
  }
}

TEST(LoudnessPower, OutsideItsRangeItKeepsTheFixedReduction) {
  // 1e-06 is doubled 19 times but scaled as if 14 times.
  const double reduced = std::pow(1e-06 * 524288.0, 0.67) * 0.0015008546;
  EXPECT_NEAR(LoudnessPower(1e-06f), reduced, reduced * 1e-3);
  EXPECT_NEAR(LoudnessPower(1e-06f), 0.00097, 0.00001);
  // Values of 0.5 and above are not reduced, so the series drift away above about 1.5.
  EXPECT_NEAR(LoudnessPower(2.0f), 1.541f, 0.001f);
  EXPECT_LT(LoudnessPower(2.0f), std::pow(2.0, 0.67) * 0.98);
  EXPECT_GT(LoudnessPower(3.0f), 4e9f);
  EXPECT_LT(LoudnessPower(3.0f), 6e9f);
}

TEST(TargetGain, KneesAndThreshold) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  CoreChannel* channel = &rig.core.left;
  CoreChannelState& state = rig.Left();

  state.energy = 0.001f;
  EXPECT_NEAR(TargetGainFromLoudness(channel, 0.3f), 3.0f, 1e-5f);
  // At the knee the energy is not above it: the tenfold smaller factor applies.
  state.energy = 0.0001f;
  EXPECT_EQ(TargetGainFromLoudness(channel, 0.3f), 0.3f * 10.0f);
  state.energy = 0.000101f;
  EXPECT_NEAR(TargetGainFromLoudness(channel, 0.3f), 29.703f, 1e-3f);
  // Loudness equal to the threshold leaves unity.
  EXPECT_EQ(TargetGainFromLoudness(channel, 0.15f), 1.0f);
  EXPECT_GT(TargetGainFromLoudness(channel, std::nextafter(0.15f, 1.0f)), 1.0f);

  ASSERT_EQ(CoreSetWeighting(&rig.core, 1), 0);
  state.energy = 0.0002f;
  EXPECT_EQ(TargetGainFromLoudness(channel, 0.3f), 0.3f * 5.0f);
  state.energy = 0.0004f;
  EXPECT_NEAR(TargetGainFromLoudness(channel, 0.3f), 7.5f, 1e-5f);
  EXPECT_EQ(TargetGainFromLoudness(channel, 0.1f), 1.0f);
}

// A frame of the channel analysed and decimated the way the driver does it.
struct AnalysedFrame {
  std::vector<float> delayed;
  std::vector<float> decimated = std::vector<float>(kN, 0.0f);
};

AnalysedFrame Analyse(CoreRig& rig, std::vector<float> frame) {
  AnalysedFrame result{std::move(frame)};
  std::vector<float> right(kN, 0.0f);
  for (CoreChannelState* state : {&rig.Left(), &rig.Right()}) {
    state->lookAhead = kLookAheadFrames;
    state->framePeak = 0.0f;
    state->channelIndex = state == &rig.Right() ? 1.0f : 0.0f;
  }
  CoreChannel* channels[2] = {&rig.core.left, &rig.core.right};
  float* inputs[2] = {result.delayed.data(), right.data()};
  AnalyseFrames(channels, inputs, rig.Envelope(), kN);
  DecimateFrame(&rig.core.left, result.delayed.data(), result.decimated.data(),
                rig.scratch.data());
  return result;
}

std::vector<float> Sine(float amplitude, float cyclesPerSample) {
  std::vector<float> frame(kN);
  for (int32_t j = 0; j < kN; ++j) {
    frame[j] = amplitude * static_cast<float>(std::sin(6.283185307179586 * cyclesPerSample * j));
  }
  return frame;
}

TEST(ComputeTargetGain, QuietFrameGivesUnityAndLeavesTheBandsAlone) {
  CoreRig rig;
  rig.Prepare(CoreRate::k44100);
  CoreChannelState& state = rig.Left();
  for (int32_t i = 0; i < kCoreBandStateFloats; ++i) state.bandState[i] = 0.01f * (i + 1);
  state.bandState[3] = 1e-20f;  // the ring's fourth entry: below the flush threshold
  state.flushRing.cursor = 3;
  state.target = 0.5f;
  for (float& value : rig.scratch) value = 4.0f;

  AnalysedFrame frame = Analyse(rig, std::vector<float>(kN, 7.4e-05f));  // just below the gate
  ASSERT_LT(state.framePeak, state.analysisGate);
  ComputeTargetGain(&rig.core.left, frame.delayed.data(), frame.decimated.data(),
                    rig.scratch.data(), kN);
  EXPECT_EQ(state.target, 1.0f);
  for (int32_t i = 0; i < 2 * kN; ++i) ASSERT_EQ(rig.scratch[i], 0.0f) << i;
  for (int32_t i = 0; i < kCoreBandStateFloats; ++i) {
    EXPECT_EQ(state.bandState[i], i == 3 ? 0.0f : 0.01f * (i + 1)) << i;
  }
  EXPECT_EQ(state.flushRing.cursor, 4);

  // The cursor advances by one per call and wraps after the 32nd entry.
  state.flushRing.cursor = 31;
  ComputeTargetGain(&rig.core.left, frame.delayed.data(), frame.decimated.data(),
                    rig.scratch.data(), kN);
  EXPECT_EQ(state.flushRing.cursor, 0);

  // A peak equal to the analysis gate reaches it: the bands run.
  for (float& value : state.bandState) value = 0.0f;
  AnalysedFrame atGate = Analyse(rig, std::vector<float>(kN, 7.5e-05f));
  ASSERT_EQ(state.framePeak, state.analysisGate);
  ComputeTargetGain(&rig.core.left, atGate.delayed.data(), atGate.decimated.data(),
                    rig.scratch.data(), kN);
  EXPECT_NE(state.bandState[0], 0.0f);
  EXPECT_NE(rig.scratch[kN], 0.0f);
}

TEST(ComputeTargetGain, LoudFrameRunsEveryBandAndRaisesTheTarget) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  CoreChannelState& state = rig.Left();
  // A moderate mid-range tone: loud enough to pass the threshold, quiet enough to be boosted.
  std::vector<float> tone = Sine(0.05f, 1000.0f / 48000.0f);
  Analyse(rig, tone);
  AnalysedFrame frame = Analyse(rig, tone);
  ComputeTargetGain(&rig.core.left, frame.delayed.data(), frame.decimated.data(),
                    rig.scratch.data(), kN);
  EXPECT_GT(state.target, 1.0f);
  EXPECT_TRUE(std::isfinite(state.target));
  for (int32_t band = 0; band < kCoreBandCount; ++band) {
    EXPECT_TRUE(state.bandState[2 * band] != 0.0f || state.bandState[2 * band + 1] != 0.0f)
        << band;
  }
  EXPECT_EQ(state.flushRing.cursor, 1);

  // The same frame again under weighting 1 uses the other table and tuning: a different target.
  const float targetWeighting0 = state.target;
  CoreRig other;
  other.Prepare(CoreRate::k48000);
  ASSERT_EQ(CoreSetWeighting(&other.core, 1), 0);
  Analyse(other, tone);
  AnalysedFrame again = Analyse(other, tone);
  ComputeTargetGain(&other.core.left, again.delayed.data(), again.decimated.data(),
                    other.scratch.data(), kN);
  EXPECT_NE(other.Left().target, targetWeighting0);
}

}  // namespace
}  // namespace tessil
