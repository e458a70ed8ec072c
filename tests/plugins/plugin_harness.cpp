#include "plugin_harness.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "host/plugin_ports.h"
#include "support/ebur128_reference.h"

namespace tessil::plugin_test {

Audio ReadAudio(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) throw std::runtime_error(path + ": " + sf_strerror(nullptr));
  Audio audio{info.samplerate, info.channels, std::vector<float>(static_cast<size_t>(info.frames * info.channels))};
  sf_readf_float(file, audio.samples.data(), info.frames);
  sf_close(file);
  return audio;
}

void WriteAudio(const std::string& path, const Audio& audio, int format) {
  SF_INFO info{};
  info.samplerate = audio.rate;
  info.channels = audio.channels;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) throw std::runtime_error(path + ": " + sf_strerror(nullptr));
  sf_writef_float(file, audio.samples.data(), static_cast<sf_count_t>(audio.Frames()));
  sf_close(file);
}

Audio Programme(int rate, double seconds) {
  Audio audio{rate, 2, std::vector<float>(static_cast<size_t>(rate * seconds) * 2)};
  uint32_t seed = 12345;
  for (size_t i = 0; i < audio.Frames(); ++i) {
    const double t = static_cast<double>(i) / rate;
    // Sections a second long that alternate between loud and quiet, with a little noise.
    const double level = static_cast<int>(t) % 2 == 0 ? 0.5 : 0.05;
    seed = seed * 1664525u + 1013904223u;
    const double noise = static_cast<double>(static_cast<int32_t>(seed)) * 0x1p-31 * 0.05;
    audio.samples[2 * i] = static_cast<float>(level * (std::sin(2 * M_PI * 220 * t) + noise));
    audio.samples[2 * i + 1] = static_cast<float>(level * (std::sin(2 * M_PI * 330 * t) - noise));
  }
  return audio;
}

int RunCommand(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  std::array<char, 4096> buffer;
  std::string text;
  while (size_t got = fread(buffer.data(), 1, buffer.size(), pipe)) text.append(buffer.data(), got);
  const int status = pclose(pipe);
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

bool HaveProgram(const std::string& name) { return RunCommand("command -v " + name) == 0; }

Scratch::Scratch() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tessil-plugins-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
}

Scratch::~Scratch() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::string PositionalControls(const Settings& settings, uint32_t channels) {
  std::string text;
  for (const host::ControlPort& port : host::ControlPorts(channels)) {
    const auto found = settings.find(port.name);
    text += " " + std::to_string(found != settings.end() ? found->second : port.property->defaultValue);
  }
  for (const host::HostPort& port : host::kHostPorts) {
    if (port.output) continue;
    const auto found = settings.find(port.symbol);
    text += " " + std::to_string(found != settings.end() ? found->second : static_cast<int>(port.defaultValue));
  }
  return text;
}

std::string CliSettings(const Settings& settings) {
  std::string text;
  for (const auto& [name, value] : settings) text += " --set " + name + "=" + std::to_string(value);
  return text;
}

std::string Lv2Controls(const Settings& settings, uint32_t channels) {
  std::string text;
  for (const host::ControlPort& port : host::ControlPorts(channels)) {
    if (const auto found = settings.find(port.name); found != settings.end()) {
      text += " -c " + port.symbol + " " + std::to_string(found->second);
    }
  }
  for (const host::HostPort& port : host::kHostPorts) {
    if (const auto found = settings.find(port.symbol); found != settings.end() && !port.output) {
      text += " -c " + std::string(port.symbol) + " " + std::to_string(found->second);
    }
  }
  return text;
}

double TruePeakDbtp(const Audio& audio) {
  return test_support::Ebur128Measure(audio.samples.data(), audio.Frames(), audio.channels, audio.rate).truePeakDb;
}

double IntegratedLufs(const Audio& audio) {
  return test_support::Ebur128Measure(audio.samples.data(), audio.Frames(), audio.channels, audio.rate).integratedLufs;
}

}  // namespace tessil::plugin_test
