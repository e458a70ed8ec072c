// The meters as a host reads them from the output controls, against libebur128 on the same
// audio: short-term loudness of what went in and what came out, their difference, and the
// highest true peak of the last second.
#include <gtest/gtest.h>

#include <cmath>

#include "plugin_harness.h"
#include "plugin_loader.h"
#include "support/ebur128_reference.h"

namespace tessil::plugin_test {
namespace {

// libebur128 over the last `seconds` of `audio`.
double ShortTermLufs(const Audio& audio) {
  return test_support::Ebur128Measure(audio.samples.data(), audio.Frames(), audio.channels, audio.rate).shortTermLufs;
}

Audio LastSecond(const Audio& audio) {
  const size_t frames = static_cast<size_t>(audio.rate) * static_cast<size_t>(audio.channels);
  return {audio.rate, audio.channels, std::vector<float>(audio.samples.end() - static_cast<std::ptrdiff_t>(frames), audio.samples.end())};
}

TEST(PluginMeters, EveryMeterReadsWhatLibebur128Measures) {
  struct Case {
    bool lv2;
    uint32_t channels;
    int rate;
    float inputScale;  // above 1: hot input that clips
    int outputGain;
  };
  for (const Case& test : {Case{true, 2, 44100, 1.0f, 0}, Case{false, 1, 37800, 3.0f, 6}, Case{true, 1, 96000, 0.5f, 3}}) {
    SCOPED_TRACE(std::to_string(test.channels) + " channels at " + std::to_string(test.rate));
    auto plugin = test.lv2 ? LoadLv2(TESSIL_LV2_BUNDLE, test.rate, test.channels)
                           : LoadLadspa(TESSIL_LADSPA_PLUGIN, static_cast<unsigned long>(test.rate), test.channels);
    plugin->Set("output-gain", static_cast<float>(test.outputGain));
    const Audio programme = Programme(test.rate, 4.3);
    Audio input{test.rate, static_cast<int>(test.channels), {}};
    for (size_t i = 0; i < programme.Frames(); ++i) {
      for (uint32_t c = 0; c < test.channels; ++c) input.samples.push_back(test.inputScale * programme.samples[2 * i + c]);
    }
    Audio output = input;
    std::vector<std::vector<float>> planar(test.channels, std::vector<float>(512));
    for (size_t done = 0; done < input.Frames();) {
      const auto n = static_cast<uint32_t>(std::min<size_t>(input.Frames() - done, done % 3 == 0 ? 512 : 300));
      for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t c = 0; c < test.channels; ++c) planar[c][i] = input.samples[(done + i) * test.channels + c];
      }
      float* audio[2] = {planar[0].data(), planar[test.channels - 1].data()};
      plugin->Run(audio, audio, n);
      for (uint32_t i = 0; i < n; ++i) {
        for (uint32_t c = 0; c < test.channels; ++c) output.samples[(done + i) * test.channels + c] = planar[c][i];
      }
      done += n;
    }
    const double in = ShortTermLufs(input);
    const double out = ShortTermLufs(output);
    EXPECT_NEAR(plugin->Output(host::kInputLoudnessPort), in, 0.5);
    EXPECT_NEAR(plugin->Output(host::kOutputLoudnessPort), out, 0.5);
    EXPECT_NEAR(plugin->Output(host::kLevelChangePort), out - in, 0.5);
    EXPECT_GT(std::fabs(out - in), 1.0) << "the effect should change the level here";
    EXPECT_NEAR(plugin->Output(host::kOutputTruePeakPort), TruePeakDbtp(LastSecond(output)), 0.5);
  }
}

}  // namespace
}  // namespace tessil::plugin_test
