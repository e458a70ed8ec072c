#include "cli/property_requests.h"

#include <cstdio>

#include "cli/errors.h"

namespace tessil::cli {

namespace {

// Stream-wide requests are a bare KSPROPERTY; per-channel and per-band ones extend it, and the
// band layout is a prefix-compatible superset of the channel layout.
ULONG RequestLength(PropertyScope scope) {
  switch (scope) {
    case PropertyScope::Stream: return sizeof(KSPROPERTY);
    case PropertyScope::Channel: return sizeof(TESSIL_CHANNEL_PROPERTY);
    case PropertyScope::Band: return sizeof(TESSIL_BAND_PROPERTY);
  }
  return sizeof(KSPROPERTY);
}

NTSTATUS SendRequest(ITessilManager* manager, const PropertyInfo& property, PropertyTarget target,
                     ULONG flags, ULONG* value) {
  TESSIL_BAND_PROPERTY request{};
  request.Property.Set = KSPROPSETID_Tessil;
  request.Property.Id = property.id;
  request.Property.Flags = flags;
  request.Channel = target.channel;
  request.Band = target.band;
  KSPROPERTY_REQUEST_PACKET packet;
  PIRP irp = BuildPropertyRequest(&packet, &request, RequestLength(property.scope), value,
                                  sizeof(*value));
  return manager->HandlePropertyRequest(irp);
}

std::string TargetSuffix(const PropertyInfo& property, PropertyTarget target) {
  switch (property.scope) {
    case PropertyScope::Stream: return "";
    case PropertyScope::Channel: return "." + std::to_string(target.channel);
    case PropertyScope::Band:
      return "." + std::to_string(target.channel) + "." + std::to_string(target.band);
  }
  return "";
}

std::string Accepted(const PropertyInfo& property) { return property.accepted; }

}  // namespace

std::string StatusName(NTSTATUS status) {
  const char* name = nullptr;
  switch (status) {
    case STATUS_SUCCESS: name = "STATUS_SUCCESS"; break;
    case STATUS_INVALID_PARAMETER: name = "STATUS_INVALID_PARAMETER"; break;
    case STATUS_NOT_IMPLEMENTED: name = "STATUS_NOT_IMPLEMENTED"; break;
    case STATUS_INVALID_BUFFER_SIZE: name = "STATUS_INVALID_BUFFER_SIZE"; break;
    case STATUS_BUFFER_TOO_SMALL: name = "STATUS_BUFFER_TOO_SMALL"; break;
    case STATUS_INVALID_DEVICE_REQUEST: name = "STATUS_INVALID_DEVICE_REQUEST"; break;
    default: break;
  }
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(status));
  return name != nullptr ? std::string(name) + " (" + code + ")" : std::string("status ") + code;
}

std::string PropertyValueText(const PropertyInfo& property, uint32_t value) {
  if (property.unit == PropertyUnit::Decibels) return std::to_string(static_cast<int32_t>(value));
  return std::to_string(value);
}

NTSTATUS PropertyClient::Set(const PropertyInfo& property, PropertyTarget target, uint32_t value) {
  ULONG buffer = value;
  return SendRequest(manager_, property, target, KSPROPERTY_TYPE_SET, &buffer);
}

NTSTATUS PropertyClient::Get(const PropertyInfo& property, PropertyTarget target, uint32_t* value) {
  ULONG buffer = 0;
  const NTSTATUS status = SendRequest(manager_, property, target, KSPROPERTY_TYPE_GET, &buffer);
  *value = buffer;
  return status;
}

uint32_t PropertyClient::Read(const PropertyInfo& property, PropertyTarget target) {
  uint32_t value = 0;
  const NTSTATUS status = Get(property, target, &value);
  if (!NT_SUCCESS(status)) {
    throw CliError(property.name + TargetSuffix(property, target) +
                   ": the driver did not answer the get request: " + StatusName(status));
  }
  return value;
}

void PropertyClient::Apply(const PropertySetting& setting) {
  const PropertyInfo& property = *setting.property;
  for (const PropertyTarget& target : setting.targets) {
    const NTSTATUS status = Set(property, target, setting.value);
    if (status == STATUS_INVALID_PARAMETER) {
      throw CliError(setting.text + ": refused by the driver: " + property.name + " accepts " +
                     Accepted(property));
    }
    if (!NT_SUCCESS(status)) {
      throw CliError(setting.text + ": refused by the driver: " + StatusName(status));
    }
    const uint32_t stored = Read(property, target);
    if (stored != setting.value) {
      std::fprintf(stderr, "tessil: note: %s: stored as %s%s = %s (%s accepts %s)\n",
                   setting.text.c_str(), property.name.c_str(),
                   TargetSuffix(property, target).c_str(),
                   PropertyValueText(property, stored).c_str(), property.name.c_str(),
                   Accepted(property).c_str());
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

ManagerHandle CreateConfiguredManager(const CommandLine& commandLine) {
  // Every setting is parsed before the driver sees any of them.
  const std::vector<PropertySetting> settings = CollectSettings(commandLine);
  ManagerHandle manager(CreateTessilManager());
  if (!manager) throw CliError("the driver could not create its manager (CreateTessilManager)");
  PropertyClient client(manager.get());
  for (const PropertySetting& setting : settings) client.Apply(setting);
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
          values += " " + PropertyValueText(property, client.Read(property, {channel, band}));
        }
      }
    }
    std::printf("%-26s %-11s %-31s %s\n", AddressForm(property).c_str(), UnitName(property.unit),
                property.accepted, values.c_str());
  }
  std::printf("\nCH is the channel: 0 (left), 1 (right), or both when setting; BAND is 0 to 3.\n"
              "Values per channel are listed as 0: ... 1: ..., per band in band order.\n");
  return 0;
}

}  // namespace tessil::cli
