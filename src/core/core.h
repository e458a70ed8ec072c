// Loudness-maximiser core: settings, per-channel state and the per-rate set-up.
//
// The core estimates the loudness of every 240-sample frame, moves a gain slowly towards a target
// derived from it and pulls the gain down ahead of peaks (22-sample look-ahead). Its working memory
// is a CoreRegion inside the engine state block; a channel is "bound" once a per-rate set-up has
// pointed it at its CoreChannelState.
//
// Concurrency: enabled, level, ceiling, weighting and the weighting's constants in the bound state
// (currentWeights, analysisGate, activityGate, smoothing, loudnessThreshold) may be written by the
// control plane while a block runs. Every access to those words goes through LoadRelaxed and
// StoreRelaxed, and the processing code reads them where it uses them, never caching them across
// frames. The pipeline writes bypassed before each block the same way.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "core/core_tables.h"
#include "facts/facts.h"
#include "filters/biquad.h"
#include "filters/result_codes.h"

namespace tessil {

inline constexpr int32_t kCoreDecimatorRingLength = 33;
// Room for the largest block the pipeline takes plus its look-ahead, as the state block lays it
// out; a frame uses the first 262 floats of it.
inline constexpr int32_t kCoreWindowLength = kLargestBlockFrames + kLookAheadFrames;
inline constexpr int32_t kCoreBufferFloats = kCoreDecimatorRingLength + kCoreWindowLength;
inline constexpr int32_t kCoreBandStateFloats = 2 * kCoreBandCount;
inline constexpr int32_t kCoreDecimation = 8;

// Scratch of CoreProcessBlock: gain curve (and, before it, the decimator's workspace and the
// weighted band values) at 0, step list (and raw band output) at 240, linked envelope (a frame and
// its look-ahead) at 480.
inline constexpr int32_t kCoreScratchCurve = 0;
inline constexpr int32_t kCoreScratchSteps = kBlockFrames;
inline constexpr int32_t kCoreScratchEnvelope = 2 * kBlockFrames;
inline constexpr int32_t kCoreScratchFloats =
    kCoreScratchEnvelope + kBlockFrames + kLookAheadFrames;

struct CoreSampleBuffer {
  float samples[kCoreBufferFloats];  // decimator ring (0..32), then the analysis window (33..)
};
static_assert(sizeof(CoreSampleBuffer) == 1015 * sizeof(float));

struct CoreChannelState {
  const float* lowBandCoefficients[kCoreLowBandCount];    // rows for RunSectionTDF2, bands 0..3
  const float* highBandCoefficients[kCoreHighBandCount];  // strided band-pass rows, 4..15
  int32_t bypassed;  // written by the pipeline before each block: 1 while the core is off
  float bandState[kCoreBandStateFloats];  // two state floats per analysis band, band 0 first
  float* window;                          // float 33 of the channel's CoreSampleBuffer
  float* ringBase;                        // decimator input ring, float 0 of the buffer
  int32_t ringWrite;                      // ring position of the next write
  const float* weightTable0;
  const float* weightTable1;
  // Which of the two weight tables the weighting selects (0 or 1). Kept as a 32-bit word rather
  // than a pointer so the weighting setter can switch it in one indivisible store while a frame
  // runs; CurrentWeights() turns it into the table.
  int32_t currentWeights;
  int32_t lookAhead;  // kLookAheadFrames, rewritten by the block driver every frame
  float lastStep;     // most recent downward gain step, never positive
  float gain;         // unramped gain of the gain stage
  float smoothing;    // per-sample approach coefficient towards the target
  float analysisGate;
  float activityGate;
  float increment;  // gain change per sample planned for the current frame
  float target;
  float channelIndex;  // 0.0 left, 1.0 right
  float framePeak;
  float previousGain;  // last value of the previous frame's (ramped) gain curve
  float energy;
  float loudnessThreshold;
  float highBandScale;
  float highBandGain;
  FlushRing flushRing;    // over bandState; items point at flushRingStorage
  int32_t flushRingStorage[kCoreBandStateFloats];
};

struct CoreChannel {
  int32_t weighting;  // 0 or 1
  float level;        // linear output level
  float ceiling;      // linear, scales the look-ahead limit; 1.0 from the defaults, which no
                      // setting changes
  CoreChannelState* state;  // null until a per-rate set-up binds it
};

struct LoudnessCore {
  int32_t enabled;
  CoreChannel left;
  CoreChannel right;
};

// The core's region of the engine state block.
struct CoreRegion {
  CoreChannelState stateLeft;
  CoreChannelState stateRight;
  CoreSampleBuffer bufferLeft;
  CoreSampleBuffer bufferRight;
};

// The band-weight table that the state's current weighting selects.
const float* CurrentWeights(const CoreChannelState* state);

int32_t CoreSetEnable(LoudnessCore* core, int32_t value);
int32_t CoreGetEnable(const LoudnessCore* core);
int32_t CoreSetWeighting(LoudnessCore* core, int32_t value);
int32_t CoreGetWeighting(const LoudnessCore* core);
int32_t CoreSetLevel(LoudnessCore* core, float value);
float CoreGetLevel(const LoudnessCore* core);

// First initialisation: both channels unbound with their defaults, core enabled.
void CoreInitUnbound(LoudnessCore* core);
// Defaults that keep the bindings; filter and gain state are left alone.
void CoreResetDefaults(LoudnessCore* core);
// Copies every setting through the setters; with source == destination it re-derives the
// weighting constants of bound channels.
void CoreApplySettings(LoudnessCore* destination, const LoudnessCore* source);

// Per-rate set-up: binds both channels to the region, loads the rate's tables and resets.
void CorePrepare32000(LoudnessCore* core, CoreRegion* region);
void CorePrepare44100(LoudnessCore* core, CoreRegion* region);
void CorePrepare48000(LoudnessCore* core, CoreRegion* region);

int32_t ChannelSetWeighting(CoreChannel* channel, int32_t value);
int32_t ChannelSetLevel(CoreChannel* channel, float value);
void ChannelDefaults(CoreChannel* channel);
int32_t ChannelApplySettings(CoreChannel* destination, const CoreChannel* source);
void ChannelUnbind(CoreChannel* channel);
void ChannelResetState(CoreChannel* channel);
void ChannelPrepare(CoreChannel* channel, CoreChannelState* state, CoreSampleBuffer* buffer,
                    const CoreRateTables* tables);

}  // namespace tessil
