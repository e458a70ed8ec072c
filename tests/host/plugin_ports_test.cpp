// The ports every plugin format shows, and what a host's float becomes in a request.
#include "host/plugin_ports.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace tessil::host {
namespace {

TEST(PluginPorts, OnePortPerPropertyTargetWithUniqueNamesAndSymbols) {
  size_t expected = 0;
  for (const PropertyInfo& property : PropertyCatalogue()) expected += TargetsOf(property).size();
  ASSERT_EQ(ControlPorts().size(), expected);
  std::set<std::string> names;
  std::set<std::string> symbols;
  for (const ControlPort& port : ControlPorts()) {
    names.insert(port.name);
    symbols.insert(port.symbol);
    EXPECT_EQ(port.symbol.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_"), std::string::npos) << port.symbol;
  }
  EXPECT_EQ(names.size(), expected);
  EXPECT_EQ(symbols.size(), expected);
  EXPECT_TRUE(names.count("eq-band-gain.1.3"));
  EXPECT_TRUE(symbols.count("eq_band_gain_1_3"));
}

TEST(PluginPorts, HostValuesBecomeValuesTheDriverAccepts) {
  const PropertyInfo& level = PropertyById(KSPROPERTY_TESSIL_CORE_LEVEL);
  EXPECT_EQ(PortValue(level, 50.5f), 50);  // LADSPA's "middle" of 1..100 is the default, 50
  EXPECT_EQ(PortValue(level, 51.5f), 52);
  EXPECT_EQ(PortValue(level, 0.0f), level.minimum);
  EXPECT_EQ(PortValue(level, 1e9f), level.maximum);
  EXPECT_EQ(PortValue(level, NAN), level.defaultValue);
  const PropertyInfo& input = PropertyById(KSPROPERTY_TESSIL_INPUT_GAIN);
  EXPECT_EQ(PortValue(input, -2000.0f), kTessilSilenceDecibels);
  EXPECT_EQ(PortValue(input, -6.4f), -6);
  const PropertyInfo& enable = PropertyById(KSPROPERTY_TESSIL_ENABLE);
  EXPECT_EQ(PortValue(enable, 0.3f), 1);  // toggled ports are on above zero
  EXPECT_EQ(PortValue(enable, 0.0f), 0);
  EXPECT_EQ(PortValue(enable, -1.0f), 0);
}

}  // namespace
}  // namespace tessil::host
