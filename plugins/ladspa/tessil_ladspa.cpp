// The LADSPA plugins, a stereo and a mono descriptor over the host layer's plugin instance. This
// is the only file that includes the LADSPA header.
#include <ladspa.h>

#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin_instance.h"
#include "host/plugin_ports.h"
#include "host/rates.h"

namespace tessil::ladspa {

namespace {

using host::ControlPort;
using host::HostPort;
using host::HostPortUnit;
using host::PropertyInfo;
using host::PropertyUnit;

// Registered nowhere else: the IDs and labels hosts and scripts name the plugins by.
struct Identity {
  uint32_t channels;
  unsigned long uniqueId;
  const char* label;
  const char* name;
  const char* portNames[4];  // inputs, then outputs
};
constexpr Identity kStereo = {2, 7311, "tessil", "Tessil loudness maximiser (stereo)",
                              {"Input L", "Input R", "Output L", "Output R"}};
constexpr Identity kMono = {1, 7312, "tessil_mono", "Tessil loudness maximiser (mono)",
                            {"Input", "Output"}};

using Instance = host::PluginInstance;

// LADSPA names defaults by position in the range rather than by value. Of the positions it
// offers, the one that lands on the driver's default when rounded; where none does (an order of
// 2 in 1..10, say), the nearest.
struct DefaultChoice {
  LADSPA_PortRangeHintDescriptor hint;
  double value;
};

bool Logarithmic(const PropertyInfo& property) {
  return property.unit == PropertyUnit::Hertz ||
         (property.unit == PropertyUnit::Hundredths && property.clamped);  // Q
}

LADSPA_PortRangeHintDescriptor DefaultHint(double low, double high, double defaultValue, bool logarithmic) {
  const auto between = [&](double fraction) {
    if (logarithmic) return std::exp(std::log(low) * (1.0 - fraction) + std::log(high) * fraction);
    return low * (1.0 - fraction) + high * fraction;
  };
  const DefaultChoice choices[] = {
      {LADSPA_HINT_DEFAULT_0, 0.0},        {LADSPA_HINT_DEFAULT_1, 1.0},
      {LADSPA_HINT_DEFAULT_100, 100.0},    {LADSPA_HINT_DEFAULT_440, 440.0},
      {LADSPA_HINT_DEFAULT_MINIMUM, low},  {LADSPA_HINT_DEFAULT_MAXIMUM, high},
      {LADSPA_HINT_DEFAULT_LOW, between(0.25)}, {LADSPA_HINT_DEFAULT_MIDDLE, between(0.5)},
      {LADSPA_HINT_DEFAULT_HIGH, between(0.75)},
  };
  LADSPA_PortRangeHintDescriptor best = LADSPA_HINT_DEFAULT_MIDDLE;
  double distance = INFINITY;
  for (const DefaultChoice& choice : choices) {
    if (choice.value < low || choice.value > high) continue;
    const double d = std::fabs(std::nearbyint(choice.value) - defaultValue);
    if (d < distance) {
      distance = d;
      best = choice.hint;
    }
  }
  return best;
}

LADSPA_PortRangeHint Hint(const PropertyInfo& property) {
  if (property.unit == PropertyUnit::Switch) {
    return {LADSPA_HINT_TOGGLED | (property.defaultValue != 0 ? LADSPA_HINT_DEFAULT_1 : LADSPA_HINT_DEFAULT_0), 0.0f, 0.0f};
  }
  return {LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE | LADSPA_HINT_INTEGER |
              DefaultHint(property.minimum, property.maximum, property.defaultValue, Logarithmic(property)) |
              (Logarithmic(property) ? LADSPA_HINT_LOGARITHMIC : 0),
          static_cast<LADSPA_Data>(property.minimum), static_cast<LADSPA_Data>(property.maximum)};
}

LADSPA_PortRangeHint Hint(const HostPort& port) {
  if (port.unit == HostPortUnit::Switch) {
    return {LADSPA_HINT_TOGGLED | (port.defaultValue != 0.0f ? LADSPA_HINT_DEFAULT_1 : LADSPA_HINT_DEFAULT_0), 0.0f, 0.0f};
  }
  // An output's default means nothing to the plugin, but some hosts want one for every control.
  if (port.output && port.unit == HostPortUnit::Frames) return {LADSPA_HINT_DEFAULT_0, 0.0f, 0.0f};
  return {LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE |
              DefaultHint(port.minimum, port.maximum, port.defaultValue, false),
          port.minimum, port.maximum};
}

struct Descriptor {
  LADSPA_Descriptor descriptor{};
  uint32_t channels;
  std::vector<LADSPA_PortDescriptor> kinds;
  std::vector<const char*> names;
  std::vector<LADSPA_PortRangeHint> hints;
  std::vector<std::string> nameStore;

  explicit Descriptor(const Identity& identity) : channels(identity.channels) {
    const auto add = [&](LADSPA_PortDescriptor kind, std::string name, LADSPA_PortRangeHint hint) {
      kinds.push_back(kind);
      nameStore.push_back(std::move(name));
      hints.push_back(hint);
    };
    for (uint32_t i = 0; i < 2 * channels; ++i) {
      add((i < channels ? LADSPA_PORT_INPUT : LADSPA_PORT_OUTPUT) | LADSPA_PORT_AUDIO, identity.portNames[i], {});
    }
    for (const ControlPort& port : host::ControlPorts(channels)) {
      add(LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL, port.name, Hint(*port.property));
    }
    for (const HostPort& port : host::kHostPorts) {
      add((port.output ? LADSPA_PORT_OUTPUT : LADSPA_PORT_INPUT) | LADSPA_PORT_CONTROL, port.symbol, Hint(port));
    }
    for (const std::string& name : nameStore) names.push_back(name.c_str());

    descriptor.UniqueID = identity.uniqueId;
    descriptor.Label = identity.label;
    descriptor.Properties = LADSPA_PROPERTY_HARD_RT_CAPABLE;
    descriptor.Name = identity.name;
    descriptor.Maker = "Tessil";
    descriptor.Copyright = "None";
    descriptor.PortCount = static_cast<unsigned long>(kinds.size());
    descriptor.PortDescriptors = kinds.data();
    descriptor.PortNames = names.data();
    descriptor.PortRangeHints = hints.data();
    descriptor.instantiate = Instantiate;
    descriptor.connect_port = ConnectPort;
    descriptor.activate = Activate;
    descriptor.run = Run;
    descriptor.cleanup = Cleanup;
  }

  static LADSPA_Handle Instantiate(const LADSPA_Descriptor* descriptor, unsigned long sampleRate) {
    const uint32_t rate = host::SupportedStreamRate(static_cast<double>(sampleRate));
    if (rate == 0) return nullptr;
    try {
      const uint32_t channels = descriptor->UniqueID == kMono.uniqueId ? kMono.channels : kStereo.channels;
      return new Instance(rate, channels);
    } catch (const std::exception&) {
      return nullptr;  // LADSPA has no way to say why
    }
  }

  static void ConnectPort(LADSPA_Handle handle, unsigned long port, LADSPA_Data* location) {
    static_cast<Instance*>(handle)->ConnectPort(static_cast<uint32_t>(port), location);
  }

  static void Activate(LADSPA_Handle handle) {
    try {
      static_cast<Instance*>(handle)->Activate();
    } catch (const std::exception&) {
      // Without a stream the plugin stays silent; LADSPA and LV2 have no way to say why.
    }
  }

  static void Run(LADSPA_Handle handle, unsigned long frames) {
    static_cast<Instance*>(handle)->Run(static_cast<uint32_t>(frames));
  }

  static void Cleanup(LADSPA_Handle handle) { delete static_cast<Instance*>(handle); }
};

}  // namespace

}  // namespace tessil::ladspa

extern "C" __attribute__((visibility("default"))) const LADSPA_Descriptor* ladspa_descriptor(unsigned long index) {
  static const tessil::ladspa::Descriptor stereo(tessil::ladspa::kStereo);
  static const tessil::ladspa::Descriptor mono(tessil::ladspa::kMono);
  return index == 0 ? &stereo.descriptor : index == 1 ? &mono.descriptor : nullptr;
}
