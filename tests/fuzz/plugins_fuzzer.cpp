// The plugins as a host drives them through their C entry points, both formats and every
// descriptor: instantiate at any rate (hosts hand LV2 a double, LADSPA an unsigned long), control
// inputs of any float (NaN and infinities too), run() with any number of frames holding any
// samples, activation again, ports left unconnected. Besides the sanitizers' findings, it stops
// at any audio output sample that is no number or beyond full scale.
#include <ladspa.h>
#include <lv2/core/lv2.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"

extern "C" const LADSPA_Descriptor* ladspa_descriptor(unsigned long index);
extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace {

using tessil::fuzz::FuzzInput;

constexpr double kRates[] = {44100, 48000, 32000, 96000, 22050, 8000, 176400, 4000, 768000, 39569};
constexpr uint32_t kMostFrames = 8192;

// Each format's calls, so that one driver covers both.
struct Plugin {
  const LADSPA_Descriptor* ladspa = nullptr;
  const LV2_Descriptor* lv2 = nullptr;
  void* handle = nullptr;

  void Connect(unsigned long port, float* location) const {
    if (ladspa != nullptr) {
      ladspa->connect_port(handle, port, location);
    } else {
      lv2->connect_port(handle, static_cast<uint32_t>(port), location);
    }
  }
  void Activate() const {
    if (ladspa != nullptr && ladspa->activate != nullptr) ladspa->activate(handle);
    if (lv2 != nullptr && lv2->activate != nullptr) lv2->activate(handle);
  }
  void Deactivate() const {
    if (ladspa != nullptr && ladspa->deactivate != nullptr) ladspa->deactivate(handle);
    if (lv2 != nullptr && lv2->deactivate != nullptr) lv2->deactivate(handle);
  }
  void Run(uint32_t frames) const {
    if (ladspa != nullptr) {
      ladspa->run(handle, frames);
    } else {
      lv2->run(handle, frames);
    }
  }
  void Cleanup() const {
    if (ladspa != nullptr) {
      ladspa->cleanup(handle);
    } else {
      lv2->cleanup(handle);
    }
  }
};

size_t Count(const LADSPA_Descriptor* (*list)(unsigned long)) {
  size_t count = 0;
  while (list(count) != nullptr) ++count;
  return count;
}

double ChooseRate(FuzzInput& input) {
  const uint32_t pick = input.Choose(std::size(kRates) + 2);
  if (pick < std::size(kRates)) return kRates[pick];
  return pick == std::size(kRates) ? input.Read<double>() : static_cast<double>(input.Read<uint64_t>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  static const size_t descriptors = Count(ladspa_descriptor);
  // Both formats number their ports alike: the LADSPA descriptor of the same position describes
  // the LV2 plugin's ports too.
  const auto index = static_cast<unsigned long>(input.Choose(static_cast<uint32_t>(descriptors)));
  const LADSPA_Descriptor* layout = ladspa_descriptor(index);
  Plugin plugin;
  const double rate = ChooseRate(input);
  if (input.Read<uint8_t>() % 2 == 0) {
    plugin.ladspa = layout;
    // What an unsigned long makes of the rate, as a host's own conversion would.
    const unsigned long hostRate = std::isfinite(rate) && rate >= 0 && rate < 1.8e19 ? static_cast<unsigned long>(rate) : 0;
    plugin.handle = layout->instantiate(layout, hostRate);
  } else {
    plugin.lv2 = lv2_descriptor(static_cast<uint32_t>(index));
    if (plugin.lv2 == nullptr) return 0;
    const bool monoUri = std::strstr(plugin.lv2->URI, "mono") != nullptr;
    if (monoUri != (std::strstr(layout->Label, "mono") != nullptr)) {
      std::fprintf(stderr, "LV2 plugin %lu (%s) is not laid out as LADSPA's %s\n", index, plugin.lv2->URI, layout->Label);
      std::abort();
    }
    static const LV2_Feature* const kNoFeatures[] = {nullptr};
    plugin.handle = plugin.lv2->instantiate(plugin.lv2, rate, "/nonexistent", kNoFeatures);
  }
  if (plugin.handle == nullptr) return 0;

  const unsigned long ports = layout->PortCount;
  std::vector<std::vector<float>> buffers(ports, std::vector<float>(kMostFrames));
  std::vector<bool> connected(ports, true);
  for (unsigned long port = 0; port < ports; ++port) plugin.Connect(port, buffers[port].data());
  plugin.Activate();
  for (int step = 0; step < 48 && !input.Empty(); ++step) {
    const auto port = static_cast<unsigned long>(input.Choose(static_cast<uint32_t>(ports)));
    switch (input.Choose(8)) {
      case 0:
        plugin.Connect(port, nullptr);
        connected[port] = false;
        break;
      case 1:
        plugin.Connect(port, buffers[port].data());
        connected[port] = true;
        break;
      case 2:
        plugin.Deactivate();
        plugin.Activate();
        break;
      case 3:
      case 4: buffers[port][0] = input.Read<float>(); break;  // a control value, or one sample
      default: {
        const uint32_t frames = input.Choose(kMostFrames + 1);
        for (unsigned long p = 0; p < ports; ++p) {
          if (LADSPA_IS_PORT_AUDIO(layout->PortDescriptors[p]) && LADSPA_IS_PORT_INPUT(layout->PortDescriptors[p])) {
            input.ReadBytes(buffers[p].data(), frames * sizeof(float));
          }
        }
        plugin.Run(frames);
        // With an audio port unconnected a plugin writes nothing, so there is nothing to check.
        bool allAudio = true;
        for (unsigned long p = 0; p < ports; ++p) allAudio &= connected[p] || !LADSPA_IS_PORT_AUDIO(layout->PortDescriptors[p]);
        for (unsigned long p = 0; p < ports && allAudio; ++p) {
          if (!LADSPA_IS_PORT_AUDIO(layout->PortDescriptors[p]) || !LADSPA_IS_PORT_OUTPUT(layout->PortDescriptors[p])) continue;
          for (uint32_t i = 0; i < frames; ++i) {
            if (!(std::fabs(buffers[p][i]) <= 1.0f)) {
              std::fprintf(stderr, "output %lu frame %u: %g\n", p, i, static_cast<double>(buffers[p][i]));
              std::abort();
            }
          }
        }
        break;
      }
    }
  }
  plugin.Deactivate();
  plugin.Cleanup();
  return 0;
}
