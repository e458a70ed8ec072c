#include "core/analysis.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/core_test_support.h"

namespace tessil {
namespace {

using coretest::CoreRate;
using coretest::CoreRig;

constexpr int32_t kN = kBlockFrames;

// What the block driver does before analysing a frame: both channels, left then right.
void Analyse(CoreRig& rig, std::vector<float>& left, std::vector<float>& right,
             float leftIndex = 0.0f, float rightIndex = 1.0f) {
  const float indices[2] = {leftIndex, rightIndex};
  for (CoreChannelState* state : {&rig.Left(), &rig.Right()}) {
    state->lookAhead = kLookAheadFrames;
    state->framePeak = 0.0f;
    state->channelIndex = indices[state == &rig.Right()];
  }
  CoreChannel* channels[2] = {&rig.core.left, &rig.core.right};
  float* inputs[2] = {left.data(), right.data()};
  AnalyseFrames(channels, inputs, rig.Envelope(), kN);
}

TEST(AnalyseFrames, DelayByTheLookAheadAcrossFrames) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);

  std::vector<float> frame(kN, 0.0f), right(kN, 0.0f);
  frame[0] = 1.0f;
  frame[230] = 0.75f;
  right[5] = -0.5f;
  Analyse(rig, frame, right);
  for (int32_t j = 0; j < kN; ++j) {
    EXPECT_EQ(frame[j], j == 22 ? 1.0f : 0.0f) << j;
    EXPECT_EQ(right[j], j == 27 ? -0.5f : 0.0f) << j;
  }
  // The late impulse waits in the window's look-ahead part.
  EXPECT_EQ(rig.Left().window[252], 0.75f);
  EXPECT_EQ(rig.Left().window[22], 1.0f);
  EXPECT_EQ(rig.Envelope()[252], 0.75f);
  EXPECT_EQ(rig.Envelope()[27], 0.5f);

  std::vector<float> next(kN, 0.0f), quiet(kN, 0.0f);
  Analyse(rig, next, quiet);
  for (int32_t j = 0; j < kN; ++j) {
    EXPECT_EQ(next[j], j == 12 ? 0.75f : 0.0f) << j;
  }

  // A silent frame after a tail of 0.5 starts with that tail.
  std::vector<float> tail(kN, 0.0f);
  for (int32_t j = kN - 22; j < kN; ++j) tail[j] = 0.5f;
  Analyse(rig, tail, quiet);
  std::vector<float> silence(kN, 0.0f);
  Analyse(rig, silence, quiet);
  for (int32_t j = 0; j < kN; ++j) {
    EXPECT_EQ(silence[j], j < 22 ? 0.5f : 0.0f) << j;
  }
}

TEST(AnalyseFrames, PeakAndEnergyOfEachDelayedFrame) {
  CoreRig rig;
  rig.Prepare(CoreRate::k44100);
  std::vector<float> ones(kN, 1.0f), halves(kN, 0.5f);
  Analyse(rig, ones, halves);
  // The first frame is delayed against silence: 22 zeros lead.
  EXPECT_EQ(rig.Left().energy, 218.0f * 0.00390625f);
  EXPECT_EQ(rig.Right().energy, 218.0f * 0.0009765625f);
  EXPECT_EQ(rig.Right().framePeak, 0.5f);
  ones.assign(kN, -1.0f);
  Analyse(rig, ones, halves);
  EXPECT_EQ(rig.Left().framePeak, 1.0f);
  EXPECT_EQ(rig.Left().energy, 0.9375f);

  // A larger peak held on entry is kept; the energy is always recomputed.
  std::vector<float> quiet(kN, 0.25f);
  rig.Left().framePeak = 3.0f;
  CoreChannel* channels[2] = {&rig.core.left, &rig.core.right};
  float* inputs[2] = {quiet.data(), halves.data()};
  AnalyseFrames(channels, inputs, rig.Envelope(), kN);
  EXPECT_EQ(rig.Left().framePeak, 3.0f);
  EXPECT_EQ(rig.Left().energy, 22.0f * 0.00390625f + 218.0f * 0.000244140625f);
}

TEST(AnalyseFrames, LinkedEnvelopeTakesTheLargerMagnitude) {
  struct EnvelopeCase {
    float left;
    float right;
  };
  const EnvelopeCase cases[] = {{0.25f, -0.5f}, {0.5f, 0.25f}, {-0.5f, -0.5f}};
  for (const EnvelopeCase& envelopeCase : cases) {
    CoreRig rig;
    rig.Prepare(CoreRate::k48000);
    // Windows that are constant over all 262 floats: old tail and new frame alike.
    for (int32_t j = kN; j < kN + 22; ++j) {
      rig.Left().window[j] = envelopeCase.left;
      rig.Right().window[j] = envelopeCase.right;
    }
    std::vector<float> left(kN, envelopeCase.left), right(kN, envelopeCase.right);
    for (int32_t j = 0; j < kN + 22; ++j) rig.Envelope()[j] = 9.0f;
    Analyse(rig, left, right);
    for (int32_t j = 0; j < kN + 22; ++j) ASSERT_EQ(rig.Envelope()[j], 0.5f) << j;
  }

  // Any other channel index leaves the envelope alone.
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  std::vector<float> frame(kN, 0.8f), other(kN, 0.9f);
  for (int32_t j = 0; j < kN + 22; ++j) rig.Envelope()[j] = 0.125f;
  Analyse(rig, frame, other, 0.5f, 2.0f);
  for (int32_t j = 0; j < kN + 22; ++j) ASSERT_EQ(rig.Envelope()[j], 0.125f) << j;
}

TEST(DecimateFrame, FiltersEveryEighthSampleThroughTheRing) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  CoreChannel* left = &rig.core.left;
  std::vector<float> output(kN, 5.0f);

  std::vector<float> zeros(kN, 0.0f);
  DecimateFrame(left, zeros.data(), output.data(), rig.scratch.data());
  for (int32_t j = 0; j < kN; ++j) ASSERT_EQ(output[j], 0.0f) << j;
  // The write position walks backwards through the 33-float ring and persists.
  EXPECT_EQ(rig.Left().ringWrite, (33 - kN % 33) % 33);

  // An impulse at position 0 is seen 7, 15, 23 and 31 samples later by the taps of those ages.
  std::vector<float> impulse(kN, 0.0f);
  impulse[0] = 1.0f;
  DecimateFrame(left, impulse.data(), output.data(), rig.scratch.data());
  for (int32_t j = 0; j < kN; ++j) {
    const float expected = (j % 8 == 7 && j <= 32) ? kDecimationFir[j] : 0.0f;
    EXPECT_EQ(output[j], expected) << j;
  }

  std::vector<float> ones(kN, 1.0f);
  DecimateFrame(left, ones.data(), output.data(), rig.scratch.data());
  DecimateFrame(left, ones.data(), output.data(), rig.scratch.data());
  float tapSum = 0.0f;
  for (int32_t k = 0; k < kDecimationFirLength; ++k) tapSum = kDecimationFir[k] + tapSum;
  EXPECT_NEAR(tapSum, 1.0127f, 1e-4f);
  for (int32_t j = 0; j < kN; ++j) {
    EXPECT_EQ(output[j], j % 8 == 7 ? tapSum : 0.0f) << j;
  }
}

TEST(DecimateFrame, TapsAreSymmetricWithZerosEveryEighth) {
  for (int32_t k = 0; k < kDecimationFirLength; ++k) {
    EXPECT_EQ(kDecimationFir[k], kDecimationFir[32 - k]) << k;
  }
  for (int32_t k : {0, 8, 24, 32}) EXPECT_EQ(kDecimationFir[k], 0.0f) << k;
  EXPECT_EQ(kDecimationFir[16], 0.125f);
}

}  // namespace
}  // namespace tessil
