#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "chain/engine.h"
#include "chain/pipeline.h"
#include "support/signals.h"

namespace tessil {
namespace {

// A bound engine with its own channel buffers, driven the way the stream processor drives it.
struct Pipeline {
  std::unique_ptr<EngineContext> context = std::make_unique<EngineContext>();
  std::unique_ptr<EngineStateBlock> state = std::make_unique<EngineStateBlock>();
  std::vector<float> in[2], out[2], scratch;

  explicit Pipeline(int32_t rate = 48000) : scratch(EngineScratchFloats(kLargestBlockFrames), 0.0f) {
    EngineInit(context.get());
    for (auto* buffers : {in, out}) {
      buffers[0].assign(kLargestBlockFrames, 0.0f);
      buffers[1].assign(kLargestBlockFrames, 0.0f);
    }
    if (rate == 32000) EnginePrepare32000(context.get(), state.get());
    if (rate == 44100) EnginePrepare44100(context.get(), state.get());
    if (rate == 48000) EnginePrepare48000(context.get(), state.get());
  }
  void DisableAllStages() {
    EngineSetHighPassEnable(context.get(), 0);
    EngineSetLowPassEnable(context.get(), 0);
    EngineSetEqEnable(context.get(), 0, 0);
    EngineSetEqEnable(context.get(), 1, 0);
    EngineSetCoreEnable(context.get(), 0);
    EngineSetOutputStageEnable(context.get(), 0);
  }
  int32_t Run(int32_t n) {
    float* inputs[2] = {in[0].data(), in[1].data()};
    float* outputs[2] = {out[0].data(), out[1].data()};
    return EngineProcessBlock(context.get(), inputs, outputs, scratch.data(), n);
  }
  void Fill(int32_t n, float (*signal)(int32_t channel, int32_t i)) {
    for (int32_t c = 0; c < 2; ++c) {
      for (int32_t i = 0; i < n; ++i) in[c][i] = signal(c, i);
    }
  }
};

float Ramp(int32_t channel, int32_t i) { return (channel == 0 ? 0.001f : -0.002f) * (i % 100); }

TEST(EngineProcessBlock, RefusesBlockLengthsOutsideTheRangeWithoutTouchingOutputs) {
  Pipeline pipeline;
  pipeline.Fill(960, Ramp);
  pipeline.out[0].assign(kLargestBlockFrames, 7.0f);
  EXPECT_EQ(pipeline.Run(239), 4);
  EXPECT_EQ(pipeline.Run(961), 4);
  EXPECT_EQ(pipeline.out[0][0], 7.0f);
  EXPECT_EQ(pipeline.out[0][238], 7.0f);
  EXPECT_EQ(pipeline.Run(240), 0);
  EXPECT_EQ(pipeline.Run(960), 0);
}

TEST(EngineProcessBlock, PlainGainsWithEveryStageOffApplyTheOutputGainOnce) {
  Pipeline pipeline;
  pipeline.DisableAllStages();
  EngineSetInputGain(pipeline.context.get(), 0.5f);
  EngineSetOutputGain(pipeline.context.get(), 2.0f);
  pipeline.Fill(240, Ramp);
  const std::vector<float> original[2] = {pipeline.in[0], pipeline.in[1]};
  ASSERT_EQ(pipeline.Run(240), 0);
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < 240; ++i) {
      EXPECT_EQ(pipeline.out[c][i], original[c][i] * 0.5f * 2.0f) << c << "," << i;
      EXPECT_EQ(pipeline.in[c][i], original[c][i] * 0.5f);  // inputs hold the analysis copy
    }
  }

  // With the output stage on the output gain still applies once: soft clip of the gained
  // input at drive 1, times 2 (not 4).
  EngineSetOutputStageEnable(pipeline.context.get(), 1);
  EngineSetOutputStageAmount(pipeline.context.get(), 0.0f);
  pipeline.Fill(240, Ramp);
  ASSERT_EQ(pipeline.Run(240), 0);
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < 240; ++i) {
      float x = original[c][i] * 0.5f;
      OutputStageProcess(&x, 1.0f, 1);
      EXPECT_EQ(pipeline.out[c][i], x * 2.0f) << c << "," << i;
    }
  }
}

TEST(EngineProcessBlock, TheCoreIsFlaggedBypassedByItsOwnSwitchOnly) {
  Pipeline pipeline;
  // The master switch is the stream processor's to read, never the core's flag.
  EngineSetEnable(pipeline.context.get(), 0);
  pipeline.Fill(480, Ramp);
  ASSERT_EQ(pipeline.Run(480), 0);
  EXPECT_EQ(pipeline.context->core.left.state->bypassed, 0);
  EngineSetCoreEnable(pipeline.context.get(), 0);
  pipeline.Run(240);
  EXPECT_EQ(pipeline.context->core.right.state->bypassed, 1);
}

TEST(EngineProcessBlock, CoreDelaysTheSignalByItsLookAhead) {
  Pipeline pipeline;
  pipeline.DisableAllStages();
  EngineSetCoreEnable(pipeline.context.get(), 1);
  pipeline.Fill(240, [](int32_t, int32_t i) { return i == 0 ? 0.5f : 0.0f; });
  ASSERT_EQ(pipeline.Run(240), 0);
  for (int c = 0; c < 2; ++c) {
    for (int i = 0; i < 240; ++i) {
      if (i == 22) {
        // The impulse comes out multiplied by the core's gain for that sample, a finite, positive
        // factor of the order of level / (ceiling / 4).
        EXPECT_GT(pipeline.out[c][i], 0.0f);
        EXPECT_LT(pipeline.out[c][i], 2.0f * 0.5f + 1e-3f);
      } else {
        EXPECT_EQ(pipeline.out[c][i], 0.0f) << c << "," << i;
      }
    }
  }
}

TEST(EngineProcessBlock, OnlyTheEnabledChannelIsEqualised) {
  Pipeline pipeline;
  pipeline.DisableAllStages();
  EngineSetEqEnable(pipeline.context.get(), 1, 1);
  EngineSetEqBandGain(pipeline.context.get(), 0, 0, 4.0f);  // channel 0's equaliser is off
  EngineSetEqBandGain(pipeline.context.get(), 1, 0, 4.0f);
  pipeline.Fill(240, [](int32_t, int32_t i) {
    return static_cast<float>(0.1 * std::sin(2 * M_PI * 1000 * i / 48000.0));
  });
  const std::vector<float> original = pipeline.in[0];
  ASSERT_EQ(pipeline.Run(240), 0);
  for (int i = 0; i < 240; ++i) EXPECT_EQ(pipeline.out[0][i], original[i]);
  float energy = 0.0f;
  for (int i = 120; i < 240; ++i) energy += std::fabs(pipeline.out[1][i] - original[i]);
  EXPECT_GT(energy, 1.0f);
}

// The filters sweep their denormal flush once per call, so a block split into frames may differ by
// values near 1e-15 in the filter state; everything else must carry over frame by frame.
TEST(EngineProcessBlock, OneLongBlockMatchesTheSameSamplesInWholeFrames) {
  for (int32_t rate : {32000, 44100, 48000}) {
    Pipeline whole(rate), split(rate);
    for (Pipeline* p : {&whole, &split}) {
      EngineSetHighPassFrequency(p->context.get(), 80);
      EngineSetLowPassFrequency(p->context.get(), 12000);
      EngineSetEqBandGain(p->context.get(), 0, 1, 2.0f);
      EngineSetEqBandGain(p->context.get(), 1, 2, 0.5f);
      EngineSetEqBandFrequency(p->context.get(), 1, 2, 4000);
    }
    const std::vector<float> programme = test_support::SynthesizeProgramme(rate, rate * 2);
    std::vector<float> left, right;
    test_support::Deinterleave(programme, left, right);
    for (size_t start = 0; start + 960 <= left.size(); start += 960) {
      std::copy_n(left.begin() + start, 960, whole.in[0].begin());
      std::copy_n(right.begin() + start, 960, whole.in[1].begin());
      ASSERT_EQ(whole.Run(960), 0);
      ASSERT_TRUE(test_support::AllFinite(whole.out[0].data(), 960));
      ASSERT_TRUE(test_support::AllFinite(whole.out[1].data(), 960));
      for (int part = 0; part < 4; ++part) {
        std::copy_n(left.begin() + start + part * 240, 240, split.in[0].begin());
        std::copy_n(right.begin() + start + part * 240, 240, split.in[1].begin());
        ASSERT_EQ(split.Run(240), 0);
        for (int c = 0; c < 2; ++c) {
          for (int i = 0; i < 240; ++i) {
            ASSERT_NEAR(split.out[c][i], whole.out[c][part * 240 + i], 1e-6f)
                << "rate " << rate << " frame " << start + part * 240 + i;
            ASSERT_LE(std::fabs(split.out[c][i]), 4.0f);
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace tessil
