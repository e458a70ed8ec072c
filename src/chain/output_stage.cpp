#include "chain/output_stage.h"

#include <emmintrin.h>
#include <math.h>

#include "filters/setting_store.h"

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

void OutputStageProcess(float* buffer, float drive, int32_t n) {
  // Four samples at a time, each with exactly the operations of SoftClipAttenuation; lanes past
  // the table (or NaN) take the last entry, as its test does.
  constexpr int32_t kLast = kSoftClipTableEntries - 1;
  const __m128 gain = _mm_set1_ps(drive);
  const __m128 sign = _mm_set1_ps(-0.0f);
  const __m128 scale = _mm_set1_ps(kSoftClipTableScale);
  const __m128 last = _mm_set1_ps(static_cast<float>(kLast));
  const __m128 lastEntry = _mm_set1_ps(kSoftClipTable[kLast]);
  const auto pair = [](int32_t index) {
    return _mm_castsi128_ps(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kSoftClipNeighbours.pairs[index])));
  };
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128 x = _mm_mul_ps(gain, _mm_loadu_ps(buffer + i));
    const __m128 magnitude = _mm_mul_ps(_mm_andnot_ps(sign, x), scale);
    const __m128 inside = _mm_cmplt_ps(magnitude, last);
    const __m128i index = _mm_cvttps_epi32(_mm_and_ps(inside, magnitude));
    const __m128 fraction = _mm_sub_ps(magnitude, _mm_cvtepi32_ps(index));
    int32_t at[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), index);
    // Pairs (low, high) of lanes 0 and 1, then of lanes 2 and 3.
    const __m128 first = _mm_movelh_ps(pair(at[0]), pair(at[1]));
    const __m128 second = _mm_movelh_ps(pair(at[2]), pair(at[3]));
    const __m128 low = _mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 high = _mm_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 curve = _mm_add_ps(low, _mm_mul_ps(fraction, _mm_sub_ps(high, low)));
    const __m128 attenuation =
        _mm_or_ps(_mm_and_ps(inside, curve), _mm_andnot_ps(inside, lastEntry));
    _mm_storeu_ps(buffer + i, _mm_sub_ps(x, _mm_mul_ps(x, attenuation)));
  }
  for (; i < n; ++i) {
    const float x = drive * buffer[i];
    buffer[i] = x - x * SoftClipAttenuation(x);
  }
}

int32_t OutputStageSetEnable(OutputStage* stage, int32_t enabled) {
  return StoreSwitch(stage->enabled, enabled);
}

int32_t OutputStageGetEnable(const OutputStage* stage) { return LoadRelaxed(stage->enabled); }

int32_t OutputStageCopy(OutputStage* stage, const OutputStage* other) {
  return OutputStageSetEnable(stage, LoadRelaxed(other->enabled));
}

void OutputStageInit(OutputStage* stage) {
  StoreRelaxed(stage->enabled, static_cast<int32_t>(
                                   Setting(KSPROPERTY_TESSIL_OUTPUT_STAGE_ENABLE).initial));
}

}  // namespace tessil
