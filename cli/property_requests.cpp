#include "cli/property_requests.h"

#include <cstdio>

#include "cli/errors.h"

namespace tessil::cli {

NTSTATUS PropertyClient::Set(const PropertyInfo& property, PropertyTarget target, uint32_t value) {
  return requests_.Set(property, target, value);
}

NTSTATUS PropertyClient::Get(const PropertyInfo& property, PropertyTarget target, uint32_t* value) {
  return requests_.Get(property, target, value);
}

uint32_t PropertyClient::Read(const PropertyInfo& property, PropertyTarget target) {
  uint32_t value = 0;
  const NTSTATUS status = Get(property, target, &value);
  if (!NT_SUCCESS(status)) {
    throw CliError(property.name + host::TargetSuffix(property, target) +
                   ": the driver did not answer the get request: " + StatusName(status));
  }
  return value;
}

void PropertyClient::Apply(const PropertySetting& setting, bool noteChanges) {
  const PropertyInfo& property = *setting.property;
  for (const PropertyTarget& target : setting.targets) {
    const NTSTATUS status = Set(property, target, setting.value);
    if (status == STATUS_INVALID_PARAMETER) {
      throw CliError(setting.text + ": refused by the driver: " + property.name + " accepts " +
                     property.accepted);
    }
    if (!NT_SUCCESS(status)) {
      throw CliError(setting.text + ": refused by the driver: " + StatusName(status));
    }
    const uint32_t stored = Read(property, target);
    if (noteChanges && stored != setting.value) {
      std::fprintf(stderr, "tessil: note: %s: stored as %s%s = %s (%s accepts %s)\n",
                   setting.text.c_str(), property.name.c_str(),
                   host::TargetSuffix(property, target).c_str(),
                   PropertyValueText(property, stored).c_str(), property.name.c_str(),
                   property.accepted.c_str());
    }
  }
}

std::vector<PropertySetting> CollectSettings(const CommandLine& commandLine) {
  std::vector<PropertySetting> settings;
  for (const std::string& path : commandLine.settingsFiles) {
    for (PropertySetting& setting : ReadSettingsFile(path)) settings.push_back(std::move(setting));
  }
  for (const std::string& text : commandLine.settings) settings.push_back(ParseSetting(text));
  return settings;
}

ManagerHandle CreateConfiguredManager(const CommandLine& commandLine, bool noteChanges) {
  // Every setting is parsed before the driver sees any of them.
  const std::vector<PropertySetting> settings = CollectSettings(commandLine);
  ManagerHandle manager = host::CreateManager();
  if (!manager) throw CliError("the driver could not create its manager (CreateTessilManager)");
  PropertyClient client(manager.get());
  for (const PropertySetting& setting : settings) client.Apply(setting, noteChanges);
  return manager;
}

int RunProperties(const CommandLine& commandLine) {
  ManagerHandle manager = CreateConfiguredManager(commandLine);
  PropertyClient client(manager.get());
  std::printf("%-26s %-11s %-31s %s\n", "property", "unit", "accepted", "value");
  for (const PropertyInfo& property : PropertyCatalogue()) {
    std::string values;
    if (property.scope == PropertyScope::Stream) {
      values = PropertyValueText(property, client.Read(property));
    } else {
      for (uint32_t channel = 0; channel < kEqualiserChannels; ++channel) {
        if (channel > 0) values += "  ";
        values += std::to_string(channel) + ":";
        const uint32_t bands = property.scope == PropertyScope::Band ? kEqualiserBands : 1;
        for (uint32_t band = 0; band < bands; ++band) {
          values.append(" ").append(PropertyValueText(property, client.Read(property, {channel, band})));
        }
      }
    }
    std::printf("%-26s %-11s %-31s %s\n", AddressForm(property).c_str(), UnitName(property.unit),
                property.accepted.c_str(), values.c_str());
  }
  std::printf("\nCH is the channel: 0 (left), 1 (right), or both when setting; BAND is 0 to 3.\n"
              "Values per channel are listed as 0: ... 1: ..., per band in band order.\n");
  // Figures from scripts/core-level-loudness.sh; measured, so they are words, not a promise.
  std::printf(
      "\nThe core level (core-level) sets how loud the core makes the output. Its slow gain steers the\n"
      "driver's own loudness estimate towards a level in proportion to core-level: doubling it raises\n"
      "the output by about 6 dB, and the input's own level hardly matters. The integrated loudness\n"
      "that comes out depends on the material (other settings at their defaults):\n"
      "  core-level   music (demo clip)   pink noise   pulsed pink noise\n"
      "          10        -29 LUFS        -24 LUFS        -27 LUFS\n"
      "          25        -21 LUFS        -16 LUFS        -19 LUFS\n"
      "          50        -15 LUFS        -10 LUFS        -13 LUFS    (the default)\n"
      "          75        -12 LUFS         -7 LUFS        -10 LUFS\n"
      "         100         -9 LUFS         -5 LUFS         -8 LUFS\n"
      "For a loudness in LUFS, 'tessil render --target LUFS' searches the core level that gives it.\n"
      "Above the default, true peaks can pass 0 dBTP; '--ceiling -1' keeps them below.\n");
  return 0;
}

}  // namespace tessil::cli
