#include "stream/dither.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace tessil {
namespace {

// The reference is the C library's own generator on this platform (glibc), read in runs of every
// length a caller may ask for; the dither is the table entry of each value's two lowest bits.
TEST(DitherGenerator, ReproducesTheCLibrarySequenceAfterSeedOne) {
  std::srand(1);
  DitherGenerator generator;
  DitherSeed(&generator);
  int32_t values[kDitherRun];
  float dither[kDitherRun];
  const float table[4] = {0.0f, 1e-8f, 0.0f, -1e-8f};
  int index = 0;
  for (int round = 0; index < 100000; ++round) {
    const int32_t count = 1 + round % kDitherRun;
    if (round % 2 == 0) {
      DitherValues(&generator, values, count);
      for (int32_t i = 0; i < count; ++i, ++index) {
        ASSERT_EQ(values[i], std::rand()) << "value " << index;
      }
    } else {
      DitherSamples(&generator, dither, count);
      for (int32_t i = 0; i < count; ++i, ++index) {
        const float expected = table[std::rand() & 3];
        ASSERT_EQ(std::memcmp(&dither[i], &expected, sizeof expected), 0) << "value " << index;
      }
    }
  }
  // Reseeding restarts the sequence.
  DitherSeed(&generator);
  std::srand(1);
  DitherValues(&generator, values, 1);
  EXPECT_EQ(values[0], std::rand());
}

}  // namespace
}  // namespace tessil
