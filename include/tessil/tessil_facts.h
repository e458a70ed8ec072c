// What a host needs to know about Tessil's streams and properties without asking: the stream
// processor's block length and latencies, the rate sets, and every property's unit, scope,
// accepted range and default. The driver builds on these same numbers, so a host that reads them
// here cannot drift from it.
#pragma once

#include "tessil/tessil_properties.h"

// The processor runs the effect in blocks of this many frames. Buffers of a whole number of
// blocks pass with no latency; from the first buffer that is not, the stream runs
// kTessilShortBufferLatencyFrames late for good.
inline constexpr ULONG kTessilBlockFrames = 240;
inline constexpr ULONG kTessilShortBufferLatencyFrames = kTessilBlockFrames - 1;
// While the master switch and the core are both on, the core's look-ahead delays the stream.
inline constexpr ULONG kTessilLookAheadFrames = 22;

// Process clamps its output to full scale and writes at most this magnitude for a stream of
// `bits` bits per sample (1 to 32): 2^(bits-1) - 1, the largest integer of the stream's depth.
// A float holds 24 significant bits, so from 26 bits on that integer would round up to
// 2^(bits-1) and a host's integer conversion would wrap it to the most negative value: those
// depths take the largest float below 2^(bits-1) instead, and 32 bits keep a wider margin of 4096.
constexpr long long TessilOutputScale(ULONG bits) {
  const long long half = 1LL << (bits - 1);
  if (bits == 32) return half - 1 - 4096;
  if (bits >= 26) return half - (1LL << (bits - 25));
  return half - 1;
}

// Filter designs and core tables exist for these rates only. Init picks a set by the stream's
// rate: below the first bound the first set, below the second the second, otherwise the third.
inline constexpr ULONG kTessilRateSetCount = 3;
inline constexpr ULONG kTessilRateSets[kTessilRateSetCount] = {32000, 44100, 48000};
inline constexpr ULONG kTessilRateSetBounds[kTessilRateSetCount - 1] = {37566, 46009};

inline constexpr ULONG kTessilEqualiserChannels = 2;
inline constexpr ULONG kTessilEqualiserBands = 4;
// The decibel value of a gain of exactly zero, both ways.
inline constexpr LONG kTessilSilenceDecibels = -999;

typedef enum {
  TESSIL_UNIT_SWITCH,      // 0 off, 1 on
  TESSIL_UNIT_DECIBELS,    // whole decibels, signed
  TESSIL_UNIT_HUNDREDTHS,  // hundredths of the engine's value
  TESSIL_UNIT_HERTZ,
  TESSIL_UNIT_ORDER,       // filter order
  TESSIL_UNIT_SELECTOR,    // one of a few numbered choices
} TESSIL_PROPERTY_UNIT;

typedef enum {
  TESSIL_SCOPE_STREAM,   // a bare KSPROPERTY request
  TESSIL_SCOPE_CHANNEL,  // TESSIL_CHANNEL_PROPERTY, channel 0 or 1
  TESSIL_SCOPE_BAND,     // TESSIL_BAND_PROPERTY, channel 0 or 1, band 0 to 3
} TESSIL_PROPERTY_SCOPE;

// One property as a host sees it. Values are in the property's own units, as they travel in
// requests. The manager refuses values outside [Minimum, Maximum] unless Clamped, in which case
// it stores the nearest value inside. Switches read any non-zero value as on. Decibel gains that go down to kTessilSilenceDecibels
// accept every value below their maximum; the ones under about -900 dB all store silence.
typedef struct {
  KSPROPERTY_TESSIL Id;
  const char* Identifier;  // the id's own name, "KSPROPERTY_TESSIL_CORE_LEVEL"
  TESSIL_PROPERTY_UNIT Unit;
  TESSIL_PROPERTY_SCOPE Scope;
  LONG Minimum;
  LONG Maximum;
  LONG Default;  // what a new manager answers, for every channel and band
  BOOLEAN Clamped;
} TESSIL_PROPERTY_FACTS;

#define TESSIL_FACTS_ID(id) id, #id
// Every property, in id order.
inline constexpr TESSIL_PROPERTY_FACTS kTessilPropertyFacts[] = {
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_STREAM, 0, 1, 1, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_INPUT_GAIN), TESSIL_UNIT_DECIBELS, TESSIL_SCOPE_STREAM, kTessilSilenceDecibels, 0, 0, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_OUTPUT_GAIN), TESSIL_UNIT_DECIBELS, TESSIL_SCOPE_STREAM, kTessilSilenceDecibels, 12, 0, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_BYPASS_GAIN), TESSIL_UNIT_DECIBELS, TESSIL_SCOPE_STREAM, kTessilSilenceDecibels, 12, 0, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_CORE_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_STREAM, 0, 1, 1, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_CORE_LEVEL), TESSIL_UNIT_HUNDREDTHS, TESSIL_SCOPE_STREAM, 1, 100, 50, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_HIGHPASS_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_STREAM, 0, 1, 1, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY), TESSIL_UNIT_HERTZ, TESSIL_SCOPE_STREAM, 20, 20000, 20, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_HIGHPASS_ORDER), TESSIL_UNIT_ORDER, TESSIL_SCOPE_STREAM, 1, 10, 2, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_LOWPASS_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_STREAM, 0, 1, 1, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_LOWPASS_FREQUENCY), TESSIL_UNIT_HERTZ, TESSIL_SCOPE_STREAM, 20, 20000, 20000, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_LOWPASS_ORDER), TESSIL_UNIT_ORDER, TESSIL_SCOPE_STREAM, 1, 10, 2, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_OUTPUT_STAGE_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_STREAM, 0, 1, 1, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_EQ_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_CHANNEL, 0, 1, 1, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_EQ_BAND_ENABLE), TESSIL_UNIT_SWITCH, TESSIL_SCOPE_BAND, 0, 1, 1, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_EQ_BAND_GAIN), TESSIL_UNIT_DECIBELS, TESSIL_SCOPE_BAND, -20, 20, 0, 1},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_EQ_BAND_FREQUENCY), TESSIL_UNIT_HERTZ, TESSIL_SCOPE_BAND, 20, 20000, 1000, 1},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_EQ_BAND_Q), TESSIL_UNIT_HUNDREDTHS, TESSIL_SCOPE_BAND, 25, 1600, 200, 1},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT), TESSIL_UNIT_HUNDREDTHS, TESSIL_SCOPE_STREAM, 0, 100, 20, 0},
    {TESSIL_FACTS_ID(KSPROPERTY_TESSIL_CORE_WEIGHTING), TESSIL_UNIT_SELECTOR, TESSIL_SCOPE_STREAM, 0, 1, 1, 0},
};
#undef TESSIL_FACTS_ID

inline constexpr ULONG kTessilPropertyCount = sizeof(kTessilPropertyFacts) / sizeof(kTessilPropertyFacts[0]);

constexpr bool TessilPropertyFactsInIdOrder() {
  for (ULONG i = 0; i < kTessilPropertyCount; ++i) {
    if (static_cast<ULONG>(kTessilPropertyFacts[i].Id) != i) return false;
  }
  return true;
}
static_assert(kTessilPropertyCount == KSPROPERTY_TESSIL_CORE_WEIGHTING + 1);
static_assert(TessilPropertyFactsInIdOrder(), "hosts index the facts by property id");
