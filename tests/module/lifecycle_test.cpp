// Creation and release of managers and processors, including every failure path: whatever fails,
// nothing may stay allocated and the processor list must be as before.
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "platform/testing.h"
#include "stream/pool_tags.h"
#include "support/host.h"

namespace tessil {
namespace {

using test_support::Typed;

size_t ListedProcessors(ITessilManager* manager) {
  size_t count = 0;
  Typed(manager)->ForEachProcessor([&count](StreamProcessor*) { ++count; });
  return count;
}

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetPlatformHooks();
    liveBefore_ = LivePoolBlocks();
  }
  void TearDown() override {
    ResetPlatformHooks();
    EXPECT_EQ(LivePoolBlocks(), liveBefore_);
    EXPECT_EQ(OutstandingFloatingPointSaves(), 0u);
  }
  ULONG liveBefore_ = 0;
};

TEST_F(Lifecycle, EntryPointsSucceedAndDoNothing) {
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(DriverEntry(nullptr, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(DllInitialize(nullptr), STATUS_SUCCESS);
    EXPECT_EQ(DllUnload(), STATUS_SUCCESS);
  }
  EXPECT_EQ(LivePoolBlocks(), liveBefore_);
}

TEST_F(Lifecycle, ManagerAllocatesUnderItsTagsAndFreesEverything) {
  for (int i = 0; i < 3; ++i) {
    ITessilManager* manager = CreateTessilManager();
    ASSERT_NE(manager, nullptr);
    EXPECT_EQ(QueryPoolTag(kTagManager).liveBlocks, 1u);
    EXPECT_EQ(QueryPoolTag(kTagSettingsContext).liveBlocks, 1u);
    manager->Release();
  }
  EXPECT_EQ(QueryPoolTag(kTagManager).liveBlocks, 0u);
  EXPECT_EQ(QueryPoolTag(kTagSettingsContext).liveBlocks, 0u);
}

TEST_F(Lifecycle, FailedManagerCreationLeavesNothingBehind) {
  FailPoolAllocation(kTagManager, 1);
  EXPECT_EQ(CreateTessilManager(), nullptr);
  FailPoolAllocation(kTagSettingsContext, 1);
  EXPECT_EQ(CreateTessilManager(), nullptr);
  FailFloatingPointSaves(STATUS_ILLEGAL_FLOAT_CONTEXT);
  EXPECT_EQ(CreateTessilManager(), nullptr);
  EXPECT_EQ(QueryPoolTag(kTagManager).allocations, QueryPoolTag(kTagManager).frees);
}

TEST_F(Lifecycle, FailedProcessorCreationLeavesTheListAsItWas) {
  ITessilManager* manager = CreateTessilManager();
  ASSERT_NE(manager, nullptr);
  IStreamProcessor* kept = manager->CreateProcessor();
  ASSERT_NE(kept, nullptr);
  const ULONG liveWithOne = LivePoolBlocks();
  for (ULONG tag : {kTagProcessor, kTagProcessorContext, kTagStateBlock}) {
    FailPoolAllocation(tag, 1);
    EXPECT_EQ(manager->CreateProcessor(), nullptr);
    EXPECT_EQ(ListedProcessors(manager), 1u);
    EXPECT_EQ(LivePoolBlocks(), liveWithOne);
  }
  FailFloatingPointSaves(STATUS_ILLEGAL_FLOAT_CONTEXT);
  EXPECT_EQ(manager->CreateProcessor(), nullptr);
  EXPECT_EQ(ListedProcessors(manager), 1u);
  kept->Release();
  EXPECT_EQ(ListedProcessors(manager), 0u);
  manager->Release();
}

TEST_F(Lifecycle, FailedFloatingPointSaveInInitIsPassedOnAndBlocksProcessing) {
  ITessilManager* manager = CreateTessilManager();
  IStreamProcessor* processor = manager->CreateProcessor();
  FailFloatingPointSaves(STATUS_ILLEGAL_FLOAT_CONTEXT);
  EXPECT_EQ(processor->Init(48000, 16, 2, 0), STATUS_ILLEGAL_FLOAT_CONTEXT);
  std::vector<float> input(480, 100.0f), output(480, 9.0f);
  processor->Process(input.data(), 240, output.data(), 0);
  EXPECT_EQ(output[0], 9.0f);
  EXPECT_EQ(processor->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  processor->Process(input.data(), 240, output.data(), 0);
  EXPECT_NE(output[0], 9.0f);
  processor->Release();
  manager->Release();
}

TEST_F(Lifecycle, ProcessorsAreListedUntilReleasedAndReceiveLaterChanges) {
  ITessilManager* manager = CreateTessilManager();
  TessilManager* typed = Typed(manager);
  ASSERT_EQ(typed->Set<KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY>(1000), STATUS_SUCCESS);
  IStreamProcessor* first = manager->CreateProcessor();
  IStreamProcessor* second = manager->CreateProcessor();
  EXPECT_EQ(ListedProcessors(manager), 2u);
  // Created after the change: starts with it.
  EXPECT_EQ(EngineGetHighPassFrequency(Typed(first)->Engine()), 1000);
  ASSERT_EQ(typed->Set<KSPROPERTY_TESSIL_LOWPASS_FREQUENCY>(8000), STATUS_SUCCESS);
  EXPECT_EQ(EngineGetLowPassFrequency(Typed(first)->Engine()), 8000);
  EXPECT_EQ(EngineGetLowPassFrequency(Typed(second)->Engine()), 8000);
  ULONG hertz = 0;
  EXPECT_EQ(typed->Get<KSPROPERTY_TESSIL_LOWPASS_FREQUENCY>(&hertz), STATUS_SUCCESS);
  EXPECT_EQ(hertz, 8000u);
  first->Release();
  EXPECT_EQ(ListedProcessors(manager), 1u);
  ASSERT_EQ(second->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  std::vector<float> buffer(960, 1000.0f);
  second->Process(buffer.data(), 480, buffer.data(), 0);
  second->Release();
  manager->Release();
}

TEST_F(Lifecycle, ReleasingTheManagerFirstLeavesWorkingProcessors) {
  ITessilManager* manager = CreateTessilManager();
  IStreamProcessor* processor = manager->CreateProcessor();
  ASSERT_EQ(processor->Init(44100, 16, 2, 0), STATUS_SUCCESS);
  manager->Release();
  std::vector<float> buffer(960, 500.0f);
  processor->Process(buffer.data(), 480, buffer.data(), 0);
  ASSERT_EQ(processor->Init(48000, 24, 2, 0), STATUS_SUCCESS);
  processor->Process(buffer.data(), 480, buffer.data(), 0);
  processor->Release();
}

}  // namespace
}  // namespace tessil
