// What the host makes of bad input: samples no stream can carry, option values that are not
// numbers, and files that end before their header says.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "cli/cli_harness.h"

namespace tessil::cli_test {
namespace {

TEST(BadInput, NonFiniteSamplesInUntouchedChannelsNeverReachTheOutput) {
  ScratchDirectory scratch;
  const size_t frames = 48000 * 2;
  std::vector<float> input(4 * frames);
  for (size_t i = 0; i < frames; ++i) {
    for (size_t c = 0; c < 4; ++c) input[4 * i + c] = static_cast<float>(0.3 * std::sin(0.01 * (c + 1) * i));
    if (i % 1000 == 5) {
      input[4 * i + 2] = std::numeric_limits<float>::quiet_NaN();
      input[4 * i + 3] = std::numeric_limits<float>::infinity();
    }
  }
  WriteFloats(scratch.Path("in.wav"), 48000, 4, input);
  const RunResult run = RunTessil({"render", scratch.Path("in.wav"), scratch.Path("out.wav"), "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  SF_INFO info;
  for (const float sample : ReadFloats(scratch.Path("out.wav"), &info)) {
    ASSERT_TRUE(std::isfinite(sample));
    ASSERT_LE(std::fabs(sample), 1.0f);
  }
  // Every figure is there, and the warnings say which channel held what.
  for (const char* side : {"input_loudness", "output_loudness"}) {
    for (const char* figure : {"integrated_lufs", "sample_peak_dbfs", "true_peak_dbtp"}) {
      EXPECT_TRUE(std::isfinite(JsonNumber(run.out, side, figure))) << side << " " << figure;
    }
  }
  EXPECT_NE(run.err.find("channel 3 holds 96 NaN samples"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("channel 4 holds 96 infinite samples"), std::string::npos) << run.err;
}

TEST(BadInput, OptionValuesThatAreNotNumbersAreRefused) {
  ScratchDirectory scratch;
  WritePcm(scratch.Path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 2, 16, TestNoise(2 * 4800, 9000, 3));
  for (const auto& [option, value] : std::vector<std::pair<std::string, std::string>>{
           {"--target", "nan"}, {"--ceiling", "nan"}, {"--target", "-inf"}, {"--quality", "nan"}}) {
    SCOPED_TRACE(option + " " + value);
    const RunResult run = RunTessil({"render", scratch.Path("in.wav"), scratch.Path("out.wav"), option, value});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(option), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(scratch.Path("out.wav")));
  }
}

TEST(BadInput, FilesShorterThanTheirHeaderSaySo) {
  ScratchDirectory scratch;
  const std::vector<int32_t> noise = TestNoise(2 * 48000 * 5, 9000, 9);
  WritePcm(scratch.Path("whole.mp3"), SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 48000, 2, 16, noise);
  WritePcm(scratch.Path("whole.ogg"), SF_FORMAT_OGG | SF_FORMAT_VORBIS, 48000, 2, 16, noise);
  SF_INFO declared;
  ReadPcm(scratch.Path("whole.mp3"), 16, &declared);
  std::string mp3 = FileBytes(scratch.Path("whole.mp3"));
  WriteText(scratch.Path("cut.mp3"), mp3.substr(0, mp3.size() / 4));
  std::string ogg = FileBytes(scratch.Path("whole.ogg"));
  for (size_t i = 5000; i < ogg.size(); ++i) ogg[i] = static_cast<char>(ogg[i] ^ 0x5A);
  WriteText(scratch.Path("damaged.ogg"), ogg);

  // A quarter of the MP3 decodes: said with both lengths, in words and in the JSON.
  const RunResult cut = RunTessil({"render", scratch.Path("cut.mp3"), scratch.Path("cut.wav"), "--json"});
  ASSERT_EQ(cut.status, 0) << cut.err;
  const double frames = JsonNumber(cut.out, "", "frames");
  EXPECT_LT(frames, declared.frames / 2.0);
  EXPECT_EQ(JsonNumber(cut.out, "", "declared_frames"), static_cast<double>(declared.frames));
  EXPECT_NE(cut.err.find(std::to_string(static_cast<int64_t>(frames)) + " frames could be decoded of the " +
                         std::to_string(declared.frames)),
            std::string::npos)
      << cut.err;
  // Nothing decodes from the damaged Ogg: a failure, for render and analyse alike.
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"render", scratch.Path("damaged.ogg"), scratch.Path("damaged.wav")},
        std::vector<std::string>{"analyse", scratch.Path("damaged.ogg")}}) {
    const RunResult damaged = RunTessil(arguments);
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.err.find("no audio could be decoded"), std::string::npos) << damaged.err;
  }
  EXPECT_FALSE(std::filesystem::exists(scratch.Path("damaged.wav")));
}

}  // namespace
}  // namespace tessil::cli_test
