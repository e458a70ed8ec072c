// The NAME[.CHANNEL[.BAND]]=VALUE settings that address the driver's properties by the host
// layer's names (eq-band-gain.0.3=6), alone or as lines of a settings file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/properties.h"

namespace tessil::cli {

using host::AddressForm;
using host::FindProperty;
using host::kEqualiserBands;
using host::kEqualiserChannels;
using host::KebabName;
using host::PropertyById;
using host::PropertyCatalogue;
using host::PropertyInfo;
using host::PropertyScope;
using host::PropertyTarget;
using host::PropertyUnit;
using host::UnitName;

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
