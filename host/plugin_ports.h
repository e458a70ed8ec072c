// The control ports every plugin format presents: one per stream-wide property, one per channel
// for eq-enable and one per channel and band for the eq-band-* properties, in property-id order,
// named as the command line addresses them. Values are in the property's own units.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/properties.h"

namespace tessil::host {

struct ControlPort {
  const PropertyInfo* property;
  PropertyTarget target;
  std::string name;    // "eq-band-gain.1.3", as tessil --set writes it
  std::string symbol;  // "eq_band_gain_1_3", a C identifier for formats that need one
};

const std::vector<ControlPort>& ControlPorts();

// The value a port's float becomes in a request: clamped to the property's range and rounded
// half to even; switches are on for any value above 0; NaN is the default.
int32_t PortValue(const PropertyInfo& property, float value);

// Plugin audio is two channels in, two out; the control ports follow them, then the latency.
inline constexpr uint32_t kAudioPorts = 4;

}  // namespace tessil::host
