// Peaking equaliser of one channel: up to kEqualiserBands bands, each one transposed-direct-form-II
// section.
//
// Every band lifts or cuts a region around its centre by a linear gain and leaves DC and half the
// rate alone. Band values are clamped into range, never refused; a band is redesigned only when a
// value really changes, and every redesign clears the state of that band and of all later bands.
//
// The block's area holds, for B = bandCount bands:
//   [0, 7B)      one CascadeCoefficients set per band: order slot (2.0, or 0.0 to pass through),
//                a reserved word, then b0, -a1, b1, -a2, b2
//   [7B, 9B)     state s1, s2 per band
//   [9B, 11B)    flush-ring entries (four-byte distances to the state floats), one ring for
//                all bands
// kEqualiserBands bands need exactly kEqualiserAreaEntries four-byte entries.
//
// Results: 0 done, 1 value out of range (rate, NaN, band count), 3 switch not 0 or 1, 4 band
// index not below bandCount. A refusal changes nothing. UpdateBand, RedesignAll and Bind rewrite
// what Process reads and must not overlap it.
#pragma once

#include <stdint.h>

#include "facts/facts.h"
#include "filters/biquad.h"
#include "filters/result_codes.h"

namespace tessil {

struct EqualiserBand {
  int32_t enabled;     // 0: skipped by Process
  // Ranges and initial values are those of the band properties (facts/facts.h).
  float gain;          // linear gain at the centre
  uint32_t frequency;  // centre, Hz
  float q;
};

struct EqualiserBlock {
  int32_t enabled;  // the channel's switch, read by the pipeline; Process ignores it
  int32_t sampleRate;
  uint32_t bandCount;
  EqualiserBand* bands;         // owned by the engine context
  FilterStateBinding* binding;  // null until bound
  float* area;                  // kEqualiserAreaEntries entries, kept for rebinding
};

inline constexpr int32_t kEqualiserAreaEntries = 44;
inline constexpr int32_t kEqualiserBandEntries = 7;
static_assert(11 * kEqualiserBands == kEqualiserAreaEntries,
              "the bands must fill the block's area exactly");

// Pure design of one band's seven-float coefficient set, in double precision. Bands the setters
// admit always come out stable (see the bandwidth and rounding guards in the source).
void DesignPeakingBand(const EqualiserBand* band, int32_t sampleRate, float* coefficients);

void EqualiserInit(EqualiserBlock* block, EqualiserBand* bands);
void EqualiserReset(EqualiserBlock* block);

int32_t EqualiserSetEnabled(EqualiserBlock* block, int32_t enabled);
int32_t EqualiserGetEnabled(const EqualiserBlock* block);
int32_t EqualiserSetSampleRate(EqualiserBlock* block, int32_t sampleRate);

int32_t EqualiserSetBandEnabled(EqualiserBlock* block, uint32_t index, int32_t enabled);
// The gain and q setters refuse a NaN with 1; otherwise they clamp.
int32_t EqualiserSetBandGain(EqualiserBlock* block, uint32_t index, float gain);
int32_t EqualiserSetBandFrequency(EqualiserBlock* block, uint32_t index, uint32_t hertz);
int32_t EqualiserSetBandQ(EqualiserBlock* block, uint32_t index, float q);

// For an index not below bandCount the getters answer the bands' initial values.
int32_t EqualiserGetBandEnabled(const EqualiserBlock* block, uint32_t index);
float EqualiserGetBandGain(const EqualiserBlock* block, uint32_t index);
uint32_t EqualiserGetBandFrequency(const EqualiserBlock* block, uint32_t index);
float EqualiserGetBandQ(const EqualiserBlock* block, uint32_t index);

void EqualiserResetBand(EqualiserBlock* block, uint32_t index);
// Bands that come into use take their initial values; a count above kEqualiserBands, which the
// band array and the area cannot hold, is refused with 1.
int32_t EqualiserSetBandCount(EqualiserBlock* block, uint32_t count);
void EqualiserUpdateBand(EqualiserBlock* block, uint32_t index);
void EqualiserRedesignAll(EqualiserBlock* block);

void EqualiserBind(EqualiserBlock* block, FilterStateBinding* binding, float* area);
// Copies the switch, rate and band count, then the band values into the destination's own bands.
int32_t EqualiserCopyFrom(EqualiserBlock* destination, const EqualiserBlock* source);
// Runs every enabled band in index order, in place.
void EqualiserProcess(EqualiserBlock* block, float* buffer, int32_t count);

}  // namespace tessil
