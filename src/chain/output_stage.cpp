#include "chain/output_stage.h"

#include <math.h>
#include <stddef.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  if (LoadRelaxed(stage->enabled) == 0 || n <= 0) return 0;
  int32_t i = 0;
#if defined(__SSE2__)
  if (stride == 0) {
    // Four samples at a time, each with exactly the scalar operations above; the table is read
    // lane by lane. Lanes past the table (or NaN) take the last entry, as the scalar test does.
    constexpr int32_t kLast = kSoftClipTableEntries - 1;
    const __m128 gain = _mm_set1_ps(*drive);
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 scale = _mm_set1_ps(kSoftClipTableScale);
    const __m128 last = _mm_set1_ps(static_cast<float>(kLast));
    const __m128 lastEntry = _mm_set1_ps(kSoftClipTable[kLast]);
    for (; i + 4 <= n; i += 4) {
      const __m128 x = _mm_mul_ps(gain, _mm_loadu_ps(buffer + i));
      const __m128 magnitude = _mm_mul_ps(_mm_andnot_ps(sign, x), scale);
      const __m128 inside = _mm_cmplt_ps(magnitude, last);
      const __m128i index = _mm_cvttps_epi32(_mm_and_ps(inside, magnitude));
      const __m128 fraction = _mm_sub_ps(magnitude, _mm_cvtepi32_ps(index));
      int32_t at[4];
      _mm_storeu_si128(reinterpret_cast<__m128i*>(at), index);
      const __m128 low = _mm_setr_ps(kSoftClipTable[at[0]], kSoftClipTable[at[1]],
                                     kSoftClipTable[at[2]], kSoftClipTable[at[3]]);
      const __m128 high = _mm_setr_ps(kSoftClipTable[at[0] + 1], kSoftClipTable[at[1] + 1],
                                      kSoftClipTable[at[2] + 1], kSoftClipTable[at[3] + 1]);
      const __m128 curve = _mm_add_ps(low, _mm_mul_ps(fraction, _mm_sub_ps(high, low)));
      const __m128 attenuation =
          _mm_or_ps(_mm_and_ps(inside, curve), _mm_andnot_ps(inside, lastEntry));
      _mm_storeu_ps(buffer + i, _mm_sub_ps(x, _mm_mul_ps(x, attenuation)));
    }
  }
#endif
  for (; i < n; ++i) {
    const float x = drive[static_cast<ptrdiff_t>(i) * stride] * buffer[i];
    const float attenuation = SoftClipAttenuation(x);
    buffer[i] = x - x * attenuation;
  }
  return 0;
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
