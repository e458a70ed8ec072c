#include "chain/engine.h"

#include "filters/setting_store.h"

namespace tessil {

namespace {

// The engine's own words, with the range of their property.
int32_t SetWord(float* word, KSPROPERTY_TESSIL id, float value) {
  return StoreInRange(*word, value, Setting(id).range);
}

float Initial(KSPROPERTY_TESSIL id) { return Setting(id).initial; }
int32_t InitialWhole(KSPROPERTY_TESSIL id) { return static_cast<int32_t>(Setting(id).initial); }

// A left/right pair is set together, left first; a refusal by the left block leaves the right
// block as it was.
template <typename Setter>
int32_t SetPair(FilterBlock* left, FilterBlock* right, int32_t value, Setter setter) {
  const int32_t result = setter(left, value);
  if (result != 0) return result;
  return setter(right, value);
}

EqualiserBlock* Equaliser(EngineContext* context, uint32_t channel) {
  return channel == 0 ? &context->equaliserLeft : &context->equaliserRight;
}

const EqualiserBlock* Equaliser(const EngineContext* context, uint32_t channel) {
  return channel == 0 ? &context->equaliserLeft : &context->equaliserRight;
}

using CorePrepare = void (*)(LoudnessCore*, CoreRegion*);

int32_t EnginePrepare(EngineContext* context, EngineStateBlock* stateBlock, int32_t rate,
                      CorePrepare corePrepare) {
  corePrepare(&context->core, &stateBlock->core);
  context->stateBlock = stateBlock;
  EngineBindRate(context, rate);
  // Copying the context onto itself re-applies every setting, which designs every block for the
  // rate just bound.
  return EngineCopySettings(context, context);
}

}  // namespace

uint32_t EngineContextSize() { return sizeof(EngineContext); }
uint32_t EngineStateBlockSize() { return sizeof(EngineStateBlock); }

void EngineInit(EngineContext* context) {
  // The owner hands over uninitialised pool memory; start from zeros so that no reset step reads
  // an indeterminate value (the band count's "previous" count, for one).
  ZeroFill(context, sizeof(EngineContext));
  FilterInit(&context->highPassLeft, FilterKind::HighPass);
  FilterInit(&context->highPassRight, FilterKind::HighPass);
  FilterInit(&context->lowPassLeft, FilterKind::LowPass);
  FilterInit(&context->lowPassRight, FilterKind::LowPass);
  EqualiserInit(&context->equaliserLeft, context->bandsLeft);
  EqualiserInit(&context->equaliserRight, context->bandsRight);
  CoreInitUnbound(&context->core);
  OutputStageInit(&context->outputStage);
  context->stateBlock = nullptr;
  EngineApplyDefaults(context);
}

void EngineReset(EngineContext* context) {
  FilterReset(&context->highPassLeft);
  FilterReset(&context->highPassRight);
  FilterReset(&context->lowPassLeft);
  FilterReset(&context->lowPassRight);
  EqualiserReset(&context->equaliserLeft);
  EqualiserReset(&context->equaliserRight);
  CoreResetDefaults(&context->core);
  OutputStageInit(&context->outputStage);
  EngineApplyDefaults(context);
}

void EngineApplyDefaults(EngineContext* context) {
  EngineSetHighPassFrequency(context, InitialWhole(KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY));
  EngineSetLowPassFrequency(context, InitialWhole(KSPROPERTY_TESSIL_LOWPASS_FREQUENCY));
  EqualiserSetBandCount(&context->equaliserLeft, kEqualiserBands);
  EqualiserSetBandCount(&context->equaliserRight, kEqualiserBands);
  CoreSetWeighting(&context->core, InitialWhole(KSPROPERTY_TESSIL_CORE_WEIGHTING));
  StoreRelaxed(context->enabled, InitialWhole(KSPROPERTY_TESSIL_ENABLE));
  EngineSetInputGain(context, Initial(KSPROPERTY_TESSIL_INPUT_GAIN));
  EngineSetOutputGain(context, Initial(KSPROPERTY_TESSIL_OUTPUT_GAIN));
  EngineSetBypassGain(context, Initial(KSPROPERTY_TESSIL_BYPASS_GAIN));
  EngineSetOutputStageAmount(context, Initial(KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT));
}

int32_t EngineCopySettings(EngineContext* destination, const EngineContext* source) {
  FilterCopyFrom(&destination->highPassLeft, &source->highPassLeft);
  FilterCopyFrom(&destination->highPassRight, &source->highPassRight);
  FilterCopyFrom(&destination->lowPassLeft, &source->lowPassLeft);
  FilterCopyFrom(&destination->lowPassRight, &source->lowPassRight);
  EqualiserCopyFrom(&destination->equaliserLeft, &source->equaliserLeft);
  EqualiserCopyFrom(&destination->equaliserRight, &source->equaliserRight);
  CoreApplySettings(&destination->core, &source->core);
  OutputStageCopy(&destination->outputStage, &source->outputStage);
  EngineSetEnable(destination, EngineGetEnable(source));
  EngineSetInputGain(destination, EngineGetInputGain(source));
  EngineSetOutputGain(destination, EngineGetOutputGain(source));
  EngineSetBypassGain(destination, EngineGetBypassGain(source));
  return EngineSetOutputStageAmount(destination, EngineGetOutputStageAmount(source));
}

int32_t EnginePrepare32000(EngineContext* context, EngineStateBlock* stateBlock) {
  return EnginePrepare(context, stateBlock, static_cast<int32_t>(kRateSets[0]), CorePrepare32000);
}

int32_t EnginePrepare44100(EngineContext* context, EngineStateBlock* stateBlock) {
  return EnginePrepare(context, stateBlock, static_cast<int32_t>(kRateSets[1]), CorePrepare44100);
}

int32_t EnginePrepare48000(EngineContext* context, EngineStateBlock* stateBlock) {
  return EnginePrepare(context, stateBlock, static_cast<int32_t>(kRateSets[2]), CorePrepare48000);
}

void EngineBindRate(EngineContext* context, int32_t rate) {
  EngineStateBlock* block = context->stateBlock;
  FilterSetSampleRate(&context->highPassLeft, rate);
  FilterSetSampleRate(&context->highPassRight, rate);
  FilterSetSampleRate(&context->lowPassLeft, rate);
  FilterSetSampleRate(&context->lowPassRight, rate);
  EqualiserSetSampleRate(&context->equaliserLeft, rate);
  EqualiserSetSampleRate(&context->equaliserRight, rate);
  FilterBind(&context->highPassLeft, &block->highPassLeftBinding, block->highPassLeftArea);
  FilterBind(&context->highPassRight, &block->highPassRightBinding, block->highPassRightArea);
  FilterBind(&context->lowPassLeft, &block->lowPassLeftBinding, block->lowPassLeftArea);
  FilterBind(&context->lowPassRight, &block->lowPassRightBinding, block->lowPassRightArea);
  EqualiserBind(&context->equaliserLeft, &block->equaliserLeftBinding, block->equaliserLeftArea);
  EqualiserBind(&context->equaliserRight, &block->equaliserRightBinding,
                block->equaliserRightArea);
}

int32_t EngineSetEnable(EngineContext* context, int32_t value) {
  // The master switch answers a bad value with 1, unlike the block switches.
  return StoreSwitch(context->enabled, value) == kResultSuccess ? kResultSuccess
                                                                 : kResultOutOfRange;
}

int32_t EngineGetEnable(const EngineContext* context) { return LoadRelaxed(context->enabled); }

int32_t EngineSetInputGain(EngineContext* context, float value) {
  return SetWord(&context->inputGain, KSPROPERTY_TESSIL_INPUT_GAIN, value);
}
float EngineGetInputGain(const EngineContext* context) { return LoadRelaxed(context->inputGain); }

int32_t EngineSetOutputGain(EngineContext* context, float value) {
  return SetWord(&context->outputGain, KSPROPERTY_TESSIL_OUTPUT_GAIN, value);
}
float EngineGetOutputGain(const EngineContext* context) {
  return LoadRelaxed(context->outputGain);
}

int32_t EngineSetBypassGain(EngineContext* context, float value) {
  return SetWord(&context->bypassGain, KSPROPERTY_TESSIL_BYPASS_GAIN, value);
}
float EngineGetBypassGain(const EngineContext* context) {
  return LoadRelaxed(context->bypassGain);
}

int32_t EngineSetOutputStageEnable(EngineContext* context, int32_t value) {
  return OutputStageSetEnable(&context->outputStage, value);
}
int32_t EngineGetOutputStageEnable(const EngineContext* context) {
  return OutputStageGetEnable(&context->outputStage);
}

int32_t EngineSetOutputStageAmount(EngineContext* context, float value) {
  return SetWord(&context->outputStageAmount, KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT, value);
}
float EngineGetOutputStageAmount(const EngineContext* context) {
  return LoadRelaxed(context->outputStageAmount);
}

int32_t EngineSetHighPassEnable(EngineContext* context, int32_t value) {
  return SetPair(&context->highPassLeft, &context->highPassRight, value, FilterSetEnabled);
}
int32_t EngineGetHighPassEnable(const EngineContext* context) {
  return FilterGetEnabled(&context->highPassLeft);
}
int32_t EngineSetHighPassFrequency(EngineContext* context, int32_t hertz) {
  return SetPair(&context->highPassLeft, &context->highPassRight, hertz, FilterSetFrequency);
}
int32_t EngineGetHighPassFrequency(const EngineContext* context) {
  return FilterGetFrequency(&context->highPassLeft);
}
int32_t EngineSetHighPassOrder(EngineContext* context, int32_t order) {
  return SetPair(&context->highPassLeft, &context->highPassRight, order, FilterSetOrder);
}
int32_t EngineGetHighPassOrder(const EngineContext* context) {
  return FilterGetOrder(&context->highPassLeft);
}

int32_t EngineSetLowPassEnable(EngineContext* context, int32_t value) {
  return SetPair(&context->lowPassLeft, &context->lowPassRight, value, FilterSetEnabled);
}
int32_t EngineGetLowPassEnable(const EngineContext* context) {
  return FilterGetEnabled(&context->lowPassLeft);
}
int32_t EngineSetLowPassFrequency(EngineContext* context, int32_t hertz) {
  return SetPair(&context->lowPassLeft, &context->lowPassRight, hertz, FilterSetFrequency);
}
int32_t EngineGetLowPassFrequency(const EngineContext* context) {
  return FilterGetFrequency(&context->lowPassLeft);
}
int32_t EngineSetLowPassOrder(EngineContext* context, int32_t order) {
  return SetPair(&context->lowPassLeft, &context->lowPassRight, order, FilterSetOrder);
}
int32_t EngineGetLowPassOrder(const EngineContext* context) {
  return FilterGetOrder(&context->lowPassLeft);
}

int32_t EngineSetEqEnable(EngineContext* context, uint32_t channel, int32_t value) {
  return EqualiserSetEnabled(Equaliser(context, channel), value);
}
int32_t EngineGetEqEnable(const EngineContext* context, uint32_t channel) {
  return EqualiserGetEnabled(Equaliser(context, channel));
}
int32_t EngineSetEqBandEnable(EngineContext* context, uint32_t channel, uint32_t band,
                              int32_t value) {
  return EqualiserSetBandEnabled(Equaliser(context, channel), band, value);
}
int32_t EngineGetEqBandEnable(const EngineContext* context, uint32_t channel, uint32_t band) {
  return EqualiserGetBandEnabled(Equaliser(context, channel), band);
}
int32_t EngineSetEqBandGain(EngineContext* context, uint32_t channel, uint32_t band, float gain) {
  return EqualiserSetBandGain(Equaliser(context, channel), band, gain);
}
float EngineGetEqBandGain(const EngineContext* context, uint32_t channel, uint32_t band) {
  return EqualiserGetBandGain(Equaliser(context, channel), band);
}
int32_t EngineSetEqBandFrequency(EngineContext* context, uint32_t channel, uint32_t band,
                                 uint32_t hertz) {
  return EqualiserSetBandFrequency(Equaliser(context, channel), band, hertz);
}
uint32_t EngineGetEqBandFrequency(const EngineContext* context, uint32_t channel, uint32_t band) {
  return EqualiserGetBandFrequency(Equaliser(context, channel), band);
}
int32_t EngineSetEqBandQ(EngineContext* context, uint32_t channel, uint32_t band, float q) {
  return EqualiserSetBandQ(Equaliser(context, channel), band, q);
}
float EngineGetEqBandQ(const EngineContext* context, uint32_t channel, uint32_t band) {
  return EqualiserGetBandQ(Equaliser(context, channel), band);
}

int32_t EngineSetCoreEnable(EngineContext* context, int32_t value) {
  return CoreSetEnable(&context->core, value);
}
int32_t EngineGetCoreEnable(const EngineContext* context) { return CoreGetEnable(&context->core); }
int32_t EngineSetCoreWeighting(EngineContext* context, int32_t value) {
  return CoreSetWeighting(&context->core, value);
}
int32_t EngineGetCoreWeighting(const EngineContext* context) {
  return CoreGetWeighting(&context->core);
}
int32_t EngineSetCoreLevel(EngineContext* context, float value) {
  return CoreSetLevel(&context->core, value);
}
float EngineGetCoreLevel(const EngineContext* context) { return CoreGetLevel(&context->core); }

}  // namespace tessil
