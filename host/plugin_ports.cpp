#include "host/plugin_ports.h"

#include <algorithm>
#include <cmath>

namespace tessil::host {

const std::vector<ControlPort>& ControlPorts() {
  static const std::vector<ControlPort> ports = [] {
    std::vector<ControlPort> list;
    for (const PropertyInfo& property : PropertyCatalogue()) {
      for (const PropertyTarget target : TargetsOf(property)) {
        std::string name = property.name + TargetSuffix(property, target);
        std::string symbol = name;
        std::replace(symbol.begin(), symbol.end(), '-', '_');
        std::replace(symbol.begin(), symbol.end(), '.', '_');
        list.push_back({&property, target, std::move(name), std::move(symbol)});
      }
    }
    return list;
  }();
  return ports;
}

int32_t PortValue(const PropertyInfo& property, float value) {
  if (std::isnan(value)) return property.defaultValue;
  if (property.unit == PropertyUnit::Switch) return value > 0.0f ? 1 : 0;
  const double clamped = std::clamp(static_cast<double>(value), static_cast<double>(property.minimum),
                                    static_cast<double>(property.maximum));
  return static_cast<int32_t>(std::nearbyint(clamped));
}

}  // namespace tessil::host
