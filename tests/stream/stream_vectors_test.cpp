// Whole streams through the host interface, compared bit for bit with the reference vectors.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "support/host.h"
#include "support/signals.h"

namespace tessil {
namespace {

using test_support::ManagerDeleter;
using test_support::ProcessorDeleter;
using test_support::Typed;

struct StreamCase {
  std::string name;
  ULONG rate;
  uint32_t bufferFrames;
  std::function<void(TessilManager*)> configure;
};

void ExpectStreamMatches(const StreamCase& stream) {
  std::unique_ptr<ITessilManager, ManagerDeleter> manager(CreateTessilManager());
  ASSERT_NE(manager, nullptr);
  stream.configure(Typed(manager.get()));
  std::unique_ptr<IStreamProcessor, ProcessorDeleter> processor(manager->CreateProcessor());
  ASSERT_NE(processor, nullptr);
  ASSERT_EQ(processor->Init(stream.rate, 16, 2, 0), STATUS_SUCCESS);
  const std::vector<float> input = test_support::ReadFloatFile(stream.name + ".in.f32");
  const std::vector<float> expected = test_support::ReadFloatFile(stream.name + ".out.f32");
  ASSERT_EQ(input.size(), expected.size());
  const std::vector<float> output =
      test_support::RunStream(processor.get(), input, 2, stream.bufferFrames);
  size_t mismatches = 0, first = 0;
  for (size_t i = 0; i < output.size(); ++i) {
    if (std::memcmp(&output[i], &expected[i], sizeof(float)) != 0) {
      if (mismatches++ == 0) first = i;
    }
  }
  EXPECT_EQ(mismatches, 0u) << stream.name << ": first difference at sample " << first
                            << " (frame " << first / 2 << "): got " << output[first]
                            << ", expected " << expected[first];
}

TEST(StreamVectors, Defaults48kIn480FrameBuffers) {
  ExpectStreamMatches({"stream48-defaults-480", 48000, 480, [](TessilManager*) {}});
}

TEST(StreamVectors, Defaults44kIn441FrameBuffersRunAFixedBlockLate) {
  ExpectStreamMatches({"stream44-defaults-441", 44100, 441, [](TessilManager*) {}});
}

TEST(StreamVectors, MasterSwitchOffWithBypassGain) {
  ExpectStreamMatches({"stream48-bypass-480", 48000, 480, [](TessilManager* m) {
                         ASSERT_EQ(m->SetEnable(0), STATUS_SUCCESS);
                         ASSERT_EQ(m->Set<KSPROPERTY_TESSIL_BYPASS_GAIN>(0.25118863582611084f), STATUS_SUCCESS);
                       }});
}

TEST(StreamVectors, CoreOff) {
  ExpectStreamMatches({"stream48-coreoff-480", 48000, 480, [](TessilManager* m) {
                         ASSERT_EQ(m->Set<KSPROPERTY_TESSIL_CORE_ENABLE>(0), STATUS_SUCCESS);
                       }});
}

TEST(StreamVectors, EveryStageCustomised32k) {
  ExpectStreamMatches({"stream32-custom-960", 32000, 960, [](TessilManager* m) {
                         ASSERT_EQ(m->Set<KSPROPERTY_TESSIL_INPUT_GAIN>(0.7943282127380371f), STATUS_SUCCESS);
                         ASSERT_EQ(m->Set<KSPROPERTY_TESSIL_OUTPUT_GAIN>(0.5011872053146362f), STATUS_SUCCESS);
                         ASSERT_EQ(m->Set<KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY>(150), STATUS_SUCCESS);
                         ASSERT_EQ(m->Set<KSPROPERTY_TESSIL_HIGHPASS_ORDER>(3), STATUS_SUCCESS);
                         ASSERT_EQ(m->Set<KSPROPERTY_TESSIL_LOWPASS_FREQUENCY>(9000), STATUS_SUCCESS);
                         ASSERT_EQ(m->Set<KSPROPERTY_TESSIL_LOWPASS_ORDER>(5), STATUS_SUCCESS);
                         ASSERT_EQ(m->SetEqBandGain(0, 0, 1.9952623844146729f), STATUS_SUCCESS);
                         ASSERT_EQ(m->SetEqBandFrequency(0, 0, 200), STATUS_SUCCESS);
                         ASSERT_EQ(m->SetEqBandQ(0, 0, 0.699999988079071f), STATUS_SUCCESS);
                         ASSERT_EQ(m->SetEqBandGain(1, 2, 0.5011872053146362f), STATUS_SUCCESS);
                         ASSERT_EQ(m->SetEqBandFrequency(1, 2, 3000), STATUS_SUCCESS);
                         ASSERT_EQ(m->SetEqBandQ(1, 2, 4.0f), STATUS_SUCCESS);
                         ASSERT_EQ(m->SetEqBandEnable(0, 3, 0), STATUS_SUCCESS);
                         ASSERT_EQ(m->Set<KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT>(0.5f), STATUS_SUCCESS);
                         ASSERT_EQ(m->Set<KSPROPERTY_TESSIL_CORE_LEVEL>(0.3499999940395355f), STATUS_SUCCESS);
                         ASSERT_EQ(m->Set<KSPROPERTY_TESSIL_CORE_WEIGHTING>(0), STATUS_SUCCESS);
                       }});
}

}  // namespace
}  // namespace tessil
