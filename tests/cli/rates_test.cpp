// Files at rates the driver has no tables for: resampled through the host layer, same length,
// aligned with the input, and the settings mean what they say.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "cli/cli_harness.h"

namespace tessil::cli_test {
namespace {

TEST(Rates, OddRatesKeepLengthAlignmentAndFilterFrequencies) {
  ScratchDirectory scratch;
  for (const int rate : {8000, 96000}) {
    SCOPED_TRACE(rate);
    // A 1000 Hz tone with a click, stereo and a third channel that passes untouched.
    const size_t frames = static_cast<size_t>(rate) / 2 + 123;
    std::vector<float> samples(frames * 3);
    for (size_t i = 0; i < frames; ++i) {
      const float tone = 0.1f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(i) / rate));
      samples[3 * i] = samples[3 * i + 1] = tone;
      samples[3 * i + 2] = i == frames / 2 ? 0.5f : 0.0f;
    }
    const std::string input = scratch.Path("in" + std::to_string(rate) + ".wav");
    const std::string output = scratch.Path("out" + std::to_string(rate) + ".wav");
    WriteFloats(input, rate, 3, samples);
    const RunResult run = RunTessil({"render", input, output, "--set", "core-enable=0", "--set",
                                     "output-stage-enable=0", "--set", "highpass-frequency=1000"});
    ASSERT_EQ(run.status, 0) << run.err;
    SF_INFO info{};
    const std::vector<float> rendered = ReadFloats(output, &info);
    ASSERT_EQ(info.frames, static_cast<sf_count_t>(frames));
    EXPECT_EQ(info.samplerate, rate);
    EXPECT_EQ(rendered[3 * (frames / 2) + 2], 0.5f);  // extra channels stay in step

    double in = 0.0;
    double out = 0.0;
    double aligned = 0.0;
    for (size_t i = frames / 4; i < frames - frames / 8; ++i) {
      in += static_cast<double>(samples[3 * i]) * samples[3 * i];
      out += static_cast<double>(rendered[3 * i]) * rendered[3 * i];
      aligned += static_cast<double>(rendered[3 * i]) * samples[3 * i];
    }
    EXPECT_NEAR(10.0 * std::log10(out / in), -3.0, 0.1);
    // An order-2 high-pass at its cut-off leads by 90 degrees. The latency is trimmed to the
    // nearest frame (at 8 kHz a frame is 45 degrees of this tone): within half a frame the
    // correlation stays below sin(22.5 degrees), one frame off it would reach 0.7.
    EXPECT_NEAR(aligned / std::sqrt(in * out), 0.0, 0.39);
  }
}

}  // namespace
}  // namespace tessil::cli_test
