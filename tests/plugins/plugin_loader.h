// The LADSPA and LV2 plugins loaded the way hosts load them, to drive run() directly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin_ports.h"

namespace tessil::plugin_test {

// One instance of either plugin, with every control connected to its default value and every
// output to a value of its own.
class LoadedPlugin {
 public:
  virtual ~LoadedPlugin() = default;
  // in[c] and out[c] for each of Channels() channels.
  virtual void Run(const float* const* in, float* const* out, uint32_t frames) = 0;
  void Run(const float* left, const float* right, float* outLeft, float* outRight, uint32_t frames) {
    const float* in[2] = {left, right};
    float* out[2] = {outLeft, outRight};
    Run(in, out, frames);
  }
  uint32_t Channels() const { return layout_.channels; }
  float Latency() const { return Output(host::kLatencyPort); }
  float Output(host::HostPortIndex port) const { return hostValues_[port]; }
  // Control values by port name (driver controls and the host layer's); a change reaches the
  // plugin at the next Run().
  void Set(const std::string& name, float value);

 protected:
  explicit LoadedPlugin(uint32_t channels);

  host::PortLayout layout_;
  std::vector<float> controls_;
  float hostValues_[host::kHostPortCount];
};

// channels 2: the stereo plugin, 1: the mono one.
std::unique_ptr<LoadedPlugin> LoadLadspa(const std::string& path, unsigned long rate, uint32_t channels = 2);
std::unique_ptr<LoadedPlugin> LoadLv2(const std::string& bundle, double rate, uint32_t channels = 2);
// The latency a fresh LADSPA instance reports after its first run().
size_t LadspaLatency(const std::string& path, unsigned long rate);

}  // namespace tessil::plugin_test
