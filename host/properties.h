// The driver's properties as a host sees them: names derived from the property ids
// (KSPROPERTY_TESSIL_EQ_BAND_GAIN is eq-band-gain), units, scope, accepted range and default from
// the driver's published facts, and settings sent as real kernel-streaming property requests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tessil/tessil.h"

namespace tessil::host {

enum class PropertyUnit { Switch, Decibels, Hundredths, Hertz, Order, Selector };
// Stream-wide, one per channel (eq-enable), or one per channel and band (eq-band-*).
enum class PropertyScope { Stream, Channel, Band };

inline constexpr uint32_t kEqualiserChannels = kTessilEqualiserChannels;
inline constexpr uint32_t kEqualiserBands = kTessilEqualiserBands;

struct PropertyInfo {
  uint32_t id;
  std::string name;
  PropertyUnit unit;
  PropertyScope scope;
  // In the property's own units. Values outside are refused, or stored clamped when `clamped`.
  int32_t minimum;
  int32_t maximum;
  int32_t defaultValue;
  bool clamped;
  std::string accepted;  // the range in words: "1 to 10", "12 dB or less (-999: silence)"
};

struct PropertyTarget {
  uint32_t channel = 0;
  uint32_t band = 0;
};

// All of them, in id order.
const std::vector<PropertyInfo>& PropertyCatalogue();
const PropertyInfo* FindProperty(std::string_view name);
const PropertyInfo& PropertyById(uint32_t id);
// "KSPROPERTY_TESSIL_EQ_BAND_GAIN" -> "eq-band-gain"
std::string KebabName(std::string_view identifier);
// "dB", "hundredths", ...
const char* UnitName(PropertyUnit unit);
// How the property is addressed: "eq-band-gain.CH.BAND".
std::string AddressForm(const PropertyInfo& property);
// Every channel and band the property exists for, channel by channel, bands in order.
std::vector<PropertyTarget> TargetsOf(const PropertyInfo& property);
// "" for stream-wide properties, ".1" for a channel, ".1.3" for a band.
std::string TargetSuffix(const PropertyInfo& property, PropertyTarget target);
// A value in the property's own units: signed for decibels, unsigned otherwise.
std::string PropertyValueText(const PropertyInfo& property, uint32_t value);
// "STATUS_INVALID_PARAMETER (0xC000000D)"
std::string StatusName(NTSTATUS status);

// Sends property requests to a manager. Neither call allocates, so a real-time thread may use
// them between blocks.
class PropertyClient {
 public:
  explicit PropertyClient(ITessilManager* manager) : manager_(manager) {}

  NTSTATUS Set(const PropertyInfo& property, PropertyTarget target, uint32_t value) const;
  NTSTATUS Get(const PropertyInfo& property, PropertyTarget target, uint32_t* value) const;

 private:
  ITessilManager* manager_;
};

}  // namespace tessil::host
