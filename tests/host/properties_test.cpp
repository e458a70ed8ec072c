// The host layer's view of the properties against what the driver actually does with requests.
#include "host/properties.h"

#include <gtest/gtest.h>

#include "host/handles.h"

namespace tessil::host {
namespace {

TEST(HostProperties, PublishedRangesAndDefaultsAreWhatTheDriverDoes) {
  ASSERT_EQ(PropertyCatalogue().size(), 20u);
  for (const PropertyInfo& property : PropertyCatalogue()) {
    SCOPED_TRACE(property.name);
    for (const PropertyTarget target : TargetsOf(property)) {
      SCOPED_TRACE(TargetSuffix(property, target));
      ManagerHandle manager = CreateManager();
      ASSERT_TRUE(manager);
      const PropertyClient client(manager.get());
      uint32_t value = 0;
      ASSERT_EQ(client.Get(property, target, &value), STATUS_SUCCESS);
      EXPECT_EQ(static_cast<int32_t>(value), property.defaultValue);

      for (const int32_t edge : {property.minimum, property.maximum}) {
        ASSERT_EQ(client.Set(property, target, static_cast<uint32_t>(edge)), STATUS_SUCCESS);
        ASSERT_EQ(client.Get(property, target, &value), STATUS_SUCCESS);
        EXPECT_EQ(static_cast<int32_t>(value), edge);
      }
      const NTSTATUS above = client.Set(property, target, static_cast<uint32_t>(property.maximum + 1));
      if (property.clamped) {
        EXPECT_EQ(above, STATUS_SUCCESS);
        ASSERT_EQ(client.Get(property, target, &value), STATUS_SUCCESS);
        EXPECT_EQ(static_cast<int32_t>(value), property.maximum);
        ASSERT_EQ(client.Set(property, target, static_cast<uint32_t>(property.minimum - 1)), STATUS_SUCCESS);
        ASSERT_EQ(client.Get(property, target, &value), STATUS_SUCCESS);
        EXPECT_EQ(static_cast<int32_t>(value), property.minimum);
      } else if (property.unit == PropertyUnit::Switch) {
        // Requests carry switches as BOOLEAN-like words: any non-zero value is on.
        EXPECT_EQ(above, STATUS_SUCCESS);
        ASSERT_EQ(client.Get(property, target, &value), STATUS_SUCCESS);
        EXPECT_EQ(value, 1u);
      } else {
        EXPECT_EQ(above, STATUS_INVALID_PARAMETER);
        if (property.minimum != kTessilSilenceDecibels) {
          EXPECT_EQ(client.Set(property, target, static_cast<uint32_t>(property.minimum - 1)),
                    STATUS_INVALID_PARAMETER);
        }
      }
    }
  }
}

TEST(HostProperties, NamesAddressesAndAcceptedText) {
  const PropertyInfo* gain = FindProperty("eq-band-gain");
  ASSERT_NE(gain, nullptr);
  EXPECT_EQ(gain->id, static_cast<uint32_t>(KSPROPERTY_TESSIL_EQ_BAND_GAIN));
  EXPECT_EQ(AddressForm(*gain), "eq-band-gain.CH.BAND");
  EXPECT_EQ(gain->accepted, "-20 to 20 dB, clamped");
  EXPECT_EQ(TargetsOf(*gain).size(), 8u);
  EXPECT_EQ(TargetSuffix(*gain, {1, 3}), ".1.3");
  EXPECT_EQ(PropertyValueText(*gain, static_cast<uint32_t>(-6)), "-6");
  EXPECT_EQ(PropertyById(KSPROPERTY_TESSIL_OUTPUT_GAIN).accepted, "12 dB or less (-999: silence)");
  EXPECT_EQ(PropertyById(KSPROPERTY_TESSIL_HIGHPASS_ORDER).accepted, "1 to 10");
  EXPECT_EQ(FindProperty("eq-band"), nullptr);
  EXPECT_EQ(StatusName(STATUS_INVALID_PARAMETER), "STATUS_INVALID_PARAMETER (0xC000000D)");
}

}  // namespace
}  // namespace tessil::host
