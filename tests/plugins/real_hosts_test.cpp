// The plugins in the hosts people use: analyseplugin and lv2info list them, and sox, applyplugin
// and lv2apply render files that equal tessil render's output once shifted by the latency the
// plugin reports.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/ceiling_limiter.h"
#include "host/plugin_ports.h"
#include "plugin_harness.h"
#include "plugin_loader.h"

namespace tessil::plugin_test {
namespace {

const std::string kLadspa = TESSIL_LADSPA_PLUGIN;
const std::string kLv2Bundles = TESSIL_LV2_BUNDLES;
const std::string kCli = TESSIL_CLI;
const std::string kUri = "urn:tessil:lv2:stereo";
const std::string kMonoUri = "urn:tessil:lv2:mono";

#define REQUIRE_PROGRAM(name) \
  if (!HaveProgram(name)) GTEST_SKIP() << name << " is not installed (scripts/setup.sh installs it)"

// The plugins' latency at the driver's own rates: block gathering, the core's look-ahead and the
// ceiling's delay, whatever the switches.
size_t NativeLatency(uint32_t rate) {
  return kTessilShortBufferLatencyFrames + kTessilLookAheadFrames + host::CeilingLimiter::LatencyFrames(rate);
}

TEST(RealHosts, AnalysePluginAndLv2InfoListEveryPort) {
  REQUIRE_PROGRAM("analyseplugin");
  REQUIRE_PROGRAM("lv2info");
  std::string ladspa;
  ASSERT_EQ(RunCommand("analyseplugin " + kLadspa, &ladspa), 0) << ladspa;
  for (const uint32_t channels : {2u, 1u}) {
    SCOPED_TRACE(channels);
    const std::string uri = channels == 2 ? kUri : kMonoUri;
    std::string lv2;
    ASSERT_EQ(RunCommand("LV2_PATH=" + kLv2Bundles + " lv2info " + uri, &lv2), 0) << lv2;
    // analyseplugin lists every descriptor; this plugin's section runs to the next one.
    const std::string label = channels == 2 ? "Plugin Label: \"tessil\"" : "Plugin Label: \"tessil_mono\"";
    const size_t begin = ladspa.find(label);
    ASSERT_NE(begin, std::string::npos) << ladspa;
    const std::string section = ladspa.substr(begin, ladspa.find("Plugin Name:", begin) - begin);
    EXPECT_NE(section.find("Environment: Normal or Hard Real-Time"), std::string::npos);
    const host::PortLayout layout(channels);
    EXPECT_NE(lv2.find("Has latency:       yes, reported by port " + std::to_string(layout.firstHostPort + host::kLatencyPort)),
              std::string::npos) << lv2;
    EXPECT_NE(lv2.find("hardRTCapable"), std::string::npos);
    EXPECT_NE(section.find(channels == 2 ? "\"Input R\" input, audio" : "\"Input\" input, audio"), std::string::npos);
    for (const host::ControlPort& port : host::ControlPorts(channels)) {
      EXPECT_NE(section.find("\"" + port.name + "\" input, control"), std::string::npos) << port.name;
      EXPECT_NE(lv2.find("Symbol:      " + port.symbol + "\n"), std::string::npos) << port.symbol;
    }
    for (const host::HostPort& port : host::kHostPorts) {
      EXPECT_NE(section.find("\"" + std::string(port.symbol) + (port.output ? "\" output, control" : "\" input, control")),
                std::string::npos) << port.symbol;
      EXPECT_NE(lv2.find("Symbol:      " + std::string(port.symbol) + "\n"), std::string::npos) << port.symbol;
    }
    // The mono plugin equalises its one channel only.
    EXPECT_EQ(section.find("\"eq-band-gain.1.0\"") != std::string::npos, channels == 2);
    EXPECT_NE(lv2.find("Gentle music levelling"), std::string::npos);
    EXPECT_NE(lv2.find("Spoken word"), std::string::npos);
  }
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
      const size_t channels = static_cast<size_t>(host.channels);
      const double d = std::fabs(static_cast<double>(host.samples[(i + latency) * channels + c]) -
                                 reference.samples[i * channels + c]);
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
  EXPECT_EQ(latency, NativeLatency(44100));

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

// A mono file through the mono plugins renders as tessil render renders it, not as a stereo
// stream of two equal channels (whose loudness sums both).
TEST(RealHosts, MonoPluginsRenderAMonoFileLikeTessil) {
  REQUIRE_PROGRAM("sox");
  REQUIRE_PROGRAM("lv2apply");
  Scratch scratch;
  const Audio stereo = Programme(48000, 3.0);
  Audio mono{48000, 1, std::vector<float>(stereo.Frames())};
  // Quiet enough that nothing the plugin writes passes full scale, where sox would clip.
  for (size_t i = 0; i < mono.Frames(); ++i) mono.samples[i] = 0.5f * stereo.samples[2 * i];
  const std::string in = scratch.Path("mono.wav");
  WriteAudio(in, mono, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  const Settings settings = {{"core-level", 65}, {"eq-band-gain.0.2", -3}};
  std::string log;
  ASSERT_EQ(RunCommand(kCli + " render " + in + " " + in + ".ref.wav --bits 32 --format f32" + CliSettings(settings), &log), 0) << log;
  const Audio reference = ReadAudio(in + ".ref.wav");
  const size_t latency = NativeLatency(48000);

  const std::string lv2Out = scratch.Path("lv2apply.wav");
  ASSERT_EQ(RunCommand("LV2_PATH=" + kLv2Bundles + " lv2apply -i " + in + " -o " + lv2Out +
                           Lv2Controls(settings, 1) + " " + kMonoUri, &log), 0) << log;
  const Audio lv2 = ReadAudio(lv2Out);
  ASSERT_EQ(lv2.channels, 1);
  EXPECT_EQ(Compare(lv2, reference, latency).largest, 0.0) << "lv2apply's mono render differs";

  // sox picks the mono descriptor by its label; from 24-bit input, as in the stereo comparison.
  const std::string in24 = scratch.Path("mono24.wav");
  WriteAudio(in24, mono, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
  ASSERT_EQ(RunCommand(kCli + " render " + in24 + " " + in24 + ".ref.wav --bits 32 --format f32" + CliSettings(settings), &log), 0) << log;
  const std::string soxOut = scratch.Path("sox.wav");
  ASSERT_EQ(RunCommand("sox " + in24 + " -e floating-point -b 32 " + soxOut + " ladspa " + kLadspa + " tessil_mono" +
                           PositionalControls(settings, 1), &log), 0) << log;
  const Audio sox = ReadAudio(soxOut);
  const Difference soxDifference = Compare(sox, ReadAudio(in24 + ".ref.wav"), latency);
  EXPECT_LE(soxDifference.largest, 0x1p-23) << "sox's mono render differs at frame " << soxDifference.at;
  EXPECT_NEAR(IntegratedLufs(sox), IntegratedLufs(reference), 0.05);
}

// Each preset loaded by a preset host renders what tessil render renders with its settings file.
TEST(RealHosts, PresetsLoadInLv2file) {
  REQUIRE_PROGRAM("lv2file");
  Scratch scratch;
  const std::string in = scratch.Path("in.wav");
  WriteAudio(in, Programme(44100, 2.0), SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  const Audio defaults = [&] {
    std::string log;
    EXPECT_EQ(RunCommand(kCli + " render " + in + " " + scratch.Path("defaults.wav") + " --bits 32 --format f32", &log), 0) << log;
    return ReadAudio(scratch.Path("defaults.wav"));
  }();
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(TESSIL_SOURCE_DIR) + "/presets")) {
    if (entry.path().extension() != ".txt") continue;
    SCOPED_TRACE(entry.path().filename().string());
    std::ifstream file(entry.path());
    std::string label;
    std::getline(file, label);
    label = label.substr(label.find_first_not_of("# "));
    const std::string reference = scratch.Path(entry.path().stem().string() + ".ref.wav");
    const std::string out = scratch.Path(entry.path().stem().string() + ".wav");
    std::string log;
    ASSERT_EQ(RunCommand(kCli + " render " + in + " " + reference + " --bits 32 --format f32 --settings " +
                             entry.path().string(), &log), 0) << log;
    ASSERT_EQ(RunCommand("LV2_PATH=" + kLv2Bundles + " lv2file -i " + in + " -o " + out + " -P '" + label + "' " + kUri,
                         &log), 0) << log;
    const Audio rendered = ReadAudio(out);
    const Difference difference = Compare(rendered, ReadAudio(reference), NativeLatency(44100));
    EXPECT_EQ(difference.largest, 0.0) << "at frame " << difference.at;
    // The preset is what made the difference.
    EXPECT_GT(Compare(rendered, defaults, NativeLatency(44100)).largest, 1e-3);
    ++checked;
  }
  EXPECT_GE(checked, 2);
}

// With hot input and the output gain up, the ceiling holds the true peak in real hosts, at a
// driver rate and at rates that are resampled, in both plugins; off, it is not held.
TEST(RealHosts, TheCeilingHoldsTheTruePeakInSoxAndLv2apply) {
  REQUIRE_PROGRAM("sox");
  REQUIRE_PROGRAM("lv2apply");
  Scratch scratch;
  for (const int rate : {44100, 37800, 96000}) {
    SCOPED_TRACE(rate);
    Audio hot = Programme(rate, 2.0);
    for (float& sample : hot.samples) sample *= 3.0f;  // +9.5 dB: the loud sections clip the input
    const std::string in = scratch.Path("hot.wav");
    WriteAudio(in, hot, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const Settings loud = {{"output-gain", 6}, {"core-level", 90}};
    Settings held = loud;
    held["ceiling_enable"] = 1;
    held["ceiling"] = -2;

    std::string log;
    const std::string open = scratch.Path("open.wav");
    ASSERT_EQ(RunCommand("LV2_PATH=" + kLv2Bundles + " lv2apply -i " + in + " -o " + open + Lv2Controls(loud) + " " + kUri, &log), 0) << log;
    EXPECT_GT(TruePeakDbtp(ReadAudio(open)), 0.0) << "the test needs output above the ceiling";

    const std::string lv2 = scratch.Path("held.wav");
    ASSERT_EQ(RunCommand("LV2_PATH=" + kLv2Bundles + " lv2apply -i " + in + " -o " + lv2 + Lv2Controls(held) + " " + kUri, &log), 0) << log;
    const Audio limited = ReadAudio(lv2);
    EXPECT_LE(TruePeakDbtp(limited), -2.0);
    // Limited, not silenced: the loudness drops by little more than the peaks were over.
    EXPECT_GT(IntegratedLufs(limited), IntegratedLufs(ReadAudio(open)) - 4.0);

    const std::string sox = scratch.Path("sox.wav");
    ASSERT_EQ(RunCommand("sox " + in + " -e floating-point -b 32 " + sox + " remix 1 ladspa " + kLadspa + " tessil_mono" +
                             PositionalControls(held, 1), &log), 0) << log;
    EXPECT_LE(TruePeakDbtp(ReadAudio(sox)), -2.0);
  }
}

// Ardour, headless through its Lua interpreter on the Dummy backend: every plugin loads into a
// track of its width and Ardour takes the latency it reports into the track's.
TEST(RealHosts, ArdourLoadsEveryPluginAndSeesItsLatency) {
  REQUIRE_PROGRAM("ardour7-lua");
  Scratch scratch;
  const std::string script = scratch.Path("load.lua");
  std::ofstream(script) << R"lua(
AudioEngine:set_backend ("None (Dummy)", "", "")
local s = create_session (")lua" << scratch.Path("session") << R"lua(", "session", 48000)
assert (s, "no session")
for _, plugin in ipairs ({ {"urn:tessil:lv2:stereo", ARDOUR.PluginType.LV2, 2}, {"urn:tessil:lv2:mono", ARDOUR.PluginType.LV2, 1},
                           {"7311", ARDOUR.PluginType.LADSPA, 2}, {"7312", ARDOUR.PluginType.LADSPA, 1} }) do
  local track = s:new_audio_track (plugin[3], plugin[3], nil, 1, plugin[1], ARDOUR.PresentationInfo.max_order,
                                   ARDOUR.TrackMode.Normal, true):front ()
  local p = ARDOUR.LuaAPI.new_plugin (s, plugin[1], plugin[2], "")
  if p:isnil () then
    print ("MISSING " .. plugin[1])
  else
    track:add_processor_by_index (p, 0, nil, true)
    ARDOUR.LuaAPI.usleep (100000)
    print ("LATENCY " .. plugin[1] .. " " .. p:signal_latency () .. " " .. track:signal_latency ())
  end
end
close_session ()
)lua";
  std::string log;
  ASSERT_EQ(RunCommand("cd " + scratch.Path("") + " && LV2_PATH=" + kLv2Bundles + " LADSPA_PATH=" +
                           std::filesystem::path(kLadspa).parent_path().string() + " timeout 120 ardour7-lua " + script, &log), 0) << log;
  for (const std::string& plugin : {kUri, kMonoUri, std::string("7311"), std::string("7312")}) {
    const std::string line = "LATENCY " + plugin + " " + std::to_string(NativeLatency(48000)) + " " +
                             std::to_string(NativeLatency(48000)) + "\n";
    EXPECT_NE(log.find(line), std::string::npos) << plugin << ":\n" << log;
  }
}

}  // namespace
}  // namespace tessil::plugin_test
