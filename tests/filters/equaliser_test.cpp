#include "filters/equaliser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <vector>

namespace tessil {
namespace {

constexpr int32_t kRates[] = {32000, 44100, 48000};
constexpr float kSentinel = -12345.0f;

struct BoundEqualiser {
  EqualiserBlock block{};
  EqualiserBand bands[kEqualiserBands];
  FilterStateBinding binding{};
  float area[kEqualiserAreaEntries + 8];

  explicit BoundEqualiser(int32_t rate) {
    for (float& entry : area) entry = kSentinel;
    EqualiserInit(&block, bands);
    EXPECT_EQ(EqualiserSetBandCount(&block, 4), 0);
    EXPECT_EQ(EqualiserSetSampleRate(&block, rate), 0);
    EqualiserBind(&block, &binding, area);
  }
  const float* Set(uint32_t band) const { return area + 7 * band; }
  std::vector<float> State() const { return {binding.state, binding.state + 8}; }
  bool GuardIntact() const {
    return std::all_of(area + kEqualiserAreaEntries, area + kEqualiserAreaEntries + 8,
                       [](float entry) { return entry == kSentinel; });
  }
};

// Response of one stored band (b0, -a1, b1, -a2, b2), evaluated in double.
std::complex<double> Response(const float* set, double frequency, double rate) {
  const std::complex<double> z1 = std::polar(1.0, -2.0 * std::numbers::pi * frequency / rate);
  const float* c = set + 2;
  return (double{c[0]} + double{c[2]} * z1 + double{c[4]} * z1 * z1) /
         (1.0 - double{c[1]} * z1 - double{c[3]} * z1 * z1);
}

double StabilityMargin(const float* set) {
  const double a1 = -double{set[3]}, a2 = -double{set[5]};
  return std::min({1.0 - std::abs(a2), 1.0 + a1 + a2, 1.0 - a1 + a2});
}

std::vector<float> Design(float gain, uint32_t frequency, float q, int32_t rate) {
  const EqualiserBand band{1, gain, frequency, q};
  std::vector<float> set(7);
  DesignPeakingBand(&band, rate, set.data());
  return set;
}

// What a design stores: the order slot and the five coefficients (the word between is reserved).
std::vector<float> Stored(const float* set) {
  return {set[0], set[2], set[3], set[4], set[5], set[6]};
}

// Amplitude of the steady-state response to a sine, by correlation over whole periods.
double SineGain(BoundEqualiser& equaliser, double frequency, double rate) {
  const int warmUp = static_cast<int>(rate), measured = static_cast<int>(rate / 10);
  std::vector<float> buffer(warmUp + measured);
  const double w = 2.0 * std::numbers::pi * frequency / rate;
  for (size_t n = 0; n < buffer.size(); ++n) buffer[n] = static_cast<float>(0.25 * std::sin(w * n));
  for (size_t start = 0; start < buffer.size(); start += 960) {
    const int32_t count = static_cast<int32_t>(std::min<size_t>(960, buffer.size() - start));
    EqualiserProcess(&equaliser.block, buffer.data() + start, count);
  }
  double in = 0.0, quadrature = 0.0;
  for (int n = warmUp; n < warmUp + measured; ++n) {
    in += buffer[n] * std::sin(w * n);
    quadrature += buffer[n] * std::cos(w * n);
  }
  return 2.0 / measured * std::hypot(in, quadrature) / 0.25;
}

TEST(PeakingDesign, CentreGetsTheGainAndTheEdgesStayAtUnity) {
  for (int32_t rate : kRates) {
    for (float gain : {2.0f, 0.5f, 10.0f, 0.1f}) {
      SCOPED_TRACE(testing::Message() << rate << " gain " << gain);
      const std::vector<float> set = Design(gain, 1000, 2.0f, rate);
      EXPECT_EQ(set[0], 2.0f);
      EXPECT_NEAR(std::abs(Response(set.data(), 1000, rate)), gain, 2e-5 * gain);
      EXPECT_NEAR(std::abs(Response(set.data(), 0, rate)), 1.0, 1e-5);
      EXPECT_NEAR(std::abs(Response(set.data(), rate / 2.0, rate)), 1.0, 1e-5);
      // A cut is the mirror image of the boost by the reciprocal factor.
      const std::vector<float> mirror = Design(1.0f / gain, 1000, 2.0f, rate);
      for (double f : {100.0, 700.0, 1000.0, 1500.0, 8000.0}) {
        EXPECT_NEAR(std::abs(Response(set.data(), f, rate) * Response(mirror.data(), f, rate)),
                    1.0, 5e-5) << f;
      }
    }
  }
  // Measured through the block: 2.0 and 0.5 at the centre, 1.0 for a constant.
  for (float gain : {2.0f, 0.5f}) {
    BoundEqualiser equaliser(48000);
    EqualiserSetBandGain(&equaliser.block, 0, gain);
    EXPECT_NEAR(SineGain(equaliser, 1000.0, 48000.0), gain, 1e-3 * gain);
    std::vector<float> constant(48000, 0.5f);
    for (int start = 0; start < 48000; start += 960) {
      EqualiserProcess(&equaliser.block, constant.data() + start, 960);
    }
    EXPECT_NEAR(constant.back(), 0.5f, 1e-5f);
  }
}

TEST(PeakingDesign, HalfTheRateAndAboveIsPassedThrough) {
  EXPECT_EQ(Design(2.0f, 16000, 2.0f, 32000)[0], 0.0f);
  EXPECT_EQ(Design(2.0f, 15999, 2.0f, 32000)[0], 2.0f);
  BoundEqualiser equaliser(32000);
  EqualiserSetBandFrequency(&equaliser.block, 0, 16000);
  for (uint32_t band = 1; band < 4; ++band) EqualiserSetBandEnabled(&equaliser.block, band, 0);
  float buffer[32];
  for (int i = 0; i < 32; ++i) buffer[i] = std::sin(2.5f * i);
  const std::vector<float> input(buffer, buffer + 32);
  EqualiserProcess(&equaliser.block, buffer, 32);
  EXPECT_EQ(std::vector<float>(buffer, buffer + 32), input);
  EXPECT_EQ(equaliser.binding.ring.cursor, 0);  // a pass-through band does not sweep
}

TEST(PeakingDesign, WellInsideItsRangeTheFormulaStandsBitForBit) {
  // The plain design, written out independently.
  auto plain = [](float gain, uint32_t frequency, float q, int32_t rate) {
    const double g = gain, k = std::min(g, 1.0);
    const double w0 = 2.0 * std::numbers::pi * frequency / rate;
    const double t = std::tan(w0 * (1.0 / (3.0 * q)));
    const double m = 1.0 / (k + t);
    return std::vector<float>{frequency < static_cast<uint32_t>(rate) / 2 ? 2.0f : 0.0f,
                              static_cast<float>(m * (k + g * t)),
                              static_cast<float>(2.0 * m * k * std::cos(w0)),
                              static_cast<float>(-2.0 * m * k * std::cos(w0)),
                              static_cast<float>(m * (t - k)),
                              static_cast<float>(m * (k - g * t))};
  };
  for (int32_t rate : kRates) {
    for (float q : {0.25f, 0.5f, 0.71f, 1.0f, 2.0f, 4.0f, 16.0f}) {
      for (uint32_t frequency = 20; frequency <= 20000 && frequency < rate / 2u - 40;
           frequency += 37) {
        if (2.0 * std::numbers::pi * frequency / rate / (3.0 * q) > 1.4) continue;
        for (float gain : {0.1f, 0.5f, 1.0f, 1.9952623844146729f, 10.0f}) {
          ASSERT_EQ(Stored(Design(gain, frequency, q, rate).data()),
                    plain(gain, frequency, q, rate))
              << rate << " " << frequency << " q " << q << " gain " << gain;
        }
      }
    }
  }
  // Where the plain formula runs past a right angle it is unstable; the band is not.
  EXPECT_LE(StabilityMargin(plain(2.0f, 10000, 0.25f, 48000).data()), 0.0);
  EXPECT_GT(StabilityMargin(Design(2.0f, 10000, 0.25f, 48000).data()), 0.01);
}

TEST(PeakingDesign, EveryAdmittedBandIsStrictlyStableAndStaysFinite) {
  std::vector<float> qs;
  for (int step = 0; step <= 24; ++step) qs.push_back(0.25f * std::pow(2.0f, step / 4.0f));
  qs.push_back(0.6666667f);
  qs.push_back(0.7017544f);
  for (int32_t rate : kRates) {
    for (float q : qs) {
      for (uint32_t frequency = 20; frequency <= 20000; ++frequency) {
        for (float gain : {0.1f, 1.0f, 10.0f}) {
          const std::vector<float> set = Design(gain, frequency, q, rate);
          if (set[0] == 0.0f) continue;
          ASSERT_GT(StabilityMargin(set.data()), 0.0)
              << rate << " " << frequency << " q " << q << " gain " << gain;
        }
      }
    }
  }
  // Run the worst corners (lowest q at every height, highest q right below half the rate) with
  // DC, a Nyquist tone and full-scale noise.
  std::vector<float> signal(9600);
  uint32_t noise = 1;
  for (size_t n = 0; n < signal.size(); ++n) {
    noise = noise * 1664525u + 1013904223u;
    const float white = static_cast<float>(noise >> 8) / 16777216.0f * 0.8f - 0.4f;
    signal[n] = 0.3f + ((n & 1) ? 0.3f : -0.3f) + white;
  }
  for (int32_t rate : kRates) {
    for (float q : {0.25f, 0.5f, 0.6666667f, 16.0f}) {
      for (uint32_t frequency : {20u, 1000u, 5000u, 8000u, 10000u, 12000u, 15000u, 15993u, 15999u,
                                 18000u, 20000u}) {
        for (float gain : {0.1f, 10.0f}) {
          BoundEqualiser equaliser(rate);
          EqualiserSetBandGain(&equaliser.block, 0, gain);
          EqualiserSetBandFrequency(&equaliser.block, 0, frequency);
          EqualiserSetBandQ(&equaliser.block, 0, q);
          std::vector<float> buffer = signal;
          for (size_t start = 0; start < buffer.size(); start += 960) {
            EqualiserProcess(&equaliser.block, buffer.data() + start, 960);
          }
          const float peak = *std::max_element(buffer.begin(), buffer.end(),
              [](float a, float b) { return std::abs(a) < std::abs(b); });
          ASSERT_TRUE(std::isfinite(peak) && std::abs(peak) < 100.0f)
              << rate << " " << frequency << " q " << q << " gain " << gain << ": " << peak;
        }
      }
    }
  }
}

// Every unity band the setters admit must come out as an exact identity, or the equaliser's
// default of eight unity bands would filter every sample after all.
TEST(PeakingDesign, UnityBandsAreExactIdentities) {
  const float block[4] = {0.5f, -0.25f, 1e-20f, 0.75f};
  for (int32_t rate : {32000, 44100, 48000}) {
    for (uint32_t hertz = 20; hertz < static_cast<uint32_t>(rate) / 2; hertz = hertz * 9 / 8 + 1) {
      for (float q : {0.25f, 0.7f, 2.0f, 16.0f}) {
        const EqualiserBand band{1, 1.0f, hertz, q};
        float coefficients[kEqualiserBandEntries];
        DesignPeakingBand(&band, rate, coefficients);
        float state[2] = {0.0f, 0.0f};
        float out[4];
        ASSERT_TRUE(PassIdentitySectionTDF2(block, out, 4, coefficients + 2, state))
            << rate << " Hz, " << hertz << " Hz, q " << q;
      }
    }
  }
}

TEST(EqualiserSettings, BandValuesAreClampedAndBadCallsRefused) {
  BoundEqualiser equaliser(44100);
  EqualiserBlock* block = &equaliser.block;
  EXPECT_EQ(EqualiserSetBandGain(block, 0, 0.05f), 0);
  EXPECT_EQ(EqualiserGetBandGain(block, 0), 0.1f);
  EXPECT_EQ(EqualiserSetBandGain(block, 0, 12.0f), 0);
  EXPECT_EQ(EqualiserGetBandGain(block, 0), 10.0f);
  EXPECT_EQ(EqualiserSetBandFrequency(block, 1, 5), 0);
  EXPECT_EQ(EqualiserGetBandFrequency(block, 1), 20u);
  EXPECT_EQ(EqualiserSetBandFrequency(block, 1, static_cast<uint32_t>(-1)), 0);
  EXPECT_EQ(EqualiserGetBandFrequency(block, 1), 20000u);
  EXPECT_EQ(EqualiserSetBandQ(block, 2, 0.1f), 0);
  EXPECT_EQ(EqualiserGetBandQ(block, 2), 0.25f);
  EXPECT_EQ(EqualiserSetBandQ(block, 2, 20.0f), 0);
  EXPECT_EQ(EqualiserGetBandQ(block, 2), 16.0f);

  // A NaN is refused and the previous value stays.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(EqualiserSetBandGain(block, 0, nan), 1);
  EXPECT_EQ(EqualiserGetBandGain(block, 0), 10.0f);
  EXPECT_EQ(EqualiserSetBandQ(block, 2, nan), 1);
  EXPECT_EQ(EqualiserGetBandQ(block, 2), 16.0f);

  // Compared as bits: the ring entries that share the area are not meaningful as floats.
  const auto* areaBits = reinterpret_cast<const uint32_t*>(equaliser.area);
  const std::vector<uint32_t> before(areaBits, areaBits + kEqualiserAreaEntries);
  EXPECT_EQ(EqualiserSetBandEnabled(block, 4, 0), 4);
  EXPECT_EQ(EqualiserSetBandGain(block, 4, 2.0f), 4);
  EXPECT_EQ(EqualiserSetBandFrequency(block, 4, 300), 4);
  EXPECT_EQ(EqualiserSetBandQ(block, 4, 1.0f), 4);
  EXPECT_EQ(EqualiserSetBandEnabled(block, 0, 2), 3);
  EXPECT_EQ(EqualiserSetEnabled(block, 2), 3);
  EXPECT_EQ(EqualiserSetSampleRate(block, 41), 1);
  EXPECT_EQ(EqualiserSetSampleRate(block, -48000), 1);
  EXPECT_EQ(EqualiserSetBandCount(block, 5), 1);  // more bands than the area holds
  EXPECT_EQ(std::vector<uint32_t>(areaBits, areaBits + kEqualiserAreaEntries), before);
  EXPECT_EQ(block->bandCount, 4u);
  EXPECT_EQ(block->sampleRate, 44100);
  EXPECT_EQ(EqualiserGetBandEnabled(block, 4), 1);
  EXPECT_EQ(EqualiserGetBandGain(block, 4), 1.0f);
  EXPECT_EQ(EqualiserGetBandFrequency(block, 4), 1000u);
  EXPECT_EQ(EqualiserGetBandQ(block, 4), 2.0f);

  EXPECT_EQ(EqualiserSetSampleRate(block, 42), 0);
  EXPECT_EQ(EqualiserSetEnabled(block, 0), 0);
  EXPECT_EQ(EqualiserGetEnabled(block), 0);
  EXPECT_TRUE(equaliser.GuardIntact());
}

TEST(EqualiserSettings, InitResetAndCountChangesBringBandDefaults) {
  EqualiserBlock block{};
  EqualiserBand bands[kEqualiserBands];
  for (EqualiserBand& band : bands) band = {7, std::numeric_limits<float>::quiet_NaN(), 3, -1.0f};
  EqualiserInit(&block, bands);
  EXPECT_EQ(block.bands, bands);
  EXPECT_EQ(block.binding, nullptr);
  EXPECT_EQ(EqualiserGetEnabled(&block), 1);
  EXPECT_EQ(block.sampleRate, 44100);
  EXPECT_EQ(block.bandCount, 0u);
  EXPECT_EQ(EqualiserSetBandCount(&block, 4), 0);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(EqualiserGetBandEnabled(&block, i), 1);
    EXPECT_EQ(EqualiserGetBandGain(&block, i), 1.0f);
    EXPECT_EQ(EqualiserGetBandFrequency(&block, i), 1000u);
    EXPECT_EQ(EqualiserGetBandQ(&block, i), 2.0f);
  }

  BoundEqualiser equaliser(48000);
  EqualiserReset(&equaliser.block);
  EXPECT_EQ(equaliser.block.binding, &equaliser.binding);
  EXPECT_EQ(equaliser.block.bandCount, 0u);
  EXPECT_EQ(equaliser.binding.ring.length, 0);
  EXPECT_EQ(equaliser.block.sampleRate, 44100);
}

TEST(EqualiserState, OnlyRealChangesRedesignAndTheyClearFromTheChangedBandOn) {
  BoundEqualiser equaliser(48000);
  EqualiserBlock* block = &equaliser.block;
  for (uint32_t band = 0; band < 4; ++band) {
    EqualiserSetBandGain(block, band, 1.5f + band);
    EqualiserSetBandFrequency(block, band, 200 + 900 * band);
  }
  std::vector<float> buffer(480);
  for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = std::sin(0.07f * i);
  EqualiserProcess(block, buffer.data(), 480);
  const std::vector<float> state = equaliser.State();
  for (float value : state) ASSERT_NE(value, 0.0f);
  const std::vector<float> coefficients(equaliser.area, equaliser.area + 28);

  // The same values again, also after clamping (30 stores 16 twice).
  EqualiserSetBandQ(block, 3, 30.0f);
  const std::vector<float> clampedState = equaliser.State();
  EXPECT_EQ(EqualiserSetBandGain(block, 1, 2.5f), 0);
  EXPECT_EQ(EqualiserSetBandFrequency(block, 2, 2000), 0);
  EXPECT_EQ(EqualiserSetBandQ(block, 3, 20.0f), 0);
  EXPECT_EQ(EqualiserSetBandEnabled(block, 0, 1), 0);
  EXPECT_EQ(equaliser.State(), clampedState);

  EqualiserProcess(block, buffer.data(), 480);
  const std::vector<float> running = equaliser.State();
  EXPECT_EQ(EqualiserSetBandGain(block, 1, 3.0f), 0);
  const std::vector<float> after = equaliser.State();
  EXPECT_EQ(after[0], running[0]);
  EXPECT_EQ(after[1], running[1]);
  for (int i = 2; i < 8; ++i) EXPECT_EQ(after[i], 0.0f) << i;
  EXPECT_EQ(std::vector<float>(equaliser.Set(0), equaliser.Set(0) + 7),
            std::vector<float>(coefficients.begin(), coefficients.begin() + 7));
  EXPECT_EQ(Stored(equaliser.Set(1)), Stored(Design(3.0f, 1100, 2.0f, 48000).data()));

  // A new rate redesigns every band and clears all state.
  EqualiserProcess(block, buffer.data(), 480);
  EqualiserSetSampleRate(block, 32000);
  EXPECT_EQ(equaliser.State(), std::vector<float>(8, 0.0f));
  EXPECT_EQ(Stored(equaliser.Set(3)), Stored(Design(4.5f, 2900, 16.0f, 32000).data()));
  EXPECT_TRUE(equaliser.GuardIntact());
}

TEST(EqualiserState, DisabledBandsAreSkippedWithoutSweepingTheRing) {
  BoundEqualiser equaliser(44100);
  EqualiserBlock* block = &equaliser.block;
  EXPECT_EQ(equaliser.binding.ring.length, 8);
  EqualiserSetBandGain(block, 0, 4.0f);
  EqualiserSetBandEnabled(block, 0, 0);
  EqualiserSetBandGain(block, 1, 2.0f);
  std::vector<float> buffer(240, 0.25f);
  EqualiserProcess(block, buffer.data(), 240);
  // Three bands ran, four ring entries each: 12 visits over 8 entries.
  EXPECT_EQ(equaliser.binding.ring.cursor, 4);
  EXPECT_EQ(equaliser.State()[0], 0.0f);
  EXPECT_EQ(equaliser.State()[1], 0.0f);
  EXPECT_NE(equaliser.State()[2], 0.0f);
}

TEST(EqualiserState, CopyFromFillsTheDestinationsOwnBands) {
  BoundEqualiser source(48000), destination(44100);
  EqualiserSetBandGain(&source.block, 2, 6.0f);
  EqualiserSetBandFrequency(&source.block, 2, 5000);
  EqualiserSetBandQ(&source.block, 2, 0.5f);
  EqualiserSetBandEnabled(&source.block, 3, 0);
  EqualiserSetEnabled(&source.block, 0);
  std::vector<float> buffer(240, 0.5f);
  EqualiserProcess(&destination.block, buffer.data(), 240);

  EXPECT_EQ(EqualiserCopyFrom(&destination.block, &source.block), 0);
  EXPECT_EQ(destination.block.bands, destination.bands);
  EXPECT_EQ(EqualiserGetEnabled(&destination.block), 0);
  EXPECT_EQ(destination.block.sampleRate, 48000);
  EXPECT_EQ(EqualiserGetBandGain(&destination.block, 2), 6.0f);
  EXPECT_EQ(EqualiserGetBandFrequency(&destination.block, 2), 5000u);
  EXPECT_EQ(EqualiserGetBandQ(&destination.block, 2), 0.5f);
  EXPECT_EQ(EqualiserGetBandEnabled(&destination.block, 3), 0);
  EXPECT_EQ(std::vector<float>(destination.area, destination.area + 28),
            std::vector<float>(source.area, source.area + 28));
  EXPECT_EQ(destination.State(), std::vector<float>(8, 0.0f));

  EqualiserSetBandGain(&source.block, 2, 0.2f);
  EXPECT_EQ(EqualiserGetBandGain(&destination.block, 2), 6.0f);
}

}  // namespace
}  // namespace tessil
