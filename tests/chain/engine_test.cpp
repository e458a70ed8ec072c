#include "chain/engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

namespace tessil {
namespace {

struct Engine {
  std::unique_ptr<EngineContext> context = std::make_unique<EngineContext>();
  std::unique_ptr<EngineStateBlock> state = std::make_unique<EngineStateBlock>();
  Engine() { EngineInit(context.get()); }
  EngineContext* operator->() { return context.get(); }
  EngineContext* get() { return context.get(); }
};

TEST(EngineSettings, InitWritesTheDefaults) {
  Engine engine;
  EngineContext* c = engine.get();
  EXPECT_EQ(EngineGetEnable(c), 1);
  EXPECT_EQ(EngineGetInputGain(c), 1.0f);
  EXPECT_EQ(EngineGetOutputGain(c), 1.0f);
  EXPECT_EQ(EngineGetBypassGain(c), 1.0f);
  EXPECT_EQ(EngineGetOutputStageEnable(c), 1);
  EXPECT_EQ(EngineGetOutputStageAmount(c), 0.2f);
  EXPECT_EQ(EngineGetHighPassEnable(c), 1);
  EXPECT_EQ(EngineGetHighPassFrequency(c), 20);
  EXPECT_EQ(EngineGetHighPassOrder(c), 2);
  EXPECT_EQ(EngineGetLowPassEnable(c), 1);
  EXPECT_EQ(EngineGetLowPassFrequency(c), 20000);
  EXPECT_EQ(EngineGetLowPassOrder(c), 2);
  for (uint32_t channel = 0; channel < 2; ++channel) {
    EXPECT_EQ(EngineGetEqEnable(c, channel), 1);
    for (uint32_t band = 0; band < 4; ++band) {
      EXPECT_EQ(EngineGetEqBandEnable(c, channel, band), 1);
      EXPECT_EQ(EngineGetEqBandGain(c, channel, band), 1.0f);
      EXPECT_EQ(EngineGetEqBandFrequency(c, channel, band), 1000u);
      EXPECT_EQ(EngineGetEqBandQ(c, channel, band), 2.0f);
    }
  }
  EXPECT_EQ(EngineGetCoreEnable(c), 1);
  EXPECT_EQ(EngineGetCoreWeighting(c), 1);
  EXPECT_EQ(EngineGetCoreLevel(c), 0.5f);
  EXPECT_EQ(c->stateBlock, nullptr);
  EXPECT_EQ(c->equaliserLeft.bands, c->bandsLeft);
  EXPECT_EQ(c->equaliserRight.bands, c->bandsRight);
}

TEST(EngineSettings, SettersRefuseOutOfRangeValuesAndKeepTheOldOne) {
  Engine engine;
  EngineContext* c = engine.get();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(EngineSetInputGain(c, 0.0f), 0);
  EXPECT_EQ(EngineSetInputGain(c, 1.0f), 0);
  EXPECT_EQ(EngineSetInputGain(c, 1.0000001f), 1);
  EXPECT_EQ(EngineSetInputGain(c, -0.0001f), 1);
  EXPECT_EQ(EngineSetInputGain(c, nan), 1);
  EXPECT_EQ(EngineGetInputGain(c), 1.0f);
  EXPECT_EQ(EngineSetOutputGain(c, 4.0f), 0);
  EXPECT_EQ(EngineSetOutputGain(c, 4.01f), 1);
  EXPECT_EQ(EngineSetOutputGain(c, nan), 1);
  EXPECT_EQ(EngineGetOutputGain(c), 4.0f);
  EXPECT_EQ(EngineSetBypassGain(c, nan), 1);
  EXPECT_EQ(EngineSetOutputStageAmount(c, 1.5f), 1);
  EXPECT_EQ(EngineSetOutputStageAmount(c, nan), 1);
  EXPECT_EQ(EngineGetOutputStageAmount(c), 0.2f);

  EXPECT_EQ(EngineSetEnable(c, 2), 1);  // the master switch answers 1, not 3
  EXPECT_EQ(EngineGetEnable(c), 1);
  EXPECT_EQ(EngineSetOutputStageEnable(c, 2), 3);
  EXPECT_EQ(EngineSetHighPassEnable(c, 2), 3);
  EXPECT_EQ(EngineSetCoreEnable(c, 2), 3);

  EXPECT_EQ(EngineSetHighPassFrequency(c, 19), 1);
  EXPECT_EQ(c->highPassLeft.frequency, 20);
  EXPECT_EQ(c->highPassRight.frequency, 20);
  EXPECT_EQ(EngineSetHighPassFrequency(c, 20000), 0);
  EXPECT_EQ(c->highPassRight.frequency, 20000);
  EXPECT_EQ(EngineSetLowPassOrder(c, 11), 1);  // would not fit the block's memory
  EXPECT_EQ(EngineGetLowPassOrder(c), 2);

  EXPECT_EQ(EngineSetEqBandGain(c, 0, 5, 2.0f), 4);
  EXPECT_EQ(EngineGetEqBandFrequency(c, 1, 7), 1000u);
  EXPECT_EQ(EngineSetEqBandGain(c, 0, 0, 50.0f), 0);
  EXPECT_EQ(EngineGetEqBandGain(c, 0, 0), 10.0f);
  EXPECT_EQ(EngineGetEqBandGain(c, 1, 0), 1.0f);

  EXPECT_EQ(EngineSetCoreLevel(c, 2.0f), 1);
  EXPECT_EQ(EngineSetCoreLevel(c, nan), 1);
  EXPECT_EQ(c->core.left.level, 0.5f);
  EXPECT_EQ(c->core.right.level, 0.5f);
  EXPECT_EQ(EngineSetCoreWeighting(c, 2), 1);
  EXPECT_EQ(EngineGetCoreWeighting(c), 1);
}

TEST(EngineSettings, CopyAppliesEveryValueButKeepsItsOwnBandStorage) {
  Engine source, destination;
  EngineContext* s = source.get();
  ASSERT_EQ(EngineSetEnable(s, 0), 0);
  ASSERT_EQ(EngineSetInputGain(s, 0.5f), 0);
  ASSERT_EQ(EngineSetOutputGain(s, 2.0f), 0);
  ASSERT_EQ(EngineSetBypassGain(s, 0.25f), 0);
  ASSERT_EQ(EngineSetOutputStageEnable(s, 0), 0);
  ASSERT_EQ(EngineSetOutputStageAmount(s, 0.7f), 0);
  ASSERT_EQ(EngineSetHighPassEnable(s, 0), 0);
  ASSERT_EQ(EngineSetHighPassFrequency(s, 150), 0);
  ASSERT_EQ(EngineSetHighPassOrder(s, 3), 0);
  ASSERT_EQ(EngineSetLowPassFrequency(s, 9000), 0);
  ASSERT_EQ(EngineSetLowPassOrder(s, 5), 0);
  ASSERT_EQ(EngineSetEqEnable(s, 1, 0), 0);
  ASSERT_EQ(EngineSetEqBandEnable(s, 0, 3, 0), 0);
  ASSERT_EQ(EngineSetEqBandGain(s, 1, 2, 0.5f), 0);
  ASSERT_EQ(EngineSetEqBandFrequency(s, 1, 2, 3000), 0);
  ASSERT_EQ(EngineSetEqBandQ(s, 1, 2, 4.0f), 0);
  ASSERT_EQ(EngineSetCoreEnable(s, 0), 0);
  ASSERT_EQ(EngineSetCoreWeighting(s, 0), 0);
  ASSERT_EQ(EngineSetCoreLevel(s, 0.35f), 0);

  EngineContext* d = destination.get();
  EXPECT_EQ(EngineCopySettings(d, s), 0);
  EXPECT_EQ(EngineGetEnable(d), 0);
  EXPECT_EQ(EngineGetInputGain(d), 0.5f);
  EXPECT_EQ(EngineGetOutputGain(d), 2.0f);
  EXPECT_EQ(EngineGetBypassGain(d), 0.25f);
  EXPECT_EQ(EngineGetOutputStageEnable(d), 0);
  EXPECT_EQ(EngineGetOutputStageAmount(d), 0.7f);
  EXPECT_EQ(EngineGetHighPassEnable(d), 0);
  EXPECT_EQ(d->highPassRight.enabled, 0);
  EXPECT_EQ(EngineGetHighPassFrequency(d), 150);
  EXPECT_EQ(EngineGetHighPassOrder(d), 3);
  EXPECT_EQ(d->lowPassRight.order, 5);
  EXPECT_EQ(EngineGetLowPassFrequency(d), 9000);
  EXPECT_EQ(EngineGetEqEnable(d, 0), 1);
  EXPECT_EQ(EngineGetEqEnable(d, 1), 0);
  EXPECT_EQ(EngineGetEqBandEnable(d, 0, 3), 0);
  EXPECT_EQ(EngineGetEqBandGain(d, 1, 2), 0.5f);
  EXPECT_EQ(EngineGetEqBandFrequency(d, 1, 2), 3000u);
  EXPECT_EQ(EngineGetEqBandQ(d, 1, 2), 4.0f);
  EXPECT_EQ(EngineGetCoreEnable(d), 0);
  EXPECT_EQ(EngineGetCoreWeighting(d), 0);
  EXPECT_EQ(d->core.right.weighting, 0);
  EXPECT_EQ(EngineGetCoreLevel(d), 0.35f);

  EXPECT_EQ(d->equaliserLeft.bands, d->bandsLeft);
  EXPECT_EQ(d->equaliserRight.bands, d->bandsRight);
  ASSERT_EQ(EngineSetEqBandGain(s, 1, 2, 3.0f), 0);
  EXPECT_EQ(EngineGetEqBandGain(d, 1, 2), 0.5f);
}

TEST(EngineSetUp, DesignsWithSettingsChangedWhileUnbound) {
  Engine engine;
  ASSERT_EQ(EngineSetHighPassFrequency(engine.get(), 150), 0);
  ASSERT_EQ(EngineSetHighPassOrder(engine.get(), 3), 0);
  ASSERT_EQ(EngineSetLowPassFrequency(engine.get(), 20000), 0);
  ASSERT_EQ(EngineSetEqBandGain(engine.get(), 1, 0, 2.0f), 0);
  ASSERT_EQ(EngineSetCoreWeighting(engine.get(), 0), 0);
  ASSERT_EQ(EnginePrepare32000(engine.get(), engine.state.get()), 0);
  EXPECT_EQ(engine->stateBlock, engine.state.get());

  // The bound coefficients are the designs for the set-up's rate with the stored settings.
  float expected[kFilterAreaEntries] = {};
  DesignButterworthHighPass(150, 32000, 3, expected);
  const float* bound = engine->highPassRight.binding->coefficients;
  for (int i = 0; i < 13; ++i) EXPECT_EQ(bound[i], expected[i]) << i;
  DesignButterworthLowPass(20000, 32000, 2, expected);  // designed at 15999 Hz here
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(engine->lowPassLeft.binding->coefficients[i], expected[i]) << i;
  }
  float band[7] = {};
  DesignPeakingBand(&engine->bandsRight[0], 32000, band);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(engine->equaliserRight.binding->coefficients[i], band[i]) << i;
  }
  EXPECT_EQ(engine->highPassLeft.sampleRate, 32000);
  EXPECT_EQ(engine->equaliserLeft.sampleRate, 32000);
  EXPECT_EQ(engine->core.left.state, &engine.state->core.stateLeft);
  EXPECT_EQ(engine->core.left.state->highBandScale, 0.015625f);
  EXPECT_EQ(engine->core.right.state->smoothing, 5e-06f);  // weighting 0's constant

  // A later set-up for another rate rebinds and redesigns every block.
  ASSERT_EQ(EnginePrepare48000(engine.get(), engine.state.get()), 0);
  DesignButterworthHighPass(150, 48000, 3, expected);
  for (int i = 0; i < 13; ++i) EXPECT_EQ(bound[i], expected[i]) << i;
}

TEST(EngineSetUp, ResetKeepsBindingsAndRestoresDefaults) {
  Engine engine;
  ASSERT_EQ(EnginePrepare44100(engine.get(), engine.state.get()), 0);
  ASSERT_EQ(EngineSetHighPassFrequency(engine.get(), 500), 0);
  ASSERT_EQ(EngineSetInputGain(engine.get(), 0.5f), 0);
  EngineReset(engine.get());
  EXPECT_EQ(engine->stateBlock, engine.state.get());
  EXPECT_EQ(engine->highPassLeft.binding, &engine.state->highPassLeftBinding);
  EXPECT_EQ(EngineGetHighPassFrequency(engine.get()), 20);
  EXPECT_EQ(EngineGetInputGain(engine.get()), 1.0f);
  float expected[7] = {};
  DesignButterworthHighPass(20, 44100, 2, expected);
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(engine->highPassLeft.binding->coefficients[i], expected[i]) << i;
  }
}

}  // namespace
}  // namespace tessil
