#include "filters/biquad.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

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

TEST(CascadeRunners, OrderZeroCopiesAndLeavesStateAndCursorAlone) {
  Cascade cascade(0, 4);
  cascade.state[0] = 5e-16f;
  cascade.ring.cursor = 2;
  const float input[4] = {1, 2, 3, 4};
  float output[4] = {};
  RunCascadeDF1(cascade.coefficients.data(), cascade.state.data(), input, output, 4,
                &cascade.ring);
  EXPECT_EQ(std::memcmp(input, output, sizeof input), 0);
  EXPECT_EQ(cascade.state[0], 5e-16f);
  EXPECT_EQ(cascade.ring.cursor, 2);
  RunCascadeTDF2(cascade.coefficients.data(), cascade.state.data(), input, output, 4,
                 &cascade.ring);
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

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// A unity peaking band (b1 = a1, b2 = a2, b0 = 1) passed through without arithmetic must leave
// every output and state bit where the section kernel would, over blocks that keep the shortcut
// and blocks that must refuse it (a negative zero, an infinity, a NaN, a state that is not clean).
TEST(CascadeRunners, UnitySectionShortcutIsBitForBitTheKernel) {
  const float na1 = 1.8890331f, na2 = -0.8960537f;
  std::vector<std::vector<float>> blocks;
  std::vector<float> music(241);
  for (size_t i = 0; i < music.size(); ++i) {
    music[i] = std::sin(0.37f * i) * (i % 7 == 0 ? 1e-30f : 0.8f);
  }
  blocks.push_back(music);
  std::vector<float> signedZero = music;
  signedZero[100] = -0.0f;
  blocks.push_back(signedZero);
  blocks.push_back(music);
  std::vector<float> infinite = music;
  infinite[3] = std::numeric_limits<float>::infinity();
  blocks.push_back(infinite);
  blocks.push_back(music);  // the state is NaN from here on: the kernel must keep it so

  Cascade shortcut(2, 2), reference(2, 2);
  shortcut.SetSection(0, 1.0f, na1, -na1, na2, -na2);
  reference.SetSection(0, 1.0f, na1, -na1, na2, -na2);
  bool shortcutTaken = false;
  for (const std::vector<float>& block : blocks) {
    std::vector<float> viaRunner(block.size()), viaKernel(block.size());
    std::vector<float> probeState = shortcut.state;
    std::vector<float> probe(block.size());
    shortcutTaken |= PassIdentitySectionTDF2(block.data(), probe.data(),
                                             static_cast<int32_t>(block.size()),
                                             shortcut.coefficients.data() + 2, probeState.data());
    RunCascadeTDF2(shortcut.coefficients.data(), shortcut.state.data(), block.data(),
                   viaRunner.data(), static_cast<int32_t>(block.size()), &shortcut.ring);
    RunSectionTDF2(block.data(), viaKernel.data(), static_cast<int32_t>(block.size()),
                   reference.coefficients.data() + 2, reference.state.data());
    SweepFlushRing(&reference.ring, 4);
    EXPECT_TRUE(SameBits(viaRunner, viaKernel));
    EXPECT_TRUE(SameBits(shortcut.state, reference.state));
    EXPECT_EQ(shortcut.ring.cursor, reference.ring.cursor);
  }
  EXPECT_TRUE(shortcutTaken);
  EXPECT_TRUE(std::isnan(shortcut.state[0]) || std::isnan(shortcut.state[1]));

  // A band that is not unity is never passed through.
  Cascade boost(2, 2);
  boost.SetSection(0, 1.05f, na1, -na1, na2, -0.85f);
  std::vector<float> out(music.size());
  EXPECT_FALSE(PassIdentitySectionTDF2(music.data(), out.data(), 241,
                                       boost.coefficients.data() + 2, boost.state.data()));
}

#if defined(__SSE2__)
// The shortcut must stay exact in every floating-point mode a host may leave behind: flush to
// zero and denormals are zero (a denormal sample), and a directed rounding mode (the product
// pairs then cancel to -0). Run in place, as the equaliser does.
TEST(CascadeRunners, UnitySectionShortcutHoldsInEveryFloatingPointMode) {
  const float na1 = 1.8890331f, na2 = -0.8960537f;
  std::vector<float> block(240);
  for (size_t i = 0; i < block.size(); ++i) block[i] = std::sin(0.21f * i) * 0.5f;
  std::vector<float> denormal = block;
  denormal[17] = 1e-40f;
  const unsigned saved = _mm_getcsr();
  for (unsigned mode : {0x0000u, 0x8040u, 0x2000u, 0x6000u}) {  // nearest, FTZ+DAZ, down, zero
    Cascade shortcut(2, 2), reference(2, 2);
    shortcut.SetSection(0, 1.0f, na1, -na1, na2, -na2);
    reference.SetSection(0, 1.0f, na1, -na1, na2, -na2);
    for (const std::vector<float>* input : {&block, &denormal, &block}) {
      std::vector<float> viaRunner = *input, viaKernel = *input;
      _mm_setcsr((saved & ~0xE040u) | mode);
      RunCascadeTDF2(shortcut.coefficients.data(), shortcut.state.data(), viaRunner.data(),
                     viaRunner.data(), 240, &shortcut.ring);
      RunSectionTDF2(viaKernel.data(), viaKernel.data(), 240, reference.coefficients.data() + 2,
                     reference.state.data());
      SweepFlushRing(&reference.ring, 4);
      _mm_setcsr(saved);
      EXPECT_TRUE(SameBits(viaRunner, viaKernel)) << std::hex << mode;
      EXPECT_TRUE(SameBits(shortcut.state, reference.state)) << std::hex << mode;
    }
  }
}
#endif

// Left and right together equal each channel on its own, for matching and mismatched orders.
TEST(CascadeRunners, StereoPairEqualsTwoSingleChannelRuns) {
  for (const auto& [leftOrder, rightOrder] : {std::pair{4, 4}, std::pair{3, 5}, std::pair{0, 0}}) {
    Cascade pairLeft(leftOrder, 4), pairRight(rightOrder, 4);
    Cascade singleLeft(leftOrder, 4), singleRight(rightOrder, 4);
    for (int k = 0; k < (leftOrder + 1) / 2; ++k) {
      pairLeft.SetSection(k, 0.2f, 0.3f + k * 0.01f, 0.1f, 0.9f, -0.4f);
      singleLeft.SetSection(k, 0.2f, 0.3f + k * 0.01f, 0.1f, 0.9f, -0.4f);
    }
    for (int k = 0; k < (rightOrder + 1) / 2; ++k) {
      pairRight.SetSection(k, 0.25f, -0.3f, 0.05f, 1.1f, -0.5f - k * 0.1f);
      singleRight.SetSection(k, 0.25f, -0.3f, 0.05f, 1.1f, -0.5f - k * 0.1f);
    }
    for (int block = 0; block < 3; ++block) {
      std::vector<float> left(240), right(240);
      for (int i = 0; i < 240; ++i) {
        left[i] = std::sin(0.05f * (i + 240 * block)) * (block == 1 ? 1e-18f : 1.0f);
        right[i] = std::cos(0.11f * (i + 240 * block));
      }
      std::vector<float> expectedLeft = left, expectedRight = right;
      RunCascadeDF1(singleLeft.coefficients.data(), singleLeft.state.data(), expectedLeft.data(),
                    expectedLeft.data(), 240, &singleLeft.ring);
      RunCascadeDF1(singleRight.coefficients.data(), singleRight.state.data(),
                    expectedRight.data(), expectedRight.data(), 240, &singleRight.ring);
      RunCascadeDF1Pair(pairLeft.coefficients.data(), pairLeft.state.data(), &pairLeft.ring,
                        left.data(), pairRight.coefficients.data(), pairRight.state.data(),
                        &pairRight.ring, right.data(), 240);
      EXPECT_TRUE(SameBits(left, expectedLeft)) << leftOrder << "/" << rightOrder;
      EXPECT_TRUE(SameBits(right, expectedRight)) << leftOrder << "/" << rightOrder;
      EXPECT_TRUE(SameBits(pairLeft.state, singleLeft.state));
      EXPECT_TRUE(SameBits(pairRight.state, singleRight.state));
      EXPECT_EQ(pairLeft.ring.cursor, singleLeft.ring.cursor);
      EXPECT_EQ(pairRight.ring.cursor, singleRight.ring.cursor);
    }
  }
}

// Two single-section stages fused over both channels equal the stages one after the other,
// block after block; a stage of two sections is refused untouched.
TEST(CascadeRunners, TwoFusedStagesEqualTheStagesInTurn) {
  for (const auto& [firstOrder, secondOrder] :
       {std::pair{2, 2}, std::pair{1, 2}, std::pair{2, 3}}) {
    Cascade fused[2][2] = {{Cascade(firstOrder, 4), Cascade(firstOrder, 4)},
                           {Cascade(secondOrder, 4), Cascade(secondOrder, 4)}};
    Cascade single[2][2] = {{Cascade(firstOrder, 4), Cascade(firstOrder, 4)},
                            {Cascade(secondOrder, 4), Cascade(secondOrder, 4)}};
    for (int stage = 0; stage < 2; ++stage) {
      for (int c = 0; c < 2; ++c) {
        const int sections = ((stage == 0 ? firstOrder : secondOrder) + 1) / 2;
        for (int k = 0; k < sections; ++k) {
          const float a = 0.1f * (stage + 1) + 0.03f * c + 0.01f * k;
          fused[stage][c].SetSection(k, a, 0.2f - a, 0.05f, 1.2f - a, -0.45f);
          single[stage][c].SetSection(k, a, 0.2f - a, 0.05f, 1.2f - a, -0.45f);
        }
      }
    }
    const CascadeRun runs[2][2] = {
        {{fused[0][0].coefficients.data(), fused[0][0].state.data(), &fused[0][0].ring},
         {fused[0][1].coefficients.data(), fused[0][1].state.data(), &fused[0][1].ring}},
        {{fused[1][0].coefficients.data(), fused[1][0].state.data(), &fused[1][0].ring},
         {fused[1][1].coefficients.data(), fused[1][1].state.data(), &fused[1][1].ring}}};
    for (int block = 0; block < 3; ++block) {
      std::vector<float> left(240), right(240);
      for (int i = 0; i < 240; ++i) {
        left[i] = std::sin(0.07f * (i + 240 * block)) * (block == 1 ? 1e-17f : 1.0f);
        right[i] = i % 3 == 0 ? -0.0f : std::cos(0.13f * (i + 240 * block));
      }
      std::vector<float> expectedLeft = left, expectedRight = right;
      for (int stage = 0; stage < 2; ++stage) {
        RunCascadeDF1Pair(single[stage][0].coefficients.data(), single[stage][0].state.data(),
                          &single[stage][0].ring, expectedLeft.data(),
                          single[stage][1].coefficients.data(), single[stage][1].state.data(),
                          &single[stage][1].ring, expectedRight.data(), 240);
      }
      const std::vector<float> beforeLeft = left;
      const bool taken = RunTwoStagesDF1Pair(runs, left.data(), right.data(), 240);
      ASSERT_EQ(taken, secondOrder != 3);
      if (!taken) {
        EXPECT_TRUE(SameBits(left, beforeLeft));
        break;
      }
      EXPECT_TRUE(SameBits(left, expectedLeft)) << firstOrder << "/" << secondOrder;
      EXPECT_TRUE(SameBits(right, expectedRight)) << firstOrder << "/" << secondOrder;
      for (int stage = 0; stage < 2; ++stage) {
        for (int c = 0; c < 2; ++c) {
          EXPECT_TRUE(SameBits(fused[stage][c].state, single[stage][c].state));
          EXPECT_EQ(fused[stage][c].ring.cursor, single[stage][c].ring.cursor);
        }
      }
    }
  }
}

TEST(ZeroFillTest, WritesExactlyTheRange) {
  float values[3] = {1.0f, 2.0f, 3.0f};
  ZeroFill(values, 0);
  EXPECT_EQ(values[0], 1.0f);
  ZeroFill(values + 1, sizeof(float));
  EXPECT_EQ(values[0], 1.0f);
  EXPECT_EQ(values[1], 0.0f);
  EXPECT_EQ(values[2], 3.0f);
}

}  // namespace
}  // namespace tessil
