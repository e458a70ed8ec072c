#include "stream/stream_processor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "support/host.h"
#include "support/signals.h"

namespace tessil {
namespace {

using test_support::ManagerDeleter;
using test_support::ProcessorDeleter;
using test_support::Typed;

struct Host {
  std::unique_ptr<ITessilManager, ManagerDeleter> manager{CreateTessilManager()};
  std::unique_ptr<IStreamProcessor, ProcessorDeleter> NewProcessor() {
    return std::unique_ptr<IStreamProcessor, ProcessorDeleter>(manager->CreateProcessor());
  }
};

// 16-bit programme in integer scale, interleaved over `channels` channels; channels 2 and up
// carry a recognisable pattern.
std::vector<float> HostProgramme(int32_t rate, int32_t frames, uint32_t channels) {
  const std::vector<float> stereo = test_support::SynthesizeProgramme(rate, frames);
  std::vector<float> host(static_cast<size_t>(frames) * channels);
  for (int32_t i = 0; i < frames; ++i) {
    for (uint32_t c = 0; c < channels; ++c) {
      host[i * channels + c] =
          c < 2 ? std::round(stereo[2 * i + c] * 32767.0f) : static_cast<float>(1000 * c + i % 7);
    }
  }
  return host;
}

TEST(StreamProcessor, DoesNothingBeforeInitOrAfterARefusedFormat) {
  Host host;
  auto processor = host.NewProcessor();
  std::vector<float> input(480, 1000.0f), output(480, 3.0f);
  processor->Process(input.data(), 240, output.data(), 0);
  EXPECT_EQ(output[0], 3.0f);
  EXPECT_EQ(output[479], 3.0f);
  // Bits per sample outside 1..32 would make the scale shifts meaningless.
  EXPECT_EQ(processor->Init(48000, 0, 2, 0), STATUS_INVALID_PARAMETER);
  processor->Process(input.data(), 240, output.data(), 0);
  EXPECT_EQ(output[0], 3.0f);
  EXPECT_EQ(processor->Init(48000, 33, 2, 0), STATUS_INVALID_PARAMETER);
  processor->Process(input.data(), 240, output.data(), 0);
  EXPECT_EQ(output[0], 3.0f);
  ASSERT_EQ(processor->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  processor->Process(input.data(), 0, output.data(), 0);  // zero frames writes nothing
  EXPECT_EQ(output[0], 3.0f);
  processor->Process(input.data(), 240, output.data(), 0);
  EXPECT_NE(output[0], 3.0f);
}

TEST(StreamProcessor, ChoosesTheSetUpByRate) {
  Host host;
  auto processor = host.NewProcessor();
  const struct {
    ULONG rate;
    int32_t setUp;
  } cases[] = {{8000, 32000},  {37565, 32000}, {37566, 44100},
               {46008, 44100}, {46009, 48000}, {192000, 48000}};
  for (const auto& c : cases) {
    ASSERT_EQ(processor->Init(c.rate, 16, 2, 0), STATUS_SUCCESS);
    EXPECT_EQ(Typed(processor.get())->Engine()->highPassLeft.sampleRate, c.setUp) << c.rate;
    EXPECT_EQ(Typed(processor.get())->Engine()->equaliserRight.sampleRate, c.setUp) << c.rate;
  }
}

TEST(StreamProcessor, ScalesSixteenAndThirtyTwoBitStreamsAsymmetrically) {
  Host host;
  ASSERT_EQ(host.manager->SetEnable(0), STATUS_SUCCESS);  // bypass at gain 1.0
  auto processor = host.NewProcessor();
  ASSERT_EQ(processor->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  std::vector<float> input = {-32768.0f, 32767.0f, 16384.0f, -1.0f};
  input.resize(480, 0.0f);
  std::vector<float> output(480);
  processor->Process(input.data(), 240, output.data(), 0);
  EXPECT_EQ(output[0], -32767.0f);  // -1.0 maps back one step short of the input's minimum
  EXPECT_NEAR(output[1], 32767.0f * 32767.0f / 32768.0f, 1e-3f);
  EXPECT_NEAR(output[2], 16383.5f, 1e-3f);
  EXPECT_NEAR(output[3], -32767.0f / 32768.0f, 1e-3f);

  ASSERT_EQ(host.manager->SetEnable(1), STATUS_SUCCESS);
  ASSERT_EQ(Typed(host.manager.get())->Set<KSPROPERTY_TESSIL_BYPASS_GAIN>(4.0f), STATUS_SUCCESS);
  ASSERT_EQ(host.manager->SetEnable(0), STATUS_SUCCESS);
  processor->Process(input.data(), 240, output.data(), 0);
  EXPECT_EQ(output[0], -32767.0f);  // beyond full scale: clamped
  EXPECT_EQ(output[1], 32767.0f);

  ASSERT_EQ(processor->Init(48000, 32, 2, 0), STATUS_SUCCESS);
  std::vector<float> loud(480, 2147483647.0f);
  processor->Process(loud.data(), 240, output.data(), 0);
  EXPECT_EQ(output[0], 2147479552.0f);  // stays below 2^31
  EXPECT_LT(output[0], 2147483648.0f);
}

// A host converts the floats to integers of the stream's depth: a value one step above the
// largest integer wraps to the most negative one, an audible click.
TEST(StreamProcessor, EveryDepthStaysWithinItsIntegerRange) {
  for (const bool chain : {false, true}) {
    Host host;
    TessilManager* manager = Typed(host.manager.get());
    // Both paths are driven well past full scale, so the output clamp decides the extremes.
    ASSERT_EQ(manager->Set<KSPROPERTY_TESSIL_BYPASS_GAIN>(4.0f), STATUS_SUCCESS);
    ASSERT_EQ(manager->Set<KSPROPERTY_TESSIL_OUTPUT_GAIN>(4.0f), STATUS_SUCCESS);
    ASSERT_EQ(manager->Set<KSPROPERTY_TESSIL_CORE_ENABLE>(0), STATUS_SUCCESS);
    ASSERT_EQ(manager->SetEnable(chain ? 1 : 0), STATUS_SUCCESS);
    auto processor = host.NewProcessor();
    for (USHORT bits = 2; bits <= 32; ++bits) {
      ASSERT_EQ(processor->Init(48000, bits, 2, 0), STATUS_SUCCESS);
      const double half = std::ldexp(1.0, bits - 1);
      // Full scale, beyond it and far beyond it, alternating in sign every 12 frames.
      std::vector<float> input(2 * 4800);
      for (size_t i = 0; i < input.size(); ++i) {
        const float beyond = i % 3 == 0 ? 1.0f : i % 3 == 1 ? 1.5f : 1e6f;
        const float magnitude = static_cast<float>(half) * beyond;
        input[i] = (i / 24) % 2 == 0 ? magnitude : -magnitude;
      }
      const std::vector<float> output = test_support::RunStream(processor.get(), input, 2, 480);
      const float highest = *std::max_element(output.begin(), output.end());
      const float lowest = *std::min_element(output.begin(), output.end());
      EXPECT_LE(highest, half - 1.0) << bits << (chain ? " through the chain" : " in bypass");
      EXPECT_GE(lowest, -half) << bits << (chain ? " through the chain" : " in bypass");
      // The clamp is reached, and it sits on the largest float not above the largest integer
      // (32 bits keep their margin of 4096).
      float largest = static_cast<float>(half - 1.0);
      if (largest > half - 1.0) largest = std::nextafter(largest, 0.0f);
      EXPECT_EQ(highest, bits == 32 ? 2147479552.0f : largest) << bits;
      EXPECT_EQ(lowest, -highest) << bits;
    }
  }
}

// A mono stream never writes input channel 1, so it must hold what a fresh processor holds
// there, whatever an earlier stereo stream left behind.
TEST(StreamProcessor, MonoAfterStereoMatchesAFreshProcessor) {
  std::vector<float> loud = HostProgramme(48000, 9600, 2);
  for (float& sample : loud) sample = sample >= 0.0f ? 32767.0f : -32768.0f;
  const std::vector<float> stereo = HostProgramme(48000, 48000, 2);
  std::vector<float> mono(48000);
  for (size_t i = 0; i < mono.size(); ++i) mono[i] = stereo[2 * i];
  for (const uint32_t bufferFrames : {480u, 441u}) {
    Host host;
    auto reused = host.NewProcessor();
    auto fresh = host.NewProcessor();
    ASSERT_EQ(reused->Init(48000, 16, 2, 0), STATUS_SUCCESS);
    test_support::RunStream(reused.get(), loud, 2, 480);
    ASSERT_EQ(reused->Init(48000, 16, 1, 0), STATUS_SUCCESS);
    ASSERT_EQ(fresh->Init(48000, 16, 1, 0), STATUS_SUCCESS);
    const std::vector<float> expected = test_support::RunStream(fresh.get(), mono, 1, bufferFrames);
    const std::vector<float> output = test_support::RunStream(reused.get(), mono, 1, bufferFrames);
    EXPECT_EQ(std::memcmp(output.data(), expected.data(), output.size() * sizeof(float)), 0)
        << bufferFrames;
  }
}

TEST(StreamProcessor, SixChannelStreamKeepsTheOtherChannelsAndWorksInPlace) {
  Host host;
  auto separate = host.NewProcessor();
  auto inPlace = host.NewProcessor();
  ASSERT_EQ(separate->Init(44100, 16, 6, 0), STATUS_SUCCESS);
  ASSERT_EQ(inPlace->Init(44100, 16, 6, 0), STATUS_SUCCESS);
  const std::vector<float> input = HostProgramme(44100, 44100, 6);
  std::vector<float> output(input.size(), -5.0f);
  std::vector<float> buffer = input;
  for (size_t start = 0; start < 44100; start += 480) {
    const ULONG frames = static_cast<ULONG>(std::min<size_t>(480, 44100 - start));
    separate->Process(input.data() + start * 6, frames, output.data() + start * 6, 0);
    inPlace->Process(buffer.data() + start * 6, frames, buffer.data() + start * 6, 0);
  }
  for (size_t i = 0; i < output.size(); ++i) {
    const size_t channel = i % 6;
    if (channel >= 2) {
      ASSERT_EQ(output[i], -5.0f) << i;        // never written
      ASSERT_EQ(buffer[i], input[i]) << i;     // passes through in place
    } else {
      ASSERT_EQ(buffer[i], output[i]) << i;    // in place equals separate buffers
    }
  }
}

TEST(StreamProcessor, ProcessorsShareNoStateAndRestartTheirDitherAtInit) {
  Host host;
  auto first = host.NewProcessor();
  auto second = host.NewProcessor();
  const std::vector<float> input = HostProgramme(48000, 24000, 2);
  ASSERT_EQ(first->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  const std::vector<float> a = test_support::RunStream(first.get(), input, 2, 480);
  ASSERT_EQ(second->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  const std::vector<float> b = test_support::RunStream(second.get(), input, 2, 480);
  ASSERT_EQ(first->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  const std::vector<float> c = test_support::RunStream(first.get(), input, 2, 480);
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
  EXPECT_EQ(std::memcmp(a.data(), c.data(), a.size() * sizeof(float)), 0);
}

// A buffer that is not whole blocks switches the stream, for good, to a fixed lateness of 239
// frames: every frame then passes the chain once, and the output is the aligned stream's output
// 239 frames later.
TEST(StreamProcessor, ShortBuffersGiveTheAlignedOutputAFixedBlockLate) {
  for (const uint32_t bufferFrames : {1000u, 441u, 1u, 241u}) {
    Host host;
    auto aligned = host.NewProcessor();
    auto shortened = host.NewProcessor();
    ASSERT_EQ(aligned->Init(44100, 16, 2, 0), STATUS_SUCCESS);
    ASSERT_EQ(shortened->Init(44100, 16, 2, 0), STATUS_SUCCESS);
    const int32_t frames = 24000;
    const std::vector<float> input = HostProgramme(44100, frames, 2);
    const std::vector<float> expected = test_support::RunStream(aligned.get(), input, 2, 480);
    const std::vector<float> output = test_support::RunStream(shortened.get(), input, 2, bufferFrames);
    for (int32_t i = 0; i < frames; ++i) {
      for (int c = 0; c < 2; ++c) {
        const float want = i < kShortBufferLatencyFrames ? 0.0f : expected[(i - kShortBufferLatencyFrames) * 2 + c];
        ASSERT_EQ(output[i * 2 + c], want) << "buffer " << bufferFrames << " frame " << i;
      }
    }
  }
}

TEST(StreamProcessor, SwitchingToShortBuffersMidStreamKeepsEveryFrame) {
  Host host;
  auto aligned = host.NewProcessor();
  auto mixed = host.NewProcessor();
  ASSERT_EQ(aligned->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  ASSERT_EQ(mixed->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  const std::vector<float> input = HostProgramme(48000, 9600, 2);
  const std::vector<float> expected = test_support::RunStream(aligned.get(), input, 2, 480);
  std::vector<float> output(input.size());
  mixed->Process(input.data(), 4800, output.data(), 0);  // whole blocks: no lateness yet
  for (size_t start = 4800; start < 9600; start += 100) {
    mixed->Process(input.data() + start * 2, 100, output.data() + start * 2, 0);
  }
  for (size_t i = 0; i < 4800 * 2; ++i) ASSERT_EQ(output[i], expected[i]) << i;
  for (size_t frame = 4800; frame < 9600; ++frame) {
    for (int c = 0; c < 2; ++c) {
      const float want = frame < 4800 + 239 ? 0.0f : expected[(frame - 239) * 2 + c];
      ASSERT_EQ(output[frame * 2 + c], want) << frame;
    }
  }
}

TEST(StreamProcessor, BadHostSamplesAreSanitisedInsteadOfPoisoningTheStream) {
  Host host;
  auto clean = host.NewProcessor();
  auto dirty = host.NewProcessor();
  ASSERT_EQ(clean->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  ASSERT_EQ(dirty->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  std::vector<float> sane = HostProgramme(48000, 9600, 2);
  std::vector<float> bad = sane;
  bad[1000] = std::numeric_limits<float>::quiet_NaN();
  sane[1000] = 0.0f;
  bad[2001] = std::numeric_limits<float>::infinity();
  sane[2001] = 32767.0f;
  bad[3000] = -1e30f;
  sane[3000] = -32768.0f;
  bad[4001] = 40000.0f;
  sane[4001] = 32767.0f;
  const std::vector<float> expected = test_support::RunStream(clean.get(), sane, 2, 480);
  const std::vector<float> output = test_support::RunStream(dirty.get(), bad, 2, 480);
  ASSERT_TRUE(test_support::AllFinite(output.data(), output.size()));
  EXPECT_EQ(std::memcmp(output.data(), expected.data(), output.size() * sizeof(float)), 0);
}

}  // namespace
}  // namespace tessil
