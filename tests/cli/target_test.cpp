// Loudness targets and true-peak ceilings: the output lands where asked, checked on the written
// file with a loudness computed here, or the run says why it cannot.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "cli/cli_harness.h"

namespace tessil::cli_test {
namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

// Programme-like material: noise whose level moves slowly, 48 kHz stereo.
void WriteProgramme(const std::string& path, double seconds) {
  const auto frames = static_cast<size_t>(seconds * 48000);
  std::vector<int32_t> samples = TestNoise(2 * frames, 12000, 17);
  for (size_t i = 0; i < frames; ++i) {
    const double swell = 0.55 + 0.45 * std::sin(2.0 * 3.14159265358979 * static_cast<double>(i) / (48000.0 * 3.0));
    samples[2 * i] = static_cast<int32_t>(samples[2 * i] * swell);
    samples[2 * i + 1] = static_cast<int32_t>(samples[2 * i + 1] * swell);
  }
  WritePcm(path, kWav16, 48000, 2, 16, samples);
}

double WrittenLoudness(const std::string& path, double* samplePeakDb) {
  SF_INFO info;
  const std::vector<float> samples = ReadFloats(path, &info);
  std::vector<double> nominal(samples.begin(), samples.end());
  double peak = 0.0;
  for (const double sample : nominal) peak = std::max(peak, std::fabs(sample));
  *samplePeakDb = 20.0 * std::log10(peak);
  return IntegratedLoudness48k(nominal, info.channels);
}

TEST(Target, TheOutputLandsWithinTheToleranceAndTheCeilingHolds) {
  ScratchDirectory scratch;
  WriteProgramme(scratch.Path("in.wav"), 8.0);
  struct Case {
    const char* target;
    const char* ceiling;  // null: none
  };
  // -38 needs one of the low levels, where one level step is coarser than the tolerance.
  for (const Case& c : {Case{"-14", nullptr}, Case{"-38", nullptr}, Case{"-16", "-3"}}) {
    SCOPED_TRACE(c.target);
    const std::string out = scratch.Path(std::string("out") + c.target + ".wav");
    std::vector<std::string> arguments = {"render", scratch.Path("in.wav"), out, "--json", "--target", c.target};
    if (c.ceiling != nullptr) arguments.insert(arguments.end(), {"--ceiling", c.ceiling});
    const RunResult run = RunTessil(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    double samplePeak = 0.0;
    EXPECT_NEAR(WrittenLoudness(out, &samplePeak), std::stod(c.target), 0.2);
    EXPECT_NEAR(JsonNumber(run.out, "output_loudness", "integrated_lufs"), std::stod(c.target), 0.2);
    EXPECT_GE(JsonNumber(run.out, "target", "iterations"), 1.0);
    EXPECT_GE(JsonNumber(run.out, "target", "core_level"), 1.0);
    if (c.ceiling != nullptr) {
      EXPECT_LE(JsonNumber(run.out, "output_loudness", "true_peak_dbtp"), std::stod(c.ceiling));
      EXPECT_LE(samplePeak, std::stod(c.ceiling));
    }
  }
}

TEST(Target, ACeilingAloneLowersTheOutputByTheLeastGain) {
  ScratchDirectory scratch;
  WriteProgramme(scratch.Path("in.wav"), 6.0);
  const RunResult free = RunTessil({"render", scratch.Path("in.wav"), scratch.Path("free.wav"), "--json"});
  ASSERT_EQ(free.status, 0) << free.err;
  const double peak = JsonNumber(free.out, "output_loudness", "true_peak_dbtp");
  const double ceiling = std::floor(peak) - 2.0;
  const RunResult run = RunTessil({"render", scratch.Path("in.wav"), scratch.Path("ceiling.wav"), "--json",
                                   "--ceiling", std::to_string(ceiling)});
  ASSERT_EQ(run.status, 0) << run.err;
  const double limited = JsonNumber(run.out, "output_loudness", "true_peak_dbtp");
  EXPECT_LE(limited, ceiling);
  EXPECT_GT(limited, ceiling - 0.05);  // no more reduction than needed
  EXPECT_NEAR(JsonNumber(run.out, "", "host_gain_db"), limited - peak, 0.05);
  // A ceiling above the peak changes nothing.
  const RunResult loose = RunTessil({"render", scratch.Path("in.wav"), scratch.Path("loose.wav"), "--ceiling", "0"});
  ASSERT_EQ(loose.status, 0) << loose.err;
  EXPECT_EQ(FileBytes(scratch.Path("loose.wav")), FileBytes(scratch.Path("free.wav")));
}

TEST(Target, TargetsOutOfReachNameTheRangeAndWriteNothing) {
  ScratchDirectory scratch;
  WriteProgramme(scratch.Path("in.wav"), 6.0);
  const RunResult loud = RunTessil({"render", scratch.Path("in.wav"), scratch.Path("out.wav"), "--target", "-1"});
  EXPECT_EQ(loud.status, 1);
  EXPECT_NE(loud.err.find("out of reach"), std::string::npos) << loud.err;
  EXPECT_NE(loud.err.find(" to "), std::string::npos) << loud.err;
  // Reachable alone, not under this ceiling: the error says the ceiling is why.
  const RunResult capped = RunTessil({"render", scratch.Path("in.wav"), scratch.Path("out.wav"), "--target", "-12",
                                      "--ceiling", "-20"});
  EXPECT_EQ(capped.status, 1);
  EXPECT_NE(capped.err.find("ceiling"), std::string::npos) << capped.err;
  EXPECT_FALSE(std::filesystem::exists(scratch.Path("out.wav")));
}

}  // namespace
}  // namespace tessil::cli_test
