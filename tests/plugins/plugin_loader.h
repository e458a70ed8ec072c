// The LADSPA and LV2 plugins loaded the way hosts load them, to drive run() directly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tessil::plugin_test {

// One instance of either plugin, with every control port connected to its default value.
class LoadedPlugin {
 public:
  virtual ~LoadedPlugin() = default;
  virtual void Run(const float* left, const float* right, float* outLeft, float* outRight, uint32_t frames) = 0;
  // The value the latency output port holds.
  virtual float Latency() const = 0;
  // Control values by port name; a change reaches the plugin at the next Run().
  void Set(const std::string& name, float value);

 protected:
  std::vector<float> controls_;
  float latency_ = -1.0f;
};

std::unique_ptr<LoadedPlugin> LoadLadspa(const std::string& path, unsigned long rate);
std::unique_ptr<LoadedPlugin> LoadLv2(const std::string& bundle, double rate);
// The latency a fresh LADSPA instance reports after its first run().
size_t LadspaLatency(const std::string& path, unsigned long rate);

}  // namespace tessil::plugin_test
