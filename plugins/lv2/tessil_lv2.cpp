// The LV2 plugin over the host layer's plugin instance; the bundle's Turtle files describe the
// same ports (written by bundle_writer.cpp). This is the only file that includes the LV2 headers.
#include <lv2/core/lv2.h>

#include <exception>
#include <memory>
#include <vector>

#include "host/plugin_instance.h"
#include "host/plugin_ports.h"
#include "plugins/lv2/plugin_uri.h"

namespace tessil::lv2 {

namespace {

struct Instance {
  std::unique_ptr<host::PluginInstance> plugin;
  const float* audioIn[2] = {};
  float* audioOut[2] = {};
  std::vector<const float*> controls = std::vector<const float*>(host::ControlPorts().size());
  float* latency = nullptr;
};

LV2_Handle Instantiate(const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const*) {
  try {
    auto instance = std::make_unique<Instance>();
    instance->plugin = std::make_unique<host::PluginInstance>(static_cast<uint32_t>(sampleRate));
    return instance.release();
  } catch (const std::exception&) {
    return nullptr;
  }
}

void ConnectPort(LV2_Handle handle, uint32_t port, void* location) {
  auto* instance = static_cast<Instance*>(handle);
  auto* data = static_cast<float*>(location);
  const size_t controls = instance->controls.size();
  if (port < 2) {
    instance->audioIn[port] = data;
  } else if (port < host::kAudioPorts) {
    instance->audioOut[port - 2] = data;
  } else if (port < host::kAudioPorts + controls) {
    instance->controls[port - host::kAudioPorts] = data;
  } else if (port == host::kAudioPorts + controls) {
    instance->latency = data;
  }
}

void Activate(LV2_Handle handle) {
  try {
    auto* instance = static_cast<Instance*>(handle);
    instance->plugin->Activate(instance->controls.data());
  } catch (const std::exception&) {
    // Without a stream the plugin stays silent; LADSPA and LV2 have no way to say why.
  }
}

void Run(LV2_Handle handle, uint32_t frames) {
  auto* instance = static_cast<Instance*>(handle);
  if (instance->latency != nullptr) *instance->latency = static_cast<float>(instance->plugin->LatencyFrames());
  if (instance->audioIn[0] == nullptr || instance->audioIn[1] == nullptr ||
      instance->audioOut[0] == nullptr || instance->audioOut[1] == nullptr) {
    return;
  }
  instance->plugin->Run(instance->controls.data(), instance->audioIn, instance->audioOut, frames);
}

void Cleanup(LV2_Handle handle) { delete static_cast<Instance*>(handle); }

const void* ExtensionData(const char*) { return nullptr; }

constexpr LV2_Descriptor kDescriptor = {kPluginUri, Instantiate, ConnectPort, Activate, Run,
                                        nullptr, Cleanup, ExtensionData};

}  // namespace

}  // namespace tessil::lv2

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index == 0 ? &tessil::lv2::kDescriptor : nullptr;
}
