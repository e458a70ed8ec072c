// The property set as one table. A row says, for one property: how its requests carry the value
// (the handler kind), the engine operations behind it, and when a change may reach a processor
// in the middle of a block. Unit, scope, range and initial value are the property's facts
// (facts/facts.h). The manager's typed operations, the handlers and the item table are all
// produced from the rows: a new property is a row here and a row of facts.
#pragma once

#include "chain/engine.h"
#include "facts/facts.h"
#include "tessil/tessil.h"

namespace tessil {

// How a request's 32-bit value stands for the engine's value.
enum class Conversion {
  kSwitch,             // 0 or 1; a set reads any non-zero value as 1
  kDecibels,           // whole decibels of a linear gain (DecibelsFromLinear, LinearFromDecibels)
  kHundredths,         // hundredths of a level or an amount (ToWholeHundredths, FromHundredths)
  kNearestHundredths,  // hundredths of a quality factor (ToNearestHundredths, FromHundredths)
  kWhole,              // the engine's integer itself: hertz, orders, choices
};

// How a change reaches processors that may be in the middle of a block.
enum class Push {
  // A word the pipeline reads with relaxed loads where it uses it: written at any time.
  kAnyTime,
  // Redesigns coefficients or clears filter state: waits for each processor's processing mutex.
  kBetweenBlocks,
};

// id, conversion, engine setter, engine getter, push; in id order.
#define TESSIL_PROPERTIES(X)                                                                    \
  X(ENABLE, kSwitch, EngineSetEnable, EngineGetEnable, kAnyTime)                                \
  X(INPUT_GAIN, kDecibels, EngineSetInputGain, EngineGetInputGain, kAnyTime)                    \
  X(OUTPUT_GAIN, kDecibels, EngineSetOutputGain, EngineGetOutputGain, kAnyTime)                 \
  X(BYPASS_GAIN, kDecibels, EngineSetBypassGain, EngineGetBypassGain, kAnyTime)                 \
  X(CORE_ENABLE, kSwitch, EngineSetCoreEnable, EngineGetCoreEnable, kAnyTime)                   \
  X(CORE_LEVEL, kHundredths, EngineSetCoreLevel, EngineGetCoreLevel, kAnyTime)                  \
  X(HIGHPASS_ENABLE, kSwitch, EngineSetHighPassEnable, EngineGetHighPassEnable, kBetweenBlocks) \
  X(HIGHPASS_FREQUENCY, kWhole, EngineSetHighPassFrequency, EngineGetHighPassFrequency,         \
    kBetweenBlocks)                                                                             \
  X(HIGHPASS_ORDER, kWhole, EngineSetHighPassOrder, EngineGetHighPassOrder, kBetweenBlocks)     \
  X(LOWPASS_ENABLE, kSwitch, EngineSetLowPassEnable, EngineGetLowPassEnable, kBetweenBlocks)    \
  X(LOWPASS_FREQUENCY, kWhole, EngineSetLowPassFrequency, EngineGetLowPassFrequency,            \
    kBetweenBlocks)                                                                             \
  X(LOWPASS_ORDER, kWhole, EngineSetLowPassOrder, EngineGetLowPassOrder, kBetweenBlocks)        \
  X(OUTPUT_STAGE_ENABLE, kSwitch, EngineSetOutputStageEnable, EngineGetOutputStageEnable,       \
    kAnyTime)                                                                                   \
  X(EQ_ENABLE, kSwitch, EngineSetEqEnable, EngineGetEqEnable, kAnyTime)                         \
  X(EQ_BAND_ENABLE, kSwitch, EngineSetEqBandEnable, EngineGetEqBandEnable, kBetweenBlocks)      \
  X(EQ_BAND_GAIN, kDecibels, EngineSetEqBandGain, EngineGetEqBandGain, kBetweenBlocks)          \
  X(EQ_BAND_FREQUENCY, kWhole, EngineSetEqBandFrequency, EngineGetEqBandFrequency,              \
    kBetweenBlocks)                                                                             \
  X(EQ_BAND_Q, kNearestHundredths, EngineSetEqBandQ, EngineGetEqBandQ, kBetweenBlocks)          \
  X(OUTPUT_STAGE_AMOUNT, kHundredths, EngineSetOutputStageAmount, EngineGetOutputStageAmount,   \
    kAnyTime)                                                                                   \
  X(CORE_WEIGHTING, kWhole, EngineSetCoreWeighting, EngineGetCoreWeighting, kAnyTime)

template <KSPROPERTY_TESSIL kId>
struct Property;

#define TESSIL_PROPERTY_ROW(name, conversion, setter, getter, push) \
  template <>                                                       \
  struct Property<KSPROPERTY_TESSIL_##name> {                       \
    static constexpr Conversion kConversion = Conversion::conversion; \
    static constexpr auto kSet = setter;                            \
    static constexpr auto kGet = getter;                            \
    static constexpr Push kPush = Push::push;                       \
  };
TESSIL_PROPERTIES(TESSIL_PROPERTY_ROW)
#undef TESSIL_PROPERTY_ROW

#define TESSIL_PROPERTY_ID(name, ...) KSPROPERTY_TESSIL_##name,
inline constexpr KSPROPERTY_TESSIL kPropertyIds[] = {TESSIL_PROPERTIES(TESSIL_PROPERTY_ID)};
#undef TESSIL_PROPERTY_ID

constexpr bool PropertyIdsInOrder() {
  for (int32_t i = 0; i < kPropertyCount; ++i) {
    if (static_cast<int32_t>(kPropertyIds[i]) != i) return false;
  }
  return true;
}
static_assert(sizeof(kPropertyIds) / sizeof(kPropertyIds[0]) == kPropertyCount &&
                  PropertyIdsInOrder(),
              "one row per property, in id order, as the facts");

constexpr TESSIL_PROPERTY_SCOPE ScopeOf(KSPROPERTY_TESSIL id) { return Setting(id).scope; }

// The value the manager's typed operations take and give: BOOLEAN for switches, float for gains,
// levels and factors, ULONG for whole numbers.
template <Conversion kConversion>
struct ManagerValue {
  using Type = float;
};
template <>
struct ManagerValue<Conversion::kSwitch> {
  using Type = BOOLEAN;
};
template <>
struct ManagerValue<Conversion::kWhole> {
  using Type = ULONG;
};
template <KSPROPERTY_TESSIL kId>
using Value = typename ManagerValue<Property<kId>::kConversion>::Type;

// What a request of a per-channel property addresses; a stream-wide request addresses neither.
struct Address {
  ULONG channel;
  ULONG band;
};

}  // namespace tessil
