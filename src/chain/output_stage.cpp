#include "chain/output_stage.h"

#include <math.h>
#include <stddef.h>

#include "filters/result_codes.h"
#include "platform/relaxed.h"

namespace tessil {

// The curve is evaluated in single precision: magnitude scaling, the interpolation weight and the
// interpolation itself are float operations, and the stream's output depends on every bit of them.
float SoftClipAttenuation(float x) {
  const float magnitude = fabsf(x) * kSoftClipTableScale;
  constexpr int32_t kLast = kSoftClipTableEntries - 1;
  // Written so that a NaN also takes the last entry instead of reaching the integer conversion.
  if (!(magnitude < static_cast<float>(kLast))) return kSoftClipTable[kLast];
  const int32_t index = static_cast<int32_t>(magnitude);
  const float fraction = magnitude - static_cast<float>(index);
  return kSoftClipTable[index] + fraction * (kSoftClipTable[index + 1] - kSoftClipTable[index]);
}

int32_t OutputStageProcess(const OutputStage* stage, float* buffer, const float* drive,
                           int32_t stride, int32_t n) {
  if (LoadRelaxed(stage->enabled) == 0 || n <= 0) return kResultSuccess;
  for (int32_t i = 0; i < n; ++i) {
    const float x = drive[static_cast<ptrdiff_t>(i) * stride] * buffer[i];
    const float attenuation = SoftClipAttenuation(x);
    buffer[i] = x - x * attenuation;
  }
  return kResultSuccess;
}

int32_t OutputStageSetEnable(OutputStage* stage, int32_t enabled) {
  if (enabled != 0 && enabled != 1) return kResultBadSwitch;
  StoreRelaxed(stage->enabled, enabled);
  return kResultSuccess;
}

int32_t OutputStageGetEnable(const OutputStage* stage) { return LoadRelaxed(stage->enabled); }

int32_t OutputStageCopy(OutputStage* stage, const OutputStage* other) {
  return OutputStageSetEnable(stage, LoadRelaxed(other->enabled));
}

void OutputStageInit(OutputStage* stage) { StoreRelaxed(stage->enabled, 1); }

}  // namespace tessil
