// What every layer of the driver and every host builds on, stated once: the stream's block
// length, the chain's largest block and look-ahead, the rate sets, the equaliser's shape, and
// every property's id, unit, scope, range and initial value in the engine's own units. It depends
// on nothing, so the lowest layer includes it; hosts read it through tessil/tessil_facts.h, which
// also gives the ranges in the properties' integer units.
#pragma once

#include <stdint.h>

// The property ids of KSPROPSETID_Tessil.
typedef enum {
  KSPROPERTY_TESSIL_ENABLE = 0,                // ULONG 0/1
  KSPROPERTY_TESSIL_INPUT_GAIN = 1,            // LONG dB, -999 for silence
  KSPROPERTY_TESSIL_OUTPUT_GAIN = 2,           // LONG dB
  KSPROPERTY_TESSIL_BYPASS_GAIN = 3,           // LONG dB
  KSPROPERTY_TESSIL_CORE_ENABLE = 4,           // ULONG 0/1
  KSPROPERTY_TESSIL_CORE_LEVEL = 5,            // ULONG hundredths
  KSPROPERTY_TESSIL_HIGHPASS_ENABLE = 6,       // ULONG 0/1
  KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY = 7,    // ULONG Hz
  KSPROPERTY_TESSIL_HIGHPASS_ORDER = 8,        // ULONG
  KSPROPERTY_TESSIL_LOWPASS_ENABLE = 9,        // ULONG 0/1
  KSPROPERTY_TESSIL_LOWPASS_FREQUENCY = 10,    // ULONG Hz
  KSPROPERTY_TESSIL_LOWPASS_ORDER = 11,        // ULONG
  KSPROPERTY_TESSIL_OUTPUT_STAGE_ENABLE = 12,  // ULONG 0/1
  KSPROPERTY_TESSIL_EQ_ENABLE = 13,            // ULONG 0/1, TESSIL_CHANNEL_PROPERTY request
  KSPROPERTY_TESSIL_EQ_BAND_ENABLE = 14,       // ULONG 0/1, TESSIL_BAND_PROPERTY request
  KSPROPERTY_TESSIL_EQ_BAND_GAIN = 15,         // LONG dB, TESSIL_BAND_PROPERTY request
  KSPROPERTY_TESSIL_EQ_BAND_FREQUENCY = 16,    // ULONG Hz, TESSIL_BAND_PROPERTY request
  KSPROPERTY_TESSIL_EQ_BAND_Q = 17,            // ULONG hundredths, TESSIL_BAND_PROPERTY request
  KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT = 18,  // ULONG hundredths
  KSPROPERTY_TESSIL_CORE_WEIGHTING = 19,       // ULONG 0/1
} KSPROPERTY_TESSIL;

// How a property's value travels in a request.
typedef enum {
  TESSIL_UNIT_SWITCH,      // 0 off, 1 on
  TESSIL_UNIT_DECIBELS,    // whole decibels, signed
  TESSIL_UNIT_HUNDREDTHS,  // hundredths of the engine's value
  TESSIL_UNIT_HERTZ,
  TESSIL_UNIT_ORDER,       // filter order
  TESSIL_UNIT_SELECTOR,    // one of a few numbered choices
} TESSIL_PROPERTY_UNIT;

// What a request of the property addresses.
typedef enum {
  TESSIL_SCOPE_STREAM,   // a bare KSPROPERTY request
  TESSIL_SCOPE_CHANNEL,  // TESSIL_CHANNEL_PROPERTY, channel 0 or 1
  TESSIL_SCOPE_BAND,     // TESSIL_BAND_PROPERTY, channel 0 or 1, band 0 to 3
} TESSIL_PROPERTY_SCOPE;

namespace tessil {

// The chain works in frames of this many samples: the stream processor hands it one block of
// this length at a time, and the core analyses one frame of it at a time.
inline constexpr int32_t kBlockFrames = 240;
// The block pipeline also takes blocks of two, three or four frames.
inline constexpr int32_t kLargestBlockFrames = 4 * kBlockFrames;
// Host buffers of a whole number of blocks pass with no latency; from the first buffer that is
// not, the stream runs this many frames late for good, so that the chain sees whole blocks.
inline constexpr int32_t kShortBufferLatencyFrames = kBlockFrames - 1;
// While the master switch and the core are both on, the core's look-ahead delays the stream.
inline constexpr int32_t kLookAheadFrames = 22;

// Filter designs and core tables exist for these rates only. Init picks a set by the stream's
// rate: below the first bound the first set, below the second the second, otherwise the third.
inline constexpr int32_t kRateSetCount = 3;
inline constexpr uint32_t kRateSets[kRateSetCount] = {32000, 44100, 48000};
inline constexpr uint32_t kRateSetBounds[kRateSetCount - 1] = {37566, 46009};

inline constexpr int32_t kEqualiserChannels = 2;
inline constexpr int32_t kEqualiserBands = 4;

// The decibel value of a gain of exactly zero, both ways.
inline constexpr int32_t kSilenceDecibels = -999;

// An inclusive range of a setting in the engine's units.
struct SettingRange {
  float minimum;
  float maximum;
};

// Both high-pass and both low-pass blocks share one cut-off range and one order range.
inline constexpr SettingRange kFilterFrequencies = {20.0f, 20000.0f};
inline constexpr SettingRange kFilterOrders = {1.0f, 10.0f};
// The core's level, 10^-4.5 to 1.
inline constexpr SettingRange kCoreLevels = {3.1622778e-05f, 1.0f};

// One property in the engine's units: linear gains, hertz, orders, plain switches and choices.
// Values outside the range are refused, or stored as the nearest value inside when `clamped`.
// `initial` is what a new manager holds, for every channel and band.
struct SettingFacts {
  KSPROPERTY_TESSIL id;
  const char* identifier;  // the id's own name, "KSPROPERTY_TESSIL_CORE_LEVEL"
  TESSIL_PROPERTY_UNIT unit;
  TESSIL_PROPERTY_SCOPE scope;
  SettingRange range;
  float initial;
  bool clamped;
};

#define TESSIL_SETTING(id) KSPROPERTY_TESSIL_##id, "KSPROPERTY_TESSIL_" #id
// Every property, in id order.
inline constexpr SettingFacts kSettings[] = {
    {TESSIL_SETTING(ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_STREAM, {0, 1}, 1, false},
    {TESSIL_SETTING(INPUT_GAIN), TESSIL_UNIT_DECIBELS, TESSIL_SCOPE_STREAM, {0, 1}, 1, false},
    {TESSIL_SETTING(OUTPUT_GAIN), TESSIL_UNIT_DECIBELS, TESSIL_SCOPE_STREAM, {0, 4}, 1, false},
    {TESSIL_SETTING(BYPASS_GAIN), TESSIL_UNIT_DECIBELS, TESSIL_SCOPE_STREAM, {0, 4}, 1, false},
    {TESSIL_SETTING(CORE_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_STREAM, {0, 1}, 1, false},
    {TESSIL_SETTING(CORE_LEVEL), TESSIL_UNIT_HUNDREDTHS, TESSIL_SCOPE_STREAM, kCoreLevels, 0.5f,
     false},
    {TESSIL_SETTING(HIGHPASS_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_STREAM, {0, 1}, 1, false},
    {TESSIL_SETTING(HIGHPASS_FREQUENCY), TESSIL_UNIT_HERTZ, TESSIL_SCOPE_STREAM,
     kFilterFrequencies, 20, false},
    {TESSIL_SETTING(HIGHPASS_ORDER), TESSIL_UNIT_ORDER, TESSIL_SCOPE_STREAM, kFilterOrders, 2,
     false},
    {TESSIL_SETTING(LOWPASS_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_STREAM, {0, 1}, 1, false},
    {TESSIL_SETTING(LOWPASS_FREQUENCY), TESSIL_UNIT_HERTZ, TESSIL_SCOPE_STREAM,
     kFilterFrequencies, 20000, false},
    {TESSIL_SETTING(LOWPASS_ORDER), TESSIL_UNIT_ORDER, TESSIL_SCOPE_STREAM, kFilterOrders, 2,
     false},
    {TESSIL_SETTING(OUTPUT_STAGE_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_STREAM, {0, 1}, 1,
     false},
    {TESSIL_SETTING(EQ_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_CHANNEL, {0, 1}, 1, false},
    {TESSIL_SETTING(EQ_BAND_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_BAND, {0, 1}, 1, false},
    {TESSIL_SETTING(EQ_BAND_GAIN), TESSIL_UNIT_DECIBELS, TESSIL_SCOPE_BAND, {0.1f, 10}, 1, true},
    {TESSIL_SETTING(EQ_BAND_FREQUENCY), TESSIL_UNIT_HERTZ, TESSIL_SCOPE_BAND, {20, 20000}, 1000,
     true},
    {TESSIL_SETTING(EQ_BAND_Q), TESSIL_UNIT_HUNDREDTHS, TESSIL_SCOPE_BAND, {0.25f, 16}, 2, true},
    {TESSIL_SETTING(OUTPUT_STAGE_AMOUNT), TESSIL_UNIT_HUNDREDTHS, TESSIL_SCOPE_STREAM, {0, 1},
     0.2f, false},
    {TESSIL_SETTING(CORE_WEIGHTING), TESSIL_UNIT_SELECTOR, TESSIL_SCOPE_STREAM, {0, 1}, 1, false},
};
#undef TESSIL_SETTING

inline constexpr int32_t kPropertyCount = sizeof(kSettings) / sizeof(kSettings[0]);

constexpr bool SettingsInIdOrder() {
  for (int32_t i = 0; i < kPropertyCount; ++i) {
    if (static_cast<int32_t>(kSettings[i].id) != i) return false;
  }
  return true;
}
static_assert(SettingsInIdOrder(), "every layer looks a property's facts up by its id");
static_assert(kPropertyCount == KSPROPERTY_TESSIL_CORE_WEIGHTING + 1, "one row per id");

constexpr const SettingFacts& Setting(KSPROPERTY_TESSIL id) { return kSettings[id]; }

}  // namespace tessil
