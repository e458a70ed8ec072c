// run() as hosts call it: any block size, sizes changing from call to call, a constant latency,
// and no allocation on the audio thread.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "host/ceiling_limiter.h"
#include "plugin_harness.h"
#include "plugin_loader.h"
#include "support/allocation_counter.h"

namespace tessil::plugin_test {
namespace {

const std::string kLadspa = TESSIL_LADSPA_PLUGIN;
const std::string kLv2 = TESSIL_LV2_BUNDLE;

std::unique_ptr<LoadedPlugin> Load(bool lv2, int rate, uint32_t channels = 2) {
  return lv2 ? LoadLv2(kLv2, rate, channels) : LoadLadspa(kLadspa, static_cast<unsigned long>(rate), channels);
}

// The programme's first plugin.Channels() channels through the plugin in calls of the given
// sizes, repeated.
Audio RunInBlocks(LoadedPlugin& plugin, const Audio& input, const std::vector<uint32_t>& blocks) {
  const uint32_t channels = plugin.Channels();
  std::vector<std::vector<float>> planar(channels, std::vector<float>(input.Frames()));
  for (size_t i = 0; i < input.Frames(); ++i) {
    for (uint32_t c = 0; c < channels; ++c) planar[c][i] = input.samples[i * static_cast<size_t>(input.channels) + c];
  }
  size_t done = 0;
  for (size_t k = 0; done < input.Frames(); ++k) {
    const auto n = static_cast<uint32_t>(std::min<size_t>(blocks[k % blocks.size()], input.Frames() - done));
    // In place, as many hosts run plugins.
    float* audio[2] = {planar[0].data() + done, planar[channels - 1].data() + done};
    plugin.Run(audio, audio, n);
    done += n;
  }
  Audio output{input.rate, static_cast<int>(channels), std::vector<float>(input.Frames() * channels)};
  for (size_t i = 0; i < input.Frames(); ++i) {
    for (uint32_t c = 0; c < channels; ++c) output.samples[i * channels + c] = planar[c][i];
  }
  return output;
}

TEST(PluginRun, EveryBlockSizeGivesTheSameAudio) {
  for (const bool lv2 : {false, true}) {
    for (const int rate : {48000, 96000}) {
      // The mono plugin with the ceiling holding the loud passages.
      const uint32_t channels = rate == 48000 ? 2 : 1;
      SCOPED_TRACE(std::string(lv2 ? "LV2 " : "LADSPA ") + std::to_string(rate));
      const Audio input = Programme(rate, 1.5);
      Audio reference;
      for (const std::vector<uint32_t>& blocks : std::vector<std::vector<uint32_t>>{
               {4096}, {1}, {64}, {1000}, {1, 4096, 64, 7, 1000, 240, 333}}) {
        auto plugin = Load(lv2, rate, lv2 ? channels : 3 - channels);
        plugin->Set("core-level", 70);
        plugin->Set("output-gain", 6);
        plugin->Set("ceiling_enable", 1);
        plugin->Set("ceiling", -3);
        const Audio output = RunInBlocks(*plugin, input, blocks);
        if (reference.samples.empty()) {
          reference = output;
          continue;
        }
        EXPECT_EQ(output.samples, reference.samples) << "blocks of " << blocks[0];
      }
    }
  }
}

TEST(PluginRun, LatencyIsTheSameWhateverTheSwitches) {
  const float expected = static_cast<float>(kTessilShortBufferLatencyFrames + kTessilLookAheadFrames +
                                            host::CeilingLimiter::LatencyFrames(44100));
  for (const bool lv2 : {false, true}) {
    for (const char* switched : {"", "core-enable", "enable", "ceiling_enable"}) {
      SCOPED_TRACE(std::string(lv2 ? "LV2 " : "LADSPA ") + switched);
      auto plugin = Load(lv2, 44100, lv2 ? 2 : 1);
      if (*switched != '\0') plugin->Set(switched, std::string(switched) == "ceiling_enable" ? 1.0f : 0.0f);
      Audio input{44100, 2, std::vector<float>(2 * 4000)};
      input.samples[2 * 1000] = input.samples[2 * 1000 + 1] = 0.5f;
      const Audio output = RunInBlocks(*plugin, input, {100, 37});
      EXPECT_EQ(plugin->Latency(), expected);
      size_t peak = 0;
      const auto channels = static_cast<size_t>(output.channels);
      for (size_t i = 0; i < output.Frames(); ++i) {
        if (std::fabs(output.samples[channels * i]) > std::fabs(output.samples[channels * peak])) peak = i;
      }
      EXPECT_EQ(peak, 1000u + static_cast<size_t>(expected));
    }
  }
}

#if TESSIL_COUNTS_ALLOCATIONS
TEST(PluginRun, RunNeverAllocates) {
  for (const bool lv2 : {false, true}) {
    for (const int rate : {44100, 96000}) {
      SCOPED_TRACE(std::string(lv2 ? "LV2 " : "LADSPA ") + std::to_string(rate));
      auto plugin = Load(lv2, rate);
      const Audio input = Programme(rate, 0.5);
      std::vector<float> left(4096), right(4096);
      test_support::ResetAllocations();
      test_support::CountAllocations(true);
      size_t position = 0;
      for (const uint32_t frames : {1u, 64u, 1000u, 4096u, 333u, 4096u, 17u}) {
        for (uint32_t i = 0; i < frames; ++i, ++position) {
          left[i] = input.samples[2 * (position % input.Frames())];
          right[i] = input.samples[2 * (position % input.Frames()) + 1];
        }
        plugin->Run(left.data(), right.data(), left.data(), right.data(), frames);
        if (frames == 333u) {  // a change, sent on the audio thread by the next run()
          test_support::CountAllocations(false);
          plugin->Set("eq-band-gain.1.2", 6);
          plugin->Set("ceiling_enable", 1);
          test_support::CountAllocations(true);
        }
      }
      test_support::CountAllocations(false);
      EXPECT_EQ(test_support::Allocations(), 0);
      EXPECT_TRUE(test_support::CounterSeesAnAllocation());
    }
  }
}
#endif

}  // namespace
}  // namespace tessil::plugin_test
