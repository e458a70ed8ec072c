// Writing: the format follows the output's name, the encoding --format or the input, tags come
// along, and what the report says about the file holds for the file on the disk.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "cli/cli_harness.h"

namespace tessil::cli_test {
namespace {

constexpr int kWav16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
constexpr int kWav24 = SF_FORMAT_WAV | SF_FORMAT_PCM_24;

int FormatOf(const std::string& path, SF_INFO* info) {
  ReadFloats(path, info);
  return info->format;
}

TEST(Write, TheExtensionChoosesTheFormatAndTheInputsEncodingIsKeptWhereItFits) {
  ScratchDirectory scratch;
  WritePcm(scratch.Path("in16.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 9600, 9000, 3));
  WritePcm(scratch.Path("in24.wav"), kWav24, 48000, 2, 24, TestNoise(2 * 9600, 3000000, 3));
  WriteFloats(scratch.Path("float.wav"), 48000, 2, std::vector<float>(2 * 9600, 0.25f));
  struct Case {
    const char* input;
    const char* output;
    std::vector<std::string> options;
    int format;
  };
  const Case cases[] = {
      {"in16.wav", "out.flac", {}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
      {"in24.wav", "out24.flac", {}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
      {"in24.wav", "out.aiff", {}, SF_FORMAT_AIFF | SF_FORMAT_PCM_24},
      {"in16.wav", "out.caf", {}, SF_FORMAT_CAF | SF_FORMAT_PCM_16},
      {"in16.wav", "out.w64", {}, SF_FORMAT_W64 | SF_FORMAT_PCM_16},
      {"in16.wav", "out.rf64", {}, SF_FORMAT_RF64 | SF_FORMAT_PCM_16},
      {"in16.wav", "out.ogg", {}, SF_FORMAT_OGG | SF_FORMAT_VORBIS},
      {"in16.wav", "out.opus", {"--quality", "3"}, SF_FORMAT_OGG | SF_FORMAT_OPUS},
      {"in16.wav", "out.mp3", {}, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III},
      // Float has no place in FLAC: the documented default.
      {"float.wav", "float.flac", {}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
      {"in16.wav", "wide.flac", {"--format", "pcm24"}, SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
      {"in16.wav", "float.aiff", {"--format", "f32"}, SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
      {"in16.wav", "double.wav", {"--format", "f64"}, SF_FORMAT_WAV | SF_FORMAT_DOUBLE},
      {"in16.wav", "odd.name", {"--type", "flac"}, SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    std::vector<std::string> arguments = {"render", scratch.Path(c.input), scratch.Path(c.output)};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const RunResult run = RunTessil(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    SF_INFO info;
    EXPECT_EQ(FormatOf(scratch.Path(c.output), &info), c.format);
    EXPECT_GE(info.frames, 9600);
  }
  // A lossy input never lends its codec to a lossless container.
  const RunResult decoded = RunTessil({"render", scratch.Path("out.mp3"), scratch.Path("from-mp3.wav")});
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  SF_INFO info;
  EXPECT_EQ(FormatOf(scratch.Path("from-mp3.wav"), &info), SF_FORMAT_WAV | SF_FORMAT_FLOAT);

  const RunResult unknown = RunTessil({"render", scratch.Path("in16.wav"), scratch.Path("out.xyz")});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("flac"), std::string::npos) << unknown.err;
  const RunResult impossible = RunTessil({"render", scratch.Path("in16.wav"), scratch.Path("f.flac"), "--format", "f32"});
  EXPECT_EQ(impossible.status, 1);
  EXPECT_FALSE(std::filesystem::exists(scratch.Path("f.flac")));
}

TEST(Write, TextTagsAreCopiedButStaleLoudnessTagsAreNot) {
  ScratchDirectory scratch;
  SF_INFO info{};
  info.samplerate = 48000;
  info.channels = 2;
  info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  SNDFILE* file = sf_open(scratch.Path("tagged.flac").c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr);
  sf_set_string(file, SF_STR_TITLE, "A Song");
  sf_set_string(file, SF_STR_ARTIST, "Somebody");
  sf_set_string(file, SF_STR_COMMENT, "REPLAYGAIN_TRACK_GAIN=-6.20 dB");
  const std::vector<short> silence(2 * 4800, 100);
  sf_writef_short(file, silence.data(), 4800);
  sf_close(file);

  ASSERT_EQ(RunTessil({"render", scratch.Path("tagged.flac"), scratch.Path("out.flac")}).status, 0);
  SF_INFO outInfo{};
  SNDFILE* out = sf_open(scratch.Path("out.flac").c_str(), SFM_READ, &outInfo);
  ASSERT_NE(out, nullptr);
  const char* title = sf_get_string(out, SF_STR_TITLE);
  const char* artist = sf_get_string(out, SF_STR_ARTIST);
  EXPECT_STREQ(title != nullptr ? title : "", "A Song");
  EXPECT_STREQ(artist != nullptr ? artist : "", "Somebody");
  EXPECT_EQ(sf_get_string(out, SF_STR_COMMENT), nullptr);
  sf_close(out);
}

TEST(Write, ClippingAndUnprocessedChannelsAreReportedEveryTime) {
  ScratchDirectory scratch;
  WritePcm(scratch.Path("loud.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 48000, 30000, 5));
  const RunResult clipped = RunTessil({"render", scratch.Path("loud.wav"), scratch.Path("clipped.wav"), "--json",
                                       "--set", "output-gain=6", "--set", "output-stage-enable=0"});
  ASSERT_EQ(clipped.status, 0) << clipped.err;
  EXPECT_NE(clipped.err.find("warning"), std::string::npos);
  EXPECT_NE(clipped.err.find("clipped"), std::string::npos);
  // Count the samples at the 16-bit clamp in the file itself.
  SF_INFO info;
  size_t atClamp = 0;
  for (const int32_t sample : ReadPcm(scratch.Path("clipped.wav"), 16, &info)) atClamp += std::abs(sample) >= 32767;
  EXPECT_GT(atClamp, 0u);
  EXPECT_EQ(JsonNumber(clipped.out, "", "clipped_samples"), static_cast<double>(atClamp));
  EXPECT_NE(clipped.out.find("\"output-gain=6\""), std::string::npos) << "the settings applied are listed";

  const RunResult clean = RunTessil({"render", scratch.Path("loud.wav"), scratch.Path("clean.wav"), "--json",
                                     "--set", "output-gain=-6"});
  ASSERT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(JsonNumber(clean.out, "", "clipped_samples"), 0.0);
  EXPECT_EQ(clean.err, "");

  WritePcm(scratch.Path("surround.wav"), kWav16, 48000, 6, 16, TestNoise(6 * 4800, 9000, 6));
  for (const char* json : {"--json", "--no-align"}) {
    const RunResult run = RunTessil({"render", "-y", scratch.Path("surround.wav"), scratch.Path("s.wav"), json});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("only the first two are processed"), std::string::npos) << run.err;
  }
}

TEST(Write, NamesAsLongAsTheFileSystemAllowsWork) {
  ScratchDirectory scratch;
  WritePcm(scratch.Path("in.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 4800, 9000, 3));
  const std::string name = std::string(251, 'n') + ".wav";  // 255 bytes, the usual limit
  const RunResult run = RunTessil({"render", scratch.Path("in.wav"), scratch.Path(name)});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"in.wav", name}));
}

// A disk that fills up part-way: the run fails, and neither the output nor a temporary file is
// left behind, whichever format was being written.
TEST(Write, AFullDiskIsAFailureAndLeavesNothing) {
  ScratchDirectory scratch;
  const std::string disk = scratch.Path("disk");
  std::filesystem::create_directories(disk);
  if (::geteuid() != 0 || ::mount("tessil-test", disk.c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "needs root to mount a small tmpfs";
  }
  WritePcm(scratch.Path("in.wav"), kWav16, 48000, 2, 16, TestNoise(2 * 48000 * 30, 20000, 9));
  for (const char* name : {"out.flac", "out.wav", "out.ogg"}) {
    SCOPED_TRACE(name);
    const RunResult run = RunTessil({"render", scratch.Path("in.wav"), disk + "/" + name});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(name), std::string::npos) << run.err;
    EXPECT_TRUE(std::filesystem::is_empty(disk));
  }
  ::umount(disk.c_str());
}

}  // namespace
}  // namespace tessil::cli_test
