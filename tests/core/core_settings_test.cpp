#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/core.h"
#include "core/core_test_support.h"

namespace tessil {
namespace {

using coretest::CoreRate;
using coretest::CoreRig;

void ExpectWeightingConstants(const CoreChannelState& state, const CoreRateTables& tables,
                              int32_t weighting) {
  EXPECT_EQ(CurrentWeights(&state), weighting == 0 ? tables.weights0 : tables.weights1);
  EXPECT_EQ(state.analysisGate, weighting == 0 ? 7.5e-05f : 5.8e-05f);
  EXPECT_EQ(state.activityGate, weighting == 0 ? 7.5e-05f : 5.8e-05f);
  EXPECT_EQ(state.smoothing, weighting == 0 ? 5e-06f : 4e-06f);
  EXPECT_EQ(state.loudnessThreshold, weighting == 0 ? 0.15f : 0.1f);
}

TEST(CoreSettings, LevelRangeIsInclusiveAndRefusalsKeepBothChannels) {
  CoreRig rig;
  EXPECT_EQ(CoreGetLevel(&rig.core), 0.5f);
  EXPECT_EQ(CoreSetLevel(&rig.core, 1.0f), 0);
  EXPECT_EQ(CoreGetLevel(&rig.core), 1.0f);
  EXPECT_EQ(CoreSetLevel(&rig.core, 3.1622778e-05f), 0);
  EXPECT_EQ(rig.core.left.level, 3.1622778e-05f);
  EXPECT_EQ(rig.core.right.level, 3.1622778e-05f);
  ASSERT_EQ(CoreSetLevel(&rig.core, 0.25f), 0);
  const float refused[] = {0.0f, 3.0e-05f, 1.0000001f, -0.5f,
                           std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity()};
  for (float value : refused) {
    EXPECT_EQ(CoreSetLevel(&rig.core, value), 1) << value;
    EXPECT_EQ(rig.core.left.level, 0.25f) << value;
    EXPECT_EQ(rig.core.right.level, 0.25f) << value;
  }
}

TEST(CoreSettings, SwitchesRefuseValuesOtherThanZeroOrOne) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  ASSERT_EQ(CoreSetWeighting(&rig.core, 1), 0);
  EXPECT_EQ(CoreSetWeighting(&rig.core, 2), 1);
  EXPECT_EQ(rig.core.left.weighting, 1);
  EXPECT_EQ(rig.core.right.weighting, 1);
  ExpectWeightingConstants(rig.Left(), kCoreTables48000, 1);
  ExpectWeightingConstants(rig.Right(), kCoreTables48000, 1);
  EXPECT_EQ(ChannelSetWeighting(&rig.core.left, 2), 3);
  EXPECT_EQ(ChannelSetWeighting(&rig.core.left, -1), 3);
  EXPECT_EQ(rig.core.left.weighting, 1);

  EXPECT_EQ(CoreGetEnable(&rig.core), 1);
  EXPECT_EQ(CoreSetEnable(&rig.core, 0), 0);
  EXPECT_EQ(CoreGetEnable(&rig.core), 0);
  EXPECT_EQ(CoreSetEnable(&rig.core, 2), 3);
  EXPECT_EQ(CoreSetEnable(&rig.core, -1), 3);
  EXPECT_EQ(CoreGetEnable(&rig.core), 0);
}

TEST(CoreSettings, GettersReportTheLeftChannel) {
  CoreRig rig;
  ASSERT_EQ(ChannelSetLevel(&rig.core.left, 0.2f), 0);
  ASSERT_EQ(ChannelSetLevel(&rig.core.right, 0.3f), 0);
  ASSERT_EQ(ChannelSetWeighting(&rig.core.right, 1), 0);
  EXPECT_EQ(CoreGetLevel(&rig.core), 0.2f);
  EXPECT_EQ(CoreGetWeighting(&rig.core), 0);
  ASSERT_EQ(ChannelSetWeighting(&rig.core.left, 1), 0);
  ASSERT_EQ(ChannelSetWeighting(&rig.core.right, 0), 0);
  EXPECT_EQ(CoreGetWeighting(&rig.core), 1);
}

TEST(CoreSettings, WeightingSwitchesTheBoundConstantsAtOnce) {
  CoreRig rig;
  rig.Prepare(CoreRate::k44100);
  ExpectWeightingConstants(rig.Left(), kCoreTables44100, 0);
  rig.Left().gain = 0.7f;
  rig.Left().target = 1.3f;
  rig.Left().bandState[5] = 0.125f;

  ASSERT_EQ(CoreSetWeighting(&rig.core, 1), 0);
  ExpectWeightingConstants(rig.Left(), kCoreTables44100, 1);
  ExpectWeightingConstants(rig.Right(), kCoreTables44100, 1);
  // A weighting change keeps the running state.
  EXPECT_EQ(rig.Left().gain, 0.7f);
  EXPECT_EQ(rig.Left().target, 1.3f);
  EXPECT_EQ(rig.Left().bandState[5], 0.125f);

  ASSERT_EQ(CoreSetWeighting(&rig.core, 0), 0);
  ExpectWeightingConstants(rig.Left(), kCoreTables44100, 0);
  ExpectWeightingConstants(rig.Right(), kCoreTables44100, 0);
}

TEST(CoreSettings, SettingsStoredWhileUnboundTakeEffectAtSetUp) {
  CoreRig rig;
  EXPECT_EQ(rig.core.left.state, nullptr);
  EXPECT_EQ(rig.core.right.state, nullptr);
  ASSERT_EQ(CoreSetWeighting(&rig.core, 1), 0);
  ASSERT_EQ(CoreSetLevel(&rig.core, 0.07f), 0);
  ASSERT_EQ(CoreSetEnable(&rig.core, 0), 0);
  rig.Prepare(CoreRate::k32000);
  EXPECT_EQ(rig.core.left.state, &rig.region->stateLeft);
  EXPECT_EQ(rig.core.right.state, &rig.region->stateRight);
  ExpectWeightingConstants(rig.Left(), kCoreTables32000, 1);
  ExpectWeightingConstants(rig.Right(), kCoreTables32000, 1);
  EXPECT_EQ(rig.Left().target, 0.07f);
  EXPECT_EQ(rig.Right().target, 0.07f);
  EXPECT_EQ(CoreGetEnable(&rig.core), 0);
}

TEST(CoreSettings, SetUpBindsTablesAndStartsFromAClearedState) {
  struct RateCase {
    CoreRate rate;
    const CoreRateTables* tables;
    float highBandScale;
  };
  const RateCase cases[] = {
      {CoreRate::k32000, &kCoreTables32000, 0.015625f},
      {CoreRate::k44100, &kCoreTables44100, 0.03125f},
      {CoreRate::k48000, &kCoreTables48000, 0.03125f},
  };
  for (const RateCase& rateCase : cases) {
    CoreRig rig;
    // Leftovers of an earlier stream: the set-up must clear all of them.
    for (float& value : rig.region->bufferLeft.samples) value = 7.0f;
    for (float& value : rig.region->bufferRight.samples) value = -7.0f;
    for (float& value : rig.region->stateLeft.bandState) value = 3.0f;
    rig.region->stateLeft.flushRing.cursor = 9;
    rig.Prepare(rateCase.rate);

    const CoreSampleBuffer* buffers[2] = {&rig.region->bufferLeft, &rig.region->bufferRight};
    for (int32_t c = 0; c < 2; ++c) {
      SCOPED_TRACE(c);
      const CoreChannelState& state = c == 0 ? rig.Left() : rig.Right();
      const CoreSampleBuffer& buffer = *buffers[c];
      EXPECT_EQ(state.gain, 1.0f);
      EXPECT_EQ(state.previousGain, 1.0f);
      EXPECT_EQ(state.target, 0.5f);
      EXPECT_EQ(state.increment, 0.0001f);
      EXPECT_EQ(state.lastStep, 0.0f);
      EXPECT_EQ(state.highBandScale, rateCase.highBandScale);
      EXPECT_EQ(state.highBandGain, 32.0f);
      EXPECT_EQ(state.ringWrite, 0);
      EXPECT_EQ(state.ringBase, buffer.samples);
      EXPECT_EQ(state.window, buffer.samples + 33);
      for (float value : buffer.samples) ASSERT_EQ(value, 0.0f);
      for (float value : state.bandState) ASSERT_EQ(value, 0.0f);
      for (int32_t band = 0; band < 4; ++band) {
        EXPECT_EQ(state.lowBandCoefficients[band], rateCase.tables->lowBand[band]);
      }
      for (int32_t band = 0; band < 12; ++band) {
        EXPECT_EQ(state.highBandCoefficients[band], rateCase.tables->highBand[band]);
      }
      EXPECT_EQ(state.weightTable0, rateCase.tables->weights0);
      EXPECT_EQ(state.weightTable1, rateCase.tables->weights1);
      ExpectWeightingConstants(state, *rateCase.tables, 0);
      // The flush ring visits the 32 band-state floats in order, starting at the first.
      EXPECT_EQ(state.flushRing.length, 32);
      EXPECT_EQ(state.flushRing.cursor, 0);
      EXPECT_EQ(state.flushRing.items, state.flushRingStorage);
      for (int32_t i = 0; i < 32; ++i) {
        EXPECT_EQ(FlushRingEntry(&state.flushRing, i), state.bandState + i);
      }
    }
  }
}

TEST(CoreSettings, DefaultsAndCopiesGoThroughTheSetters) {
  CoreRig rig;
  rig.Prepare(CoreRate::k48000);
  ASSERT_EQ(CoreSetWeighting(&rig.core, 1), 0);
  ASSERT_EQ(CoreSetLevel(&rig.core, 0.2f), 0);
  rig.core.right.ceiling = 0.6f;  // no setting reaches it; a copy still carries it
  ASSERT_EQ(CoreSetEnable(&rig.core, 0), 0);

  // A fresh, unbound context receives the settings.
  LoudnessCore copy{};
  CoreInitUnbound(&copy);
  CoreApplySettings(&copy, &rig.core);
  EXPECT_EQ(copy.left.state, nullptr);
  EXPECT_EQ(copy.left.weighting, 1);
  EXPECT_EQ(copy.right.weighting, 1);
  EXPECT_EQ(copy.left.level, 0.2f);
  EXPECT_EQ(copy.right.ceiling, 0.6f);
  EXPECT_EQ(copy.left.ceiling, 1.0f);
  EXPECT_EQ(copy.enabled, 0);

  // Defaults keep the binding and the running state but restore weighting 0 and its constants.
  rig.Left().gain = 0.3f;
  CoreResetDefaults(&rig.core);
  EXPECT_EQ(rig.core.left.state, &rig.region->stateLeft);
  EXPECT_EQ(rig.core.left.level, 0.5f);
  EXPECT_EQ(rig.core.right.ceiling, 1.0f);
  EXPECT_EQ(rig.core.right.weighting, 0);
  EXPECT_EQ(rig.core.enabled, 1);
  ExpectWeightingConstants(rig.Left(), kCoreTables48000, 0);
  ExpectWeightingConstants(rig.Right(), kCoreTables48000, 0);
  EXPECT_EQ(rig.Left().gain, 0.3f);

  ChannelUnbind(&rig.core.left);
  EXPECT_EQ(rig.core.left.state, nullptr);
  EXPECT_EQ(rig.core.left.level, 0.5f);
  EXPECT_EQ(ChannelSetWeighting(&rig.core.left, 1), 0);  // nowhere to write the constants
  ExpectWeightingConstants(rig.Left(), kCoreTables48000, 0);
}

TEST(CoreTables, ReciprocalsAndSharedWeightTable) {
  for (int32_t n = 1; n <= kReciprocalCount; ++n) {
    ASSERT_EQ(kReciprocals[n - 1], 1.0f / static_cast<float>(n)) << n;
  }
  for (int32_t band = 0; band < kCoreBandCount; ++band) {
    EXPECT_EQ(kCoreTables48000.weights0[band], kCoreTables32000.weights0[band]) << band;
  }
  EXPECT_EQ(kCoreTables32000.highBandScale, 0.015625f);
  EXPECT_EQ(kCoreTables44100.highBandScale, 0.03125f);
  EXPECT_EQ(kCoreTables48000.highBandScale, 0.03125f);
}

}  // namespace
}  // namespace tessil
