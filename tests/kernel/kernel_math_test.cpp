// The kernel math layer against the C library, judged where it matters: the float coefficients
// of the filter designs and the decibel conversions of the property set.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "filters/equaliser.h"
#include "filters/filter_block.h"
#include "kernel/math_switch.h"
#include "module/units.h"
#include "platform/kernel/kernel_math.h"

namespace tessil::kernel_test {
namespace {

constexpr int32_t kRates[] = {32000, 44100, 48000};
constexpr int kButterworthFloats = 1 + 6 * 5;

class KernelMath : public ::testing::Test {
 protected:
  void TearDown() override { UseMath(MathLibrary::kCLibrary); }
};

template <typename Design>
bool SameUnderBothLibraries(Design design, float* cLibrary, float* kernel, size_t floats) {
  // Designs write only the sections of their order; the rest must not count as a difference.
  std::memset(cLibrary, 0, floats * sizeof(float));
  std::memset(kernel, 0, floats * sizeof(float));
  UseMath(MathLibrary::kCLibrary);
  design(cLibrary);
  UseMath(MathLibrary::kKernel);
  design(kernel);
  return std::memcmp(cLibrary, kernel, floats * sizeof(float)) == 0;
}

TEST_F(KernelMath, AgreesWithTheCLibraryOnKnownValuesAndSpecialCases) {
  EXPECT_EQ(kernel_math::Cos(0.0), 1.0);
  EXPECT_EQ(kernel_math::Tan(0.0), 0.0);
  EXPECT_EQ(kernel_math::Exp(0.0), 1.0);
  EXPECT_EQ(kernel_math::Log10(1000.0), 3.0);
  EXPECT_EQ(kernel_math::Pow(2.0, 10.0), 1024.0);
  EXPECT_EQ(kernel_math::Pow(-2.0, 3.0), -8.0);
  EXPECT_TRUE(std::isnan(kernel_math::Pow(-2.0, 0.5)));
  EXPECT_EQ(kernel_math::Log10(0.0), -HUGE_VAL);
  EXPECT_TRUE(std::isnan(kernel_math::Log10(-1.0)));
  EXPECT_EQ(kernel_math::Exp(1000.0), HUGE_VAL);
  EXPECT_TRUE(std::isnan(kernel_math::Cos(HUGE_VAL)));
  // Correctly rounded references: tan(1), cos(2), e^-10, log10(2), 2^(1/3) (from 60-digit
  // decimal evaluations).
  EXPECT_EQ(kernel_math::Tan(1.0), 0x1.8eb245cbee3a6p+0);
  EXPECT_EQ(kernel_math::Cos(2.0), -0x1.aa22657537205p-2);
  EXPECT_EQ(kernel_math::Exp(-10.0), 0x1.7cd79b5647c9bp-15);
  EXPECT_EQ(kernel_math::Log10(2.0), 0x1.34413509f79ffp-2);
  EXPECT_EQ(kernel_math::Pow(2.0, 1.0 / 3.0), 0x1.428a2f98d728bp+0);
}

TEST_F(KernelMath, SameFloatsOverARandomSampleOfArguments) {
  std::mt19937_64 random(12);
  std::uniform_real_distribution<double> angle(0.0, 4.0), exponent(-40.0, 40.0),
      positive(1e-6, 1e6), root(0.05, 0.5);
  for (int i = 0; i < 100000; ++i) {
    const double a = angle(random), e = exponent(random), x = positive(random), r = root(random);
    ASSERT_EQ(static_cast<float>(kernel_math::Tan(a)), static_cast<float>(std::tan(a))) << a;
    ASSERT_EQ(static_cast<float>(kernel_math::Cos(a)), static_cast<float>(std::cos(a))) << a;
    ASSERT_EQ(static_cast<float>(kernel_math::Exp(e)), static_cast<float>(std::exp(e))) << e;
    ASSERT_EQ(static_cast<float>(kernel_math::Log10(x)), static_cast<float>(std::log10(x))) << x;
    ASSERT_EQ(static_cast<float>(kernel_math::Pow(x, r)), static_cast<float>(std::pow(x, r)))
        << x << "^" << r;
  }
}

// Every decibel value from below the smallest float to beyond the largest, both directions.
TEST_F(KernelMath, DecibelConversionsMatchForEveryUsefulValue) {
  for (LONG decibels = -1000; decibels <= 1000; ++decibels) {
    UseMath(MathLibrary::kCLibrary);
    const float cLibrary = LinearFromDecibels(decibels);
    UseMath(MathLibrary::kKernel);
    const float kernel = LinearFromDecibels(decibels);
    ASSERT_EQ(std::memcmp(&cLibrary, &kernel, sizeof kernel), 0) << decibels << " dB";
    if (!std::isfinite(kernel)) continue;  // stored gains never get there
    UseMath(MathLibrary::kCLibrary);
    const LONG cLibraryBack = DecibelsFromLinear(kernel);
    UseMath(MathLibrary::kKernel);
    ASSERT_EQ(DecibelsFromLinear(kernel), cLibraryBack) << decibels << " dB";
  }
}

// Every Butterworth design the property set can reach: both kinds, orders 1 to 10, every cut-off
// from 20 to 20000 Hz, at each rate's design set.
TEST_F(KernelMath, EveryReachableButterworthDesignGivesTheSameFloats) {
  float cLibrary[kButterworthFloats], kernel[kButterworthFloats];
  uint64_t designs = 0, mismatches = 0;
  for (const int32_t rate : kRates) {
    for (int32_t order = 1; order <= 10; ++order) {
      for (int32_t frequency = 20; frequency <= 20000; ++frequency) {
        designs += 2;
        mismatches += !SameUnderBothLibraries(
            [&](float* out) { DesignButterworthHighPass(frequency, rate, order, out); },
            cLibrary, kernel, kButterworthFloats);
        mismatches += !SameUnderBothLibraries(
            [&](float* out) { DesignButterworthLowPass(frequency, rate, order, out); },
            cLibrary, kernel, kButterworthFloats);
      }
    }
  }
  EXPECT_EQ(designs, 1198860u);
  EXPECT_EQ(mismatches, 0u);
}

// A random sample of the equaliser designs the property set reaches (gains in whole decibels,
// quality factors in hundredths); scripts/compare-equaliser-designs.sh runs them all.
TEST_F(KernelMath, SampledEqualiserDesignsGiveTheSameFloats) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int32_t> decibels(-20, 20), frequency(20, 20000),
      hundredths(25, 1600), rate(0, 2);
  float cLibrary[7], kernel[7];
  for (int i = 0; i < 200000; ++i) {
    const EqualiserBand band{1, LinearFromDecibels(decibels(random)),
                             static_cast<uint32_t>(frequency(random)),
                             FromHundredths(hundredths(random))};
    const int32_t sampleRate = kRates[rate(random)];
    ASSERT_TRUE(SameUnderBothLibraries(
        [&](float* out) { DesignPeakingBand(&band, sampleRate, out); }, cLibrary, kernel, 7))
        << band.gain << " " << band.frequency << " Hz q " << band.q << " at " << sampleRate;
  }
}

}  // namespace
}  // namespace tessil::kernel_test
