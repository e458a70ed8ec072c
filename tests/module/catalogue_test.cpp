// The typed operations: range boundaries, refusals, and that every change reaches the settings
// context and every listed processor alike.
#include "module/manager.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "support/host.h"

namespace tessil {
namespace {

using test_support::ManagerDeleter;
using test_support::ProcessorDeleter;
using test_support::Typed;

class Catalogue : public ::testing::Test {
 protected:
  std::unique_ptr<ITessilManager, ManagerDeleter> manager_{CreateTessilManager()};
  TessilManager* m() { return Typed(manager_.get()); }
};

TEST_F(Catalogue, FloatSettingsAcceptTheirInclusiveRangeOnly) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_INPUT_GAIN>(1.5f), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_INPUT_GAIN>(nan), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_INPUT_GAIN>(0.0f), STATUS_SUCCESS);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_OUTPUT_GAIN>(4.0f), STATUS_SUCCESS);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_OUTPUT_GAIN>(4.01f), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_BYPASS_GAIN>(-0.5f), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_CORE_LEVEL>(3.1622778e-05f), STATUS_SUCCESS);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_CORE_LEVEL>(3.0e-05f), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_CORE_LEVEL>(1.0000001f), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT>(1.0f), STATUS_SUCCESS);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT>(1.01f), STATUS_INVALID_PARAMETER);
  float value = 0.0f;
  EXPECT_EQ(m()->Get<KSPROPERTY_TESSIL_INPUT_GAIN>(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 0.0f);
  EXPECT_EQ(m()->Get<KSPROPERTY_TESSIL_OUTPUT_GAIN>(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 4.0f);
  EXPECT_EQ(m()->Get<KSPROPERTY_TESSIL_CORE_LEVEL>(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 3.1622778e-05f);
}

TEST_F(Catalogue, IntegerSettingsAndOrdersAreCheckedBeforeAnythingChanges) {
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY>(19), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY>(20001), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY>(0xFFFFFFFFu), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY>(20), STATUS_SUCCESS);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_LOWPASS_FREQUENCY>(20000), STATUS_SUCCESS);
  for (ULONG order : {0u, 11u, 0x80000000u}) {
    EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_HIGHPASS_ORDER>(order), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_LOWPASS_ORDER>(order), STATUS_INVALID_PARAMETER);
  }
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_HIGHPASS_ORDER>(1), STATUS_SUCCESS);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_LOWPASS_ORDER>(10), STATUS_SUCCESS);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_CORE_WEIGHTING>(2), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_CORE_WEIGHTING>(0), STATUS_SUCCESS);
  ULONG value = 0;
  EXPECT_EQ(m()->Get<KSPROPERTY_TESSIL_HIGHPASS_ORDER>(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(m()->Get<KSPROPERTY_TESSIL_LOWPASS_ORDER>(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 10u);
  EXPECT_EQ(m()->Get<KSPROPERTY_TESSIL_CORE_WEIGHTING>(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 0u);
}

TEST_F(Catalogue, SwitchesRefuseValuesOtherThanZeroAndOne) {
  BOOLEAN on = 7;
  EXPECT_EQ(manager_->SetEnable(2), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(manager_->GetEnable(&on), STATUS_SUCCESS);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_CORE_ENABLE>(255), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_HIGHPASS_ENABLE>(0), STATUS_SUCCESS);
  EXPECT_EQ(m()->Get<KSPROPERTY_TESSIL_HIGHPASS_ENABLE>(&on), STATUS_SUCCESS);
  EXPECT_EQ(on, 0);
  EXPECT_EQ(m()->Set<KSPROPERTY_TESSIL_OUTPUT_STAGE_ENABLE>(0), STATUS_SUCCESS);
  EXPECT_EQ(m()->Get<KSPROPERTY_TESSIL_OUTPUT_STAGE_ENABLE>(&on), STATUS_SUCCESS);
  EXPECT_EQ(on, 0);
}

TEST_F(Catalogue, GetOperationsRefuseANullResult) {
  EXPECT_EQ(manager_->GetEnable(nullptr), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Get<KSPROPERTY_TESSIL_INPUT_GAIN>(nullptr), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Get<KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY>(nullptr), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->Get<KSPROPERTY_TESSIL_CORE_WEIGHTING>(nullptr), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(manager_->GetEqEnable(0, nullptr), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(manager_->GetEqBandGain(0, 0, nullptr), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(manager_->GetEqBandQ(1, 3, nullptr), STATUS_INVALID_PARAMETER);
}

TEST_F(Catalogue, PerChannelOperationsCheckChannelAndBand) {
  BOOLEAN on = 9;
  EXPECT_EQ(manager_->GetEqEnable(2, &on), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(on, 9);
  EXPECT_EQ(manager_->SetEqEnable(2, 0), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(manager_->GetEqEnable(1, &on), STATUS_SUCCESS);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(manager_->SetEqBandGain(0, 4, 2.0f), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(manager_->SetEqBandEnable(0, 0, 3), STATUS_INVALID_PARAMETER);
  ULONG hertz = 0;
  EXPECT_EQ(manager_->GetEqBandFrequency(0, 4, &hertz), STATUS_SUCCESS);
  EXPECT_EQ(hertz, 1000u);
  EXPECT_EQ(manager_->SetEqBandFrequency(0, 1, 10), STATUS_SUCCESS);  // clamped, not refused
  EXPECT_EQ(manager_->GetEqBandFrequency(0, 1, &hertz), STATUS_SUCCESS);
  EXPECT_EQ(hertz, 20u);
  float gain = 0.0f;
  EXPECT_EQ(manager_->SetEqBandGain(1, 3, 50.0f), STATUS_SUCCESS);
  EXPECT_EQ(manager_->GetEqBandGain(1, 3, &gain), STATUS_SUCCESS);
  EXPECT_EQ(gain, 10.0f);
  EXPECT_EQ(manager_->GetEqBandGain(0, 3, &gain), STATUS_SUCCESS);
  EXPECT_EQ(gain, 1.0f);
}

TEST_F(Catalogue, ChangesReachEveryProcessorAndTheSettingsContextAlike) {
  std::unique_ptr<IStreamProcessor, ProcessorDeleter> first(manager_->CreateProcessor());
  std::unique_ptr<IStreamProcessor, ProcessorDeleter> second(manager_->CreateProcessor());
  ASSERT_EQ(first->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  ASSERT_EQ(m()->Set<KSPROPERTY_TESSIL_INPUT_GAIN>(0.5f), STATUS_SUCCESS);
  ASSERT_EQ(m()->Set<KSPROPERTY_TESSIL_CORE_LEVEL>(0.25f), STATUS_SUCCESS);
  ASSERT_EQ(m()->Set<KSPROPERTY_TESSIL_HIGHPASS_ORDER>(4), STATUS_SUCCESS);
  ASSERT_EQ(m()->Set<KSPROPERTY_TESSIL_CORE_WEIGHTING>(0), STATUS_SUCCESS);
  ASSERT_EQ(manager_->SetEqBandQ(1, 2, 0.5f), STATUS_SUCCESS);
  ASSERT_EQ(manager_->SetEqBandEnable(0, 1, 0), STATUS_SUCCESS);
  ASSERT_EQ(m()->Set<KSPROPERTY_TESSIL_INPUT_GAIN>(2.0f), STATUS_INVALID_PARAMETER);  // refused: nobody changes
  for (IStreamProcessor* processor : {first.get(), second.get()}) {
    const EngineContext* engine = Typed(processor)->Engine();
    EXPECT_EQ(EngineGetInputGain(engine), 0.5f);
    EXPECT_EQ(EngineGetCoreLevel(engine), 0.25f);
    EXPECT_EQ(engine->core.right.level, 0.25f);
    EXPECT_EQ(EngineGetHighPassOrder(engine), 4);
    EXPECT_EQ(engine->highPassRight.order, 4);
    EXPECT_EQ(EngineGetCoreWeighting(engine), 0);
    EXPECT_EQ(EngineGetEqBandQ(engine, 1, 2), 0.5f);
    EXPECT_EQ(EngineGetEqBandEnable(engine, 0, 1), 0);
  }
  // The initialised processor's bound state follows the weighting at once.
  EXPECT_EQ(Typed(first.get())->Engine()->core.left.state->smoothing, 5e-06f);
}

}  // namespace
}  // namespace tessil
