// Files with more than two channels: --target and --ceiling hold for the whole file while the
// driver processes the front pair only, and every container keeps the speakers where they were.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "cli/cli_harness.h"
#include "host/true_peak.h"

namespace tessil::cli_test {
namespace {

const std::vector<int> kBack51 = {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER,
                                  SF_CHANNEL_MAP_LFE, SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT};
const std::vector<int> kSide51 = {SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER,
                                  SF_CHANNEL_MAP_LFE, SF_CHANNEL_MAP_SIDE_LEFT, SF_CHANNEL_MAP_SIDE_RIGHT};
// BS.1770 weights of 5.1: the LFE left out, the surrounds at +1.5 dB.
const std::vector<double> kWeights51 = {1.0, 1.0, 1.0, 0.0, 1.41, 1.41};

std::vector<int> ChannelMap(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  std::vector<int> map(static_cast<size_t>(info.channels));
  const bool stored = sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(), static_cast<int>(map.size() * sizeof(int))) == SF_TRUE;
  sf_close(file);
  return stored ? map : std::vector<int>();
}

// 5.1 programme whose loudest peaks sit in the centre, which the driver never touches: the front
// pair swells slowly, the centre carries speech-like bursts with sharp peaks, the LFE a loud hum
// that must not count, the surrounds quiet noise.
std::vector<float> SurroundProgramme(double seconds) {
  const auto frames = static_cast<size_t>(seconds * 48000);
  const std::vector<int32_t> noise = TestNoise(6 * frames, 1 << 20, 23);
  std::vector<float> samples(6 * frames);
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / 48000.0;
    const double swell = 0.5 + 0.4 * std::sin(2.0 * M_PI * t / 3.0);
    const double burst = std::fmod(t, 0.5) < 0.2 ? 1.0 : 0.15;
    const auto unit = [&](size_t c) { return static_cast<double>(noise[6 * i + c]) / (1 << 20); };
    samples[6 * i + 0] = static_cast<float>(0.25 * swell * unit(0));
    samples[6 * i + 1] = static_cast<float>(0.25 * swell * unit(1));
    samples[6 * i + 2] = static_cast<float>(0.3 * burst * unit(2) + (i % 24000 == 100 ? 0.6 : 0.0));
    samples[6 * i + 3] = static_cast<float>(0.7 * std::sin(2.0 * M_PI * 40.0 * t));
    samples[6 * i + 4] = static_cast<float>(0.08 * unit(4));
    samples[6 * i + 5] = static_cast<float>(0.08 * unit(5));
  }
  return samples;
}

double TruePeakDb(const std::vector<float>& samples, int channels) {
  host::TruePeakMeter meter(channels, 48000);
  meter.AddInterleaved(samples.data(), samples.size() / static_cast<size_t>(channels));
  return 20.0 * std::log10(meter.TruePeak());
}

TEST(Surround, TargetAndCeilingHoldForTheWholeFileAndUntouchedChannelsKeepTheirBalance) {
  ScratchDirectory scratch;
  const std::vector<float> programme = SurroundProgramme(10.0);
  WriteFloats(scratch.Path("in.wav"), 48000, 6, programme, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, kBack51);
  WriteFloats(scratch.Path("in.flac"), 48000, 6, programme, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
  struct Case {
    const char* input;
    const char* output;
    const char* target;
    const char* ceiling;
    const char* failure;  // null: the run keeps both promises
  };
  const Case cases[] = {
      {"in.wav", "out.wav", "-16", "-1", nullptr},
      {"in.flac", "out.flac", "-14", "-3", nullptr},
      // The encoder takes loudness (a low bit rate for six channels); the host aims past it.
      {"in.wav", "out.opus", "-16", "-1", nullptr},
      // Louder than the core level can make it: refused with the reason, nothing written.
      {"in.flac", "loud.flac", "-1", "-1", "out of reach"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    const RunResult run = RunTessil({"render", scratch.Path(c.input), scratch.Path(c.output), "--json", "--target",
                                     c.target, "--ceiling", c.ceiling});
    if (c.failure != nullptr) {
      EXPECT_EQ(run.status, 1);
      EXPECT_NE(run.err.find(c.failure), std::string::npos) << run.err;
      EXPECT_FALSE(std::filesystem::exists(scratch.Path(c.output)));
      continue;
    }
    ASSERT_EQ(run.status, 0) << run.err;
    SF_INFO info;
    const std::vector<float> output = ReadFloats(scratch.Path(c.output), &info);
    ASSERT_EQ(output.size(), programme.size());
    const std::vector<double> nominal(output.begin(), output.end());
    const bool opus = std::string(c.output).find(".opus") != std::string::npos;
    // Opus holds 5.1 in Vorbis' order: FL FC FR BL BR LFE.
    const std::vector<double> weights = opus ? std::vector<double>{1.0, 1.0, 1.0, 1.41, 1.41, 0.0} : kWeights51;
    EXPECT_NEAR(IntegratedLoudness48k(nominal, 6, weights), std::stod(c.target), 0.2);
    EXPECT_LE(TruePeakDb(output, 6), std::stod(c.ceiling) + 0.005);
    EXPECT_NE(run.out.find("\"layout\": \"5.1\""), std::string::npos) << run.out;
    if (opus) continue;
    // The host's gain reaches channels 3 to 6 alike: each is its input times that one factor.
    const double gain = std::pow(10.0, JsonNumber(run.out, "", "host_gain_db") / 20.0);
    EXPECT_LT(gain, 1.0) << "the centre's peak needs a reduction";
    for (size_t i = 0; i < output.size(); ++i) {
      if (i % 6 >= 2) {
        ASSERT_NEAR(output[i], programme[i] * gain, 3.0 / (1 << 23)) << i;
      }
    }
  }
  EXPECT_EQ(ChannelMap(scratch.Path("out.wav")), kBack51);
}

TEST(Surround, EveryContainerKeepsTheSpeakers) {
  ScratchDirectory scratch;
  // Each channel at its own level, 6 dB apart, so that a channel found elsewhere shows; the LFE
  // low, since lossy encoders band-limit it.
  const size_t frames = 48000 * 2;
  std::vector<float> levels(6 * frames);
  for (size_t i = 0; i < frames; ++i) {
    for (size_t c = 0; c < 6; ++c) {
      const double frequency = c == 3 ? 50.0 : 300.0 + 100.0 * c;
      levels[6 * i + c] = static_cast<float>(0.5 / std::pow(2.0, c) * std::sin(2.0 * M_PI * frequency * i / 48000.0));
    }
  }
  WriteFloats(scratch.Path("side.wav"), 48000, 6, levels, SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, kSide51);
  const auto levelsOf = [](const std::vector<float>& samples, size_t channels) {
    std::vector<double> rms(channels, 0.0);
    for (size_t i = 0; i < samples.size(); ++i) rms[i % channels] += samples[i] * samples[i];
    for (double& value : rms) value = 10.0 * std::log10(value / (samples.size() / channels));
    return rms;
  };
  const std::vector<double> wanted = levelsOf(levels, 6);
  struct Case {
    const char* output;
    std::vector<int> fileOrder;  // which input channel each channel of the file holds
    const char* stored;          // what the file's bytes say, when they say it in text
    const char* layoutBack;      // Vorbis has one surround pair for 5.1: its back pair
    std::vector<int> mapBack;
  };
  const Case cases[] = {
      {"out.flac", {0, 1, 2, 3, 4, 5}, "WAVEFORMATEXTENSIBLE_CHANNEL_MASK=0x60F", "5.1(side)", kSide51},
      {"out.ogg", {0, 2, 1, 4, 5, 3}, nullptr, "5.1", kBack51},   // Vorbis: FL FC FR SL SR LFE
      {"out.opus", {0, 2, 1, 4, 5, 3}, nullptr, "5.1", kBack51},  // Opus family 1 keeps Vorbis' order
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    const RunResult run = RunTessil({"render", scratch.Path("side.wav"), scratch.Path(c.output), "--set", "enable=0"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("cannot hold"), std::string::npos) << run.err;
    if (c.stored != nullptr) {
      EXPECT_NE(FileBytes(scratch.Path(c.output)).find(c.stored), std::string::npos);
    }
    SF_INFO info;
    const std::vector<double> inFile = levelsOf(ReadFloats(scratch.Path(c.output), &info), 6);
    for (size_t k = 0; k < 6; ++k) EXPECT_NEAR(inFile[k], wanted[static_cast<size_t>(c.fileOrder[k])], 2.0) << k;
    // And back: the speakers and their order as they were.
    const RunResult back = RunTessil({"render", "-y", scratch.Path(c.output), scratch.Path("back.wav"), "--json",
                                      "--set", "enable=0"});
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_NE(back.out.find(std::string("\"layout\": \"") + c.layoutBack + "\""), std::string::npos) << back.out;
    EXPECT_EQ(ChannelMap(scratch.Path("back.wav")), c.mapBack);
    const std::vector<double> restored = levelsOf(ReadFloats(scratch.Path("back.wav"), &info), 6);
    for (size_t k = 0; k < 6; ++k) EXPECT_NEAR(restored[k], wanted[k], 2.0) << k;
  }
}

}  // namespace
}  // namespace tessil::cli_test
