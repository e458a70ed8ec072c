#include "core/analysis.h"

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

  float peak = state->framePeak;
  float energy = 0.0f;
  for (int32_t j = 0; j < n; ++j) {
    const float magnitude = fabsf(input[j]);
    if (magnitude > peak) peak = magnitude;
    // Scaled before squaring so the sum of squares arrives divided by 256.
    const float scaled = magnitude * 0.0625f;
    energy = scaled * scaled + energy;
  }
  state->framePeak = peak;
  state->energy = energy;

  const int32_t span = n + lookAhead;
  if (state->channelIndex == 0.0f) {
    for (int32_t j = 0; j < span; ++j) envelope[j] = fabsf(window[j]);
  } else if (state->channelIndex == 1.0f) {
    for (int32_t j = 0; j < span; ++j) {
      const float magnitude = fabsf(window[j]);
      if (magnitude > envelope[j]) envelope[j] = magnitude;
    }
  }
}

void DecimateFrame(CoreChannel* channel, const float* input, float* output, int32_t n) {
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

}  // namespace tessil
