#include "chain/pipeline.h"

#include "core/core_process_block.h"
#include "platform/relaxed.h"

namespace tessil {

namespace {

void Scale(const float* input, float* output, int32_t n, float gain) {
  for (int32_t i = 0; i < n; ++i) output[i] = input[i] * gain;
}

void Copy(const float* input, float* output, int32_t n) {
  for (int32_t i = 0; i < n; ++i) output[i] = input[i];
}

}  // namespace

// The control plane may change the enables, gains and amount while a block runs, so each is taken
// once, at its first use, and the whole block follows the values taken: one block never mixes the
// bypass and processing paths or two values of one gain.
int32_t EngineProcessBlock(EngineContext* context, float* input[2], float* output[2],
                           float* scratch, int32_t n) {
  const int32_t equaliseLeft = EqualiserGetEnabled(&context->equaliserLeft);
  const int32_t equaliseRight = EqualiserGetEnabled(&context->equaliserRight);
  const bool equalise = (equaliseLeft != 0 || equaliseRight != 0) && context->eqPlacement == 1;
  if (n < 240 || n > kEngineMaxBlock) return kResultBadIndex;

  float* analysis[2] = {scratch, scratch + n};
  const float inputGain = EngineGetInputGain(context);
  for (int32_t i = 0; i < n; ++i) {
    analysis[0][i] = input[0][i] * inputGain;
    analysis[1][i] = input[1][i] * inputGain;
  }

  int32_t result;
  const bool highPass = FilterGetEnabled(&context->highPassLeft) != 0;
  const bool lowPass = FilterGetEnabled(&context->lowPassLeft) != 0;
  if (highPass && lowPass) {
    if ((result = FilterProcessTwoPairs(&context->highPassLeft, &context->highPassRight,
                                        &context->lowPassLeft, &context->lowPassRight,
                                        analysis[0], analysis[1], n)) != 0) {
      return result;
    }
  } else if (highPass) {
    if ((result = FilterProcessPair(&context->highPassLeft, &context->highPassRight, analysis[0],
                                    analysis[1], n)) != 0) {
      return result;
    }
  } else if (lowPass) {
    if ((result = FilterProcessPair(&context->lowPassLeft, &context->lowPassRight, analysis[0],
                                    analysis[1], n)) != 0) {
      return result;
    }
  }

  const int32_t coreEnabled = CoreGetEnable(&context->core);
  const int32_t bypassed = coreEnabled != 0 ? 0 : 1;
  StoreRelaxed(context->core.left.state->bypassed, bypassed);
  StoreRelaxed(context->core.right.state->bypassed, bypassed);

  if (EngineGetEnable(context) == 0) {
    // The filters above keep following the input during bypass; the output comes from the
    // untouched input.
    const float bypassGain = EngineGetBypassGain(context);
    Scale(input[0], output[0], n, bypassGain);
    Scale(input[1], output[1], n, bypassGain);
    return kResultSuccess;
  }

  if (coreEnabled != 0) {
    // The core moves the references it is given while it works, so it gets its own copies.
    float* coreInput[2] = {analysis[0], analysis[1]};
    float* coreOutput[2] = {output[0], output[1]};
    CoreProcessBlock(&context->core, coreInput, coreOutput, scratch + 2 * n, n);
    for (int32_t i = 0; i < n; ++i) output[0][i] = analysis[0][i] * output[0][i];
    for (int32_t i = 0; i < n; ++i) output[1][i] = analysis[1][i] * output[1][i];
  } else {
    Copy(analysis[0], input[0], n);
    Copy(analysis[1], input[1], n);
    Copy(input[0], output[0], n);
    Copy(input[1], output[1], n);
  }

  if (equalise) {
    if (equaliseLeft != 0 &&
        (result = EqualiserProcess(&context->equaliserLeft, output[0], n)) != 0) {
      return result;
    }
    if (equaliseRight != 0 &&
        (result = EqualiserProcess(&context->equaliserRight, output[1], n)) != 0) {
      return result;
    }
  }

  const OutputStage stage{OutputStageGetEnable(&context->outputStage)};
  if (stage.enabled != 0) {
    const float drive = EngineGetOutputStageAmount(context) * 3.0f + 1.0f;
    if ((result = OutputStageProcess(&stage, output[0], &drive, 0, n)) != 0) return result;
    if ((result = OutputStageProcess(&stage, output[1], &drive, 0, n)) != 0) return result;
  }

  // The output gain is applied exactly once, whether or not the output stage ran.
  const float outputGain = EngineGetOutputGain(context);
  Scale(output[0], output[0], n, outputGain);
  Scale(output[1], output[1], n, outputGain);
  return kResultSuccess;
}

}  // namespace tessil
