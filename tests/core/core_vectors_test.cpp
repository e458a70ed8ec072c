#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "core/core_test_support.h"

namespace tessil {
namespace {

using coretest::CoreRate;
using coretest::CoreRig;
using coretest::ReadFloats;

struct VectorCase {
  const char* input;
  const char* gains;
  CoreRate rate;
  int32_t weighting;
  float level;
};

// Returns the index of the first differing gain, or -1 when every gain matches bit for bit.
long FirstMismatch(const VectorCase& vector) {
  const std::vector<float> input = ReadFloats(vector.input);
  const std::vector<float> expected = ReadFloats(vector.gains);
  EXPECT_FALSE(input.empty());
  const size_t frames = input.size() / 2;
  const size_t blocks = frames / kBlockFrames;
  EXPECT_EQ(expected.size(), blocks * 2 * kBlockFrames);
  if (input.empty() || expected.size() != blocks * 2 * kBlockFrames) return 0;

  CoreRig rig;
  // Settings stored while unbound, as a processor's engine receives them.
  EXPECT_EQ(CoreSetWeighting(&rig.core, vector.weighting), 0);
  EXPECT_EQ(CoreSetLevel(&rig.core, vector.level), 0);
  rig.Prepare(vector.rate);

  std::vector<float> left(kBlockFrames), right(kBlockFrames);
  std::vector<float> gainsLeft(kBlockFrames), gainsRight(kBlockFrames);
  for (size_t block = 0; block < blocks; ++block) {
    for (int32_t j = 0; j < kBlockFrames; ++j) {
      left[j] = input[2 * (block * kBlockFrames + j)];
      right[j] = input[2 * (block * kBlockFrames + j) + 1];
    }
    rig.Process(left, right, gainsLeft, gainsRight);
    const float* reference = expected.data() + block * 2 * kBlockFrames;
    for (int32_t j = 0; j < kBlockFrames; ++j) {
      if (std::bit_cast<uint32_t>(gainsLeft[j]) != std::bit_cast<uint32_t>(reference[j])) {
        ADD_FAILURE() << "block " << block << " left sample " << j << ": " << gainsLeft[j]
                      << " expected " << reference[j];
        return static_cast<long>(block * 2 * kBlockFrames + j);
      }
      const float referenceRight = reference[kBlockFrames + j];
      if (std::bit_cast<uint32_t>(gainsRight[j]) != std::bit_cast<uint32_t>(referenceRight)) {
        ADD_FAILURE() << "block " << block << " right sample " << j << ": " << gainsRight[j]
                      << " expected " << referenceRight;
        return static_cast<long>(block * 2 * kBlockFrames + kBlockFrames + j);
      }
    }
  }
  return -1;
}

TEST(CoreVectors, ReproducesTheReferenceGainsBitForBit) {
  const VectorCase cases[] = {
      {"core48-w1.in.f32", "core48-w1.gains.f32", CoreRate::k48000, 1, 0.5f},
      {"core44-w0.in.f32", "core44-w0.gains.f32", CoreRate::k44100, 0, 0.5f},
      {"core32-w1-level007.in.f32", "core32-w1-level007.gains.f32", CoreRate::k32000, 1, 0.07f},
  };
  for (const VectorCase& vector : cases) {
    SCOPED_TRACE(vector.gains);
    EXPECT_EQ(FirstMismatch(vector), -1);
  }
}

}  // namespace
}  // namespace tessil
