// Output stage: a fixed soft-clip curve after the equaliser and before the output gain.
//
// Each sample is multiplied by its drive (1.0..4.0) and then reduced by an attenuation fraction
// read from kSoftClipTable by magnitude: y = x - x * T(|x|). The curve is odd, rises almost
// linearly for small magnitudes, reaches 1.0 at 2.0 and stays near 1.0 up to 4.0; beyond 4.0 the
// last entry holds and y grows linearly again.
#pragma once

#include <stdint.h>

namespace tessil {

struct OutputStage {
  int32_t enabled;  // 0 or 1; read and written with LoadRelaxed/StoreRelaxed
};

// Attenuation fractions for the magnitudes 0, 1/32, ..., 4.0 (entry k belongs to k / 32).
inline constexpr int32_t kSoftClipTableEntries = 129;
extern const float kSoftClipTable[kSoftClipTableEntries];
inline constexpr float kSoftClipTableScale = 32.0f;  // table steps per unit of magnitude

// Entry k and entry k + 1 of kSoftClipTable side by side, so one load reads both ends of an
// interpolation interval.
struct SoftClipNeighbours {
  float pairs[kSoftClipTableEntries - 1][2];
};
extern const SoftClipNeighbours kSoftClipNeighbours;

// Linear interpolation in kSoftClipTable at |x|; the last entry for magnitudes of 4.0 and above.
float SoftClipAttenuation(float x);

// buffer[i] = x - x * SoftClipAttenuation(x) with x = drive * buffer[i], for n samples. The
// pipeline runs it only while the stage is enabled.
void OutputStageProcess(float* buffer, float drive, int32_t n);

int32_t OutputStageSetEnable(OutputStage* stage, int32_t enabled);  // 3 unless 0 or 1
int32_t OutputStageGetEnable(const OutputStage* stage);
int32_t OutputStageCopy(OutputStage* stage, const OutputStage* other);
void OutputStageInit(OutputStage* stage);

}  // namespace tessil
