#include "core/core.h"

#include "filters/setting_store.h"

namespace tessil {

namespace {

// The tuning that a weighting writes into a bound state. The target-gain knee that also depends
// on the weighting is chosen by the loudness estimate itself at every frame.
struct WeightingConstants {
  float gate;  // both the analysis gate and the activity gate
  float smoothing;
  float loudnessThreshold;
};

constexpr WeightingConstants kWeightingConstants[2] = {
    {7.5e-05f, 5e-06f, 0.15f},
    {5.8e-05f, 4e-06f, 0.1f},
};

constexpr float kDefaultCeiling = 1.0f;
constexpr float kHighBandGain = 32.0f;
constexpr float kInitialIncrement = 0.0001f;
// A channel starts at weighting 0; the engine's defaults then choose the property's initial one.
constexpr int32_t kChannelWeighting = 0;
constexpr SettingFacts kLevel = Setting(KSPROPERTY_TESSIL_CORE_LEVEL);
constexpr SettingFacts kWeighting = Setting(KSPROPERTY_TESSIL_CORE_WEIGHTING);
static_assert(kWeighting.range.minimum == 0 && kWeighting.range.maximum == 1,
              "one set of constants (and one weight table per rate) for each weighting");
constexpr int32_t kInitialEnable =
    static_cast<int32_t>(Setting(KSPROPERTY_TESSIL_CORE_ENABLE).initial);

// The store order is the one a concurrently running frame may observe part-way: table first,
// then the gates, the smoothing and the threshold.
void WriteWeightingConstants(CoreChannelState* state, int32_t weighting) {
  const WeightingConstants& constants = kWeightingConstants[weighting];
  StoreRelaxed(state->currentWeights, weighting);
  StoreRelaxed(state->analysisGate, constants.gate);
  StoreRelaxed(state->activityGate, constants.gate);
  StoreRelaxed(state->smoothing, constants.smoothing);
  StoreRelaxed(state->loudnessThreshold, constants.loudnessThreshold);
}

void CorePrepare(LoudnessCore* core, CoreRegion* region, const CoreRateTables* tables) {
  ChannelPrepare(&core->left, &region->stateLeft, &region->bufferLeft, tables);
  ChannelPrepare(&core->right, &region->stateRight, &region->bufferRight, tables);
  CoreApplySettings(core, core);
}

}  // namespace

const float* CurrentWeights(const CoreChannelState* state) {
  return LoadRelaxed(state->currentWeights) == 0 ? state->weightTable0 : state->weightTable1;
}

int32_t ChannelSetWeighting(CoreChannel* channel, int32_t value) {
  if (value < kWeighting.range.minimum || value > kWeighting.range.maximum) {
    return kResultBadSwitch;
  }
  StoreRelaxed(channel->weighting, value);
  if (channel->state != nullptr) WriteWeightingConstants(channel->state, value);
  return kResultSuccess;
}

int32_t ChannelSetLevel(CoreChannel* channel, float value) {
  return StoreInRange(channel->level, value, kLevel.range);
}

void ChannelDefaults(CoreChannel* channel) {
  StoreRelaxed(channel->level, kLevel.initial);
  StoreRelaxed(channel->ceiling, kDefaultCeiling);
  StoreRelaxed(channel->weighting, kChannelWeighting);
  if (channel->state != nullptr) WriteWeightingConstants(channel->state, kChannelWeighting);
}

int32_t ChannelApplySettings(CoreChannel* destination, const CoreChannel* source) {
  ChannelSetLevel(destination, LoadRelaxed(source->level));
  StoreRelaxed(destination->ceiling, LoadRelaxed(source->ceiling));
  return ChannelSetWeighting(destination, LoadRelaxed(source->weighting));
}

void ChannelUnbind(CoreChannel* channel) {
  channel->state = nullptr;
  ChannelDefaults(channel);
}

void ChannelResetState(CoreChannel* channel) {
  CoreChannelState* state = channel->state;
  for (int32_t band = 0; band < kCoreBandCount; ++band) {
    ZeroFill(&state->bandState[2 * band], 2 * sizeof(float));
  }
  state->gain = 1.0f;
  state->target = LoadRelaxed(channel->level);
  state->increment = kInitialIncrement;
  state->channelIndex = 0.0f;
  state->framePeak = 0.0f;
  state->lastStep = 0.0f;
  state->previousGain = 1.0f;
  ZeroFill(state->window, kCoreWindowLength * sizeof(float));
  WriteWeightingConstants(state, LoadRelaxed(channel->weighting));
  state->flushRing.items = state->flushRingStorage;
  state->flushRing.cursor = 0;
  state->flushRing.length = 0;
  AppendFlushRingRange(&state->flushRing, state->bandState, kCoreBandStateFloats);
}

void ChannelPrepare(CoreChannel* channel, CoreChannelState* state, CoreSampleBuffer* buffer,
                    const CoreRateTables* tables) {
  channel->state = state;
  for (int32_t band = 0; band < kCoreLowBandCount; ++band) {
    state->lowBandCoefficients[band] = tables->lowBand[band];
  }
  for (int32_t band = 0; band < kCoreHighBandCount; ++band) {
    state->highBandCoefficients[band] = tables->highBand[band];
  }
  state->weightTable0 = tables->weights0;
  state->weightTable1 = tables->weights1;
  state->highBandScale = tables->highBandScale;
  state->highBandGain = kHighBandGain;
  state->ringBase = buffer->samples;
  state->ringWrite = 0;
  state->window = buffer->samples + kCoreDecimatorRingLength;
  ZeroFill(buffer->samples, sizeof buffer->samples);
  ChannelResetState(channel);
  ChannelApplySettings(channel, channel);
}

int32_t CoreSetEnable(LoudnessCore* core, int32_t value) {
  return StoreSwitch(core->enabled, value);
}

int32_t CoreGetEnable(const LoudnessCore* core) { return LoadRelaxed(core->enabled); }

int32_t CoreSetWeighting(LoudnessCore* core, int32_t value) {
  // Both channels are always attempted, so a pair never ends up half set by one call.
  const int32_t left = ChannelSetWeighting(&core->left, value);
  const int32_t right = ChannelSetWeighting(&core->right, value);
  return left == kResultSuccess && right == kResultSuccess ? kResultSuccess : kResultOutOfRange;
}

int32_t CoreGetWeighting(const LoudnessCore* core) { return LoadRelaxed(core->left.weighting); }

int32_t CoreSetLevel(LoudnessCore* core, float value) {
  const int32_t left = ChannelSetLevel(&core->left, value);
  const int32_t right = ChannelSetLevel(&core->right, value);
  return left == kResultSuccess && right == kResultSuccess ? kResultSuccess : kResultOutOfRange;
}

float CoreGetLevel(const LoudnessCore* core) { return LoadRelaxed(core->left.level); }

void CoreInitUnbound(LoudnessCore* core) {
  ChannelUnbind(&core->left);
  ChannelUnbind(&core->right);
  StoreRelaxed(core->enabled, kInitialEnable);
}

void CoreResetDefaults(LoudnessCore* core) {
  ChannelDefaults(&core->left);
  ChannelDefaults(&core->right);
  StoreRelaxed(core->enabled, kInitialEnable);
}

void CoreApplySettings(LoudnessCore* destination, const LoudnessCore* source) {
  ChannelApplySettings(&destination->left, &source->left);
  ChannelApplySettings(&destination->right, &source->right);
  CoreSetEnable(destination, LoadRelaxed(source->enabled));
}

void CorePrepare32000(LoudnessCore* core, CoreRegion* region) {
  CorePrepare(core, region, &kCoreTables32000);
}

void CorePrepare44100(LoudnessCore* core, CoreRegion* region) {
  CorePrepare(core, region, &kCoreTables44100);
}

void CorePrepare48000(LoudnessCore* core, CoreRegion* region) {
  CorePrepare(core, region, &kCoreTables48000);
}

}  // namespace tessil
