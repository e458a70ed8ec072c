#include "chain/output_stage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace tessil {
namespace {

float Clip(float x, float drive) {
  OutputStageProcess(&x, drive, 1);
  return x;
}

TEST(OutputStageCurve, ReferenceFiguresAtDriveOneAndFour) {
  EXPECT_EQ(Clip(0.0f, 1.0f), 0.0f);
  EXPECT_EQ(Clip(0.5f, 1.0f), 0.450224102f);
  EXPECT_EQ(Clip(1.0f, 1.0f), 0.788415194f);
  EXPECT_EQ(Clip(2.0f, 1.0f), 0.999950886f);
  EXPECT_EQ(Clip(-2.0f, 1.0f), -0.999950886f);
  EXPECT_EQ(Clip(8.0f, 1.0f), 1.99009514f);  // beyond the table the last entry holds
  EXPECT_EQ(Clip(0.25f, 4.0f), 0.788415194f);
  EXPECT_EQ(Clip(0.5f, 4.0f), 0.999950886f);
  EXPECT_EQ(Clip(1.0f, 4.0f), 0.995047569f);
}

TEST(OutputStageCurve, TableInterpolatesAndTheCurveSaturates) {
  EXPECT_EQ(kSoftClipTable[0], 0.0577280298f);
  EXPECT_EQ(kSoftClipTable[128], 0.751238108f);
  for (int k = 0; k < 128; ++k) {
    EXPECT_LT(kSoftClipTable[k], kSoftClipTable[k + 1]) << k;  // catches a mistyped entry
    EXPECT_EQ(SoftClipAttenuation(k / 32.0f), kSoftClipTable[k]);
    EXPECT_EQ(SoftClipAttenuation(-k / 32.0f), kSoftClipTable[k]);
    const float midpoint = SoftClipAttenuation((k + 0.5f) / 32.0f);
    EXPECT_EQ(midpoint, kSoftClipTable[k] + 0.5f * (kSoftClipTable[k + 1] - kSoftClipTable[k]));
  }
  EXPECT_EQ(SoftClipAttenuation(4.0f), kSoftClipTable[128]);
  EXPECT_EQ(SoftClipAttenuation(1e30f), kSoftClipTable[128]);
  EXPECT_EQ(SoftClipAttenuation(std::numeric_limits<float>::quiet_NaN()), kSoftClipTable[128]);
  // Odd, rising, and held within 0.985..1.0001 from a magnitude of 1.75 to 4.0.
  float previous = 0.0f;
  for (int i = 1; i <= 4000; ++i) {
    const float x = i / 1000.0f;
    const float y = Clip(x, 1.0f);
    EXPECT_EQ(Clip(-x, 1.0f), -y);
    if (x < 1.75f) {
      EXPECT_GT(y, previous) << x;
    } else {
      EXPECT_GE(y, 0.985f) << x;
      EXPECT_LE(y, 1.0001f) << x;
    }
    previous = y;
  }
}

TEST(OutputStageProcessing, OneDriveForTheBufferAndEmptyLeavesItAlone) {
  std::vector<float> buffer = {0.5f, 0.125f, 0.5f, -1.0f, 1.0f};
  OutputStageProcess(buffer.data(), 4.0f, 5);
  EXPECT_EQ(buffer, (std::vector<float>{0.999950886f, 0.450224102f, 0.999950886f,
                                        -0.995047569f, 0.995047569f}));
  const std::vector<float> input = {0.3f, -0.7f, 1.5f};
  buffer = input;
  OutputStageProcess(buffer.data(), 2.0f, 0);
  OutputStageProcess(buffer.data(), 2.0f, -5);
  EXPECT_EQ(buffer, input);
}

TEST(OutputStageSettings, EnableTakesOnlyZeroOrOne) {
  OutputStage stage{};
  OutputStageInit(&stage);
  EXPECT_EQ(OutputStageGetEnable(&stage), 1);
  EXPECT_EQ(OutputStageSetEnable(&stage, 2), 3);
  EXPECT_EQ(OutputStageGetEnable(&stage), 1);
  EXPECT_EQ(OutputStageSetEnable(&stage, 0), 0);
  EXPECT_EQ(OutputStageGetEnable(&stage), 0);
  OutputStage other{};
  OutputStageInit(&other);
  EXPECT_EQ(OutputStageCopy(&other, &stage), 0);
  EXPECT_EQ(OutputStageGetEnable(&other), 0);
  OutputStage bad{-1};
  EXPECT_EQ(OutputStageCopy(&other, &bad), 3);
  EXPECT_EQ(OutputStageGetEnable(&other), 0);
}

}  // namespace
}  // namespace tessil

namespace tessil {
namespace {

// Whatever the block length and however the samples fall on table entries, the edge, past it or
// on a NaN, every output is the one-sample formula's, bit for bit.
TEST(OutputStageProcessing, WholeBuffersMatchTheOneSampleFormula) {
  std::vector<float> input;
  for (int i = -700; i <= 700; ++i) input.push_back(i * 0.0071f);
  for (float special : {3.99999f, 4.0f, 4.0000005f, -4.0f, 1e30f, -0.0f,
                        std::numeric_limits<float>::infinity(),
                        std::numeric_limits<float>::quiet_NaN()}) {
    input.push_back(special);
  }
  for (float drive : {1.0f, 2.5f, 4.0f}) {
    for (size_t length : {input.size(), input.size() - 3}) {
      std::vector<float> buffer(input.begin(), input.begin() + length);
      OutputStageProcess(buffer.data(), drive, static_cast<int32_t>(length));
      for (size_t i = 0; i < length; ++i) {
        const float x = drive * input[i];
        const float expected = x - x * SoftClipAttenuation(x);
        EXPECT_EQ(std::memcmp(&buffer[i], &expected, sizeof(float)), 0)
            << "sample " << input[i] << " at drive " << drive << ": " << buffer[i] << " vs "
            << expected;
      }
    }
  }
}

}  // namespace
}  // namespace tessil
