#include "core/analysis.h"

#include <math.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tessil {

// Taps 17 to 32 mirror taps 15 to 0.
const float kDecimationFir[kDecimationFirLength] = {
    0.0f,          -7.8019395e-05f, -0.0006118973f, -0.0019062082f, -0.003884617f,
    -0.0059408136f, -0.0069472524f, -0.0054470883f, 0.0f,           0.010398303f,
    0.025934426f,  0.045746207f,    0.06792362f,    0.08976643f,    0.10825626f,
    0.12064163f,   0.125f,          0.12064163f,    0.10825626f,    0.08976643f,
    0.06792362f,   0.045746207f,    0.025934426f,   0.010398303f,   0.0f,
    -0.0054470883f, -0.0069472524f, -0.0059408136f, -0.003884617f,  -0.0019062082f,
    -0.0006118973f, -7.8019395e-05f, 0.0f,
};

namespace {

#if defined(__SSE2__)
// MAXPS returns its second operand unless the first is greater, NaN included: max(m, e) is
// exactly `m > e ? m : e`.
float LargestMagnitude(const float* values, int32_t n, float peak) {
  const __m128 sign = _mm_set1_ps(-0.0f);
  __m128 largest = _mm_set1_ps(peak);
  int32_t j = 0;
  for (; j + 4 <= n; j += 4) {
    largest = _mm_max_ps(_mm_andnot_ps(sign, _mm_loadu_ps(values + j)), largest);
  }
  float lanes[4];
  _mm_storeu_ps(lanes, largest);
  for (int32_t lane = 0; lane < 4; ++lane) peak = lanes[lane] > peak ? lanes[lane] : peak;
  for (; j < n; ++j) {
    const float magnitude = fabsf(values[j]);
    peak = magnitude > peak ? magnitude : peak;
  }
  return peak;
}

// Selected by a comparison rather than MAXPS: under denormals-are-zero MAXPS would hand back a
// denormal envelope value as zero, where the comparison leaves it as it is.
void MergeMagnitudes(const float* values, float* envelope, int32_t n) {
  const __m128 sign = _mm_set1_ps(-0.0f);
  int32_t j = 0;
  for (; j + 4 <= n; j += 4) {
    const __m128 magnitude = _mm_andnot_ps(sign, _mm_loadu_ps(values + j));
    const __m128 current = _mm_loadu_ps(envelope + j);
    const __m128 larger = _mm_cmpgt_ps(magnitude, current);
    _mm_storeu_ps(envelope + j, _mm_or_ps(_mm_and_ps(larger, magnitude),
                                          _mm_andnot_ps(larger, current)));
  }
  for (; j < n; ++j) {
    const float magnitude = fabsf(values[j]);
    if (magnitude > envelope[j]) envelope[j] = magnitude;
  }
}
#else
float LargestMagnitude(const float* values, int32_t n, float peak) {
  for (int32_t j = 0; j < n; ++j) {
    const float magnitude = fabsf(values[j]);
    if (magnitude > peak) peak = magnitude;
  }
  return peak;
}

void MergeMagnitudes(const float* values, float* envelope, int32_t n) {
  for (int32_t j = 0; j < n; ++j) {
    const float magnitude = fabsf(values[j]);
    if (magnitude > envelope[j]) envelope[j] = magnitude;
  }
}
#endif

}  // namespace

void AnalyseFrame(CoreChannel* channel, float* input, float* envelope, int32_t n) {
  CoreChannelState* state = channel->state;
  const int32_t lookAhead = state->lookAhead;
  float* window = state->window;
  float* temporary = envelope + n + lookAhead;

  for (int32_t j = 0; j < lookAhead; ++j) temporary[j] = input[n - lookAhead + j];
  // Highest index first: the shift runs in place.
  for (int32_t i = n - lookAhead - 1; i >= 0; --i) input[i + lookAhead] = input[i];
  for (int32_t j = 0; j < lookAhead; ++j) input[j] = window[n + j];
  for (int32_t j = 0; j < n; ++j) window[j] = input[j];
  for (int32_t j = 0; j < lookAhead; ++j) window[n + j] = temporary[j];

  // The frame's energy is one running sum, in sample order; the peak is a maximum and does not
  // depend on the order (magnitudes are never -0, and a NaN never replaces the peak either way).
  float energy = 0.0f;
  for (int32_t j = 0; j < n; ++j) {
    // Scaled before squaring so the sum of squares arrives divided by 256.
    const float scaled = fabsf(input[j]) * 0.0625f;
    energy = scaled * scaled + energy;
  }
  state->framePeak = LargestMagnitude(input, n, state->framePeak);
  state->energy = energy;

  const int32_t span = n + lookAhead;
  if (state->channelIndex == 0.0f) {
    for (int32_t j = 0; j < span; ++j) envelope[j] = fabsf(window[j]);
  } else if (state->channelIndex == 1.0f) {
    MergeMagnitudes(window, envelope, span);
  }
}

namespace {

// The reference form: one output at a time straight from the ring.
void DecimateFrameOneByOne(CoreChannel* channel, const float* input, float* output, int32_t n) {
  CoreChannelState* state = channel->state;
  float* ring = state->ringBase;
  const int32_t ringLength = state->ringLength;
  const int32_t decimation = state->decimation;
  int32_t write = state->ringWrite;
  // The phase restarts with every frame; 240 is a whole number of periods, so it never drifts.
  int32_t phase = 0;
  for (int32_t j = 0; j < n; ++j) {
    ring[write] = input[j];
    phase += 1;
    if (phase == decimation) {
      float y = 0.0f;
      int32_t position = write;
      for (int32_t k = 0; k < kDecimationFirLength; ++k) {
        y = kDecimationFir[k] * ring[position] + y;
        position += 1;
        if (position == ringLength) position = 0;
      }
      output[j] = y;
      phase = 0;
    } else {
      output[j] = 0.0f;
    }
    write -= 1;
    if (write < 0) write = ringLength - 1;
  }
  state->ringWrite = write;
}

}  // namespace

namespace {

#if defined(__SSE2__)
constexpr int32_t kLanePhase = 8;

// Four decimated outputs j, j + 8, j + 16, j + 24 at once, one per lane, each summed over the taps
// in the same order as the one-output loop: y = h[k] x[j - k] + y for k = 0..32.
__m128 FourOutputs(const float* x, int32_t j) {
  __m128 y = _mm_setzero_ps();
  for (int32_t k = 0; k < kDecimationFirLength; ++k) {
    const __m128 samples = _mm_setr_ps(x[j - k], x[j + kLanePhase - k], x[j + 2 * kLanePhase - k],
                                       x[j + 3 * kLanePhase - k]);
    y = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(kDecimationFir[k]), samples), y);
  }
  return y;
}

void StoreFour(__m128 y, float* output, int32_t j) {
  float lanes[4];
  _mm_storeu_ps(lanes, y);
  for (int32_t lane = 0; lane < 4; ++lane) output[j + kLanePhase * lane] = lanes[lane];
}
#endif

}  // namespace

void DecimateFrame(CoreChannel* channel, const float* input, float* output, int32_t n) {
#if defined(__SSE2__)
  CoreChannelState* state = channel->state;
  constexpr int32_t kPast = kDecimationFirLength - 1;
  if (state->decimation == kLanePhase && state->ringLength == kDecimationFirLength &&
      n >= 4 * kLanePhase) {
    float* ring = state->ringBase;
    int32_t write = state->ringWrite;
    // The ring holds the last 33 samples, newest one place after `write`; lay the 32 before this
    // frame out in time order in front of its first 32 samples.
    float line[kPast + 4 * kLanePhase];
    for (int32_t m = 1; m <= kPast; ++m) {
      line[kPast - m] = ring[(write + m) % kDecimationFirLength];
    }
    for (int32_t t = 0; t < 4 * kLanePhase; ++t) line[kPast + t] = input[t];
    for (int32_t j = 0; j < n; ++j) output[j] = 0.0f;
    // The phase restarts with every frame; 240 is a whole number of periods, so it never drifts.
    int32_t j = kLanePhase - 1;
    StoreFour(FourOutputs(line + kPast, j), output, j);
    for (j += 4 * kLanePhase; j + 3 * kLanePhase < n; j += 4 * kLanePhase) {
      StoreFour(FourOutputs(input, j), output, j);
    }
    for (; j < n; j += kLanePhase) {
      float y = 0.0f;
      for (int32_t k = 0; k < kDecimationFirLength; ++k) y = kDecimationFir[k] * input[j - k] + y;
      output[j] = y;
    }
    for (int32_t t = 0; t < n; ++t) {
      ring[write] = input[t];
      write -= 1;
      if (write < 0) write = kDecimationFirLength - 1;
    }
    state->ringWrite = write;
    return;
  }
#endif
  DecimateFrameOneByOne(channel, input, output, n);
}

}  // namespace tessil
