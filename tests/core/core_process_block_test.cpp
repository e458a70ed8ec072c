#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "core/core.h"
#include "core/core_process_block.h"
#include "core/core_test_support.h"
#include "platform/relaxed.h"

namespace tessil {
namespace {

using coretest::CoreRate;
using coretest::CoreRig;

constexpr int32_t kN = kBlockFrames;

// Deterministic uniform noise in [-amplitude, amplitude).
class Noise {
 public:
  explicit Noise(uint32_t seed) : state_(seed) {}
  float Next(float amplitude) {
    state_ = state_ * 1664525u + 1013904223u;
    return amplitude * (static_cast<float>(state_ >> 8) / 8388608.0f - 1.0f);
  }
  std::vector<float> Frame(int32_t count, float amplitude) {
    std::vector<float> frame(count);
    for (float& value : frame) value = Next(amplitude);
    return frame;
  }

 private:
  uint32_t state_;
};

bool AllEqual(const std::vector<float>& values, float expected) {
  for (float value : values) {
    if (value != expected) return false;
  }
  return true;
}

bool BandStateIsZero(const CoreChannelState& state) {
  for (float value : state.bandState) {
    if (value != 0.0f) return false;
  }
  return true;
}

bool SameBandState(const CoreChannelState& a, const CoreChannelState& b, float sign) {
  for (int32_t i = 0; i < kCoreBandStateFloats; ++i) {
    if (a.bandState[i] != sign * b.bandState[i]) return false;
  }
  return true;
}

struct Block {
  std::vector<float> left, right;
  std::vector<float> gainsLeft = std::vector<float>(kN, -3.0f);
  std::vector<float> gainsRight = std::vector<float>(kN, -3.0f);
};

void Drive(CoreRig& rig, Block& block) {
  rig.Process(block.left, block.right, block.gainsLeft, block.gainsRight);
}

TEST(CoreProcessBlock, QuietChannelsGiveUnityAndChangeNothing) {
  CoreRig rig;
  ASSERT_EQ(CoreSetWeighting(&rig.core, 1), 0);
  rig.Prepare(CoreRate::k48000);
  // Peaks at the activity gate itself are not above it.
  Block block{std::vector<float>(kN, 5.8e-05f), std::vector<float>(kN, -5.8e-05f)};
  for (int32_t frame = 0; frame < 2; ++frame) {
    Drive(rig, block);
    EXPECT_TRUE(AllEqual(block.gainsLeft, 1.0f));
    EXPECT_TRUE(AllEqual(block.gainsRight, 1.0f));
  }
  for (const CoreChannelState* state : {&rig.Left(), &rig.Right()}) {
    EXPECT_EQ(state->gain, 1.0f);
    EXPECT_EQ(state->previousGain, 1.0f);
    EXPECT_EQ(state->target, 0.5f);
    EXPECT_EQ(state->increment, 0.0001f);
    EXPECT_EQ(state->ringWrite, 0);
    EXPECT_EQ(state->flushRing.cursor, 0);
    EXPECT_TRUE(BandStateIsZero(*state));
  }
}

TEST(CoreProcessBlock, SingleChannelFramesMuteTheQuietChannel) {
  Noise noise(7);
  {
    SCOPED_TRACE("left only");
    CoreRig rig;
    rig.Prepare(CoreRate::k44100);
    for (int32_t frame = 0; frame < 3; ++frame) {
      Block block{noise.Frame(kN, 0.3f), std::vector<float>(kN, 0.0f)};
      Drive(rig, block);
      EXPECT_TRUE(AllEqual(block.gainsRight, 0.0f));
      for (float gain : block.gainsLeft) ASSERT_GT(gain, 0.0f);
    }
    EXPECT_NE(rig.Left().gain, 1.0f);
    EXPECT_FALSE(BandStateIsZero(rig.Left()));
    EXPECT_EQ(rig.Right().gain, 1.0f);
    EXPECT_EQ(rig.Right().ringWrite, 0);
    EXPECT_TRUE(BandStateIsZero(rig.Right()));
  }
  {
    SCOPED_TRACE("right only, left exactly at its gate");
    CoreRig rig;
    rig.Prepare(CoreRate::k44100);
    for (int32_t frame = 0; frame < 3; ++frame) {
      Block block{std::vector<float>(kN, 7.5e-05f), noise.Frame(kN, 0.3f)};
      Drive(rig, block);
      EXPECT_TRUE(AllEqual(block.gainsLeft, 0.0f));
      for (float gain : block.gainsRight) ASSERT_GT(gain, 0.0f);
      // The right channel's gain carries over into the left's, where linked frames continue.
      EXPECT_EQ(rig.Left().gain, rig.Right().gain);
    }
    EXPECT_NE(rig.Right().gain, 1.0f);
    EXPECT_FALSE(BandStateIsZero(rig.Right()));
    EXPECT_TRUE(BandStateIsZero(rig.Left()));
    EXPECT_EQ(rig.Left().previousGain, 1.0f);
  }
}

TEST(CoreProcessBlock, LinkedFramesFollowTheLeadingChannel) {
  Noise noise(11);
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  for (int32_t frame = 0; frame < 3; ++frame) {
    Block block{noise.Frame(kN, 0.05f), noise.Frame(kN, 0.4f)};
    Drive(rig, block);
    EXPECT_EQ(block.gainsLeft, block.gainsRight);
    // The right channel led: its analysis ran and its band states were handed to the left.
    EXPECT_TRUE(SameBandState(rig.Left(), rig.Right(), 1.0f));
    EXPECT_NE(rig.Right().target, 0.5f);
  }
  EXPECT_FALSE(BandStateIsZero(rig.Right()));
  EXPECT_NE(rig.Left().gain, 1.0f);
  EXPECT_EQ(rig.Right().gain, 1.0f);
  EXPECT_EQ(rig.Right().previousGain, 1.0f);

  // With equal energies the left channel leads: a channel and its negation in either order.
  const std::vector<float> signal = noise.Frame(kN, 0.3f);
  std::vector<float> negated(signal);
  for (float& value : negated) value = -value;
  CoreRig same, leftFirst, rightFirst;
  for (CoreRig* each : {&same, &leftFirst, &rightFirst}) each->Prepare(CoreRate::k48000);
  Block sameBlock{signal, signal}, leftBlock{signal, negated}, rightBlock{negated, signal};
  Drive(same, sameBlock);
  Drive(leftFirst, leftBlock);
  Drive(rightFirst, rightBlock);
  ASSERT_FALSE(BandStateIsZero(same.Left()));
  EXPECT_TRUE(SameBandState(leftFirst.Left(), same.Left(), 1.0f));
  EXPECT_TRUE(SameBandState(leftFirst.Right(), same.Left(), 1.0f));
  EXPECT_TRUE(SameBandState(rightFirst.Right(), same.Left(), -1.0f));
  EXPECT_EQ(leftBlock.gainsLeft, sameBlock.gainsLeft);
}

TEST(CoreProcessBlock, LongBlocksEqualConsecutiveFrames) {
  Noise noise(3);
  const std::vector<float> left = noise.Frame(4 * kN, 0.6f);
  const std::vector<float> right = noise.Frame(4 * kN, 0.2f);
  for (int32_t frames : {2, 3, 4}) {
    SCOPED_TRACE(frames);
    const int32_t count = frames * kN;
    CoreRig whole, split;
    whole.Prepare(CoreRate::k32000);
    split.Prepare(CoreRate::k32000);

    Block wholeBlock{std::vector<float>(left.begin(), left.begin() + count),
                     std::vector<float>(right.begin(), right.begin() + count)};
    wholeBlock.gainsLeft.assign(count, -3.0f);
    wholeBlock.gainsRight.assign(count, -3.0f);
    float* inputs[2] = {wholeBlock.left.data(), wholeBlock.right.data()};
    float* outputs[2] = {wholeBlock.gainsLeft.data(), wholeBlock.gainsRight.data()};
    float* const before[4] = {inputs[0], inputs[1], outputs[0], outputs[1]};
    CoreProcessBlock(&whole.core, inputs, outputs, whole.scratch.data(), count);
    EXPECT_EQ(inputs[0], before[0]);
    EXPECT_EQ(inputs[1], before[1]);
    EXPECT_EQ(outputs[0], before[2]);
    EXPECT_EQ(outputs[1], before[3]);

    for (int32_t frame = 0; frame < frames; ++frame) {
      Block part{std::vector<float>(left.begin() + frame * kN, left.begin() + (frame + 1) * kN),
                 std::vector<float>(right.begin() + frame * kN, right.begin() + (frame + 1) * kN)};
      Drive(split, part);
      for (int32_t j = 0; j < kN; ++j) {
        const int32_t at = frame * kN + j;
        ASSERT_EQ(part.left[j], wholeBlock.left[at]) << at;
        ASSERT_EQ(part.right[j], wholeBlock.right[at]) << at;
        ASSERT_EQ(part.gainsLeft[j], wholeBlock.gainsLeft[at]) << at;
        ASSERT_EQ(part.gainsRight[j], wholeBlock.gainsRight[at]) << at;
      }
    }
    // The delay is continuous: each block ends with the samples 22 before its end.
    EXPECT_EQ(wholeBlock.left[count - 1], left[count - 1 - kLookAheadFrames]);
    for (const auto& [a, b] : {std::pair{&whole.Left(), &split.Left()},
                               std::pair{&whole.Right(), &split.Right()}}) {
      EXPECT_EQ(a->gain, b->gain);
      EXPECT_EQ(a->previousGain, b->previousGain);
      EXPECT_EQ(a->target, b->target);
      EXPECT_EQ(a->ringWrite, b->ringWrite);
      EXPECT_EQ(a->flushRing.cursor, b->flushRing.cursor);
      EXPECT_TRUE(SameBandState(*a, *b, 1.0f));
    }
  }
}

TEST(CoreProcessBlock, OtherLengthsAreOneFrame) {
  Noise noise(5);
  const std::vector<float> left = noise.Frame(300, 0.5f);
  const std::vector<float> right = noise.Frame(300, 0.25f);
  CoreRig odd, single;
  odd.Prepare(CoreRate::k48000);
  single.Prepare(CoreRate::k48000);

  Block oddBlock{left, right};
  oddBlock.gainsLeft.assign(300, -3.0f);
  oddBlock.gainsRight.assign(300, -3.0f);
  Drive(odd, oddBlock);
  Block first{std::vector<float>(left.begin(), left.begin() + kN),
              std::vector<float>(right.begin(), right.begin() + kN)};
  Drive(single, first);
  for (int32_t j = 0; j < kN; ++j) {
    ASSERT_EQ(oddBlock.gainsLeft[j], first.gainsLeft[j]) << j;
    ASSERT_EQ(oddBlock.left[j], first.left[j]) << j;
  }
  for (int32_t j = kN; j < 300; ++j) {
    ASSERT_EQ(oddBlock.gainsLeft[j], -3.0f) << j;
    ASSERT_EQ(oddBlock.gainsRight[j], -3.0f) << j;
    ASSERT_EQ(oddBlock.left[j], left[j]) << j;
    ASSERT_EQ(oddBlock.right[j], right[j]) << j;
  }
}

// Quarter-second sections of synthetic programme in a cycle.
void FillProgramme(Noise& noise, int32_t rate, int32_t start, std::vector<float>& left,
                   std::vector<float>& right) {
  const double twoPi = 6.283185307179586;
  for (int32_t j = 0; j < kN; ++j) {
    const int32_t t = start + j;
    const int32_t section = (t / (rate / 4)) % 8;
    const double seconds = static_cast<double>(t) / rate;
    float l = 0.0f, r = 0.0f;
    switch (section) {
      case 0:  // quiet sines
        l = static_cast<float>(0.01 * std::sin(twoPi * 440.0 * seconds));
        r = static_cast<float>(0.01 * std::sin(twoPi * 660.0 * seconds));
        break;
      case 1:  // loud noise bursts with sharp onsets
        if ((t / 1000) % 3 == 0) {
          l = noise.Next(0.99f);
          r = noise.Next(0.99f);
        }
        break;
      case 2:  // left only
        l = static_cast<float>(0.7 * std::sin(twoPi * 200.0 * seconds));
        break;
      case 3:  // right only
        r = noise.Next(0.5f);
        break;
      case 4:  // digital silence
        break;
      case 5:  // right louder than left
        l = noise.Next(0.05f);
        r = static_cast<float>(0.8 * std::sin(twoPi * 1000.0 * seconds));
        break;
      case 6:  // noise near the activity gates
        l = noise.Next(9e-05f);
        r = noise.Next(6e-05f);
        break;
      default:  // near-full-scale tone with isolated clicks
        l = static_cast<float>(0.999 * std::sin(twoPi * 3000.0 * seconds));
        r = t % 997 == 0 ? 1.0f : l;
        break;
    }
    left[j] = l;
    right[j] = r;
  }
}

bool StateIsFinite(const CoreChannelState& state) {
  const float values[] = {state.lastStep, state.gain,        state.increment, state.target,
                          state.framePeak, state.previousGain, state.energy};
  for (float value : values) {
    if (!std::isfinite(value)) return false;
  }
  for (float value : state.bandState) {
    if (!std::isfinite(value)) return false;
  }
  return true;
}

TEST(CoreProcessBlock, SoakStaysFiniteAndKeepsItsReferences) {
  struct SoakCase {
    CoreRate rate;
    int32_t rateHz;
    int32_t weighting;
    float level;
  };
  const SoakCase cases[] = {
      {CoreRate::k32000, 32000, 1, 0.07f},
      {CoreRate::k44100, 44100, 0, 0.5f},
      {CoreRate::k48000, 48000, 1, 1.0f},
      {CoreRate::k48000, 48000, 0, 3.1622778e-05f},
  };
  for (const SoakCase& soak : cases) {
    SCOPED_TRACE(soak.rateHz);
    CoreRig rig;
    ASSERT_EQ(CoreSetWeighting(&rig.core, soak.weighting), 0);
    ASSERT_EQ(CoreSetLevel(&rig.core, soak.level), 0);
    rig.Prepare(soak.rate);
    const CoreChannelState leftBefore = rig.Left();
    const CoreChannelState rightBefore = rig.Right();

    Noise noise(static_cast<uint32_t>(soak.rateHz));
    Block block{std::vector<float>(kN), std::vector<float>(kN)};
    const int32_t blocks = 4 * soak.rateHz / kN;
    int32_t limitedFrames = 0;
    for (int32_t index = 0; index < blocks; ++index) {
      FillProgramme(noise, soak.rateHz, index * kN, block.left, block.right);
      Drive(rig, block);
      bool unity = true;
      for (int32_t j = 0; j < kN; ++j) {
        ASSERT_TRUE(std::isfinite(block.gainsLeft[j])) << index << " " << j;
        ASSERT_TRUE(std::isfinite(block.gainsRight[j])) << index << " " << j;
        ASSERT_GE(block.gainsLeft[j], 0.0f);
        ASSERT_GE(block.gainsRight[j], 0.0f);
        unity = unity && block.gainsLeft[j] == 1.0f && block.gainsRight[j] == 1.0f;
      }
      // Without ramps the limiter holds the output below its ceiling share of the level.
      if (soak.level <= 0.08f && !unity) {
        limitedFrames += 1;
        const float bound = 0.96f * soak.level * 1.0001f;
        for (int32_t j = 0; j < kN; ++j) {
          ASSERT_LE(std::fabs(block.left[j] * block.gainsLeft[j]), bound) << index << " " << j;
          ASSERT_LE(std::fabs(block.right[j] * block.gainsRight[j]), bound) << index << " " << j;
        }
      }
      ASSERT_TRUE(StateIsFinite(rig.Left())) << index;
      ASSERT_TRUE(StateIsFinite(rig.Right())) << index;
    }
    if (soak.level <= 0.08f) {
      EXPECT_GT(limitedFrames, blocks / 2);
    }

    for (const auto& [after, before] : {std::pair{&rig.Left(), &leftBefore},
                                        std::pair{&rig.Right(), &rightBefore}}) {
      EXPECT_EQ(after->window, before->window);
      EXPECT_EQ(after->ringBase, before->ringBase);
      EXPECT_EQ(after->weightTable0, before->weightTable0);
      EXPECT_EQ(after->weightTable1, before->weightTable1);
      EXPECT_EQ(CurrentWeights(after), CurrentWeights(before));
      EXPECT_EQ(after->flushRing.items, after->flushRingStorage);
      EXPECT_EQ(FlushRingEntry(&after->flushRing, 0), after->bandState);
      EXPECT_EQ(after->flushRing.length, 32);
      EXPECT_EQ(std::memcmp(after->flushRingStorage, before->flushRingStorage,
                            sizeof after->flushRingStorage),
                0);
      for (int32_t band = 0; band < kCoreLowBandCount; ++band) {
        EXPECT_EQ(after->lowBandCoefficients[band], before->lowBandCoefficients[band]);
      }
      for (int32_t band = 0; band < kCoreHighBandCount; ++band) {
        EXPECT_EQ(after->highBandCoefficients[band], before->highBandCoefficients[band]);
      }
    }
    EXPECT_EQ(rig.Left().window, rig.region->bufferLeft.samples + 33);
    EXPECT_EQ(rig.Right().ringBase, rig.region->bufferRight.samples);
  }
}

TEST(CoreProcessBlock, SettingsMayChangeWhileBlocksRun) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  std::atomic<bool> done{false};
  std::thread control([&] {
    for (int32_t i = 0; !done.load(); ++i) {
      CoreSetWeighting(&rig.core, i & 1);
      CoreSetLevel(&rig.core, (i & 2) != 0 ? 0.05f : 0.9f);
      StoreRelaxed(rig.core.left.ceiling, (i & 4) != 0 ? 0.5f : 1.0f);
    }
  });
  Noise noise(19);
  for (int32_t index = 0; index < 400; ++index) {
    Block block{noise.Frame(kN, 0.8f), noise.Frame(kN, 0.1f)};
    Drive(rig, block);
    for (int32_t j = 0; j < kN; ++j) ASSERT_TRUE(std::isfinite(block.gainsLeft[j])) << j;
  }
  done.store(true);
  control.join();
  EXPECT_TRUE(StateIsFinite(rig.Left()));
  const float gate = rig.Left().analysisGate;
  EXPECT_TRUE(gate == 7.5e-05f || gate == 5.8e-05f);
}

}  // namespace
}  // namespace tessil
