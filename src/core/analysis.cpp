#include "core/analysis.h"

#include <emmintrin.h>
#include <math.h>

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

}  // namespace

void AnalyseFrames(CoreChannel* const channels[2], float* const inputs[2], float* envelope,
                   int32_t n) {
  for (int32_t c = 0; c < 2; ++c) {
    CoreChannelState* state = channels[c]->state;
    const int32_t lookAhead = state->lookAhead;
    float* window = state->window;
    float* input = inputs[c];
    // The window becomes the previous frame's newest lookAhead samples followed by this frame:
    // its first n samples are the frame delayed by lookAhead, the rest is its look-ahead.
    for (int32_t j = 0; j < lookAhead; ++j) window[j] = window[n + j];
    for (int32_t j = 0; j < n; ++j) window[lookAhead + j] = input[j];
    for (int32_t j = 0; j < n; ++j) input[j] = window[j];
  }

  // A frame's energy is one running sum, in sample order; the two channels' sums run side by
  // side, each hiding the other's latency. Samples are scaled before squaring so the sum of
  // squares arrives divided by 256.
  float energy[2] = {0.0f, 0.0f};
  for (int32_t j = 0; j < n; ++j) {
    for (int32_t c = 0; c < 2; ++c) {
      const float scaled = fabsf(inputs[c][j]) * 0.0625f;
      energy[c] = scaled * scaled + energy[c];
    }
  }

  // The peak is a maximum and does not depend on the order (magnitudes are never -0, and a NaN
  // never replaces the peak either way).
  for (int32_t c = 0; c < 2; ++c) {
    CoreChannelState* state = channels[c]->state;
    state->framePeak = LargestMagnitude(inputs[c], n, state->framePeak);
    state->energy = energy[c];
    const int32_t span = n + state->lookAhead;
    if (state->channelIndex == 0.0f) {
      for (int32_t j = 0; j < span; ++j) envelope[j] = fabsf(state->window[j]);
    } else if (state->channelIndex == 1.0f) {
      MergeMagnitudes(state->window, envelope, span);
    }
  }
}

namespace {

constexpr int32_t kPhases = kCoreDecimation;  // one decimated output per this many samples
constexpr int32_t kPast = kDecimationFirLength - 1;
static_assert(kBlockFrames % kPhases == 0 && kPast % kPhases == 0,
              "the phase restarts with every frame and the history fills whole periods");
constexpr int32_t kOutputs = kBlockFrames / kPhases;
constexpr int32_t kHistoryEntries = kPast / kPhases;
// Outputs are summed four at a time; the last group's spare lanes read zeros past the frame.
constexpr int32_t kGroupedOutputs = (kOutputs + 3) / 4 * 4;
constexpr int32_t kPlaneLength = kHistoryEntries + kGroupedOutputs;
static_assert(kPhases * kPlaneLength <= kDecimationWorkspaceFloats);

}  // namespace

void DecimateFrame(CoreChannel* channel, const float* input, float* output, float* workspace) {
  CoreChannelState* state = channel->state;
  float* ring = state->ringBase;
  const int32_t write = state->ringWrite;
  // Output m of the frame is y = h[k] x[8m + 7 - k] + y over k = 0..32, x counted from the frame's
  // first sample (negative: the ring, whose newest sample sits one place after `write`). Laid out
  // in eight planes, plane p holding the samples 8i + p - 32, the samples one tap reads for four
  // consecutive outputs lie side by side, so four outputs are summed at once, each in the order
  // of the one-output sum.
  float* planes = workspace;
  int32_t slot = write;
  for (int32_t t = kPast - 1; t >= 0; --t) {
    slot = slot == kDecimationFirLength - 1 ? 0 : slot + 1;
    planes[(t & (kPhases - 1)) * kPlaneLength + t / kPhases] = ring[slot];
  }
  for (int32_t q = 0; q < kOutputs; ++q) {
    for (int32_t p = 0; p < kPhases; ++p) {
      planes[p * kPlaneLength + kHistoryEntries + q] = input[kPhases * q + p];
    }
  }
  for (int32_t p = 0; p < kPhases; ++p) {
    for (int32_t q = kOutputs; q < kGroupedOutputs; ++q) {
      planes[p * kPlaneLength + kHistoryEntries + q] = 0.0f;
    }
  }
  for (int32_t j = 0; j < kBlockFrames; ++j) output[j] = 0.0f;
  for (int32_t first = 0; first < kOutputs; first += 4) {
    __m128 y = _mm_setzero_ps();
#pragma GCC unroll 33
    for (int32_t k = 0; k < kDecimationFirLength; ++k) {
      // Sample 8m + 7 - k is entry m + (7 - k) / 8 (rounded down) + 4 of plane (7 - k) mod 8.
      const int32_t back = kPhases - 1 - k;
      const int32_t plane = back & (kPhases - 1);
      const int32_t entry = first + (back - plane) / kPhases + kHistoryEntries;
      const __m128 samples = _mm_loadu_ps(planes + plane * kPlaneLength + entry);
      y = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(kDecimationFir[k]), samples), y);
    }
    float lanes[4];
    _mm_storeu_ps(lanes, y);
    for (int32_t lane = 0; lane < 4 && first + lane < kOutputs; ++lane) {
      output[kPhases * (first + lane) + kPhases - 1] = lanes[lane];
    }
  }
  // The ring ends holding the frame's last 33 samples, each where writing the whole frame one
  // sample at a time, backwards through the ring, would have left it.
  constexpr int32_t kSkipped = kBlockFrames - kDecimationFirLength;
  slot = (write + kDecimationFirLength - kSkipped % kDecimationFirLength) % kDecimationFirLength;
  for (int32_t t = kBlockFrames - kDecimationFirLength; t < kBlockFrames; ++t) {
    ring[slot] = input[t];
    slot = slot == 0 ? kDecimationFirLength - 1 : slot - 1;
  }
  state->ringWrite = slot;
}

}  // namespace tessil
