// The property set as a host reaches it: requests built into request packets and handed to
// HandlePropertyRequest, values in the properties' integer units.
#include "module/property_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>
#include <utility>

#include "module/manager.h"
#include "module/units.h"
#include "platform/testing.h"
#include "support/host.h"

namespace tessil {
namespace {

using test_support::ManagerDeleter;
using test_support::ProcessorDeleter;
using test_support::Typed;

// Runs check.template operator()<id>() for the property whose id is `id`.
template <typename Check>
void ForProperty(KSPROPERTY_TESSIL id, Check check) {
  [&]<size_t... kIndex>(std::index_sequence<kIndex...>) {
    ((id == kPropertyIds[kIndex] ? check.template operator()<kPropertyIds[kIndex]>() : void()),
     ...);
  }(std::make_index_sequence<kPropertyCount>{});
}

// The engine's value of a property in one context.
template <KSPROPERTY_TESSIL kId>
auto EngineValue(const EngineContext* context, Address address) {
  return manager_detail::Call(Property<kId>::kGet, context, address);
}

class PropertySet : public ::testing::Test {
 protected:
  std::unique_ptr<ITessilManager, ManagerDeleter> manager_{CreateTessilManager()};

  // Sends one request; `value` is read for a set and receives the answer of a get.
  NTSTATUS Send(ULONG id, ULONG flags, LONG& value, ULONG channel = 0, ULONG band = 0,
                ULONG propertyBytes = 0, const GUID& set = KSPROPSETID_Tessil) {
    TESSIL_BAND_PROPERTY request{};
    request.Property.Set = set;
    request.Property.Id = id;
    request.Property.Flags = flags;
    request.Channel = channel;
    request.Band = band;
    if (propertyBytes == 0) {
      propertyBytes = id >= KSPROPERTY_TESSIL_EQ_BAND_ENABLE && id <= KSPROPERTY_TESSIL_EQ_BAND_Q
                          ? sizeof(TESSIL_BAND_PROPERTY)
                      : id == KSPROPERTY_TESSIL_EQ_ENABLE ? sizeof(TESSIL_CHANNEL_PROPERTY)
                                                          : sizeof(KSPROPERTY);
    }
    KSPROPERTY_REQUEST_PACKET packet;
    PIRP irp = BuildPropertyRequest(&packet, &request, propertyBytes, &value, sizeof value);
    irp->Tail.Overlay.DriverContext[3] = &marker_;
    const NTSTATUS status = manager_->HandlePropertyRequest(irp);
    EXPECT_EQ(irp->Tail.Overlay.DriverContext[3], &marker_);  // restored whatever happened
    return status;
  }
  NTSTATUS Set(ULONG id, LONG value, ULONG channel = 0, ULONG band = 0) {
    return Send(id, KSPROPERTY_TYPE_SET, value, channel, band);
  }
  LONG Get(ULONG id, ULONG channel = 0, ULONG band = 0) {
    LONG value = 12345;
    EXPECT_EQ(Send(id, KSPROPERTY_TYPE_GET, value, channel, band), STATUS_SUCCESS) << id;
    return value;
  }
  TessilManager* m() { return Typed(manager_.get()); }
  int marker_ = 0;
};

TEST(PropertyUnits, ConvertBetweenIntegerUnitsAndEngineValues) {
  EXPECT_EQ(LinearFromDecibels(-6), 0.5011872053146362f);
  EXPECT_EQ(LinearFromDecibels(-12), 0.25118863582611084f);
  EXPECT_EQ(LinearFromDecibels(-2), 0.7943282127380371f);
  EXPECT_EQ(LinearFromDecibels(6), 1.9952623844146729f);
  EXPECT_EQ(LinearFromDecibels(-999), 0.0f);
  EXPECT_EQ(LinearFromDecibels(0), 1.0f);
  EXPECT_EQ(DecibelsFromLinear(0.0f), -999);
  EXPECT_EQ(DecibelsFromLinear(0.5011872053146362f), -6);
  EXPECT_EQ(DecibelsFromLinear(1.9952623844146729f), 6);
  EXPECT_EQ(DecibelsFromLinear(1.0f), 0);
  EXPECT_EQ(DecibelsFromLinear(0.944f), -1);  // -0.5 dB rounds away from zero
  EXPECT_EQ(ToWholeHundredths(0.2f), 20u);
  EXPECT_EQ(ToWholeHundredths(0.35f), 35u);
  EXPECT_EQ(ToNearestHundredths(0.707f), 71u);
  EXPECT_EQ(ToNearestHundredths(0.35f), 35u);
  EXPECT_EQ(FromHundredths(35), 0.3499999940395355f);
  EXPECT_EQ(FromHundredths(70), 0.699999988079071f);
  EXPECT_EQ(FromHundredths(400), 4.0f);
  EXPECT_EQ(FromHundredths(-1), 42949672.95f);
}

TEST_F(PropertySet, DecibelGainsRoundTripAndKeepTheirRanges) {
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_INPUT_GAIN), 0);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_INPUT_GAIN, -6), STATUS_SUCCESS);
  float gain = 0.0f;
  ASSERT_EQ(m()->Get<KSPROPERTY_TESSIL_INPUT_GAIN>(&gain), STATUS_SUCCESS);
  EXPECT_NEAR(gain, 0.501187f, 1e-6f);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_INPUT_GAIN), -6);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_BYPASS_GAIN, -999), STATUS_SUCCESS);
  ASSERT_EQ(m()->Get<KSPROPERTY_TESSIL_BYPASS_GAIN>(&gain), STATUS_SUCCESS);
  EXPECT_EQ(gain, 0.0f);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_BYPASS_GAIN), -999);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_OUTPUT_GAIN, 13), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_OUTPUT_GAIN, 12), STATUS_SUCCESS);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_OUTPUT_GAIN), 12);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_INPUT_GAIN, 1), STATUS_INVALID_PARAMETER);
}

TEST_F(PropertySet, HundredthsForLevelAmountAndQuality) {
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT), 20);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT, 35), STATUS_SUCCESS);
  float value = 0.0f;
  ASSERT_EQ(m()->Get<KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT>(&value), STATUS_SUCCESS);
  EXPECT_EQ(value, 0.35f);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT, -1), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_CORE_LEVEL, 0), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_CORE_LEVEL, 1), STATUS_SUCCESS);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_CORE_LEVEL), 1);
  ASSERT_EQ(manager_->SetEqBandQ(1, 2, 0.707f), STATUS_SUCCESS);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_EQ_BAND_Q, 1, 2), 71);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_EQ_BAND_Q, 35, 0, 3), STATUS_SUCCESS);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_EQ_BAND_Q, 0, 3), 35);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_EQ_BAND_GAIN, 6, 1, 0), STATUS_SUCCESS);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_EQ_BAND_GAIN, 1, 0), 6);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_EQ_BAND_GAIN, 0, 0), 0);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_EQ_BAND_FREQUENCY, 10, 0, 1), STATUS_SUCCESS);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_EQ_BAND_FREQUENCY, 0, 1), 20);
}

TEST_F(PropertySet, SwitchesAndIntegers) {
  LONG value = 7;
  EXPECT_EQ(Send(KSPROPERTY_TESSIL_HIGHPASS_ENABLE, KSPROPERTY_TYPE_SET, value), STATUS_SUCCESS);
  EXPECT_EQ(value, 1);  // the handler writes the normalised switch back
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_ENABLE, 0), STATUS_SUCCESS);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_ENABLE), 0);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_ENABLE, 5), STATUS_SUCCESS);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_ENABLE), 1);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY, 19), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY, 80), STATUS_SUCCESS);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY), 80);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_LOWPASS_ORDER, 11), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_LOWPASS_ORDER, 10), STATUS_SUCCESS);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_LOWPASS_ORDER), 10);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_CORE_WEIGHTING, 2), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_CORE_WEIGHTING, 0), STATUS_SUCCESS);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_CORE_WEIGHTING), 0);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_EQ_ENABLE, 9, 1), STATUS_SUCCESS);  // any non-zero is on
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_EQ_ENABLE, 0, 0), STATUS_SUCCESS);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_EQ_ENABLE, 0), 0);
  EXPECT_EQ(Get(KSPROPERTY_TESSIL_EQ_ENABLE, 1), 1);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_EQ_ENABLE, 1, 2), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Set(KSPROPERTY_TESSIL_EQ_BAND_ENABLE, 0, 0, 4), STATUS_INVALID_PARAMETER);
}

TEST_F(PropertySet, RequestsThatAreNotOursOrAreMalformed) {
  LONG value = 0;
  const GUID other = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(Send(KSPROPERTY_TESSIL_ENABLE, KSPROPERTY_TYPE_GET, value, 0, 0, 0, other),
            STATUS_NOT_IMPLEMENTED);
  EXPECT_EQ(Send(20, KSPROPERTY_TYPE_GET, value), STATUS_NOT_IMPLEMENTED);
  EXPECT_EQ(Send(KSPROPERTY_TESSIL_ENABLE, KSPROPERTY_TYPE_GET, value, 0, 0, 0, GUID{}),
            STATUS_NOT_IMPLEMENTED);
  // A band request shorter than its 40 bytes is refused by the platform; its status passes.
  const NTSTATUS shortBand =
      Send(KSPROPERTY_TESSIL_EQ_BAND_GAIN, KSPROPERTY_TYPE_SET, value, 0, 0, 32);
  EXPECT_FALSE(NT_SUCCESS(shortBand));
  EXPECT_NE(shortBand, STATUS_NOT_IMPLEMENTED);
  // A property buffer too short to hold a request is never read here.
  KSPROPERTY_REQUEST_PACKET packet;
  KSPROPERTY property{};
  PIRP irp = BuildPropertyRequest(&packet, &property, 8, &value, sizeof value);
  EXPECT_EQ(manager_->HandlePropertyRequest(irp), STATUS_INVALID_BUFFER_SIZE);
  irp = BuildPropertyRequest(&packet, nullptr, 0, &value, sizeof value);
  EXPECT_EQ(manager_->HandlePropertyRequest(irp), STATUS_INVALID_BUFFER_SIZE);
  EXPECT_EQ(manager_->HandlePropertyRequest(nullptr), STATUS_INVALID_PARAMETER);
  // Not a property request at all.
  irp = BuildPropertyRequest(&packet, &property, sizeof property, &value, sizeof value);
  IoGetCurrentIrpStackLocation(irp)->MajorFunction = IRP_MJ_READ;
  EXPECT_EQ(manager_->HandlePropertyRequest(irp), STATUS_NOT_IMPLEMENTED);
  irp = BuildPropertyRequest(&packet, &property, sizeof property, &value, sizeof value);
  IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode = 0x12345;
  EXPECT_EQ(manager_->HandlePropertyRequest(irp), STATUS_NOT_IMPLEMENTED);
}

// Every handler reaches code that computes in floating point (a switch or an order redesigns
// filters), so every one saves first and passes a refused save on with nothing touched.
TEST_F(PropertySet, EveryHandlerPassesOnAFailedFloatingPointSave) {
  for (const TESSIL_PROPERTY_FACTS& facts : kTessilPropertyFacts) {
    const ULONG channel = facts.Scope == TESSIL_SCOPE_STREAM ? 0 : 1;
    const ULONG band = facts.Scope == TESSIL_SCOPE_BAND ? 2 : 0;
    const LONG changed = facts.Maximum != facts.Default ? facts.Maximum : facts.Minimum;
    for (const ULONG flags : {ULONG{KSPROPERTY_TYPE_SET}, ULONG{KSPROPERTY_TYPE_GET}}) {
      LONG value = changed;
      FailFloatingPointSaves(STATUS_ILLEGAL_FLOAT_CONTEXT);
      EXPECT_EQ(Send(facts.Id, flags, value, channel, band), STATUS_ILLEGAL_FLOAT_CONTEXT)
          << facts.Identifier;
      EXPECT_EQ(value, changed) << facts.Identifier;
    }
    EXPECT_EQ(Get(facts.Id, channel, band), facts.Default) << facts.Identifier;
  }
  EXPECT_EQ(OutstandingFloatingPointSaves(), 0u);
}

// Every property's facts, as hosts read them, are what every layer does: the engine accepts its
// range and refuses (or clamps to) what lies just beyond, a new manager answers the default
// through the property set, the ends of the published range are accepted and read back, one
// beyond them is refused or clamped, and what is accepted reaches the settings context and a live
// processor alike.
TEST_F(PropertySet, EveryPropertysFactsReachEveryLayer) {
  std::unique_ptr<IStreamProcessor, ProcessorDeleter> processor{manager_->CreateProcessor()};
  ASSERT_EQ(processor->Init(48000, 16, 2, 0), STATUS_SUCCESS);
  const EngineContext* live = nullptr;
  m()->ForEachProcessor([&](StreamProcessor* listed) { live = listed->Engine(); });
  ASSERT_NE(live, nullptr);
  for (const TESSIL_PROPERTY_FACTS& facts : kTessilPropertyFacts) {
    const SettingFacts& setting = Setting(facts.Id);
    SCOPED_TRACE(facts.Identifier);
    EXPECT_STREQ(facts.Identifier, setting.identifier);
    EXPECT_EQ(facts.Unit, setting.unit);
    EXPECT_EQ(facts.Scope, setting.scope);
    EXPECT_EQ(facts.Clamped != 0, setting.clamped);
    const Address address{facts.Scope == TESSIL_SCOPE_STREAM ? 0u : 1u,
                          facts.Scope == TESSIL_SCOPE_BAND ? 2u : 0u};

    ForProperty(facts.Id, [&]<KSPROPERTY_TESSIL kId>() {
      auto engine = std::make_unique<EngineContext>();
      EngineInit(engine.get());
      const auto set = [&](auto value) {
        return manager_detail::Call(Property<kId>::kSet, engine.get(), address, value);
      };
      EXPECT_EQ(EngineValue<kId>(engine.get(), address), setting.initial);
      using Engine = decltype(EngineValue<kId>(engine.get(), address));
      for (const float end : {setting.range.minimum, setting.range.maximum}) {
        EXPECT_EQ(set(static_cast<Engine>(end)), 0) << end;
        const Engine beyond =
            std::is_floating_point_v<Engine>
                ? static_cast<Engine>(std::nextafter(end, end == setting.range.minimum
                                                              ? -std::numeric_limits<float>::max()
                                                              : std::numeric_limits<float>::max()))
                : static_cast<Engine>(end == setting.range.minimum ? end - 1 : end + 1);
        EXPECT_EQ(set(beyond) == 0, setting.clamped) << end;
        EXPECT_EQ(EngineValue<kId>(engine.get(), address), static_cast<Engine>(end)) << end;
      }
    });

    EXPECT_EQ(Get(facts.Id, address.channel, address.band), facts.Default);
    const auto expectEveryoneAgrees = [&] {
      ForProperty(facts.Id, [&]<KSPROPERTY_TESSIL kId>() {
        EXPECT_EQ(EngineValue<kId>(live, address), EngineValue<kId>(m()->Settings(), address));
      });
    };
    for (const LONG end : {facts.Minimum, facts.Maximum}) {
      EXPECT_EQ(Set(facts.Id, end, address.channel, address.band), STATUS_SUCCESS) << end;
      EXPECT_EQ(Get(facts.Id, address.channel, address.band), end);
      expectEveryoneAgrees();
    }
    for (const LONG end : {facts.Minimum, facts.Maximum}) {
      const LONG beyond = end == facts.Minimum ? end - 1 : end + 1;
      const LONG before = Get(facts.Id, address.channel, address.band);
      const NTSTATUS status = Set(facts.Id, beyond, address.channel, address.band);
      if (facts.Unit == TESSIL_UNIT_SWITCH) {
        // Any non-zero value switches on.
        EXPECT_EQ(status, STATUS_SUCCESS);
        EXPECT_EQ(Get(facts.Id, address.channel, address.band), 1);
      } else if (facts.Clamped || end == kTessilSilenceDecibels) {
        EXPECT_EQ(status, STATUS_SUCCESS) << beyond;
        EXPECT_EQ(Get(facts.Id, address.channel, address.band), end) << beyond;
      } else {
        EXPECT_EQ(status, STATUS_INVALID_PARAMETER) << beyond;
        EXPECT_EQ(Get(facts.Id, address.channel, address.band), before) << beyond;
      }
      expectEveryoneAgrees();
    }
  }
}

TEST_F(PropertySet, ItemTableDescribesEveryPropertyOnce) {
  bool seen[kTessilPropertyCount] = {};
  for (const KSPROPERTY_ITEM& item : kTessilPropertyItems) {
    ASSERT_LT(item.PropertyId, kTessilPropertyCount);
    EXPECT_FALSE(seen[item.PropertyId]);
    seen[item.PropertyId] = true;
    EXPECT_EQ(item.MinData, 4u);
    EXPECT_EQ(item.GetPropertyHandler, item.SetPropertyHandler);
    const ULONG expected = item.PropertyId >= 14 && item.PropertyId <= 17 ? 40u
                           : item.PropertyId == 13                          ? 32u
                                                                            : 24u;
    EXPECT_EQ(item.MinProperty, expected) << item.PropertyId;
  }
  EXPECT_EQ(kTessilPropertySet.PropertiesCount, kTessilPropertyCount);
  EXPECT_TRUE(IsEqualGUID(*kTessilPropertySet.Set, KSPROPSETID_Tessil));
}

}  // namespace
}  // namespace tessil
