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
// once, at its first use, and the whole block follows the values taken: one block never mixes two
// values of one switch or one gain.
int32_t EngineProcessBlock(EngineContext* context, float* input[2], float* output[2],
                           float* scratch, int32_t n) {
  if (n < kBlockFrames || n > kLargestBlockFrames) return kResultBadIndex;

  float* analysis[2] = {scratch, scratch + n};
  const float inputGain = EngineGetInputGain(context);
  for (int32_t i = 0; i < n; ++i) {
    analysis[0][i] = input[0][i] * inputGain;
    analysis[1][i] = input[1][i] * inputGain;
  }

  const bool highPass = FilterGetEnabled(&context->highPassLeft) != 0;
  const bool lowPass = FilterGetEnabled(&context->lowPassLeft) != 0;
  if (highPass && lowPass) {
    FilterProcessTwoPairs(&context->highPassLeft, &context->highPassRight, &context->lowPassLeft,
                          &context->lowPassRight, analysis[0], analysis[1], n);
  } else if (highPass) {
    FilterProcessPair(&context->highPassLeft, &context->highPassRight, analysis[0], analysis[1],
                      n);
  } else if (lowPass) {
    FilterProcessPair(&context->lowPassLeft, &context->lowPassRight, analysis[0], analysis[1], n);
  }

  const int32_t coreEnabled = CoreGetEnable(&context->core);
  const int32_t bypassed = coreEnabled != 0 ? 0 : 1;
  StoreRelaxed(context->core.left.state->bypassed, bypassed);
  StoreRelaxed(context->core.right.state->bypassed, bypassed);

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

  if (EqualiserGetEnabled(&context->equaliserLeft) != 0) {
    EqualiserProcess(&context->equaliserLeft, output[0], n);
  }
  if (EqualiserGetEnabled(&context->equaliserRight) != 0) {
    EqualiserProcess(&context->equaliserRight, output[1], n);
  }

  if (OutputStageGetEnable(&context->outputStage) != 0) {
    const float drive = EngineGetOutputStageAmount(context) * 3.0f + 1.0f;
    OutputStageProcess(output[0], drive, n);
    OutputStageProcess(output[1], drive, n);
  }

  // The output gain is applied exactly once, whether or not the output stage ran.
  const float outputGain = EngineGetOutputGain(context);
  Scale(output[0], output[0], n, outputGain);
  Scale(output[1], output[1], n, outputGain);
  return kResultSuccess;
}

}  // namespace tessil
