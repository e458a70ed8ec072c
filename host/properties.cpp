#include "host/properties.h"

#include <cctype>
#include <cstdio>

namespace tessil::host {

namespace {

constexpr std::string_view kIdentifierPrefix = "KSPROPERTY_TESSIL_";

PropertyUnit UnitOf(TESSIL_PROPERTY_UNIT unit) {
  switch (unit) {
    case TESSIL_UNIT_SWITCH: return PropertyUnit::Switch;
    case TESSIL_UNIT_DECIBELS: return PropertyUnit::Decibels;
    case TESSIL_UNIT_HUNDREDTHS: return PropertyUnit::Hundredths;
    case TESSIL_UNIT_HERTZ: return PropertyUnit::Hertz;
    case TESSIL_UNIT_ORDER: return PropertyUnit::Order;
    case TESSIL_UNIT_SELECTOR: return PropertyUnit::Selector;
  }
  return PropertyUnit::Selector;
}

PropertyScope ScopeOf(TESSIL_PROPERTY_SCOPE scope) {
  switch (scope) {
    case TESSIL_SCOPE_STREAM: return PropertyScope::Stream;
    case TESSIL_SCOPE_CHANNEL: return PropertyScope::Channel;
    case TESSIL_SCOPE_BAND: return PropertyScope::Band;
  }
  return PropertyScope::Stream;
}

std::string AcceptedText(const PropertyInfo& property) {
  if (property.unit == PropertyUnit::Switch || property.unit == PropertyUnit::Selector) {
    return std::to_string(property.minimum) + " or " + std::to_string(property.maximum);
  }
  const std::string unit = property.unit == PropertyUnit::Order ? "" : std::string(" ") + UnitName(property.unit);
  std::string text;
  if (property.minimum == kTessilSilenceDecibels) {
    text = std::to_string(property.maximum) + unit + " or less (" +
           std::to_string(kTessilSilenceDecibels) + ": silence)";
  } else {
    text = std::to_string(property.minimum) + " to " + std::to_string(property.maximum) + unit;
  }
  return property.clamped ? text + ", clamped" : text;
}

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

}  // namespace

std::string KebabName(std::string_view identifier) {
  if (identifier.substr(0, kIdentifierPrefix.size()) == kIdentifierPrefix) {
    identifier.remove_prefix(kIdentifierPrefix.size());
  }
  std::string name;
  for (const char c : identifier) {
    name += c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

const std::vector<PropertyInfo>& PropertyCatalogue() {
  static const std::vector<PropertyInfo> catalogue = [] {
    std::vector<PropertyInfo> rows;
    for (const TESSIL_PROPERTY_FACTS& facts : kTessilPropertyFacts) {
      PropertyInfo row{static_cast<uint32_t>(facts.Id), KebabName(facts.Identifier),
                       UnitOf(facts.Unit), ScopeOf(facts.Scope), facts.Minimum, facts.Maximum,
                       facts.Default, facts.Clamped != 0, {}};
      row.accepted = AcceptedText(row);
      rows.push_back(std::move(row));
    }
    return rows;
  }();
  return catalogue;
}

const PropertyInfo* FindProperty(std::string_view name) {
  for (const PropertyInfo& property : PropertyCatalogue()) {
    if (property.name == name) return &property;
  }
  return nullptr;
}

const PropertyInfo& PropertyById(uint32_t id) {
  // The published facts are in id order, without gaps.
  return PropertyCatalogue().at(id);
}

const char* UnitName(PropertyUnit unit) {
  switch (unit) {
    case PropertyUnit::Switch: return "switch";
    case PropertyUnit::Decibels: return "dB";
    case PropertyUnit::Hundredths: return "hundredths";
    case PropertyUnit::Hertz: return "Hz";
    case PropertyUnit::Order: return "order";
    case PropertyUnit::Selector: return "selector";
  }
  return "";
}

std::string AddressForm(const PropertyInfo& property) {
  switch (property.scope) {
    case PropertyScope::Stream: return property.name;
    case PropertyScope::Channel: return property.name + ".CH";
    case PropertyScope::Band: return property.name + ".CH.BAND";
  }
  return property.name;
}

std::vector<PropertyTarget> TargetsOf(const PropertyInfo& property) {
  if (property.scope == PropertyScope::Stream) return {PropertyTarget{}};
  const uint32_t bands = property.scope == PropertyScope::Band ? kEqualiserBands : 1;
  std::vector<PropertyTarget> targets;
  for (uint32_t channel = 0; channel < kEqualiserChannels; ++channel) {
    for (uint32_t band = 0; band < bands; ++band) targets.push_back({channel, band});
  }
  return targets;
}

std::string TargetSuffix(const PropertyInfo& property, PropertyTarget target) {
  switch (property.scope) {
    case PropertyScope::Stream: return "";
    // Appending to a named string rather than prepending a literal to a temporary keeps g++ 12
    // at -O3 clear of a false -Wrestrict in the string's replace.
    case PropertyScope::Channel: return std::string(".").append(std::to_string(target.channel));
    case PropertyScope::Band:
      return std::string(".")
          .append(std::to_string(target.channel))
          .append(".")
          .append(std::to_string(target.band));
  }
  return "";
}

std::string PropertyValueText(const PropertyInfo& property, uint32_t value) {
  if (property.unit == PropertyUnit::Decibels) return std::to_string(static_cast<int32_t>(value));
  return std::to_string(value);
}

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

NTSTATUS PropertyClient::Set(const PropertyInfo& property, PropertyTarget target,
                             uint32_t value) const {
  ULONG buffer = value;
  return SendRequest(manager_, property, target, KSPROPERTY_TYPE_SET, &buffer);
}

NTSTATUS PropertyClient::Get(const PropertyInfo& property, PropertyTarget target,
                             uint32_t* value) const {
  ULONG buffer = 0;
  const NTSTATUS status = SendRequest(manager_, property, target, KSPROPERTY_TYPE_GET, &buffer);
  *value = buffer;
  return status;
}

}  // namespace tessil::host
