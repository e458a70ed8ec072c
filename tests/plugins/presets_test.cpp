// The presets ship twice, as --settings files and as LV2 presets: both must set the same values.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "host/plugin_ports.h"
#include "plugin_harness.h"

namespace tessil::plugin_test {
namespace {

// Port name -> value, from `tessil properties` with the settings file applied.
std::map<std::string, int> CliValues(const std::string& settingsFile) {
  std::string table;
  EXPECT_EQ(RunCommand(std::string(TESSIL_CLI) + " properties --settings " + settingsFile, &table), 0) << table;
  std::map<std::string, int> values;
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    for (const host::PropertyInfo& property : host::PropertyCatalogue()) {
      if (line.rfind(host::AddressForm(property) + " ", 0) != 0) continue;
      // The values follow the accepted range; channel and band labels ("0:") are skipped.
      std::istringstream numbers(line.substr(line.find(property.accepted) + property.accepted.size()));
      size_t index = 0;
      const std::vector<host::PropertyTarget> targets = host::TargetsOf(property);
      for (std::string word; numbers >> word && index < targets.size();) {
        if (word.back() == ':') continue;
        values[property.name + host::TargetSuffix(property, targets[index++])] = std::stoi(word);
      }
    }
  }
  return values;
}

TEST(Presets, Lv2PresetsSetWhatTheSettingsFilesSet) {
  const std::filesystem::path presets = std::filesystem::path(TESSIL_SOURCE_DIR) / "presets";
  int checked = 0;
  for (const auto& entry : std::filesystem::directory_iterator(presets)) {
    if (entry.path().extension() != ".txt") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::map<std::string, int> cli = CliValues(entry.path().string());
    ASSERT_EQ(cli.size(), host::ControlPorts().size());

    std::ifstream file(std::string(TESSIL_LV2_BUNDLE) + "/presets/" + entry.path().stem().string() + ".ttl");
    ASSERT_TRUE(file) << "no LV2 preset for it";
    const std::string turtle((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::map<std::string, int> lv2;
    const std::regex pair(R"re(lv2:symbol "(\w+)" ; pset:value (-?\d+)\.0)re");
    for (auto it = std::sregex_iterator(turtle.begin(), turtle.end(), pair); it != std::sregex_iterator(); ++it) {
      lv2[(*it)[1]] = std::stoi((*it)[2]);
    }
    int changed = 0;
    for (const host::ControlPort& port : host::ControlPorts()) {
      ASSERT_TRUE(lv2.count(port.symbol)) << port.symbol;
      EXPECT_EQ(lv2[port.symbol], cli.at(port.name)) << port.name;
      if (cli.at(port.name) != port.property->defaultValue) ++changed;
    }
    EXPECT_GT(changed, 1) << "a preset should change something";
    ++checked;
  }
  EXPECT_GE(checked, 2);
}

}  // namespace
}  // namespace tessil::plugin_test
