#include "filters/biquad.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace tessil {
namespace {

// A cascade laid out the way the filter blocks lay out their areas: coefficients, state, ring.
struct Cascade {
  std::vector<float> coefficients;
  std::vector<float> state;
  std::vector<int32_t> items;
  FlushRing ring{};

  Cascade(int order, int statePerSection) {
    const int sections = order == 0 ? 1 : CascadeSectionCount(order);
    coefficients.assign(1 + 6 * sections, 0.0f);
    coefficients[0] = static_cast<float>(order);
    state.assign(statePerSection * sections, 0.0f);
    items.assign(state.size(), 0);
    ring = FlushRing{items.data(), 0, 0};
    AppendFlushRingRange(&ring, state.data(), static_cast<int32_t>(state.size()));
  }
  void SetSection(int k, float c0, float c1, float c2, float c3, float c4) {
    SectionCoefficients* s = CascadeSection(coefficients.data(), k);
    s->flag = 1.0f;
    const float values[5] = {c0, c1, c2, c3, c4};
    std::memcpy(s->coefficients, values, sizeof values);
  }
};

TEST(BiquadKernels, DirectFormOneKeepsItsAssociationAndState) {
  const float c[5] = {0.5f, 0.25f, 0.125f, 0.5f, -0.25f};
  float state[4] = {1.0f, 2.0f, 3.0f, 4.0f};
  float buffer[3] = {1.0f, -1.0f, 0.5f};
  RunSectionDF1(buffer, buffer, 3, c, state);
  // y0 = (((0.5*1 + 0.25*1) + 0.125*2) + 0.5*3) + -0.25*4 = 1.5
  EXPECT_FLOAT_EQ(buffer[0], 1.5f);
  // y1 = (((0.5*-1 + 0.25*1) + 0.125*1) + 0.5*1.5) + -0.25*3 = -0.125
  EXPECT_FLOAT_EQ(buffer[1], -0.125f);
  EXPECT_FLOAT_EQ(state[0], 0.5f);   // x[n-1]
  EXPECT_FLOAT_EQ(state[1], -1.0f);  // x[n-2]
  EXPECT_FLOAT_EQ(state[2], buffer[2]);
  EXPECT_FLOAT_EQ(state[3], -0.125f);
}

TEST(BiquadKernels, TransposedFormMatchesDirectFormForTheSameFilter) {
  // b0, b1, b2, -a1, -a2 of a resonant section, reordered for the transposed form.
  const float b0 = 0.2f, b1 = 0.1f, b2 = -0.05f, na1 = 1.2f, na2 = -0.6f;
  const float df1[5] = {b0, b1, b2, na1, na2};
  const float tdf2[5] = {b0, na1, b1, na2, b2};
  float s1[4] = {}, s2[2] = {};
  std::vector<float> x(64), y1(64), y2(64);
  for (int i = 0; i < 64; ++i) x[i] = std::sin(0.3f * i) + (i == 5 ? 1.0f : 0.0f);
  RunSectionDF1(x.data(), y1.data(), 64, df1, s1);
  RunSectionTDF2(x.data(), y2.data(), 64, tdf2, s2);
  for (int i = 0; i < 64; ++i) EXPECT_NEAR(y1[i], y2[i], 1e-5f) << i;
}

TEST(BiquadKernels, StridedBandPassTouchesOnlyItsPositions) {
  const float c[3] = {0.5f, 0.1f, -0.2f};
  float state[2] = {};
  float input[10], output[10];
  for (int i = 0; i < 10; ++i) {
    input[i] = 1.0f;
    output[i] = -7.0f;
  }
  RunBandPassStrided(input, output, 10, c, state, 4);
  for (int i = 0; i < 10; ++i) {
    if (i == 3 || i == 7) {
      EXPECT_NE(output[i], -7.0f) << i;
    } else {
      EXPECT_EQ(output[i], -7.0f) << i;
    }
  }
  EXPECT_EQ(output[3], 0.5f);              // y = 0 + 0.5
  EXPECT_EQ(output[7], 0.05f + 0.5f);      // s1 = 0 + 0.1*0.5
  float untouched[2] = {3.0f, 4.0f};
  RunBandPassStrided(input, output, 10, c, untouched, 11);
  EXPECT_EQ(untouched[0], 3.0f);
  EXPECT_EQ(untouched[1], 4.0f);
}

TEST(CascadeRunners, OrderZeroCopiesAndLeavesStateAndCursorAlone) {
  Cascade cascade(0, 4);
  cascade.state[0] = 5e-16f;
  cascade.ring.cursor = 2;
  const float input[4] = {1, 2, 3, 4};
  float output[4] = {};
  EXPECT_EQ(RunCascadeDF1(cascade.coefficients.data(), cascade.state.data(), input, output, 4,
                          &cascade.ring), 0);
  EXPECT_EQ(std::memcmp(input, output, sizeof input), 0);
  EXPECT_EQ(cascade.state[0], 5e-16f);
  EXPECT_EQ(cascade.ring.cursor, 2);
  EXPECT_EQ(RunCascadeTDF2(cascade.coefficients.data(), cascade.state.data(), input, output, 4,
                           &cascade.ring), 0);
  EXPECT_EQ(cascade.ring.cursor, 2);
}

TEST(CascadeRunners, SweepFlushesOnlyValuesStrictlyInsideTheThreshold) {
  EXPECT_EQ(std::bit_cast<uint32_t>(kDenormalFlushThreshold), 0x26901D7Du);
  EXPECT_EQ(std::bit_cast<uint32_t>(-kDenormalFlushThreshold), 0xA6901D7Du);
  // Order 3: two sections, eight state floats, so one call sweeps all eight once.
  Cascade cascade(3, 4);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float values[8] = {9.9e-16f, -9.9e-16f, 1e-15f, -1e-15f, 1e-14f, nan, -0.0f, 0.5f};
  std::memcpy(cascade.state.data(), values, sizeof values);
  // Count 0 processes no sample but still sweeps four entries per section.
  RunCascadeDF1(cascade.coefficients.data(), cascade.state.data(), nullptr, nullptr, 0,
                &cascade.ring);
  EXPECT_EQ(std::bit_cast<uint32_t>(cascade.state[0]), 0u);
  EXPECT_EQ(std::bit_cast<uint32_t>(cascade.state[1]), 0u);
  EXPECT_EQ(cascade.state[2], 1e-15f);
  EXPECT_EQ(cascade.state[3], -1e-15f);
  EXPECT_EQ(cascade.state[4], 1e-14f);
  EXPECT_TRUE(std::isnan(cascade.state[5]));
  EXPECT_EQ(std::bit_cast<uint32_t>(cascade.state[6]), 0u);  // -0.0 is stored as +0.0
  EXPECT_EQ(cascade.state[7], 0.5f);
  EXPECT_EQ(cascade.ring.cursor, 0);  // 8 visits over 8 entries wrap back to the start
}

TEST(CascadeRunners, EqualiserStyleRingCarriesOnAcrossBandsAndWraps) {
  // Four one-section bands share a ring of 8 entries; each band run visits four of them.
  std::vector<float> coefficients(7, 0.0f);
  coefficients[0] = 2.0f;
  coefficients[2] = 1.0f;  // b0 = 1: identity section
  std::vector<float> state(8, 0.0f);
  std::vector<int32_t> items(8);
  FlushRing ring{items.data(), 0, 0};
  AppendFlushRingRange(&ring, state.data(), 8);
  float buffer[2] = {0.25f, 0.5f};
  RunCascadeTDF2(coefficients.data(), state.data() + 2, buffer, buffer, 2, &ring);
  EXPECT_EQ(ring.cursor, 4);
  RunCascadeTDF2(coefficients.data(), state.data() + 4, buffer, buffer, 2, &ring);
  EXPECT_EQ(ring.cursor, 0);
  EXPECT_EQ(buffer[0], 0.25f);
  EXPECT_EQ(buffer[1], 0.5f);
}

TEST(CascadeRunners, LaterSectionsRunInPlaceAndInputStaysUnchanged) {
  Cascade cascade(3, 4);
  cascade.SetSection(0, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f);     // first-order averager
  cascade.SetSection(1, 2.0f, 0.0f, 0.0f, 0.0f, 0.0f);     // gain of two
  const float input[4] = {1.0f, 0.0f, 0.0f, 0.0f};
  float output[4] = {};
  RunCascadeDF1(cascade.coefficients.data(), cascade.state.data(), input, output, 4,
                &cascade.ring);
  EXPECT_EQ(input[0], 1.0f);
  EXPECT_EQ(output[0], 1.0f);
  EXPECT_EQ(output[1], 1.0f);
  EXPECT_EQ(output[2], 0.0f);
  // Ten poles run five second-order sections: the gains multiply.
  Cascade tenth(10, 4);
  for (int k = 0; k < 5; ++k) tenth.SetSection(k, 2.0f, 0.0f, 0.0f, 0.0f, 0.0f);
  float impulse[2] = {1.0f, 0.0f};
  RunCascadeDF1(tenth.coefficients.data(), tenth.state.data(), impulse, impulse, 2, &tenth.ring);
  EXPECT_EQ(impulse[0], 32.0f);
  EXPECT_EQ(tenth.ring.cursor, 0);  // 5 sections x 4 visits = 20 = its 20 state floats
}

TEST(ZeroFillTest, WritesExactlyTheRange) {
  float values[3] = {1.0f, 2.0f, 3.0f};
  ZeroFill(values, 0, 0);
  EXPECT_EQ(values[0], 1.0f);
  ZeroFill(values + 1, sizeof(float), 0);
  EXPECT_EQ(values[0], 1.0f);
  EXPECT_EQ(values[1], 0.0f);
  EXPECT_EQ(values[2], 3.0f);
}

}  // namespace
}  // namespace tessil
