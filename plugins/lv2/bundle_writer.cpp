// Writes the LV2 bundle's description: manifest.ttl, tessil.ttl with every port from the host
// layer's port list, and one preset file per settings file given.
//   tessil_lv2_bundle BUNDLE_DIR BINARY_NAME [PRESET.txt ...]
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/plugin_ports.h"
#include "plugins/lv2/plugin_uri.h"

namespace {

using tessil::host::ControlPort;
using tessil::host::ControlPorts;
using tessil::host::PropertyInfo;
using tessil::host::PropertyScope;
using tessil::host::PropertyUnit;

constexpr const char* kPrefixes =
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pg: <http://lv2plug.in/ns/ext/port-groups#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix units: <http://lv2plug.in/ns/extensions/units#> .\n\n";

std::string Trim(std::string text) {
  const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
  text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), space));
  text.erase(std::find_if_not(text.rbegin(), text.rend(), space).base(), text.end());
  return text;
}

struct Preset {
  std::string symbol;  // from the file name
  std::string label;   // from the first comment line
  std::map<std::string, int> values;  // port name -> value
};

// NAME[.CH[.BAND]]=VALUE lines as tessil --settings reads them; CH may be "both".
Preset ReadPreset(const std::filesystem::path& path) {
  Preset preset;
  preset.symbol = path.stem().string();
  preset.label = preset.symbol;
  std::ifstream file(path);
  if (!file) throw std::runtime_error(path.string() + ": cannot read");
  std::string line;
  for (int number = 1; std::getline(file, line); ++number) {
    const size_t hash = line.find('#');
    if (hash != std::string::npos && number == 1) preset.label = Trim(line.substr(hash + 1));
    line = Trim(line.substr(0, hash));
    if (line.empty()) continue;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) throw std::runtime_error(path.string() + ":" + std::to_string(number) + ": expected NAME=VALUE");
    const std::string address = Trim(line.substr(0, equals));
    const int value = std::stoi(Trim(line.substr(equals + 1)));
    std::vector<std::string> names{address};
    if (const size_t both = address.find(".both"); both != std::string::npos) {
      names = {address.substr(0, both) + ".0" + address.substr(both + 5),
               address.substr(0, both) + ".1" + address.substr(both + 5)};
    }
    for (const std::string& name : names) {
      const bool known = std::any_of(ControlPorts().begin(), ControlPorts().end(),
                                     [&](const ControlPort& port) { return port.name == name; });
      if (!known) throw std::runtime_error(path.string() + ":" + std::to_string(number) + ": no port " + name);
      preset.values[name] = value;
    }
  }
  return preset;
}

std::string PortDescription(const ControlPort& port, uint32_t index) {
  const PropertyInfo& property = *port.property;
  std::string text = "    [\n        a lv2:InputPort , lv2:ControlPort ;\n";
  text += "        lv2:index " + std::to_string(index) + " ;\n";
  text += "        lv2:symbol \"" + port.symbol + "\" ;\n";
  text += "        lv2:name \"" + port.name + "\" ;\n";
  text += "        lv2:default " + std::to_string(property.defaultValue) + " ;\n";
  text += "        lv2:minimum " + std::to_string(property.minimum) + " ;\n";
  text += "        lv2:maximum " + std::to_string(property.maximum) + " ;\n";
  switch (property.unit) {
    case PropertyUnit::Switch: text += "        lv2:portProperty lv2:toggled ;\n"; break;
    case PropertyUnit::Selector:
      text += "        lv2:portProperty lv2:integer , lv2:enumeration ;\n";
      for (int32_t value = property.minimum; value <= property.maximum; ++value) {
        text += "        lv2:scalePoint [ rdfs:label \"weight table " + std::to_string(value) +
                "\" ; rdf:value " + std::to_string(value) + " ] ;\n";
      }
      break;
    case PropertyUnit::Decibels: text += "        lv2:portProperty lv2:integer ;\n        units:unit units:db ;\n"; break;
    case PropertyUnit::Hertz:
      text += "        lv2:portProperty lv2:integer ;\n        units:unit units:hz ;\n";
      break;
    case PropertyUnit::Hundredths:
    case PropertyUnit::Order: text += "        lv2:portProperty lv2:integer ;\n"; break;
  }
  if (property.scope != PropertyScope::Stream) {
    text += "        pg:group <" + std::string(tessil::lv2::kPluginUri) + "#equaliser_" +
            std::to_string(port.target.channel) + "> ;\n";
  }
  text += "    ]";
  return text;
}

void Write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream file(path);
  file << text;
  if (!file) throw std::runtime_error(path.string() + ": cannot write");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s BUNDLE_DIR BINARY_NAME [PRESET.txt ...]\n", argv[0]);
    return 2;
  }
  try {
    const std::filesystem::path bundle = argv[1];
    const std::string binary = argv[2];
    const std::string uri = tessil::lv2::kPluginUri;
    std::vector<Preset> presets;
    for (int i = 3; i < argc; ++i) presets.push_back(ReadPreset(argv[i]));

    std::string manifest = kPrefixes;
    manifest += "<" + uri + ">\n    a lv2:Plugin ;\n    lv2:binary <" + binary + "> ;\n    rdfs:seeAlso <tessil.ttl> .\n";
    for (const Preset& preset : presets) {
      manifest += "\n<" + std::string(tessil::lv2::kPresetUriPrefix) + preset.symbol + ">\n    a pset:Preset ;\n" +
                  "    lv2:appliesTo <" + uri + "> ;\n    rdfs:seeAlso <presets/" + preset.symbol + ".ttl> .\n";
    }
    Write(bundle / "manifest.ttl", manifest);

    std::string plugin = kPrefixes;
    for (uint32_t channel = 0; channel < tessil::host::kEqualiserChannels; ++channel) {
      plugin += "<" + uri + "#equaliser_" + std::to_string(channel) + ">\n    a pg:Group ;\n" +
                "    lv2:symbol \"equaliser_" + std::to_string(channel) + "\" ;\n" +
                "    rdfs:label \"Equaliser, channel " + std::to_string(channel) +
                (channel == 0 ? " (left)" : " (right)") + "\" .\n\n";
    }
    plugin += "<" + uri + ">\n    a lv2:Plugin , lv2:DynamicsPlugin ;\n" +
              "    doap:name \"Tessil loudness maximiser (stereo)\" ;\n" +
              "    lv2:optionalFeature lv2:hardRTCapable ;\n    lv2:port\n";
    const char* audio[4][3] = {{"lv2:InputPort", "in_l", "Input L"}, {"lv2:InputPort", "in_r", "Input R"},
                               {"lv2:OutputPort", "out_l", "Output L"}, {"lv2:OutputPort", "out_r", "Output R"}};
    uint32_t index = 0;
    for (const auto& port : audio) {
      plugin += "    [\n        a " + std::string(port[0]) + " , lv2:AudioPort ;\n        lv2:index " +
                std::to_string(index++) + " ;\n        lv2:symbol \"" + port[1] + "\" ;\n        lv2:name \"" +
                port[2] + "\" ;\n    ] ,\n";
    }
    for (const ControlPort& port : ControlPorts()) plugin += PortDescription(port, index++) + " ,\n";
    plugin += "    [\n        a lv2:OutputPort , lv2:ControlPort ;\n        lv2:index " + std::to_string(index) +
              " ;\n        lv2:symbol \"latency\" ;\n        lv2:name \"latency\" ;\n" +
              "        lv2:designation lv2:latency ;\n        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n" +
              "        units:unit units:frame ;\n    ] .\n";
    Write(bundle / "tessil.ttl", plugin);

    std::filesystem::create_directories(bundle / "presets");
    for (const Preset& preset : presets) {
      std::string text = kPrefixes;
      text += "<" + std::string(tessil::lv2::kPresetUriPrefix) + preset.symbol + ">\n    a pset:Preset ;\n" +
              "    lv2:appliesTo <" + uri + "> ;\n    rdfs:label \"" + preset.label + "\" ;\n    lv2:port";
      bool first = true;
      // Every control port, so the preset means the same whatever the plugin was set to before.
      for (const ControlPort& port : ControlPorts()) {
        const auto found = preset.values.find(port.name);
        const int value = found != preset.values.end() ? found->second : port.property->defaultValue;
        text += std::string(first ? "" : " ,") + "\n        [ lv2:symbol \"" + port.symbol +
                "\" ; pset:value " + std::to_string(value) + " ]";
        first = false;
      }
      text += " .\n";
      Write(bundle / "presets" / (preset.symbol + ".ttl"), text);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tessil_lv2_bundle: %s\n", error.what());
    return 1;
  }
  return 0;
}
