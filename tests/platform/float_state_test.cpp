#include "platform/float_state.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <thread>
#include <vector>

#include "platform/testing.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace tessil {
namespace {

// Divisions whose rounding shows the active mode; volatile keeps them at run time.
float OneThird() {
  volatile float one = 1.0f;
  volatile float three = 3.0f;
  return one / three;
}

class FloatStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetPlatformHooks();
    std::fesetround(FE_TONEAREST);
    std::feclearexcept(FE_ALL_EXCEPT);
  }
  void TearDown() override {
    ResetPlatformHooks();
    std::fesetround(FE_TONEAREST);
    std::feclearexcept(FE_ALL_EXCEPT);
  }
};

TEST_F(FloatStateTest, RestoreBringsBackTheRoundingModeOfTheSave) {
  const float nearest = OneThird();
  KFLOATING_SAVE save;
  ASSERT_EQ(KeSaveFloatingPointState(&save), STATUS_SUCCESS);
  EXPECT_EQ(std::fegetround(), FE_TONEAREST);  // a save changes nothing

  std::fesetround(FE_DOWNWARD);
  const float downward = OneThird();
  EXPECT_NE(downward, nearest);

  EXPECT_EQ(KeRestoreFloatingPointState(&save), STATUS_SUCCESS);
  EXPECT_EQ(std::fegetround(), FE_TONEAREST);
  EXPECT_EQ(OneThird(), nearest);

  // And the other way round: a caller's unusual mode survives code that sets its own.
  std::fesetround(FE_UPWARD);
  ASSERT_EQ(KeSaveFloatingPointState(&save), STATUS_SUCCESS);
  std::fesetround(FE_TONEAREST);
  KeRestoreFloatingPointState(&save);
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  EXPECT_EQ(OutstandingFloatingPointSaves(), 0u);
}

TEST_F(FloatStateTest, RestoreBringsBackTheExceptionFlags) {
  KFLOATING_SAVE save;
  ASSERT_EQ(KeSaveFloatingPointState(&save), STATUS_SUCCESS);
  std::feraiseexcept(FE_DIVBYZERO | FE_INEXACT);
  KeRestoreFloatingPointState(&save);
  EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0);

  std::feraiseexcept(FE_OVERFLOW);
  ASSERT_EQ(KeSaveFloatingPointState(&save), STATUS_SUCCESS);
  std::feclearexcept(FE_ALL_EXCEPT);
  KeRestoreFloatingPointState(&save);
  EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), FE_OVERFLOW);
}

#if defined(__SSE__)
TEST_F(FloatStateTest, RestoreBringsBackTheDenormalMode) {
  constexpr unsigned kFlushToZero = 0x8000;
  constexpr unsigned kDenormalsAreZero = 0x0040;
  volatile float smallest = 1.17549435e-38f;  // the least normal float
  volatile float half = 0.5f;
  const unsigned original = _mm_getcsr();

  KFLOATING_SAVE save;
  ASSERT_EQ(KeSaveFloatingPointState(&save), STATUS_SUCCESS);
  _mm_setcsr(original | kFlushToZero | kDenormalsAreZero);
  EXPECT_EQ(smallest * half, 0.0f);
  KeRestoreFloatingPointState(&save);
  EXPECT_EQ(_mm_getcsr() & (kFlushToZero | kDenormalsAreZero),
            original & (kFlushToZero | kDenormalsAreZero));
  EXPECT_GT(smallest * half, 0.0f);
}
#endif

TEST_F(FloatStateTest, ArmedRefusalsFailTheChosenSavesWithTheirStatus) {
  FailFloatingPointSaves(STATUS_ILLEGAL_FLOAT_CONTEXT, 2, 1);
  const ULONG savesBefore = FloatingPointSaveCount();
  NTSTATUS results[4];
  for (NTSTATUS& result : results) {
    KFLOATING_SAVE save;
    result = KeSaveFloatingPointState(&save);
    if (NT_SUCCESS(result)) {
      KeRestoreFloatingPointState(&save);
    }
  }
  EXPECT_EQ(results[0], STATUS_SUCCESS);
  EXPECT_EQ(results[1], STATUS_ILLEGAL_FLOAT_CONTEXT);
  EXPECT_EQ(results[2], STATUS_ILLEGAL_FLOAT_CONTEXT);
  EXPECT_EQ(results[3], STATUS_SUCCESS);
  EXPECT_EQ(FloatingPointSaveCount(), savesBefore + 2);  // refused saves save nothing
  EXPECT_EQ(OutstandingFloatingPointSaves(), 0u);
}

TEST_F(FloatStateTest, OutstandingSavesCountNestedSavesUntilRestored) {
  KFLOATING_SAVE outer;
  KFLOATING_SAVE inner;
  ASSERT_EQ(KeSaveFloatingPointState(&outer), STATUS_SUCCESS);
  ASSERT_EQ(KeSaveFloatingPointState(&inner), STATUS_SUCCESS);
  EXPECT_EQ(OutstandingFloatingPointSaves(), 2u);
  KeRestoreFloatingPointState(&inner);
  EXPECT_EQ(OutstandingFloatingPointSaves(), 1u);
  KeRestoreFloatingPointState(&outer);
  EXPECT_EQ(OutstandingFloatingPointSaves(), 0u);
}

TEST_F(FloatStateTest, SavesOnSeveralThreadsKeepEachThreadsModeAndCountRefusalsOnce) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 200;
  FailFloatingPointSaves(STATUS_INSUFFICIENT_RESOURCES, 5, 100);
  const int modes[kThreads] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};
  std::vector<int> refusals(kThreads, 0);
  std::vector<int> wrongModes(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::fesetround(modes[t]);
      for (int round = 0; round < kRounds; ++round) {
        KFLOATING_SAVE save;
        if (!NT_SUCCESS(KeSaveFloatingPointState(&save))) {
          refusals[t] += 1;
          continue;
        }
        std::fesetround(round % 2 == 0 ? FE_UPWARD : FE_DOWNWARD);
        KeRestoreFloatingPointState(&save);
        wrongModes[t] += std::fegetround() != modes[t];
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  int totalRefusals = 0;
  for (int t = 0; t < kThreads; ++t) {
    totalRefusals += refusals[t];
    EXPECT_EQ(wrongModes[t], 0) << "thread " << t;
  }
  EXPECT_EQ(totalRefusals, 5);
  EXPECT_EQ(OutstandingFloatingPointSaves(), 0u);
}

TEST(FloatStateDeathTest, RestoreWithoutASuccessfulSaveStopsTheSystem) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        KFLOATING_SAVE save{};
        KeRestoreFloatingPointState(&save);
      },
      "DRIVER_VERIFIER_DETECTED_VIOLATION");
  EXPECT_DEATH(
      {
        FailFloatingPointSaves(STATUS_ILLEGAL_FLOAT_CONTEXT);
        KFLOATING_SAVE save;
        KeSaveFloatingPointState(&save);
        KeRestoreFloatingPointState(&save);
      },
      "STOP: 0x000000C4 \\(0x1004,");
}

}  // namespace
}  // namespace tessil
