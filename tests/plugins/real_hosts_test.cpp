// The plugins in the hosts people use: analyseplugin and lv2info list them, and sox, applyplugin
// and lv2apply render files that equal tessil render's output once shifted by the latency the
// plugin reports.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "host/plugin_ports.h"
#include "plugin_harness.h"
#include "plugin_loader.h"

namespace tessil::plugin_test {
namespace {

const std::string kLadspa = TESSIL_LADSPA_PLUGIN;
const std::string kLv2Bundles = TESSIL_LV2_BUNDLES;
const std::string kCli = TESSIL_CLI;
const std::string kUri = "urn:tessil:lv2:stereo";

#define REQUIRE_PROGRAM(name) \
  if (!HaveProgram(name)) GTEST_SKIP() << name << " is not installed (scripts/setup.sh installs it)"

TEST(RealHosts, AnalysePluginAndLv2InfoListEveryPort) {
  REQUIRE_PROGRAM("analyseplugin");
  REQUIRE_PROGRAM("lv2info");
  std::string ladspa;
  ASSERT_EQ(RunCommand("analyseplugin " + kLadspa, &ladspa), 0) << ladspa;
  std::string lv2;
  ASSERT_EQ(RunCommand("LV2_PATH=" + kLv2Bundles + " lv2info " + kUri, &lv2), 0) << lv2;
  EXPECT_NE(ladspa.find("Plugin Label: \"tessil\""), std::string::npos);
  EXPECT_NE(ladspa.find("\"latency\" output, control"), std::string::npos) << ladspa;
  EXPECT_NE(ladspa.find("Environment: Normal or Hard Real-Time"), std::string::npos);
  const size_t latencyPort = host::kAudioPorts + host::ControlPorts().size();
  EXPECT_NE(lv2.find("Has latency:       yes, reported by port " + std::to_string(latencyPort)), std::string::npos) << lv2;
  EXPECT_NE(lv2.find("hardRTCapable"), std::string::npos);
  for (const host::ControlPort& port : host::ControlPorts()) {
    EXPECT_NE(ladspa.find("\"" + port.name + "\" input, control"), std::string::npos) << port.name;
    EXPECT_NE(lv2.find("Symbol:      " + port.symbol + "\n"), std::string::npos) << port.symbol;
  }
  EXPECT_NE(lv2.find("Gentle music levelling"), std::string::npos);
  EXPECT_NE(lv2.find("Spoken word"), std::string::npos);
}

struct Difference {
  double largest = 0.0;
  size_t compared = 0;
  size_t at = 0;  // the frame where it is largest
};

// Compares the host's output, shifted back by `latency`, with the aligned reference.
Difference Compare(const Audio& host, const Audio& reference, size_t latency) {
  EXPECT_EQ(host.Frames(), reference.Frames());
  EXPECT_EQ(host.channels, reference.channels);
  Difference difference;
  for (size_t i = 0; i + latency < host.Frames() && i < reference.Frames(); ++i) {
    for (int c = 0; c < host.channels; ++c) {
      const double d = std::fabs(static_cast<double>(host.samples[(i + latency) * 2 + c]) - reference.samples[i * 2 + c]);
      if (d > difference.largest) {
        difference.largest = d;
        difference.at = i;
      }
    }
    ++difference.compared;
  }
  return difference;
}

TEST(RealHosts, EachHostRendersWhatTessilRenders) {
  REQUIRE_PROGRAM("sox");
  REQUIRE_PROGRAM("applyplugin");
  REQUIRE_PROGRAM("lv2apply");
  Scratch scratch;
  const Audio programme = Programme(44100, 3.0);
  const std::string floatIn = scratch.Path("in-float.wav");
  const std::string in24 = scratch.Path("in-24.wav");
  const std::string in16 = scratch.Path("in-16.wav");
  WriteAudio(floatIn, programme, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  WriteAudio(in24, programme, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
  WriteAudio(in16, programme, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  const Settings settings = {{"core-level", 60}, {"highpass-frequency", 80}, {"eq-band-gain.0.1", 4},
                             {"output-stage-amount", 35}};
  const size_t latency = LadspaLatency(kLadspa, 44100);
  EXPECT_EQ(latency, 261u);

  // The plugins run the driver as a 32-bit stream of the host's floats; the CLI does the same
  // with --bits 32 and writes exactly what the stream gives with --format f32.
  std::string log;
  for (const std::string& in : {floatIn, in24, in16}) {
    ASSERT_EQ(RunCommand(kCli + " render " + in + " " + in + ".ref.wav --bits 32 --format f32" + CliSettings(settings), &log), 0) << log;
  }

  // libsndfile hands lv2apply the file's floats as they are: the same samples, bit for bit.
  const std::string lv2Out = scratch.Path("lv2apply.wav");
  ASSERT_EQ(RunCommand("LV2_PATH=" + kLv2Bundles + " lv2apply -i " + floatIn + " -o " + lv2Out +
                           Lv2Controls(settings) + " " + kUri, &log), 0) << log;
  const Difference lv2 = Compare(ReadAudio(lv2Out), ReadAudio(floatIn + ".ref.wav"), latency);
  EXPECT_GT(lv2.compared, programme.Frames() - latency - 1);
  EXPECT_EQ(lv2.largest, 0.0) << "lv2apply differs from tessil render";

  // sox carries 32-bit integers between effects and rounds them to 25 significant bits on the
  // way to a float file, which moves small samples by less than a step of 24 bits.
  const std::string soxOut = scratch.Path("sox.wav");
  ASSERT_EQ(RunCommand("sox " + in24 + " -e floating-point -b 32 " + soxOut + " ladspa " + kLadspa +
                           " tessil" + PositionalControls(settings), &log), 0) << log;
  const Difference sox = Compare(ReadAudio(soxOut), ReadAudio(in24 + ".ref.wav"), latency);
  EXPECT_LE(sox.largest, 0x1p-23) << "sox differs by more than one step of 24 bits at " << sox.at;

  // applyplugin reads and writes 16-bit files only: within the step of its output format.
  const std::string applyOut = scratch.Path("applyplugin.wav");
  ASSERT_EQ(RunCommand("applyplugin -s 0 " + in16 + " " + applyOut + " " + kLadspa + " tessil" +
                           PositionalControls(settings), &log), 0) << log;
  const Difference apply = Compare(ReadAudio(applyOut), ReadAudio(in16 + ".ref.wav"), latency);
  EXPECT_LE(apply.largest, 0x1p-15) << "applyplugin differs by more than one 16-bit step at " << apply.at;
}

}  // namespace
}  // namespace tessil::plugin_test
