// The LV2 plugins, stereo and mono, over the host layer's plugin instance; the bundle's Turtle
// files describe the same ports (written by bundle_writer.cpp). This is the only file that
// includes the LV2 headers.
#include <lv2/core/lv2.h>

#include <exception>
#include <iterator>

#include "host/plugin_instance.h"
#include "host/rates.h"
#include "plugins/lv2/plugin_uri.h"

namespace tessil::lv2 {

namespace {

using Instance = host::PluginInstance;

template <uint32_t Channels>
LV2_Handle Instantiate(const LV2_Descriptor*, double sampleRate, const char*, const LV2_Feature* const*) {
  const uint32_t rate = host::SupportedStreamRate(sampleRate);
  if (rate == 0) return nullptr;
  try {
    return new Instance(rate, Channels);
  } catch (const std::exception&) {
    return nullptr;
  }
}

void ConnectPort(LV2_Handle handle, uint32_t port, void* location) {
  static_cast<Instance*>(handle)->ConnectPort(port, static_cast<float*>(location));
}

void Activate(LV2_Handle handle) {
  try {
    static_cast<Instance*>(handle)->Activate();
  } catch (const std::exception&) {
    // Without a stream the plugin stays silent; LADSPA and LV2 have no way to say why.
  }
}

void Run(LV2_Handle handle, uint32_t frames) { static_cast<Instance*>(handle)->Run(frames); }

void Cleanup(LV2_Handle handle) { delete static_cast<Instance*>(handle); }

const void* ExtensionData(const char*) { return nullptr; }

constexpr LV2_Descriptor kDescriptors[] = {
    {kPlugins[0].uri, Instantiate<kPlugins[0].channels>, ConnectPort, Activate, Run, nullptr, Cleanup, ExtensionData},
    {kPlugins[1].uri, Instantiate<kPlugins[1].channels>, ConnectPort, Activate, Run, nullptr, Cleanup, ExtensionData},
};
static_assert(std::size(kDescriptors) == std::size(kPlugins));

}  // namespace

}  // namespace tessil::lv2

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  return index < std::size(tessil::lv2::kDescriptors) ? &tessil::lv2::kDescriptors[index] : nullptr;
}
