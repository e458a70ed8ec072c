#include "stream/dither.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace tessil {
namespace {

TEST(DitherGenerator, ReproducesTheCLibrarySequenceAfterSeedOne) {
  // The reference is the C library's own generator on this platform (glibc).
  std::srand(1);
  DitherGenerator generator;
  DitherSeed(&generator);
  for (int i = 0; i < 100000; ++i) {
    ASSERT_EQ(DitherNext(&generator), std::rand()) << "value " << i;
  }
  // Reseeding restarts the sequence.
  DitherSeed(&generator);
  std::srand(1);
  EXPECT_EQ(DitherNext(&generator), std::rand());
}

}  // namespace
}  // namespace tessil
