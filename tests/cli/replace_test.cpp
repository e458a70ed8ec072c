// Replacing and stopping: an existing file is only replaced when asked, keeps its permissions,
// and no signal leaves a temporary file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "cli/cli_harness.h"

namespace tessil::cli_test {
namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  ::stat(path.c_str(), &status);
  return status.st_mode & 07777;
}

TEST(Replace, AnExistingOutputIsOnlyReplacedWithOverwrite) {
  ScratchDirectory scratch;
  // What "tessil render *.wav" expands to in a folder of two songs.
  WritePcm(scratch.Path("song1.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 4800, 9000, 1));
  WritePcm(scratch.Path("song2.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 4800, 9000, 2));
  const std::string song2 = FileBytes(scratch.Path("song2.wav"));
  const RunResult refused = RunTessil({"render", scratch.Path("song1.wav"), scratch.Path("song2.wav")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(Count(refused.err, "\n"), 1u) << refused.err;
  EXPECT_NE(refused.err.find("--overwrite"), std::string::npos) << refused.err;
  EXPECT_EQ(FileBytes(scratch.Path("song2.wav")), song2);

  // With -o DIR the same holds per file: the new one is written, the existing one kept.
  ASSERT_EQ(RunTessil({"render", "-o", scratch.Path("out"), scratch.Path("song1.wav")}).status, 0);
  const std::string rendered = FileBytes(scratch.Path("out/song1.wav"));
  const RunResult batch = RunTessil({"render", "-o", scratch.Path("out"), scratch.Path("song1.wav"), scratch.Path("song2.wav")});
  EXPECT_EQ(batch.status, 1);
  EXPECT_NE(batch.err.find("song1.wav"), std::string::npos) << batch.err;
  EXPECT_EQ(FileBytes(scratch.Path("out/song1.wav")), rendered);
  EXPECT_TRUE(std::filesystem::exists(scratch.Path("out/song2.wav")));

  // -y replaces, and the file keeps its permissions.
  ::chmod(scratch.Path("song2.wav").c_str(), 0640);
  const RunResult replaced = RunTessil({"render", "-y", scratch.Path("song1.wav"), scratch.Path("song2.wav")});
  ASSERT_EQ(replaced.status, 0) << replaced.err;
  EXPECT_NE(FileBytes(scratch.Path("song2.wav")), song2);
  EXPECT_EQ(ModeOf(scratch.Path("song2.wav")), 0640u);
  EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"out", "song1.wav", "song2.wav"}));
}

TEST(Replace, AReadOnlyOutputIsNeverReplaced) {
  ScratchDirectory scratch;
  WritePcm(scratch.Path("in.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 4800, 9000, 1));
  WriteText(scratch.Path("kept.wav"), "keep me");
  ::chmod(scratch.Path("kept.wav").c_str(), 0444);
  // Refused even for root, whom the permission bits do not stop.
  const RunResult run = RunTessil({"render", "-y", scratch.Path("in.wav"), scratch.Path("kept.wav")});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("not writable"), std::string::npos) << run.err;
  EXPECT_EQ(FileBytes(scratch.Path("kept.wav")), "keep me");
  EXPECT_EQ(ModeOf(scratch.Path("kept.wav")), 0444u);
}

// Each signal that ends a run removes the temporary file at once, exits with 128 + signal and
// says "interrupted" once, however many files were under way.
TEST(Replace, SignalsLeaveNoTemporaryFileAndAreReportedOnce) {
  ScratchDirectory scratch;
  for (const char* name : {"a.wav", "b.wav", "c.wav"}) {
    WritePcm(scratch.Path(name), kWav16, 48000, 2, 16, TestNoise(2 * 48000 * 4, 9000, 7));
  }
  const auto temporaryFileExists = [&] {
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.Root(), error)) {
      if (entry.path().filename().string().rfind(".tessil-", 0) == 0) return true;
    }
    return false;
  };
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal);
    std::filesystem::remove_all(scratch.Path("out"));
    // One-frame buffers make the render slow enough to be caught half-way.
    const RunResult run = RunTessilAndSignal({"render", "-o", scratch.Path("out"), "--jobs", "3", "--buffer-frames",
                                              "1", scratch.Path("a.wav"), scratch.Path("b.wav"), scratch.Path("c.wav")},
                                             signal, temporaryFileExists);
    EXPECT_EQ(run.status, 128 + signal);
    EXPECT_EQ(Count(run.err, "interrupted"), 1u) << run.err;
    EXPECT_FALSE(temporaryFileExists());
    EXPECT_TRUE(std::filesystem::is_empty(scratch.Path("out")));
  }
}

}  // namespace
}  // namespace tessil::cli_test
