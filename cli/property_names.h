// The driver's twenty properties as the command line names them: kebab-case names derived from
// the property ids (KSPROPERTY_TESSIL_EQ_BAND_GAIN is eq-band-gain), with the units and ranges
// the driver works in, and the NAME[.CHANNEL[.BAND]]=VALUE settings that address them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessil::cli {

enum class PropertyUnit { Switch, Decibels, Hundredths, Hertz, Order, Selector };
// Stream-wide, one per channel (eq-enable), or one per channel and band (eq-band-*).
enum class PropertyScope { Stream, Channel, Band };

inline constexpr uint32_t kEqualiserChannels = 2;
inline constexpr uint32_t kEqualiserBands = 4;

struct PropertyInfo {
  uint32_t id;
  std::string name;
  PropertyUnit unit;
  PropertyScope scope;
  // Values the driver accepts, in the property's own units; clamped ones are never refused.
  const char* accepted;
  bool clamped;
};

// All twenty, in id order.
const std::vector<PropertyInfo>& PropertyCatalogue();
const PropertyInfo* FindProperty(std::string_view name);
const PropertyInfo& PropertyById(uint32_t id);
// "KSPROPERTY_TESSIL_EQ_BAND_GAIN" -> "eq-band-gain"
std::string KebabName(std::string_view identifier);
// "dB", "hundredths", ...
const char* UnitName(PropertyUnit unit);
// How the property is written on the command line: "eq-band-gain.CH.BAND".
std::string AddressForm(const PropertyInfo& property);

struct PropertyTarget {
  uint32_t channel = 0;
  uint32_t band = 0;
};

// One NAME[.CHANNEL[.BAND]]=VALUE setting, resolved. A channel of "both" gives two targets.
struct PropertySetting {
  const PropertyInfo* property = nullptr;
  std::vector<PropertyTarget> targets;
  uint32_t value = 0;  // the 32-bit value as sent; negative values in two's complement
  std::string text;    // as the user wrote it, for messages
};

// Throws CliError naming the setting and what is wrong with it.
PropertySetting ParseSetting(std::string_view text);

// Longest line a settings file may hold.
inline constexpr size_t kSettingsLineLimit = 4096;

// NAME=VALUE lines of a preset file; blank lines and everything after a # are ignored.
// Errors name the file and line.
std::vector<PropertySetting> ReadSettingsFile(const std::string& path);

}  // namespace tessil::cli
