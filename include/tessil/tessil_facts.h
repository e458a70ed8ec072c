// What a host needs to know about Tessil's streams and properties without asking: the stream
// processor's block length and latencies, the rate sets, and every property's unit, scope,
// accepted range and default in the property's own integer units. The driver builds on the same
// facts (facts/facts.h), so a host that reads them here cannot drift from it.
#pragma once

#include "tessil/tessil_properties.h"

// The processor runs the effect in blocks of this many frames. Buffers of a whole number of
// blocks pass with no latency; from the first buffer that is not, the stream runs
// kTessilShortBufferLatencyFrames late for good.
inline constexpr ULONG kTessilBlockFrames = tessil::kBlockFrames;
inline constexpr ULONG kTessilShortBufferLatencyFrames = tessil::kShortBufferLatencyFrames;
// While the master switch and the core are both on, the core's look-ahead delays the stream.
inline constexpr ULONG kTessilLookAheadFrames = tessil::kLookAheadFrames;

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
inline constexpr ULONG kTessilRateSetCount = tessil::kRateSetCount;
static_assert(kTessilRateSetCount == 3, "one element below per rate set");
inline constexpr ULONG kTessilRateSets[kTessilRateSetCount] = {
    tessil::kRateSets[0], tessil::kRateSets[1], tessil::kRateSets[2]};
inline constexpr ULONG kTessilRateSetBounds[kTessilRateSetCount - 1] = {
    tessil::kRateSetBounds[0], tessil::kRateSetBounds[1]};

inline constexpr ULONG kTessilEqualiserChannels = tessil::kEqualiserChannels;
inline constexpr ULONG kTessilEqualiserBands = tessil::kEqualiserBands;
// The decibel value of a gain of exactly zero, both ways.
inline constexpr LONG kTessilSilenceDecibels = tessil::kSilenceDecibels;

// One property as a host sees it. Values are in the property's own units, as they travel in
// requests. The manager refuses values outside [Minimum, Maximum] unless Clamped, in which case
// it stores the nearest value inside. Switches read any non-zero value as on. Decibel gains that
// go down to kTessilSilenceDecibels accept every value below their maximum; the ones under about
// -900 dB all store silence.
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

inline constexpr ULONG kTessilPropertyCount = tessil::kPropertyCount;

namespace tessil::published {

// The natural logarithm in double precision, for the table below only: 2 atanh((m - 1)/(m + 1))
// of the mantissa m in [1, 2), plus the exponent's share.
constexpr double Logarithm(double x) {
  int exponent = 0;
  while (x >= 2.0) {
    x /= 2.0;
    ++exponent;
  }
  while (x < 1.0) {
    x *= 2.0;
    --exponent;
  }
  const double z = (x - 1.0) / (x + 1.0), z2 = z * z;
  double term = z, sum = 0.0;
  for (int k = 1; k < 60; k += 2) {
    sum += term / k;
    term *= z2;
  }
  return 2.0 * sum + exponent * 0.69314718055994530942;
}

constexpr LONG Floor(double x) {
  const LONG whole = static_cast<LONG>(x);
  return whole > x ? whole - 1 : whole;
}
constexpr LONG Ceiling(double x) { return -Floor(-x); }
constexpr LONG Nearest(double x) { return Floor(x + 0.5); }

// A value of the engine's units in the property's units: the unit's conversion of an end of a
// range, as a request finds it. A refused range ends at the last whole value whose conversion
// lies inside; a clamped one where the clamping starts; a decibel range that starts at a gain of
// 0 starts at the silence value.
enum class End { kLower, kUpper, kInitial };
constexpr LONG Published(const SettingFacts& setting, float value, End end) {
  double units = value;
  if (setting.unit == TESSIL_UNIT_DECIBELS) {
    if (value == 0.0f) return kSilenceDecibels;
    units = 20.0 * Logarithm(value) / Logarithm(10.0);
  } else if (setting.unit == TESSIL_UNIT_HUNDREDTHS) {
    units = 100.0 * value;
  }
  // Conversions in double land within a hair of whole values they equal exactly.
  constexpr double kHair = 1e-9;
  if (end == End::kInitial || setting.clamped) return Nearest(units);
  return end == End::kLower ? Ceiling(units - kHair) : Floor(units + kHair);
}

struct FactsTable {
  TESSIL_PROPERTY_FACTS rows[kPropertyCount];
};

constexpr FactsTable Table() {
  FactsTable table{};
  for (int32_t i = 0; i < kPropertyCount; ++i) {
    const SettingFacts& setting = kSettings[i];
    table.rows[i] = {setting.id,
                     setting.identifier,
                     setting.unit,
                     setting.scope,
                     Published(setting, setting.range.minimum, End::kLower),
                     Published(setting, setting.range.maximum, End::kUpper),
                     Published(setting, setting.initial, End::kInitial),
                     static_cast<BOOLEAN>(setting.clamped ? 1 : 0)};
  }
  return table;
}

inline constexpr FactsTable kTable = Table();

}  // namespace tessil::published

// Every property, in id order: hosts index the facts by property id.
inline constexpr const TESSIL_PROPERTY_FACTS (&kTessilPropertyFacts)[kTessilPropertyCount] =
    tessil::published::kTable.rows;
