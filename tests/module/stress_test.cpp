// Several host threads at once: property requests, processor creation and release, and audio.
// Built and run under ThreadSanitizer by the test script; afterwards every processor must hold
// exactly the settings of the manager's settings context.
#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

#include "platform/testing.h"
#include "support/host.h"
#include "support/signals.h"

namespace tessil {
namespace {

using test_support::Typed;

void ExpectSameSettings(const EngineContext* a, const EngineContext* b) {
  EXPECT_EQ(EngineGetEnable(a), EngineGetEnable(b));
  EXPECT_EQ(EngineGetInputGain(a), EngineGetInputGain(b));
  EXPECT_EQ(EngineGetOutputGain(a), EngineGetOutputGain(b));
  EXPECT_EQ(EngineGetBypassGain(a), EngineGetBypassGain(b));
  EXPECT_EQ(EngineGetCoreEnable(a), EngineGetCoreEnable(b));
  EXPECT_EQ(EngineGetCoreLevel(a), EngineGetCoreLevel(b));
  EXPECT_EQ(EngineGetCoreWeighting(a), EngineGetCoreWeighting(b));
  EXPECT_EQ(EngineGetHighPassEnable(a), EngineGetHighPassEnable(b));
  EXPECT_EQ(EngineGetHighPassFrequency(a), EngineGetHighPassFrequency(b));
  EXPECT_EQ(EngineGetHighPassOrder(a), EngineGetHighPassOrder(b));
  EXPECT_EQ(EngineGetLowPassEnable(a), EngineGetLowPassEnable(b));
  EXPECT_EQ(EngineGetLowPassFrequency(a), EngineGetLowPassFrequency(b));
  EXPECT_EQ(EngineGetLowPassOrder(a), EngineGetLowPassOrder(b));
  EXPECT_EQ(EngineGetOutputStageEnable(a), EngineGetOutputStageEnable(b));
  EXPECT_EQ(EngineGetOutputStageAmount(a), EngineGetOutputStageAmount(b));
  for (uint32_t channel = 0; channel < 2; ++channel) {
    EXPECT_EQ(EngineGetEqEnable(a, channel), EngineGetEqEnable(b, channel));
    for (uint32_t band = 0; band < 4; ++band) {
      EXPECT_EQ(EngineGetEqBandEnable(a, channel, band), EngineGetEqBandEnable(b, channel, band));
      EXPECT_EQ(EngineGetEqBandGain(a, channel, band), EngineGetEqBandGain(b, channel, band));
      EXPECT_EQ(EngineGetEqBandFrequency(a, channel, band),
                EngineGetEqBandFrequency(b, channel, band));
      EXPECT_EQ(EngineGetEqBandQ(a, channel, band), EngineGetEqBandQ(b, channel, band));
    }
  }
}

// One random property request, set or get, through the host's entry point.
void RandomRequest(ITessilManager* manager, std::mt19937& random) {
  static const LONG kValues[20][2] = {
      {0, 1},     {-20, 0},   {-12, 6},  {-30, 0},   {0, 1},  {10, 100}, {0, 1},
      {20, 2000}, {1, 10},    {0, 1},    {2000, 20000}, {1, 10}, {0, 1},  {0, 1},
      {0, 1},     {-12, 12},  {50, 15000}, {25, 1600}, {0, 100}, {0, 1}};
  const ULONG id = random() % 20;
  TESSIL_BAND_PROPERTY request{};
  request.Property.Set = KSPROPSETID_Tessil;
  request.Property.Id = id;
  request.Property.Flags = random() % 4 == 0 ? KSPROPERTY_TYPE_GET : KSPROPERTY_TYPE_SET;
  request.Channel = random() % 2;
  request.Band = random() % 4;
  LONG value = kValues[id][0] +
               static_cast<LONG>(random() % static_cast<ULONG>(kValues[id][1] - kValues[id][0] + 1));
  KSPROPERTY_REQUEST_PACKET packet;
  PIRP irp = BuildPropertyRequest(&packet, &request, sizeof request, &value, sizeof value);
  manager->HandlePropertyRequest(irp);
}

TEST(ConcurrentHost, SettingsProcessingAndLifecycleOnManyThreads) {
  ITessilManager* manager = CreateTessilManager();
  ASSERT_NE(manager, nullptr);
  const std::vector<float> programme = [] {
    std::vector<float> stereo = test_support::SynthesizeProgramme(48000, 48000);
    for (float& sample : stereo) sample *= 32767.0f;
    return stereo;
  }();
  std::vector<std::thread> threads;

  IStreamProcessor* resident[2] = {manager->CreateProcessor(), manager->CreateProcessor()};
  for (IStreamProcessor* processor : resident) {
    ASSERT_NE(processor, nullptr);
    ASSERT_EQ(processor->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  }
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      std::vector<float> output(960 * 2);
      const ULONG frames = t == 0 ? 480 : 441;  // one aligned, one queued stream
      size_t position = 0;
      for (int i = 0; i < 600; ++i) {
        if (position + frames * 2 > programme.size()) position = 0;
        resident[t]->Process(programme.data() + position, frames, output.data(), 0);
        position += frames * 2;
        ASSERT_TRUE(test_support::AllFinite(output.data(), frames * 2));
      }
    });
  }
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(1234 + t);
      for (int i = 0; i < 3000; ++i) RandomRequest(manager, random);
    });
  }
  threads.emplace_back([&] {
    std::vector<float> output(480 * 2);
    for (int i = 0; i < 12; ++i) {
      IStreamProcessor* processor = manager->CreateProcessor();
      ASSERT_NE(processor, nullptr);
      ASSERT_EQ(processor->Init(i % 2 == 0 ? 44100 : 32000, 16, 2, 0), STATUS_SUCCESS);
      processor->Process(programme.data(), 480, output.data(), 0);
      // Every other one stays until the end, to be compared with the settings context.
      if (i % 2 == 0) processor->Release();
    }
  });
  for (std::thread& thread : threads) thread.join();

  size_t compared = 0;
  TessilManager* typed = Typed(manager);
  typed->ForEachProcessor([&](StreamProcessor* processor) {
    ExpectSameSettings(processor->Engine(), typed->Settings());
    ++compared;
  });
  EXPECT_EQ(compared, 2u + 6u);
  // Release what is still listed (the six kept by the lifecycle thread, then the residents).
  std::vector<StreamProcessor*> listed;
  typed->ForEachProcessor([&](StreamProcessor* processor) { listed.push_back(processor); });
  for (StreamProcessor* processor : listed) processor->Release();
  manager->Release();
}

}  // namespace
}  // namespace tessil
