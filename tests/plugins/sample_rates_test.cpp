// instantiate() with whatever rate a host hands over: an instance at every rate a stream runs at
// (4000 to 768000 Hz), and a prompt null for anything else, in both formats alike, before any
// conversion can wrap a rate into range or take one far out of it as real.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "plugin_loader.h"

namespace tessil::plugin_test {
namespace {

bool Instantiates(bool lv2, double rate) {
  try {
    if (lv2) {
      LoadLv2(TESSIL_LV2_BUNDLE, rate);
    } else {
      LoadLadspa(TESSIL_LADSPA_PLUGIN, static_cast<unsigned long>(rate));
    }
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

TEST(PluginInstantiate, OnlyRatesAStreamRunsAt) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  struct RateCase {
    double rate;
    bool lv2Only;  // no unsigned long holds it
    bool accepted;
  };
  const RateCase cases[] = {
      {kNaN, true, false},     {-44100.0, true, false},  {kInfinity, true, false},  {-kInfinity, true, false},
      {1e9, false, false},     {2e8, false, false},      {44100.5, true, false},    {0.0, false, false},
      {3999.0, false, false},  {768001.0, false, false}, {4294967296.0 + 44100.0, false, false},
      {4000.0, false, true},   {44100.0, false, true},   {768000.0, false, true},
  };
  for (const RateCase& c : cases) {
    for (const bool lv2 : {true, false}) {
      if (c.lv2Only && !lv2) continue;
      SCOPED_TRACE(std::string(lv2 ? "LV2 " : "LADSPA ") + std::to_string(c.rate));
      EXPECT_EQ(Instantiates(lv2, c.rate), c.accepted);
    }
  }
}

}  // namespace
}  // namespace tessil::plugin_test
