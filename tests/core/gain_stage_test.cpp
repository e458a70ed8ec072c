#include "core/gain_stage.h"

#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "core/core_test_support.h"

namespace tessil {
namespace {

using coretest::CoreRate;
using coretest::CoreRig;

constexpr int32_t kN = kBlockFrames;

// A bound channel at rest: gain and target 1, nothing stepped yet, envelope zero.
void StartFrame(CoreRig& rig, CoreChannelState& state, float level) {
  ASSERT_EQ(CoreSetLevel(&rig.core, level), 0);
  state.lookAhead = kLookAheadFrames;
  state.gain = 1.0f;
  state.target = 1.0f;
  state.lastStep = 0.0f;
  state.previousGain = 1.0f;
  state.bypassed = 0;
  for (int32_t j = 0; j < kN + kLookAheadFrames; ++j) rig.Envelope()[j] = 0.0f;
}

const float* Curve(CoreRig& rig) { return rig.scratch.data() + kCoreScratchCurve; }
const float* Steps(CoreRig& rig) { return rig.scratch.data() + kCoreScratchSteps; }

TEST(ApplyGainSingle, BelowTheLimitTheGainIsScaledToTheLevel) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  StartFrame(rig, rig.Left(), 0.5f);
  // Reaching the limit exactly is not above it.
  const float limit = (1.0f * 0.25f) * 0.96f;
  for (int32_t j = 0; j < kN + kLookAheadFrames; ++j) rig.Envelope()[j] = limit;
  std::vector<float> input(kN, 0.1f), output(kN, -1.0f);
  ApplyGainSingle(&rig.core.left, input.data(), output.data(), kN, rig.scratch.data());
  for (int32_t j = 0; j < kN; ++j) ASSERT_EQ(output[j], 2.0f) << j;
  EXPECT_EQ(rig.Left().gain, 1.0f);
  EXPECT_EQ(rig.Left().lastStep, 0.0f);
  EXPECT_EQ(rig.Left().previousGain, 1.0f);

  // While bypassed the delayed signal goes through instead.
  rig.Left().bypassed = 1;
  ApplyGainSingle(&rig.core.left, input.data(), output.data(), kN, rig.scratch.data());
  for (int32_t j = 0; j < kN; ++j) ASSERT_EQ(output[j], 0.1f) << j;
}

TEST(ApplyGainSingle, LookAheadStepsDownTowardsTheLimit) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  CoreChannelState& state = rig.Left();
  StartFrame(rig, state, 0.08f);  // no ramps: the raw steps stay visible
  rig.Envelope()[20] = 1.0f;
  std::vector<float> input(kN, 0.0f), output(kN);
  ApplyGainSingle(&rig.core.left, input.data(), output.data(), kN, rig.scratch.data());

  const float* curve = Curve(rig);
  const float limit = (1.0f * 0.25f) * 0.96f;
  EXPECT_EQ(curve[0], -std::fabs((limit - 1.0f) * kReciprocals[20]) + 1.0f);
  EXPECT_NEAR(curve[0], 1.0f - 0.76f / 21.0f, 1e-6f);
  // Every sample up to the peak steps again, always down, reaching the limit at the peak.
  for (int32_t j = 1; j <= 20; ++j) EXPECT_LT(curve[j], curve[j - 1]) << j;
  EXPECT_NEAR(curve[20], 0.24f, 1e-6f);
  for (int32_t j = 0; j <= 20; ++j) EXPECT_EQ(Steps(rig)[j], static_cast<float>(j));
  // No rise after a step within the frame.
  for (int32_t j = 21; j < kN; ++j) ASSERT_EQ(curve[j], curve[20]) << j;
  EXPECT_EQ(state.increment, 0.0f);
  EXPECT_EQ(state.gain, curve[kN - 1]);
  EXPECT_LT(state.lastStep, 0.0f);
  EXPECT_EQ(state.previousGain, curve[kN - 1]);
  for (int32_t j = 0; j < kN; ++j) ASSERT_EQ(output[j], (curve[j] * 4.0f) * 0.08f) << j;

  // Heading for a higher target the gain rises until the peak comes into view 22 samples ahead.
  StartFrame(rig, state, 0.08f);
  state.target = 2.0f;
  rig.Envelope()[100] = 1.0f;
  ApplyGainSingle(&rig.core.left, input.data(), output.data(), kN, rig.scratch.data());
  for (int32_t j = 1; j < 79; ++j) EXPECT_GT(curve[j], curve[j - 1]) << j;
  EXPECT_EQ(Steps(rig)[0], 79.0f);
  EXPECT_LT(curve[79], curve[78]);
  for (int32_t j = 101; j < kN; ++j) ASSERT_EQ(curve[j], curve[100]) << j;
}

TEST(ApplyGainSingle, RampsOnlyAboveTheLevelThreshold) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  CoreChannelState& state = rig.Left();
  std::vector<float> input(kN, 0.0f), output(kN);

  StartFrame(rig, state, 0.08f);
  rig.Envelope()[31] = 1.0f;  // steps at samples 10 to 31
  ApplyGainSingle(&rig.core.left, input.data(), output.data(), kN, rig.scratch.data());
  for (int32_t j = 32; j < kN; ++j) ASSERT_EQ(Curve(rig)[j], Curve(rig)[31]) << j;

  StartFrame(rig, state, std::nextafter(0.08f, 1.0f));
  rig.Envelope()[31] = 1.0f;
  ApplyGainSingle(&rig.core.left, input.data(), output.data(), kN, rig.scratch.data());
  // The last step of the run is ramped forward from the sample before it over 150 samples.
  const float* curve = Curve(rig);
  for (int32_t j = 32; j <= 180; ++j) EXPECT_LT(curve[j], curve[j - 1]) << j;
  EXPECT_NEAR(curve[180], curve[181], 1e-6f);
  EXPECT_EQ(state.previousGain, curve[kN - 1]);
}

// A frame's curve: 1.0 before the step, `after` from it on, `between` at marked positions.
std::vector<float> StepCurve(int32_t position, float after) {
  std::vector<float> curve(kN, 1.0f);
  for (int32_t j = position; j < kN; ++j) curve[j] = after;
  return curve;
}

// Checks curve[first..last] against a straight line from `from` (the value just before first)
// to `to` at last.
void ExpectLine(const std::vector<float>& curve, int32_t first, int32_t last, float from,
                float to) {
  const int32_t length = last - first + 1;
  for (int32_t k = 0; k < length; ++k) {
    const float expected = from + (to - from) * static_cast<float>(k + 1) / length;
    EXPECT_NEAR(curve[first + k], expected, 2e-5f) << first + k;
  }
}

void Ramp(CoreRig& rig, std::vector<float>& curve, std::vector<float> steps) {
  RampGainSteps(&rig.core.left, kN, curve.data(), static_cast<int32_t>(steps.size()),
                steps.data());
}

TEST(RampGainSteps, LoneStepsRampForwardOrBackward) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  rig.Left().previousGain = 1.0f;

  std::vector<float> curve = StepCurve(10, 0.5f);
  Ramp(rig, curve, {10.0f});
  for (int32_t j = 0; j < 10; ++j) EXPECT_EQ(curve[j], 1.0f);
  ExpectLine(curve, 10, 159, 1.0f, 0.5f);
  for (int32_t j = 160; j < kN; ++j) EXPECT_EQ(curve[j], 0.5f);

  curve = StepCurve(200, 0.5f);
  Ramp(rig, curve, {200.0f});
  for (int32_t j = 0; j <= 50; ++j) EXPECT_EQ(curve[j], 1.0f);
  ExpectLine(curve, 51, 200, 1.0f, 0.5f);
  for (int32_t j = 201; j < kN; ++j) EXPECT_EQ(curve[j], 0.5f);

  // Cut to the 100 samples before the step.
  curve = StepCurve(100, 0.5f);
  Ramp(rig, curve, {100.0f});
  EXPECT_EQ(curve[0], 1.0f);
  ExpectLine(curve, 1, 100, 1.0f, 0.5f);

  // Forward from the first sample: from the previous frame's last value, ending one further on.
  rig.Left().previousGain = 0.8f;
  curve = StepCurve(0, 0.5f);
  curve[150] = 0.2f;
  Ramp(rig, curve, {0.0f});
  ExpectLine(curve, 0, 149, 0.8f, 0.2f);
  EXPECT_EQ(curve[150], 0.2f);
  EXPECT_EQ(curve[151], 0.5f);
}

TEST(RampGainSteps, NeighbouringStepsShareTheRamp) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);

  std::vector<float> curve = StepCurve(20, 0.5f);
  curve[20] = 0.7f;
  Ramp(rig, curve, {20.0f, 21.0f});
  EXPECT_EQ(curve[19], 1.0f);
  EXPECT_EQ(curve[20], 0.7f);  // one sample before the next step: left alone
  ExpectLine(curve, 21, 170, 0.7f, 0.5f);
  for (int32_t j = 171; j < kN; ++j) EXPECT_EQ(curve[j], 0.5f);

  curve = StepCurve(200, 0.5f);
  curve[200] = 0.7f;
  Ramp(rig, curve, {200.0f, 201.0f});
  EXPECT_EQ(curve[50], 1.0f);
  ExpectLine(curve, 51, 200, 1.0f, 0.7f);
  EXPECT_EQ(curve[201], 0.5f);  // one sample after the previous step: left alone

  // A forward ramp stops at the next step.
  curve = StepCurve(10, 0.5f);
  for (int32_t j = 60; j < kN; ++j) curve[j] = 0.25f;
  Ramp(rig, curve, {10.0f, 60.0f});
  ExpectLine(curve, 10, 59, 1.0f, 0.5f);
  ExpectLine(curve, 60, 209, 0.5f, 0.25f);
}

TEST(RampGainSteps, RisingStepsRampTheOtherWay) {
  // A position where the curve did not fall gets the negated slope, as tuned.
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  std::vector<float> curve = StepCurve(10, 1.5f);
  Ramp(rig, curve, {10.0f});
  ExpectLine(curve, 10, 159, 1.0f, 0.5f);

  curve = StepCurve(200, 1.5f);
  Ramp(rig, curve, {200.0f});
  ExpectLine(curve, 51, 200, 1.0f, 0.5f);

  rig.Left().previousGain = 0.5f;
  curve = StepCurve(0, 1.0f);
  Ramp(rig, curve, {0.0f});
  ExpectLine(curve, 0, 149, 0.5f, 0.0f);

  // Steps one sample from their neighbour stay as they are, even where the curve rose.
  curve = StepCurve(21, 0.5f);
  curve[20] = 1.25f;
  Ramp(rig, curve, {20.0f, 21.0f});
  EXPECT_EQ(curve[20], 1.25f);
  curve = StepCurve(200, 0.5f);
  curve[201] = 0.75f;
  Ramp(rig, curve, {200.0f, 201.0f});
  EXPECT_EQ(curve[201], 0.75f);
}

TEST(ApplyGainLinked, OneCurveFromTheLeftStateTowardsTheLouderTarget) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  StartFrame(rig, rig.Left(), 0.5f);
  StartFrame(rig, rig.Right(), 0.5f);
  rig.Left().target = 2.0f;
  rig.Right().target = 0.5f;
  rig.Right().gain = 0.9f;
  rig.Right().increment = 0.125f;
  rig.Right().previousGain = 0.75f;
  std::vector<float> left(kN, 0.1f), right(kN, 0.2f), gainsLeft(kN), gainsRight(kN);
  float* inputs[2] = {left.data(), right.data()};
  float* outputs[2] = {gainsLeft.data(), gainsRight.data()};

  rig.Left().framePeak = 0.3f;
  rig.Right().framePeak = 0.3f;  // a tie: the left target leads
  ApplyGainLinked(&rig.core.left, &rig.core.right, inputs, outputs, kN, rig.scratch.data());
  EXPECT_GT(gainsLeft[kN - 1], gainsLeft[0]);
  EXPECT_GT(rig.Left().gain, 1.0f);
  EXPECT_EQ(gainsLeft, gainsRight);
  EXPECT_EQ(rig.Right().gain, 0.9f);
  EXPECT_EQ(rig.Right().increment, 0.125f);
  EXPECT_EQ(rig.Right().previousGain, 0.75f);

  rig.Left().gain = 1.0f;
  rig.Left().framePeak = 0.2f;
  ApplyGainLinked(&rig.core.left, &rig.core.right, inputs, outputs, kN, rig.scratch.data());
  EXPECT_LT(gainsLeft[kN - 1], gainsLeft[0]);
  EXPECT_LT(rig.Left().gain, 1.0f);
  EXPECT_EQ(gainsLeft, gainsRight);

  rig.Left().bypassed = 1;
  ApplyGainLinked(&rig.core.left, &rig.core.right, inputs, outputs, kN, rig.scratch.data());
  EXPECT_EQ(gainsLeft, left);
  EXPECT_EQ(gainsRight, right);
}

// The curve one sample at a time, each look-ahead summed afresh: what the gain stage must give,
// bit for bit, however it shares the sums.
struct PlainCurve {
  std::vector<float> curve;
  std::vector<float> steps;
  float gain, increment, lastStep;
};

PlainCurve PlainGainCurve(float gain, float target, float smoothing, float lastStep,
                          const float* envelope) {
  PlainCurve plain{{}, {}, gain, (target - gain) * smoothing, lastStep};
  const float limit = (1.0f * 0.25f) * 0.96f;
  for (int32_t j = 0; j < kN; ++j) {
    float h = plain.gain;
    int32_t distance = -1;
    for (int32_t k = 0; k < kLookAheadFrames && distance < 0; ++k) {
      h = plain.increment + h;
      if (h * envelope[j + k] > limit) distance = k;
    }
    if (distance >= 0) {
      plain.lastStep = -std::fabs((limit - plain.gain) * kReciprocals[distance]);
      plain.gain = plain.lastStep + plain.gain;
      plain.increment = 0.0f;
      plain.steps.push_back(static_cast<float>(j));
    } else {
      plain.gain = plain.increment + plain.gain;
    }
    plain.curve.push_back(plain.gain);
  }
  return plain;
}

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Peaks anywhere (also in the look-ahead past the frame), quiet stretches, rising and falling
// gains, in every floating-point mode a host may leave behind.
TEST(ApplyGainSingle, CurveAndStepsMatchTheOneSampleLookAheadInEveryMode) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> uniform(0.0f, 1.0f);
  const unsigned saved = _mm_getcsr();
  int32_t stepsSeen = 0;
  for (unsigned mode : {0x0000u, 0x8040u, 0x2000u, 0x6000u}) {  // nearest, FTZ+DAZ, down, zero
    for (int32_t round = 0; round < 200; ++round) {
      CoreRig rig;
      rig.Prepare(CoreRate::k48000);
      CoreChannelState& state = rig.Left();
      StartFrame(rig, state, 0.08f);  // no ramps
      state.gain = 0.02f + 2.0f * uniform(random);
      state.target = round % 3 == 0 ? state.gain : 0.02f + 3.0f * uniform(random);
      state.lastStep = -0.01f;
      const int32_t peaks = round % 5;
      const float height = 0.05f + 0.5f * uniform(random);
      for (int32_t j = 0; j < kN + kLookAheadFrames; ++j) {
        rig.Envelope()[j] = height * uniform(random) * 0.3f;
      }
      for (int32_t p = 0; p < peaks; ++p) {
        rig.Envelope()[random() % (kN + kLookAheadFrames)] = height * (1.0f + 4.0f * uniform(random));
      }
      std::vector<float> input(kN, 0.0f), output(kN);
      _mm_setcsr((saved & ~0xE040u) | mode);
      const PlainCurve plain = PlainGainCurve(state.gain, state.target, state.smoothing,
                                              state.lastStep, rig.Envelope());
      ApplyGainSingle(&rig.core.left, input.data(), output.data(), kN, rig.scratch.data());
      _mm_setcsr(saved);
      for (int32_t j = 0; j < kN; ++j) {
        ASSERT_TRUE(SameBits(Curve(rig)[j], plain.curve[j])) << "mode " << mode << " round "
                                                             << round << " sample " << j;
      }
      for (size_t s = 0; s < plain.steps.size(); ++s) ASSERT_EQ(Steps(rig)[s], plain.steps[s]);
      EXPECT_TRUE(SameBits(state.gain, plain.gain));
      EXPECT_TRUE(SameBits(state.increment, plain.increment));
      EXPECT_TRUE(SameBits(state.lastStep, plain.lastStep));
      stepsSeen += static_cast<int32_t>(plain.steps.size());
    }
  }
  EXPECT_GT(stepsSeen, 1000);  // the rounds do reach the limit, often
}

}  // namespace
}  // namespace tessil
