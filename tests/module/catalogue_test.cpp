// The typed operations: range boundaries, refusals, and that every change reaches the settings
// context and every listed processor alike.
#include "module/catalogue.h"

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
  EXPECT_EQ(m()->SetInputGain(1.5f), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->SetInputGain(nan), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->SetInputGain(0.0f), STATUS_SUCCESS);
  EXPECT_EQ(m()->SetOutputGain(4.0f), STATUS_SUCCESS);
  EXPECT_EQ(m()->SetOutputGain(4.01f), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->SetBypassGain(-0.5f), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->SetCoreLevel(3.1622778e-05f), STATUS_SUCCESS);
  EXPECT_EQ(m()->SetCoreLevel(3.0e-05f), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->SetCoreLevel(1.0000001f), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->SetOutputStageAmount(1.0f), STATUS_SUCCESS);
  EXPECT_EQ(m()->SetOutputStageAmount(1.01f), STATUS_INVALID_PARAMETER);
  float value = 0.0f;
  EXPECT_EQ(m()->GetInputGain(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 0.0f);
  EXPECT_EQ(m()->GetOutputGain(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 4.0f);
  EXPECT_EQ(m()->GetCoreLevel(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 3.1622778e-05f);
}

TEST_F(Catalogue, IntegerSettingsAndOrdersAreCheckedBeforeAnythingChanges) {
  EXPECT_EQ(m()->SetHighPassFrequency(19), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->SetHighPassFrequency(20001), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->SetHighPassFrequency(0xFFFFFFFFu), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->SetHighPassFrequency(20), STATUS_SUCCESS);
  EXPECT_EQ(m()->SetLowPassFrequency(20000), STATUS_SUCCESS);
  for (ULONG order : {0u, 11u, 0x80000000u}) {
    EXPECT_EQ(m()->SetHighPassOrder(order), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(m()->SetLowPassOrder(order), STATUS_INVALID_PARAMETER);
  }
  EXPECT_EQ(m()->SetHighPassOrder(1), STATUS_SUCCESS);
  EXPECT_EQ(m()->SetLowPassOrder(10), STATUS_SUCCESS);
  EXPECT_EQ(m()->SetCoreWeighting(2), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->SetCoreWeighting(0), STATUS_SUCCESS);
  ULONG value = 0;
  EXPECT_EQ(m()->GetHighPassOrder(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 1u);
  EXPECT_EQ(m()->GetLowPassOrder(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 10u);
  EXPECT_EQ(m()->GetCoreWeighting(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 0u);
}

TEST_F(Catalogue, SwitchesRefuseValuesOtherThanZeroAndOne) {
  BOOLEAN on = 7;
  EXPECT_EQ(manager_->SetEnable(2), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(manager_->GetEnable(&on), STATUS_SUCCESS);
  EXPECT_EQ(on, 1);
  EXPECT_EQ(m()->SetCoreEnable(255), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->SetHighPassEnable(0), STATUS_SUCCESS);
  EXPECT_EQ(m()->GetHighPassEnable(&on), STATUS_SUCCESS);
  EXPECT_EQ(on, 0);
  EXPECT_EQ(m()->SetOutputStageEnable(0), STATUS_SUCCESS);
  EXPECT_EQ(m()->GetOutputStageEnable(&on), STATUS_SUCCESS);
  EXPECT_EQ(on, 0);
}

TEST_F(Catalogue, GetOperationsRefuseANullResult) {
  EXPECT_EQ(manager_->GetEnable(nullptr), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->GetInputGain(nullptr), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->GetHighPassFrequency(nullptr), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(m()->GetCoreWeighting(nullptr), STATUS_INVALID_PARAMETER);
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
  ASSERT_EQ(m()->SetInputGain(0.5f), STATUS_SUCCESS);
  ASSERT_EQ(m()->SetCoreLevel(0.25f), STATUS_SUCCESS);
  ASSERT_EQ(m()->SetHighPassOrder(4), STATUS_SUCCESS);
  ASSERT_EQ(m()->SetCoreWeighting(0), STATUS_SUCCESS);
  ASSERT_EQ(manager_->SetEqBandQ(1, 2, 0.5f), STATUS_SUCCESS);
  ASSERT_EQ(manager_->SetEqBandEnable(0, 1, 0), STATUS_SUCCESS);
  ASSERT_EQ(m()->SetInputGain(2.0f), STATUS_INVALID_PARAMETER);  // refused: nobody changes
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

TEST(ParameterTables, EveryTableIdFindsItsRowAndOthersFindNone) {
  EXPECT_EQ(FindParameter(kDecibelParameters, kDecibelParameters + 3, 2u)->id, 2u);
  EXPECT_EQ(FindParameter(kDecibelParameters, kDecibelParameters + 3, 5u),
            kDecibelParameters + 3);
  EXPECT_EQ(FindParameter(kPercentParameters, kPercentParameters + 2, 18u)->id, 18u);
  EXPECT_EQ(FindParameter(kIntegerParameters, kIntegerParameters + 4, 11u)->id, 11u);
  EXPECT_EQ(FindParameter(kBooleanParameters, kBooleanParameters + 5, 12u)->id, 12u);
  EXPECT_EQ(FindParameter(kBooleanParameters, kBooleanParameters + 5, 13u),
            kBooleanParameters + 5);
}

}  // namespace
}  // namespace tessil
