// Writes the LV2 bundle's description: manifest.ttl, tessil.ttl with both plugins and every port
// from the host layer's port lists, and one preset file per plugin and settings file given.
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
using tessil::host::HostPort;
using tessil::host::HostPortUnit;
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

std::string Number(double value) {
  // Turtle reads a number with a point as a decimal, which lilv hands hosts as a float; an
  // integer literal becomes an integer atom that preset hosts drop.
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string PortDescription(const ControlPort& port, uint32_t index, const std::string& uri) {
  const PropertyInfo& property = *port.property;
  std::string text = "    [\n        a lv2:InputPort , lv2:ControlPort ;\n";
  text += "        lv2:index " + std::to_string(index) + " ;\n";
  text += "        lv2:symbol \"" + port.symbol + "\" ;\n";
  text += "        lv2:name \"" + port.name + "\" ;\n";
  text += "        lv2:default " + Number(property.defaultValue) + " ;\n";
  text += "        lv2:minimum " + Number(property.minimum) + " ;\n";
  text += "        lv2:maximum " + Number(property.maximum) + " ;\n";
  switch (property.unit) {
    case PropertyUnit::Switch: text += "        lv2:portProperty lv2:toggled ;\n"; break;
    case PropertyUnit::Selector:
      text += "        lv2:portProperty lv2:integer , lv2:enumeration ;\n";
      for (int32_t value = property.minimum; value <= property.maximum; ++value) {
        text += "        lv2:scalePoint [ rdfs:label \"weight table " + std::to_string(value) +
                "\" ; rdf:value " + Number(value) + " ] ;\n";
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
    text += "        pg:group <" + uri + "#equaliser_" + std::to_string(port.target.channel) + "> ;\n";
  }
  text += "    ]";
  return text;
}

std::string HostPortDescription(const HostPort& port, uint32_t index) {
  std::string text = std::string("    [\n        a ") + (port.output ? "lv2:OutputPort" : "lv2:InputPort") +
                     " , lv2:ControlPort ;\n";
  text += "        lv2:index " + std::to_string(index) + " ;\n";
  text += "        lv2:symbol \"" + std::string(port.symbol) + "\" ;\n";
  text += "        lv2:name \"" + std::string(port.label) + "\" ;\n";
  if (port.unit == HostPortUnit::Frames) {
    text += "        lv2:designation lv2:latency ;\n        lv2:portProperty lv2:reportsLatency , lv2:integer ;\n"
            "        units:unit units:frame ;\n";
  } else {
    text += "        lv2:default " + Number(port.defaultValue) + " ;\n";
    text += "        lv2:minimum " + Number(port.minimum) + " ;\n";
    text += "        lv2:maximum " + Number(port.maximum) + " ;\n";
  }
  switch (port.unit) {
    case HostPortUnit::Switch: text += "        lv2:portProperty lv2:toggled ;\n"; break;
    case HostPortUnit::Decibels: text += "        units:unit units:db ;\n"; break;
    case HostPortUnit::LoudnessUnits: text += "        units:unit <urn:tessil:lv2:units#lu> ;\n"; break;
    case HostPortUnit::LoudnessFullScale: text += "        units:unit <urn:tessil:lv2:units#lufs> ;\n"; break;
    case HostPortUnit::Frames: break;
  }
  text += "    ]";
  return text;
}

// Units LV2 does not define, described so that hosts can print them.
constexpr const char* kLoudnessUnits =
    "<urn:tessil:lv2:units#lufs>\n    a units:Unit ;\n    rdfs:label \"loudness units relative to full scale\" ;\n"
    "    units:symbol \"LUFS\" ;\n    units:render \"%.1f LUFS\" .\n\n"
    "<urn:tessil:lv2:units#lu>\n    a units:Unit ;\n    rdfs:label \"loudness units\" ;\n"
    "    units:symbol \"LU\" ;\n    units:render \"%+.1f LU\" .\n\n";

std::string PluginDescription(const tessil::lv2::PluginIdentity& plugin) {
  const std::string uri = plugin.uri;
  std::string text;
  for (uint32_t channel = 0; channel < std::min(plugin.channels, tessil::host::kEqualiserChannels); ++channel) {
    text += "<" + uri + "#equaliser_" + std::to_string(channel) + ">\n    a pg:Group ;\n" +
            "    lv2:symbol \"equaliser_" + std::to_string(channel) + "\" ;\n" + "    rdfs:label \"Equaliser" +
            (plugin.channels == 1 ? std::string() : std::string(", channel ") + std::to_string(channel) +
                                                        (channel == 0 ? " (left)" : " (right)")) +
            "\" .\n\n";
  }
  text += "<" + uri + ">\n    a lv2:Plugin , lv2:DynamicsPlugin ;\n" + "    doap:name \"" + plugin.name + "\" ;\n" +
          "    lv2:optionalFeature lv2:hardRTCapable ;\n    lv2:port\n";
  static const char* const kStereoAudio[4][2] = {{"in_l", "Input L"}, {"in_r", "Input R"}, {"out_l", "Output L"}, {"out_r", "Output R"}};
  static const char* const kMonoAudio[2][2] = {{"in", "Input"}, {"out", "Output"}};
  uint32_t index = 0;
  for (uint32_t i = 0; i < 2 * plugin.channels; ++i) {
    const char* const* port = plugin.channels == 1 ? kMonoAudio[i] : kStereoAudio[i];
    text += std::string("    [\n        a ") + (i < plugin.channels ? "lv2:InputPort" : "lv2:OutputPort") +
            " , lv2:AudioPort ;\n        lv2:index " + std::to_string(index++) + " ;\n        lv2:symbol \"" +
            port[0] + "\" ;\n        lv2:name \"" + port[1] + "\" ;\n    ] ,\n";
  }
  for (const ControlPort& port : ControlPorts(plugin.channels)) text += PortDescription(port, index++, uri) + " ,\n";
  for (const HostPort& port : tessil::host::kHostPorts) {
    text += HostPortDescription(port, index++) + (&port == std::end(tessil::host::kHostPorts) - 1 ? " .\n\n" : " ,\n");
  }
  return text;
}

std::string PresetDescription(const tessil::lv2::PluginIdentity& plugin, const Preset& preset) {
  std::string text = kPrefixes;
  text.append("<").append(plugin.presetUriPrefix).append(preset.symbol).append(">\n    a pset:Preset ;\n");
  text.append("    lv2:appliesTo <").append(plugin.uri).append("> ;\n    rdfs:label \"").append(preset.label);
  text.append("\" ;\n    lv2:port");
  bool first = true;
  // Every driver control, so the preset means the same whatever the plugin was set to before.
  // The ceiling is left as the user set it: it guards the output, whichever preset levels it.
  for (const ControlPort& port : ControlPorts(plugin.channels)) {
    const auto found = preset.values.find(port.name);
    const int value = found != preset.values.end() ? found->second : port.property->defaultValue;
    text += std::string(first ? "" : " ,") + "\n        [ lv2:symbol \"" + port.symbol + "\" ; pset:value " +
            Number(value) + " ]";
    first = false;
  }
  return text + " .\n";
}

// The preset's file inside the bundle: the stereo plugin's under the settings file's own name.
std::string PresetFile(const tessil::lv2::PluginIdentity& plugin, const Preset& preset) {
  return "presets/" + preset.symbol + (plugin.channels == 1 ? "-mono" : "") + ".ttl";
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
    std::vector<Preset> presets;
    for (int i = 3; i < argc; ++i) presets.push_back(ReadPreset(argv[i]));

    std::string manifest = kPrefixes;
    std::string plugins = std::string(kPrefixes) + kLoudnessUnits;
    std::filesystem::create_directories(bundle / "presets");
    for (const tessil::lv2::PluginIdentity& plugin : tessil::lv2::kPlugins) {
      manifest.append("<").append(plugin.uri).append(">\n    a lv2:Plugin ;\n    lv2:binary <").append(binary);
      manifest.append("> ;\n    rdfs:seeAlso <tessil.ttl> .\n\n");
      plugins += PluginDescription(plugin);
      for (const Preset& preset : presets) {
        manifest.append("<").append(plugin.presetUriPrefix).append(preset.symbol).append(">\n    a pset:Preset ;\n");
        manifest.append("    lv2:appliesTo <").append(plugin.uri).append("> ;\n    rdfs:seeAlso <");
        manifest.append(PresetFile(plugin, preset)).append("> .\n\n");
        Write(bundle / PresetFile(plugin, preset), PresetDescription(plugin, preset));
      }
    }
    Write(bundle / "manifest.ttl", manifest);
    Write(bundle / "tessil.ttl", plugins);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "tessil_lv2_bundle: %s\n", error.what());
    return 1;
  }
  return 0;
}
