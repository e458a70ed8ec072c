// The report against figures computed here from first principles, the property listing, and
// the demo.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "cli/cli_harness.h"

namespace tessil::cli_test {
namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

TEST(Report, FiguresOfAFullScaleSineAgreeWithAnIndependentComputation) {
  ScratchDirectory scratch;
  const int rate = 48000;
  const size_t frames = 5 * rate;
  std::vector<int32_t> input(2 * frames);
  std::vector<double> nominal(2 * frames);
  int32_t peak = 0;
  for (size_t i = 0; i < frames; ++i) {
    const auto sample = static_cast<int32_t>(std::lround(32767.0 * std::sin(2.0 * std::numbers::pi * 997.0 * i / rate)));
    input[2 * i] = input[2 * i + 1] = sample;
    nominal[2 * i] = nominal[2 * i + 1] = sample / 32768.0;
    peak = std::max(peak, std::abs(sample));
  }
  WritePcm(scratch.Path("sine.wav"), kWav16, rate, 2, 16, input);
  const RunResult run = RunTessil({"render", scratch.Path("sine.wav"), scratch.Path("out.wav"), "--json"});
  ASSERT_EQ(run.status, 0) << run.err;

  const double samplePeak = 20.0 * std::log10(peak / 32768.0);
  EXPECT_NEAR(JsonNumber(run.out, "input_loudness", "sample_peak_dbfs"), samplePeak, 1e-4);
  // A 997 Hz sine fills the samples' envelope closely: its true peak is its amplitude.
  EXPECT_NEAR(JsonNumber(run.out, "input_loudness", "true_peak_dbtp"), 20.0 * std::log10(32767.0 / 32768.0), 0.05);
  const double integrated = JsonNumber(run.out, "input_loudness", "integrated_lufs");
  EXPECT_NEAR(integrated, IntegratedLoudness48k(nominal, 2), 0.01);
  // The standard's own anchor: 0 dBFS at 997 Hz reads -3.01 LKFS per channel, so 0 for two.
  EXPECT_NEAR(integrated, 0.0, 0.05);
  EXPECT_NEAR(JsonNumber(run.out, "input_loudness", "range_lu"), 0.0, 0.1);

  EXPECT_EQ(JsonNumber(run.out, "", "frames"), static_cast<double>(frames));
  EXPECT_DOUBLE_EQ(JsonNumber(run.out, "", "duration_seconds"), 5.0);
  EXPECT_EQ(JsonNumber(run.out, "", "sample_rate"), rate);
  EXPECT_EQ(JsonNumber(run.out, "", "latency_frames"), 22.0);
  EXPECT_GT(JsonNumber(run.out, "", "realtime_factor"), 0.0);
  // The output side measures the written file.
  SF_INFO info;
  const std::vector<int32_t> output = ReadPcm(scratch.Path("out.wav"), 16, &info);
  int32_t outputPeak = 0;
  std::vector<double> outputNominal(output.size());
  for (size_t i = 0; i < output.size(); ++i) {
    outputPeak = std::max(outputPeak, std::abs(output[i]));
    outputNominal[i] = output[i] / 32768.0;
  }
  EXPECT_NEAR(JsonNumber(run.out, "output_loudness", "sample_peak_dbfs"), 20.0 * std::log10(outputPeak / 32768.0), 1e-4);
  EXPECT_NEAR(JsonNumber(run.out, "output_loudness", "integrated_lufs"), IntegratedLoudness48k(outputNominal, 2), 0.01);
}

TEST(Report, TextReportNamesEveryFigure) {
  ScratchDirectory scratch;
  WritePcm(scratch.Path("in.wav"), kWav16, 48000, 1, 16, TestNoise(48000, 9000, 8));
  const RunResult run = RunTessil({"render", scratch.Path("in.wav"), scratch.Path("out.wav")});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* text : {"integrated", "LUFS", "loudness range", "LU", "sample peak", "dBFS", "true peak", "dBTP",
                           "realtime", "1.000 s", "48000 Hz", "1 channel"}) {
    EXPECT_NE(run.out.find(text), std::string::npos) << text;
  }
  // Not on a terminal: no progress bar, nothing on stderr.
  EXPECT_EQ(run.err, "");
}

TEST(Properties, ListsAllTwentyWithTheirValues) {
  const RunResult defaults = RunTessil({"properties"});
  ASSERT_EQ(defaults.status, 0) << defaults.err;
  for (const char* name : {"enable", "input-gain", "output-gain", "bypass-gain", "core-enable", "core-level",
                           "highpass-enable", "highpass-frequency", "highpass-order", "lowpass-enable",
                           "lowpass-frequency", "lowpass-order", "output-stage-enable", "eq-enable.CH",
                           "eq-band-enable.CH.BAND", "eq-band-gain.CH.BAND", "eq-band-frequency.CH.BAND",
                           "eq-band-q.CH.BAND", "output-stage-amount", "core-weighting"}) {
    EXPECT_NE(defaults.out.find("\n" + std::string(name) + " "), std::string::npos) << name;
  }
  // Values are read back from the driver: a setting shows up in the listing.
  const RunResult changed = RunTessil({"properties", "--set", "output-stage-amount=35", "--set", "eq-band-q.1.3=250"});
  ASSERT_EQ(changed.status, 0) << changed.err;
  const auto row = [](const std::string& listing, const std::string& name) {
    const size_t start = listing.find("\n" + name + " ");
    return listing.substr(start + 1, listing.find('\n', start + 1) - start - 1);
  };
  EXPECT_NE(row(changed.out, "output-stage-amount").find(" 35"), std::string::npos) << row(changed.out, "output-stage-amount");
  EXPECT_NE(row(changed.out, "eq-band-q.CH.BAND").substr(row(changed.out, "eq-band-q.CH.BAND").find("1:")).find(" 250"),
            std::string::npos);
  EXPECT_EQ(row(changed.out, "input-gain"), row(defaults.out, "input-gain"));
  // A clamped value is accepted and the stored value is noted.
  const RunResult clamped = RunTessil({"properties", "--set", "eq-band-gain.0.0=40"});
  EXPECT_EQ(clamped.status, 0);
  EXPECT_NE(clamped.err.find("stored as eq-band-gain.0.0 = 20"), std::string::npos) << clamped.err;
}

TEST(Demo, WritesTheClipAndRendersItIn441FrameBuffers) {
  ScratchDirectory scratch;
  const RunResult run = RunTessil({"demo", "-o", scratch.Root(), "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  SF_INFO input;
  SF_INFO output;
  ReadPcm(scratch.Path("demo-input.wav"), 16, &input);
  ReadPcm(scratch.Path("demo-output.wav"), 16, &output);
  EXPECT_EQ(input.samplerate, 44100);
  EXPECT_EQ(input.channels, 2);
  EXPECT_EQ(input.frames, 20 * 44100);
  EXPECT_EQ(output.frames, input.frames);
  EXPECT_EQ(JsonNumber(run.out, "", "buffer_frames"), 441.0);
  EXPECT_EQ(JsonNumber(run.out, "", "latency_frames"), 22.0 + 239.0);
  // Quiet and loud passages: the clip has a real loudness range, and it is the same every time.
  EXPECT_GT(JsonNumber(run.out, "input_loudness", "range_lu"), 6.0);
  const std::string first = FileBytes(scratch.Path("demo-input.wav"));
  ASSERT_EQ(RunTessil({"demo", "-o", scratch.Root()}).status, 0);
  EXPECT_EQ(FileBytes(scratch.Path("demo-input.wav")), first);
}

}  // namespace
}  // namespace tessil::cli_test
