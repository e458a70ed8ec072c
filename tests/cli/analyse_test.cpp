// tessil analyse: the input's own figures, the same as a render reports for its input, and
// nothing written.
#include <gtest/gtest.h>

#include <cmath>

#include "cli/cli_harness.h"

namespace tessil::cli_test {
namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

TEST(Analyse, ReportsEachInputAloneAndWritesNothing) {
  ScratchDirectory scratch;
  WritePcm(scratch.Path("quiet.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 48000, 3000, 1));
  WritePcm(scratch.Path("loud.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 48000, 20000, 2));
  const RunResult render = RunTessil({"render", scratch.Path("loud.wav"), scratch.Path("out.wav"), "--json"});
  ASSERT_EQ(render.status, 0) << render.err;
  const std::vector<std::string> before = scratch.Entries();

  const RunResult run = RunTessil({"analyse", "--json", scratch.Path("quiet.wav"), scratch.Path("loud.wav")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(scratch.Entries(), before);
  EXPECT_EQ(run.out.front(), '[');
  const size_t second = run.out.find("loud.wav");
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(run.out.find("quiet.wav"), second);
  const std::string loud = run.out.substr(second);
  for (const char* figure : {"integrated_lufs", "range_lu", "sample_peak_dbfs", "true_peak_dbtp"}) {
    EXPECT_DOUBLE_EQ(JsonNumber(loud, "input_loudness", figure), JsonNumber(render.out, "input_loudness", figure))
        << figure;
  }
  // 20000 over 3000 in amplitude: about 16.5 dB louder.
  EXPECT_NEAR(JsonNumber(loud, "", "integrated_lufs") - JsonNumber(run.out, "", "integrated_lufs"),
              20.0 * std::log10(20000.0 / 3000.0), 0.3);

  const RunResult text = RunTessil({"analyse", scratch.Path("loud.wav"), scratch.Path("missing.wav")});
  EXPECT_EQ(text.status, 1);
  EXPECT_NE(text.out.find("integrated"), std::string::npos);
  EXPECT_EQ(text.out.find("output"), std::string::npos);
  EXPECT_NE(text.err.find("missing.wav"), std::string::npos);
}

}  // namespace
}  // namespace tessil::cli_test
