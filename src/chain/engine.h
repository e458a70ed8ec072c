// The effect chain of one stream: every processing block, the equaliser band storage, the
// engine-level settings and the state block that holds all per-rate memory. Operations answer
// with the result codes of filters/result_codes.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "chain/output_stage.h"
#include "core/core.h"
#include "filters/biquad.h"
#include "filters/equaliser.h"
#include "filters/filter_block.h"
#include "filters/result_codes.h"

namespace tessil {

// One piece of memory per processor, zero-filled once by its owner; per-rate set-ups bind every
// block to its own members and nothing else points into it.
struct EngineStateBlock {
  FilterStateBinding highPassLeftBinding;
  FilterStateBinding highPassRightBinding;
  float highPassLeftArea[kFilterAreaEntries];
  float highPassRightArea[kFilterAreaEntries];
  FilterStateBinding lowPassLeftBinding;
  FilterStateBinding lowPassRightBinding;
  float lowPassLeftArea[kFilterAreaEntries];
  float lowPassRightArea[kFilterAreaEntries];
  FilterStateBinding equaliserLeftBinding;
  FilterStateBinding equaliserRightBinding;
  float equaliserLeftArea[kEqualiserAreaEntries];
  float equaliserRightArea[kEqualiserAreaEntries];
  CoreRegion core;  // both core channel states, then both core sample buffers
};
// The kernel image's bindings depend on this layout, which it has with its 32-bit pointers: each
// FilterStateBinding is six words, each area holds exactly what its block lays out in it (71
// entries for order 10, 44 for four bands; four-byte ring entries), one after another. Builds
// with wider pointers have wider bindings.
static_assert(sizeof(void*) != 4 ||
              (offsetof(EngineStateBlock, highPassLeftArea) == 2 * 24 &&
               offsetof(EngineStateBlock, lowPassLeftBinding) == 2 * 24 + 2 * 71 * 4 &&
               offsetof(EngineStateBlock, equaliserLeftBinding) == 4 * 24 + 4 * 71 * 4 &&
               offsetof(EngineStateBlock, core) == 6 * 24 + 4 * 71 * 4 + 2 * 44 * 4));

struct EngineContext {
  HighPassBlock highPassLeft;
  HighPassBlock highPassRight;
  LowPassBlock lowPassLeft;
  LowPassBlock lowPassRight;
  EqualiserBlock equaliserLeft;
  EqualiserBlock equaliserRight;
  EqualiserBand bandsLeft[kEqualiserBands];
  EqualiserBand bandsRight[kEqualiserBands];
  LoudnessCore core;
  OutputStage outputStage;
  // The words below may be written by the control plane while a block runs: access them only
  // through LoadRelaxed/StoreRelaxed (the setters and getters do).
  int32_t enabled;
  float inputGain;
  float outputGain;
  float bypassGain;
  float outputStageAmount;
  EngineStateBlock* stateBlock;
};

// The pipeline's scratch area for blocks of up to `frames` frames: both analysis copies, then the
// core's scratch.
constexpr int32_t EngineScratchFloats(int32_t frames) { return 2 * frames + kCoreScratchFloats; }

uint32_t EngineContextSize();
uint32_t EngineStateBlockSize();

void EngineInit(EngineContext* context);
void EngineReset(EngineContext* context);
void EngineApplyDefaults(EngineContext* context);
int32_t EngineCopySettings(EngineContext* destination, const EngineContext* source);

int32_t EnginePrepare32000(EngineContext* context, EngineStateBlock* stateBlock);
int32_t EnginePrepare44100(EngineContext* context, EngineStateBlock* stateBlock);
int32_t EnginePrepare48000(EngineContext* context, EngineStateBlock* stateBlock);
void EngineBindRate(EngineContext* context, int32_t rate);


int32_t EngineSetEnable(EngineContext* context, int32_t value);
int32_t EngineGetEnable(const EngineContext* context);
int32_t EngineSetInputGain(EngineContext* context, float value);
float EngineGetInputGain(const EngineContext* context);
int32_t EngineSetOutputGain(EngineContext* context, float value);
float EngineGetOutputGain(const EngineContext* context);
int32_t EngineSetBypassGain(EngineContext* context, float value);
float EngineGetBypassGain(const EngineContext* context);
int32_t EngineSetOutputStageEnable(EngineContext* context, int32_t value);
int32_t EngineGetOutputStageEnable(const EngineContext* context);
int32_t EngineSetOutputStageAmount(EngineContext* context, float value);
float EngineGetOutputStageAmount(const EngineContext* context);

int32_t EngineSetHighPassEnable(EngineContext* context, int32_t value);
int32_t EngineGetHighPassEnable(const EngineContext* context);
int32_t EngineSetHighPassFrequency(EngineContext* context, int32_t hertz);
int32_t EngineGetHighPassFrequency(const EngineContext* context);
int32_t EngineSetHighPassOrder(EngineContext* context, int32_t order);
int32_t EngineGetHighPassOrder(const EngineContext* context);
int32_t EngineSetLowPassEnable(EngineContext* context, int32_t value);
int32_t EngineGetLowPassEnable(const EngineContext* context);
int32_t EngineSetLowPassFrequency(EngineContext* context, int32_t hertz);
int32_t EngineGetLowPassFrequency(const EngineContext* context);
int32_t EngineSetLowPassOrder(EngineContext* context, int32_t order);
int32_t EngineGetLowPassOrder(const EngineContext* context);

// Channel 0 is the left channel, 1 the right; callers keep the channel index within 0..1.
int32_t EngineSetEqEnable(EngineContext* context, uint32_t channel, int32_t value);
int32_t EngineGetEqEnable(const EngineContext* context, uint32_t channel);
int32_t EngineSetEqBandEnable(EngineContext* context, uint32_t channel, uint32_t band,
                              int32_t value);
int32_t EngineGetEqBandEnable(const EngineContext* context, uint32_t channel, uint32_t band);
int32_t EngineSetEqBandGain(EngineContext* context, uint32_t channel, uint32_t band, float gain);
float EngineGetEqBandGain(const EngineContext* context, uint32_t channel, uint32_t band);
int32_t EngineSetEqBandFrequency(EngineContext* context, uint32_t channel, uint32_t band,
                                 uint32_t hertz);
uint32_t EngineGetEqBandFrequency(const EngineContext* context, uint32_t channel, uint32_t band);
int32_t EngineSetEqBandQ(EngineContext* context, uint32_t channel, uint32_t band, float q);
float EngineGetEqBandQ(const EngineContext* context, uint32_t channel, uint32_t band);

int32_t EngineSetCoreEnable(EngineContext* context, int32_t value);
int32_t EngineGetCoreEnable(const EngineContext* context);
int32_t EngineSetCoreWeighting(EngineContext* context, int32_t value);
int32_t EngineGetCoreWeighting(const EngineContext* context);
int32_t EngineSetCoreLevel(EngineContext* context, float value);
float EngineGetCoreLevel(const EngineContext* context);

}  // namespace tessil
