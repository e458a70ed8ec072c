// Long files: memory does not grow with the length, whether the input is a file or a pipe, and a
// long render tells a log how far it is.
#include <gtest/gtest.h>

#include "cli/cli_harness.h"

namespace tessil::cli_test {
namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

TEST(LongFile, MemoryStaysTheSameWhateverTheLengthAndProgressReachesALog) {
  ScratchDirectory scratch;
  // 45 s more of stereo at 48 kHz held as host samples takes 17 MB for the input and as much
  // again for each output kept. What may grow instead is bounded: each meter queues at most
  // 8 MiB while it catches up with the stream, more or less of it as the machine is busy.
  const size_t shortFrames = 48000 * 15;
  const size_t longFrames = 48000 * 60;
  WritePcm(scratch.Path("short.wav"), kWav16, 48000, 2, 16, TestNoise(2 * shortFrames, 9000, 8));
  WritePcm(scratch.Path("long.wav"), kWav16, 48000, 2, 16, TestNoise(2 * longFrames, 9000, 8));
  struct Case {
    const char* name;
    std::vector<std::string> arguments;  // IN is appended, or '-' when piped
    bool piped;
  };
  const std::vector<Case> cases = {
      {"render --target --ceiling, from a file", {"render", "--target", "-16", "--ceiling", "-1", "--progress"}, false},
      {"render --target, from a pipe", {"render", "--target", "-16"}, true},
      {"analyse, from a pipe", {"analyse"}, true},
  };
  constexpr long kGrowthKiB = 24 * 1024;
  constexpr long kBoundKiB = 256 * 1024;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    long peak[2] = {};
    RunResult run;
    for (const int index : {0, 1}) {
      const std::string input = scratch.Path(index == 0 ? "short.wav" : "long.wav");
      std::vector<std::string> arguments = c.arguments;
      arguments.push_back(c.piped ? "-" : input);
      if (c.arguments[0] == "render") arguments.insert(arguments.end(), {"-y", scratch.Path("out.flac")});
      run = c.piped ? RunTessilPiped(arguments, FileBytes(input)) : RunTessil(arguments);
      ASSERT_EQ(run.status, 0) << run.err;
      peak[index] = run.peakKiB;
    }
    EXPECT_LT(peak[1] - peak[0], kGrowthKiB) << peak[0] << " KiB for 15 s, " << peak[1] << " KiB for 60 s";
    EXPECT_LT(peak[1], kBoundKiB);
    if (c.arguments.back() == "--progress") {
      // Five passes or so over a minute: long enough for lines with the time left, and a last one.
      EXPECT_NE(run.err.find("tessil: progress "), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(" left\n"), std::string::npos) << run.err;
      EXPECT_NE(run.err.find("100 %, 1 of 1 file done\n"), std::string::npos) << run.err;
    }
  }
}

}  // namespace
}  // namespace tessil::cli_test
