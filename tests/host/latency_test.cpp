// The published latencies against a real processor: an impulse comes out exactly as late as the
// host layer says, for whole-block and short buffers, with the look-ahead on and off.
#include "host/latency.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/handles.h"
#include "host/properties.h"

namespace tessil::host {
namespace {

// How many frames after its input the impulse's peak comes out.
int64_t ImpulseArrival(bool coreEnable, uint32_t bufferFrames) {
  ManagerHandle manager = CreateManager();
  const PropertyClient client(manager.get());
  EXPECT_EQ(client.Set(PropertyById(KSPROPERTY_TESSIL_CORE_ENABLE), {}, coreEnable ? 1 : 0), STATUS_SUCCESS);
  ProcessorHandle processor = CreateProcessor(manager.get());
  EXPECT_EQ(processor->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  std::vector<float> buffer(bufferFrames * 2);
  const int64_t total = 2400;
  int64_t peakFrame = -1;
  float peak = 0.0f;
  for (int64_t start = 0; start < total; start += bufferFrames) {
    for (uint32_t i = 0; i < bufferFrames; ++i) {
      const float value = start + i == 7 ? 16000.0f : 0.0f;
      buffer[2 * i] = value;
      buffer[2 * i + 1] = value;
    }
    processor->Process(buffer.data(), bufferFrames, buffer.data(), 0);
    for (uint32_t i = 0; i < bufferFrames; ++i) {
      if (std::fabs(buffer[2 * i]) > peak) {
        peak = std::fabs(buffer[2 * i]);
        peakFrame = start + i;
      }
    }
  }
  return peakFrame - 7;
}

TEST(HostLatency, ImpulseArrivesWhenTheBookkeepingSays) {
  for (const bool core : {true, false}) {
    for (const uint32_t frames : {240u, 480u, 100u, 441u}) {
      SCOPED_TRACE(std::to_string(frames) + (core ? " core on" : " core off"));
      EXPECT_EQ(ImpulseArrival(core, frames),
                static_cast<int64_t>(StreamLatencyFrames(LookAheadActive(true, core), frames)));
    }
  }
}

}  // namespace
}  // namespace tessil::host
