// Rendering through the built binary: lengths, alignment, pass-through channels, bypass accuracy
// and determinism, on files the tests make themselves.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "cli/cli_harness.h"

namespace tessil::cli_test {
namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int kWav24 = SF_FORMAT_WAV | SF_FORMAT_PCM_24;

// Only the core between input and output: the impulse keeps its place and its shape.
const std::vector<std::string> kCoreOnly = {"--set", "highpass-enable=0", "--set", "lowpass-enable=0",
                                            "--set", "output-stage-enable=0", "--set", "eq-enable.both=0"};

std::vector<std::string> Join(std::vector<std::string> first, const std::vector<std::string>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

size_t LoudestFrame(const std::vector<int32_t>& samples, int channels, int channel) {
  size_t best = 0;
  for (size_t i = 0; i * channels < samples.size(); ++i) {
    if (std::abs(samples[i * channels + channel]) > std::abs(samples[best * channels + channel])) best = i;
  }
  return best;
}

TEST(Render, OutputHasTheInputsLengthWhateverTheBuffersAndAlignment) {
  ScratchDirectory scratch;
  struct Case {
    int frames;
    int rate;
    std::vector<std::string> options;
  };
  const Case cases[] = {
      {10007, 48000, {}},
      {10007, 44100, {"--buffer-frames", "441"}},
      {4800, 48000, {"--buffer-frames", "960"}},
      {333, 32000, {"--buffer-frames", "1000"}},
      {5, 48000, {}},  // shorter than the latency
      {10007, 48000, {"--buffer-frames", "441", "--no-align"}},
      {10007, 48000, {"--set", "enable=0", "--buffer-frames", "7"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frames);
    const std::string in = scratch.Path("in.wav");
    const std::string out = scratch.Path("out.wav");
    WritePcm(in, kWav16, c.rate, 2, 16, TestNoise(2 * static_cast<size_t>(c.frames), 8000, 7));
    const RunResult run = RunTessil(Join({"render", "-y", in, out}, c.options));
    ASSERT_EQ(run.status, 0) << run.err;
    SF_INFO info;
    ReadPcm(out, 16, &info);
    EXPECT_EQ(info.frames, c.frames);
    EXPECT_EQ(info.samplerate, c.rate);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.format, kWav16);
  }
}

TEST(Render, EmptyInputGivesValidEmptyOutput) {
  ScratchDirectory scratch;
  WritePcm(scratch.Path("in.wav"), kWav24, 48000, 3, 24, {});
  const RunResult run = RunTessil({"render", scratch.Path("in.wav"), scratch.Path("out.wav"), "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  SF_INFO info;
  ReadPcm(scratch.Path("out.wav"), 24, &info);
  EXPECT_EQ(info.frames, 0);
  EXPECT_EQ(info.channels, 3);
  EXPECT_EQ(info.format, kWav24);
  EXPECT_EQ(JsonNumber(run.out, "", "frames"), 0.0);
}

TEST(Render, BypassAtUnityGainReturnsEachSampleWithinOneStep) {
  ScratchDirectory scratch;
  struct Case {
    int format;
    int depth;
    int rate;
    const char* buffer;
  };
  const Case cases[] = {{kWav16, 16, 48000, "480"},
                        {kWav16, 16, 44100, "441"},
                        {kWav24, 24, 48000, "441"},
                        {SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 16, 32000, "1000"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.buffer);
    const int32_t full = (1 << (c.depth - 1)) - 1;
    std::vector<int32_t> input = TestNoise(2 * 6000, full, 11);
    input[100] = full;  // both extremes of the range
    input[101] = -full - 1;
    const std::string in = scratch.Path("in.wav");
    const std::string out = scratch.Path("out.wav");
    WritePcm(in, c.format, c.rate, 2, c.depth, input);
    const RunResult run = RunTessil({"render", "-y", in, out, "--buffer-frames", c.buffer, "--set", "enable=0",
                                     "--set", "bypass-gain=0"});
    ASSERT_EQ(run.status, 0) << run.err;
    SF_INFO info;
    const std::vector<int32_t> output = ReadPcm(out, c.depth, &info);
    ASSERT_EQ(output.size(), input.size());
    int worst = 0;
    for (size_t i = 0; i < input.size(); ++i) worst = std::max(worst, std::abs(output[i] - input[i]));
    EXPECT_LE(worst, 1);
  }
}

TEST(Render, AlignedOutputPutsAnImpulseWhereTheInputHasIt) {
  ScratchDirectory scratch;
  const std::vector<std::string> bypass = {"--set", "enable=0", "--set", "bypass-gain=0"};
  struct Case {
    int rate;
    const char* buffer;
    std::vector<std::string> settings;
    int rawLatency;  // where --no-align puts the impulse instead
  };
  // The look-ahead is in the stream only while the master enable and the core enable are on.
  const Case cases[] = {{48000, "480", kCoreOnly, 22},
                        {44100, "441", kCoreOnly, 22 + 239},
                        {48000, "480", Join(kCoreOnly, {"--set", "core-enable=0"}), 0},
                        {48000, "480", bypass, 0},
                        {48000, "1000", bypass, 239}};
  const size_t position = 3000;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.buffer) + " " + std::to_string(c.rawLatency));
    std::vector<int32_t> input(2 * 8000, 0);
    input[2 * position] = 16000;
    input[2 * position + 1] = -16000;
    const std::string in = scratch.Path("impulse.wav");
    WritePcm(in, kWav16, c.rate, 2, 16, input);
    for (const bool align : {true, false}) {
      const std::string out = scratch.Path("out.wav");
      std::vector<std::string> arguments = Join({"render", "-y", in, out, "--buffer-frames", c.buffer}, c.settings);
      if (!align) arguments.push_back("--no-align");
      const RunResult run = RunTessil(arguments);
      ASSERT_EQ(run.status, 0) << run.err;
      SF_INFO info;
      const std::vector<int32_t> output = ReadPcm(out, 16, &info);
      const size_t expected = align ? position : position + static_cast<size_t>(c.rawLatency);
      EXPECT_EQ(LoudestFrame(output, 2, 0), expected) << (align ? "aligned" : "raw");
      EXPECT_EQ(LoudestFrame(output, 2, 1), expected) << (align ? "aligned" : "raw");
      EXPECT_GT(output[2 * expected], 0);
      EXPECT_LT(output[2 * expected + 1], 0);
    }
  }
}

TEST(Render, ChannelsBeyondTheSecondPassThroughBitExact) {
  ScratchDirectory scratch;
  const int channels = 6;
  const size_t frames = 9001;
  for (const char* buffer : {"480", "441"}) {
    for (const char* align : {"", "--no-align"}) {
      SCOPED_TRACE(std::string(buffer) + " " + align);
      const std::vector<int32_t> input = TestNoise(channels * frames, 8000000, 5);
      const std::string in = scratch.Path("surround.wav");
      const std::string out = scratch.Path("out.wav");
      WritePcm(in, kWav24, 48000, channels, 24, input);
      std::vector<std::string> arguments = {"render", "-y", in, out, "--buffer-frames", buffer};
      if (*align != '\0') arguments.push_back(align);
      const RunResult run = RunTessil(arguments);
      ASSERT_EQ(run.status, 0) << run.err;
      SF_INFO info;
      const std::vector<int32_t> output = ReadPcm(out, 24, &info);
      ASSERT_EQ(info.channels, channels);
      ASSERT_EQ(output.size(), input.size());
      size_t differing = 0;
      size_t processedDiffering = 0;
      for (size_t i = 0; i < frames; ++i) {
        for (int c = 2; c < channels; ++c) differing += output[i * channels + c] != input[i * channels + c];
        processedDiffering += output[i * channels] != input[i * channels];
      }
      EXPECT_EQ(differing, 0u);
      EXPECT_GT(processedDiffering, frames / 2);  // the first two channels did go through the effect
    }
  }
}

TEST(Render, FloatOutputHoldsTheStreamOutputOverTheInputScale) {
  ScratchDirectory scratch;
  const std::vector<int32_t> input = TestNoise(2 * 4000, 30000, 3);
  WritePcm(scratch.Path("in.wav"), kWav16, 48000, 2, 16, input);
  const RunResult run = RunTessil({"render", scratch.Path("in.wav"), scratch.Path("out.wav"), "--format",
                                   "f32", "--set", "enable=0", "--set", "bypass-gain=0"});
  ASSERT_EQ(run.status, 0) << run.err;
  SF_INFO info;
  const std::vector<float> output = ReadFloats(scratch.Path("out.wav"), &info);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  ASSERT_EQ(output.size(), input.size());
  // At unity bypass a 16-bit stream writes (s / 32768 + dither) * 32767 in single precision, the
  // dither being 0 or +-1e-8; the file holds exactly that over 32768.
  for (size_t i = 0; i < input.size(); ++i) {
    const float nominal = static_cast<float>(input[i]) / 32768.0f;
    bool matched = false;
    for (const float dither : {0.0f, 1e-8f, -1e-8f}) {
      const float host = (dither + nominal) * 32767.0f;
      matched = matched || output[i] == host / 32768.0f;
    }
    ASSERT_TRUE(matched) << i << ": " << input[i] << " came back as " << output[i] * 32768.0f;
  }
}

TEST(Render, FloatInputIsScaledTo32BitsAndBack) {
  ScratchDirectory scratch;
  std::vector<float> input(3 * 2000);
  for (size_t i = 0; i < input.size(); ++i) input[i] = static_cast<float>(0.6 * std::sin(0.01 * i));
  input[3 * 10 + 2] = 1.75f;  // beyond full scale on a pass-through channel: clamped as the driver clamps
  WriteFloats(scratch.Path("in.wav"), 48000, 3, input);
  const RunResult run = RunTessil({"render", scratch.Path("in.wav"), scratch.Path("out.wav"), "--json",
                                   "--set", "enable=0", "--set", "bypass-gain=0"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(JsonNumber(run.out, "", "bits"), 32.0);
  SF_INFO info;
  const std::vector<float> output = ReadFloats(scratch.Path("out.wav"), &info);
  ASSERT_EQ(output.size(), input.size());
  for (size_t i = 0; i < input.size(); ++i) {
    if (i % 3 == 2) {
      ASSERT_EQ(output[i], std::min(input[i], 1.0f)) << i;
    } else {
      // The 32-bit output scale is 2^31 - 1 - 4096: a relative step of about 2e-6.
      ASSERT_NEAR(output[i], input[i] * (2147479552.0 / 2147483648.0), 1e-7) << i;
    }
  }
}

TEST(Render, RunsAreRepeatableAndParallelFilesMatchSingleOnes) {
  ScratchDirectory scratch;
  const std::vector<int32_t> input = TestNoise(2 * 30000, 12000, 21);
  WritePcm(scratch.Path("a.wav"), kWav16, 44100, 2, 16, input);
  WritePcm(scratch.Path("b.wav"), kWav16, 44100, 2, 16, input);
  const std::vector<std::string> common = {"--buffer-frames", "441", "--set", "core-level=70"};
  ASSERT_EQ(RunTessil(Join({"render", scratch.Path("a.wav"), scratch.Path("one.wav")}, common)).status, 0);
  ASSERT_EQ(RunTessil(Join({"render", scratch.Path("a.wav"), scratch.Path("two.wav")}, common)).status, 0);
  const RunResult batch = RunTessil(Join({"render", "-o", scratch.Path("batch"), "--jobs", "2", "--json",
                                          scratch.Path("a.wav"), scratch.Path("b.wav")}, common));
  ASSERT_EQ(batch.status, 0) << batch.err;
  const std::string one = FileBytes(scratch.Path("one.wav"));
  EXPECT_FALSE(one.empty());
  EXPECT_EQ(FileBytes(scratch.Path("two.wav")), one);
  EXPECT_EQ(FileBytes(scratch.Path("batch/a.wav")), one);
  EXPECT_EQ(FileBytes(scratch.Path("batch/b.wav")), one);
  // One report per file, in input order.
  EXPECT_EQ(batch.out.front(), '[');
  EXPECT_LT(batch.out.find("a.wav\""), batch.out.find("b.wav\""));
}

TEST(Render, PresetFileActsLikeTheSameSettingsOnTheCommandLine) {
  ScratchDirectory scratch;
  WritePcm(scratch.Path("in.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 20000, 12000, 9));
  WriteText(scratch.Path("preset.txt"),
            "# a preset\n\n  output-gain = -6   # quieter\neq-band-gain.both.1=4\nhighpass-frequency=120\n");
  ASSERT_EQ(RunTessil({"render", scratch.Path("in.wav"), scratch.Path("preset.wav"), "--settings",
                       scratch.Path("preset.txt")}).status, 0);
  ASSERT_EQ(RunTessil({"render", scratch.Path("in.wav"), scratch.Path("sets.wav"), "--set", "output-gain=-6",
                       "--set", "eq-band-gain.0.1=4", "--set", "eq-band-gain.1.1=4", "--set",
                       "highpass-frequency=120"}).status, 0);
  ASSERT_EQ(RunTessil({"render", scratch.Path("in.wav"), scratch.Path("plain.wav")}).status, 0);
  EXPECT_EQ(FileBytes(scratch.Path("preset.wav")), FileBytes(scratch.Path("sets.wav")));
  EXPECT_NE(FileBytes(scratch.Path("preset.wav")), FileBytes(scratch.Path("plain.wav")));
  // A later --set overrides the preset.
  WriteText(scratch.Path("quiet.txt"), "output-gain=-6\n");
  ASSERT_EQ(RunTessil({"render", scratch.Path("in.wav"), scratch.Path("override.wav"), "--settings",
                       scratch.Path("quiet.txt"), "--set", "output-gain=-3"}).status, 0);
  ASSERT_EQ(RunTessil({"render", scratch.Path("in.wav"), scratch.Path("minus3.wav"), "--set",
                       "output-gain=-3"}).status, 0);
  EXPECT_EQ(FileBytes(scratch.Path("override.wav")), FileBytes(scratch.Path("minus3.wav")));
}

}  // namespace
}  // namespace tessil::cli_test
