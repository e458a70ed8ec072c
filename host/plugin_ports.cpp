#include "host/plugin_ports.h"

#include <algorithm>
#include <cmath>

namespace tessil::host {

namespace {

std::vector<ControlPort> ListControlPorts(uint32_t channels) {
  std::vector<ControlPort> list;
  for (const PropertyInfo& property : PropertyCatalogue()) {
    for (const PropertyTarget target : TargetsOf(property)) {
      if (property.scope != PropertyScope::Stream && target.channel >= channels) continue;
      std::string name = property.name + TargetSuffix(property, target);
      std::string symbol = name;
      std::replace(symbol.begin(), symbol.end(), '-', '_');
      std::replace(symbol.begin(), symbol.end(), '.', '_');
      list.push_back({&property, target, std::move(name), std::move(symbol)});
    }
  }
  return list;
}

}  // namespace

const std::vector<ControlPort>& ControlPorts(uint32_t channels) {
  static const std::vector<ControlPort> mono = ListControlPorts(1);
  static const std::vector<ControlPort> stereo = ListControlPorts(2);
  return channels == 1 ? mono : stereo;
}

int32_t PortValue(const PropertyInfo& property, float value) {
  if (std::isnan(value)) return property.defaultValue;
  if (property.unit == PropertyUnit::Switch) return value > 0.0f ? 1 : 0;
  const double clamped = std::clamp(static_cast<double>(value), static_cast<double>(property.minimum),
                                    static_cast<double>(property.maximum));
  return static_cast<int32_t>(std::nearbyint(clamped));
}

}  // namespace tessil::host
