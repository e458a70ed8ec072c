// Read-only tables of the loudness-maximiser core: the per-rate analysis filters and band weights,
// and the reciprocals that stand in for divisions by small counts.
#pragma once

#include <stdint.h>

namespace tessil {

inline constexpr int32_t kCoreLowBandCount = 4;    // full-rate sections, analysis bands 0 to 3
inline constexpr int32_t kCoreHighBandCount = 12;  // strided band-pass sections, bands 4 to 15
inline constexpr int32_t kCoreBandCount = kCoreLowBandCount + kCoreHighBandCount;

// One sample rate's set, in the order the set-up reads it.
struct CoreRateTables {
  float lowBand[kCoreLowBandCount][5];    // b0, -a1, b1, -a2, b2 (RunSectionTDF2 order)
  float highBand[kCoreHighBandCount][3];  // c0, c1, c2 of c0 (1 - z^-2) / (1 - c1 z^-1 - c2 z^-2)
  float weights0[kCoreBandCount];         // band weights for weighting 0
  float weights1[kCoreBandCount];         // band weights for weighting 1
  float highBandScale;                    // the strided bands see 1/8 of the samples of a frame
};

extern const CoreRateTables kCoreTables32000;
extern const CoreRateTables kCoreTables44100;
extern const CoreRateTables kCoreTables48000;

// Entry n-1 holds 1/n in single precision, n = 1..256.
inline constexpr int32_t kReciprocalCount = 256;
extern const float kReciprocals[kReciprocalCount];

}  // namespace tessil
