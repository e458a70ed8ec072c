// Shared by the plugin tests: running host programs, reading and writing audio files, and the
// settings that every host is given.
#pragma once

#include <sndfile.h>

#include <map>
#include <string>
#include <vector>

namespace tessil::plugin_test {

struct Audio {
  int rate = 0;
  int channels = 0;
  std::vector<float> samples;  // interleaved, normalised
  size_t Frames() const { return channels == 0 ? 0 : samples.size() / static_cast<size_t>(channels); }
};

Audio ReadAudio(const std::string& path);
void WriteAudio(const std::string& path, const Audio& audio, int format);
// Stereo programme material with loud and quiet passages, the same on every run.
Audio Programme(int rate, double seconds);

// Runs a shell command; returns its exit status and fills `output` with stdout and stderr.
int RunCommand(const std::string& command, std::string* output = nullptr);
bool HaveProgram(const std::string& name);

// A private directory removed at the end of the test.
class Scratch {
 public:
  Scratch();
  ~Scratch();
  std::string Path(const std::string& name) const { return root_ + "/" + name; }

 private:
  std::string root_;
};

// Port name -> value, for the ports that differ from their defaults: driver controls by their
// command-line names, the host layer's by their symbols.
using Settings = std::map<std::string, int>;
// The value of every input control in order, as LADSPA hosts take them on the command line.
std::string PositionalControls(const Settings& settings, uint32_t channels = 2);
// "--set NAME=VALUE" for each.
std::string CliSettings(const Settings& settings);
// "-c SYMBOL VALUE" for each.
std::string Lv2Controls(const Settings& settings, uint32_t channels = 2);

// Largest true peak over all channels in dBTP, as libebur128 measures it.
double TruePeakDbtp(const Audio& audio);
// Integrated loudness in LUFS, as libebur128 measures it.
double IntegratedLufs(const Audio& audio);

}  // namespace tessil::plugin_test
