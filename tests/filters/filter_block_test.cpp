#include "filters/filter_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <numbers>
#include <vector>

#include "filters/section_stability.h"

namespace tessil {
namespace {

constexpr int32_t kRates[] = {32000, 44100, 48000};
constexpr float kSentinel = -12345.0f;

// A block bound to an area with sentinels behind it, so an overrun shows up.
struct BoundFilter {
  FilterBlock block{};
  FilterStateBinding binding{};
  float area[kFilterAreaEntries + 8];

  BoundFilter(FilterKind kind, int32_t rate, int32_t frequency, int32_t order) {
    for (float& entry : area) entry = kSentinel;
    FilterInit(&block, kind);
    EXPECT_EQ(FilterSetSampleRate(&block, rate), 0);
    EXPECT_EQ(FilterSetFrequency(&block, frequency), 0);
    EXPECT_EQ(FilterSetOrder(&block, order), 0);
    FilterBind(&block, &binding, area);
  }
  float* State() { return binding.state; }
  bool GuardIntact() const {
    for (int i = kFilterAreaEntries; i < kFilterAreaEntries + 8; ++i) {
      if (area[i] != kSentinel) return false;
    }
    return true;
  }
};

std::vector<float> Coefficients(FilterKind kind, int32_t frequency, int32_t rate, int32_t order) {
  std::vector<float> set(kFilterAreaEntries, kSentinel);
  if (kind == FilterKind::HighPass) {
    DesignButterworthHighPass(frequency, rate, order, set.data());
  } else {
    DesignButterworthLowPass(frequency, rate, order, set.data());
  }
  return set;
}

// Response of the stored (single-precision) cascade, evaluated in double.
double MagnitudeDb(const std::vector<float>& set, double frequency, double rate) {
  const int order = static_cast<int>(set[0]);
  const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * frequency / rate);
  std::complex<double> h = 1.0;
  for (int k = 0; order > 0 && k < CascadeSectionCount(order); ++k) {
    const float* c = set.data() + 2 + 6 * k;
    h *= (double{c[0]} + double{c[1]} * z1 + double{c[2]} * z1 * z1) /
         (1.0 - double{c[3]} * z1 - double{c[4]} * z1 * z1);
  }
  return 20.0 * std::log10(std::abs(h));
}

// Jury test on the stored feedback terms: strictly stable iff this is positive.
double StabilityMargin(const float* section) {
  const double a1 = -double{section[3]}, a2 = -double{section[4]};
  return std::min({1.0 - std::abs(a2), 1.0 + a1 + a2, 1.0 - a1 + a2});
}

TEST(ButterworthDesign, CutOffIsThreeDecibelsDownAndTheShapeIsButterworth) {
  const int32_t cutoffs[] = {20, 150, 1000, 5000, 9000, 14000, 15000, 20000};
  for (FilterKind kind : {FilterKind::HighPass, FilterKind::LowPass}) {
    for (int32_t rate : kRates) {
      for (int32_t order = 1; order <= 10; ++order) {
        for (int32_t cutoff : cutoffs) {
          if (cutoff >= rate / 2) continue;
          SCOPED_TRACE(testing::Message() << (kind == FilterKind::HighPass ? "HP " : "LP ")
                                          << rate << " N" << order << " " << cutoff);
          const std::vector<float> set = Coefficients(kind, cutoff, rate, order);
          ASSERT_EQ(set[0], static_cast<float>(order));
          EXPECT_NEAR(MagnitudeDb(set, cutoff, rate), -3.0, 0.01);
          // The pre-warped Butterworth magnitude an octave either side pins every pole angle.
          const double k = std::pow(std::pow(10.0, 0.3) - 1.0, 1.0 / (2.0 * order));
          const double edge = std::tan(std::numbers::pi * cutoff / rate);
          for (double f : {cutoff / 2.0, std::min(cutoff * 2.0, rate / 2.0 - 200.0)}) {
            const double ratio = std::tan(std::numbers::pi * f / rate) / edge;
            const double x = kind == FilterKind::LowPass ? ratio * k : k / ratio;
            const double ideal = -10.0 * std::log10(1.0 + std::pow(x, 2.0 * order));
            // Single-precision coefficients blur a 20 Hz design by a tenth of a decibel.
            if (ideal > -80.0 && cutoff > 20) {
              EXPECT_NEAR(MagnitudeDb(set, f, rate), ideal, 0.02) << f;
            }
          }
          // Layout: first-order section for odd orders, b0 == b2 bit for bit, and the
          // pole pairs ordered from the highest Q (largest pole radius) down.
          const int sections = CascadeSectionCount(order);
          for (int s = 0; s < sections; ++s) {
            const float* record = set.data() + 1 + 6 * s;
            const bool firstOrder = (order & 1) && s == 0;
            if (firstOrder) {
              EXPECT_EQ(record[3], 0.0f);
              EXPECT_EQ(record[5], 0.0f);
            } else {
              EXPECT_EQ(record[1], record[3]);
            }
            if (!firstOrder && s + 1 < sections) {
              EXPECT_LT(record[5], set[1 + 6 * (s + 1) + 5]);
            }
          }
          EXPECT_EQ(set[1 + 6 * sections], kSentinel);  // nothing written past the set
        }
      }
    }
  }
}

TEST(ButterworthDesign, EveryAdmittedSettingStoresStrictlyStableSections) {
  // Cut-offs a few hertz below half the rate put poles within rounding of z = -1; the stored
  // sections must still be strictly inside the unit circle (the 32000 Hz low-pass at 20000 Hz
  // is designed there).
  for (FilterKind kind : {FilterKind::HighPass, FilterKind::LowPass}) {
    for (int32_t rate : kRates) {
      for (int32_t order = 1; order <= 10; ++order) {
        for (int32_t cutoff = 20; cutoff <= 20000; ++cutoff) {
          const std::vector<float> set = Coefficients(kind, cutoff, rate, order);
          if (set[0] == 0.0f) continue;
          for (int s = 0; s < CascadeSectionCount(static_cast<int32_t>(set[0])); ++s) {
            ASSERT_GT(StabilityMargin(set.data() + 2 + 6 * s), 0.0)
                << rate << " N" << order << " " << cutoff << " section " << s;
          }
        }
      }
    }
  }
  // Four poles at the 32000 Hz default low-pass: rounding puts a pole exactly on z = -1 there,
  // which lets a Nyquist tone build up over time; the guarded design stays bounded.
  BoundFilter filter(FilterKind::LowPass, 32000, 20000, 4);
  std::vector<float> buffer(960);
  float peak = 0.0f;
  for (int block = 0; block < 2000; ++block) {
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = (i & 1) ? 0.5f : -0.5f;
    FilterProcess(&filter.block, buffer.data(), buffer.data(), 960);
    for (float y : buffer) peak = std::max(peak, std::abs(y));
  }
  EXPECT_LT(peak, 1.0f);
}

TEST(ButterworthDesign, HalfTheRateSwitchesTheHighPassOffAndCapsTheLowPass) {
  const std::vector<float> off = Coefficients(FilterKind::HighPass, 16000, 32000, 4);
  EXPECT_EQ(off[0], 0.0f);
  EXPECT_EQ(off[1], kSentinel);  // only the order slot is written
  EXPECT_EQ(Coefficients(FilterKind::HighPass, 15999, 32000, 4)[0], 4.0f);
  EXPECT_EQ(Coefficients(FilterKind::LowPass, 20000, 32000, 3),
            Coefficients(FilterKind::LowPass, 15999, 32000, 3));
  EXPECT_NEAR(MagnitudeDb(Coefficients(FilterKind::LowPass, 20000, 44100, 3), 20000, 44100),
              -3.0, 0.01);
  EXPECT_EQ(Coefficients(FilterKind::LowPass, 1000, 44100, 0)[0], 0.0f);

  BoundFilter passing(FilterKind::HighPass, 32000, 16000, 2);
  BoundFilter filtering(FilterKind::HighPass, 32000, 15999, 2);
  float input[64], through[64], filtered[64];
  for (int i = 0; i < 64; ++i) input[i] = std::sin(0.05f * i);
  FilterProcess(&passing.block, input, through, 64);
  FilterProcess(&filtering.block, input, filtered, 64);
  EXPECT_EQ(std::memcmp(input, through, sizeof input), 0);
  EXPECT_LT(std::abs(filtered[63]), 0.01f);
}

TEST(ButterworthDesign, FirstOrderHighPassTakesAConstantToZero) {
  BoundFilter filter(FilterKind::HighPass, 48000, 100, 1);
  std::vector<float> buffer(240);
  for (int block = 0; block < 200; ++block) {
    std::fill(buffer.begin(), buffer.end(), 0.75f);
    FilterProcess(&filter.block, buffer.data(), buffer.data(), 240);
    if (block == 0) {
      EXPECT_NEAR(buffer[0], 0.75f, 0.01f);
    }
  }
  // b1 = -b0 cancels the constant exactly; the decaying pole would stall on a denormal, which
  // the flush between calls clears, so the output ends on exact zeros.
  EXPECT_EQ(buffer, std::vector<float>(240, 0.0f));
}

TEST(FilterBlockSettings, SettersRefuseOutsideTheirRangesAndChangeNothing) {
  BoundFilter filter(FilterKind::HighPass, 44100, 1000, 4);
  FilterBlock* block = &filter.block;
  // Compared as bits: the ring entries that share the area are not meaningful as floats.
  const auto* areaBits = reinterpret_cast<const uint32_t*>(filter.area);
  const std::vector<uint32_t> before(areaBits, areaBits + kFilterAreaEntries);
  EXPECT_EQ(FilterSetSampleRate(block, 41), 1);
  EXPECT_EQ(FilterSetSampleRate(block, -44100), 1);
  EXPECT_EQ(FilterSetFrequency(block, 19), 1);
  EXPECT_EQ(FilterSetFrequency(block, 20001), 1);
  EXPECT_EQ(FilterSetFrequency(block, -1000), 1);
  EXPECT_EQ(FilterSetEnabled(block, 2), 3);
  EXPECT_EQ(FilterSetEnabled(block, -1), 3);
  // Orders that do not fit the area are refused instead of overrunning it.
  EXPECT_EQ(FilterSetOrder(block, 0), 1);
  EXPECT_EQ(FilterSetOrder(block, 11), 1);
  EXPECT_EQ(FilterSetOrder(block, -3), 1);
  EXPECT_EQ(std::vector<uint32_t>(areaBits, areaBits + kFilterAreaEntries), before);
  EXPECT_EQ(block->sampleRate, 44100);
  EXPECT_EQ(FilterGetFrequency(block), 1000);
  EXPECT_EQ(FilterGetOrder(block), 4);
  EXPECT_EQ(FilterGetEnabled(block), 1);

  EXPECT_EQ(FilterSetSampleRate(block, 42), 0);
  EXPECT_EQ(FilterSetFrequency(block, 20), 0);
  EXPECT_EQ(FilterSetFrequency(block, 20000), 0);
  EXPECT_EQ(FilterGetFrequency(block), 20000);
  EXPECT_EQ(FilterSetOrder(block, 10), 0);
  EXPECT_EQ(FilterSetOrder(block, 1), 0);
  EXPECT_EQ(FilterSetEnabled(block, 0), 0);
  EXPECT_EQ(FilterGetEnabled(block), 0);
  EXPECT_TRUE(filter.GuardIntact());
}

TEST(FilterBlockSettings, InitResetAndCopyFollowTheBlockKind) {
  FilterBlock high{}, low{};
  FilterInit(&high, FilterKind::HighPass);
  FilterInit(&low, FilterKind::LowPass);
  EXPECT_EQ(high.binding, nullptr);
  EXPECT_EQ(FilterGetEnabled(&high), 1);
  EXPECT_EQ(high.sampleRate, 44100);
  EXPECT_EQ(FilterGetFrequency(&high), 14000);
  EXPECT_EQ(FilterGetFrequency(&low), 400);
  EXPECT_EQ(FilterGetOrder(&low), 2);

  // Reset keeps the binding and redesigns for the reset values.
  BoundFilter filter(FilterKind::LowPass, 48000, 3000, 7);
  FilterSetEnabled(&filter.block, 0);
  FilterReset(&filter.block);
  EXPECT_EQ(filter.block.binding, &filter.binding);
  const std::vector<float> reset = Coefficients(FilterKind::LowPass, 400, 44100, 2);
  EXPECT_EQ(std::vector<float>(filter.area, filter.area + 7),
            std::vector<float>(reset.begin(), reset.begin() + 7));
  EXPECT_EQ(filter.binding.ring.length, 4);

  // Copy takes every valid setting and ignores what the destination refuses.
  BoundFilter destination(FilterKind::HighPass, 44100, 1000, 2);
  FilterBlock source = high;
  source.enabled = 0;
  source.sampleRate = 32000;
  source.frequency = 5;  // refused: the destination keeps its own
  source.order = 5;
  EXPECT_EQ(FilterCopyFrom(&destination.block, &source), 0);
  EXPECT_EQ(FilterGetEnabled(&destination.block), 0);
  EXPECT_EQ(destination.block.sampleRate, 32000);
  EXPECT_EQ(FilterGetFrequency(&destination.block), 1000);
  EXPECT_EQ(FilterGetOrder(&destination.block), 5);
  EXPECT_EQ(destination.area[0], 0.0f);  // disabled: pass-through set
}

TEST(FilterBlockState, FrequencyChangesKeepTheStateAndOrderChangesClearIt) {
  BoundFilter filter(FilterKind::HighPass, 44100, 200, 4);
  std::vector<float> buffer(240);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = std::sin(0.01f * i);
  FilterProcess(&filter.block, buffer.data(), buffer.data(), 240);
  const std::vector<float> state(filter.State(), filter.State() + 8);
  // A direct-form-I call visits every state float once, so its cursor always comes back to 0;
  // move it to see the rebind reset it.
  EXPECT_EQ(filter.binding.ring.cursor, 0);
  const int32_t cursor = 3;
  filter.binding.ring.cursor = cursor;

  FilterSetFrequency(&filter.block, 400);
  FilterSetEnabled(&filter.block, 0);
  FilterSetEnabled(&filter.block, 1);
  FilterSetSampleRate(&filter.block, 48000);
  EXPECT_EQ(std::vector<float>(filter.State(), filter.State() + 8), state);
  EXPECT_EQ(filter.binding.ring.cursor, cursor);
  EXPECT_EQ(filter.area[0], 4.0f);

  // Re-laid out for five sections (the layout follows the order also while disabled).
  FilterSetEnabled(&filter.block, 0);
  EXPECT_EQ(FilterSetOrder(&filter.block, 9), 0);
  EXPECT_EQ(filter.binding.state, filter.area + 31);
  EXPECT_EQ(reinterpret_cast<float*>(filter.binding.ringStorage), filter.area + 51);
  EXPECT_EQ(filter.binding.ring.length, 20);
  EXPECT_EQ(filter.binding.ring.cursor, 0);
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(filter.State()[i], 0.0f);
    EXPECT_EQ(FlushRingEntry(&filter.binding.ring, i), filter.State() + i);
  }
  EXPECT_EQ(filter.area[0], 0.0f);
  EXPECT_TRUE(filter.GuardIntact());
}

TEST(FilterBlockState, OneCallEqualsTwoHalves) {
  BoundFilter whole(FilterKind::LowPass, 44100, 3000, 7);
  BoundFilter halves(FilterKind::LowPass, 44100, 3000, 7);
  std::vector<float> input(480), a(480), b(480);
  for (size_t i = 0; i < input.size(); ++i) input[i] = std::sin(0.3f * i) * 0.5f;
  FilterProcess(&whole.block, input.data(), a.data(), 480);
  FilterProcess(&halves.block, input.data(), b.data(), 240);
  FilterProcess(&halves.block, input.data() + 240, b.data() + 240, 240);
  EXPECT_EQ(a, b);
}

TEST(SectionStabilityGuard, MovesOnlyUnstableFeedbackAndJustFarEnough) {
  // Strictly stable as rounded: untouched, bit for bit.
  EXPECT_EQ(StrictlyStableNegatedA1(1.5f, -0.6f), 1.5f);
  EXPECT_EQ(StrictlyStableNegatedA1(-0.9998f, 0.0f), -0.9998f);
  // A pole on z = -1 (1 - a1 + a2 = 0) or beyond: the largest magnitude strictly inside.
  const float onCircle = StrictlyStableNegatedA1(-1.75f, -0.75f);
  EXPECT_LT(-double{onCircle}, 1.75);
  EXPECT_EQ(onCircle, -std::nextafter(1.75f, 0.0f));
  EXPECT_EQ(StrictlyStableNegatedA1(1.0f, 0.0f), std::nextafter(1.0f, 0.0f));
  const float beyond = StrictlyStableNegatedA1(-2.0f, -0.999f);
  EXPECT_LT(-double{beyond}, 1.0 + 0.999f);
  EXPECT_GE(-double{std::nextafter(beyond, -3.0f)}, 1.0 + 0.999f);
  EXPECT_TRUE(std::isnan(StrictlyStableNegatedA1(std::nanf(""), 0.0f)));
}

}  // namespace
}  // namespace tessil
