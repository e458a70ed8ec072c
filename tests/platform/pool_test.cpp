#include "platform/pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/testing.h"

namespace tessil {
namespace {

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetPlatformHooks(); }
  void TearDown() override { ResetPlatformHooks(); }
};

TEST_F(PoolTest, AccountsEveryLiveBlockUnderItsTagUntilFreed) {
  const ULONG tag = PoolTag("TaA1");
  const ULONG otherTag = PoolTag("TaA2");
  const ULONG blocksBefore = LivePoolBlocks();
  const SIZE_T bytesBefore = LivePoolBytes();

  void* first = ExAllocatePoolWithTag(NonPagedPool, 40, tag);
  void* second = ExAllocatePoolWithTag(NonPagedPool, 1000, tag);
  void* other = ExAllocatePoolWithTag(NonPagedPoolNx, 8, otherTag);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % alignof(max_align_t), 0u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(second) % alignof(max_align_t), 0u);

  PoolTagUsage usage = QueryPoolTag(tag);
  EXPECT_EQ(usage.liveBlocks, 2u);
  EXPECT_EQ(usage.liveBytes, 1040u);
  EXPECT_EQ(usage.allocations, 2u);
  EXPECT_EQ(QueryPoolTag(otherTag).liveBytes, 8u);
  EXPECT_EQ(LivePoolBlocks(), blocksBefore + 3);
  EXPECT_EQ(LivePoolBytes(), bytesBefore + 1048);

  ExFreePoolWithTag(first, tag);
  ExFreePool(second);  // the untagged free takes a block of any tag
  ExFreePoolWithTag(other, otherTag);
  usage = QueryPoolTag(tag);
  EXPECT_EQ(usage.liveBlocks, 0u);
  EXPECT_EQ(usage.liveBytes, 0u);
  EXPECT_EQ(usage.frees, 2u);
  EXPECT_EQ(LivePoolBlocks(), blocksBefore);
  EXPECT_EQ(LivePoolBytes(), bytesBefore);
}

TEST_F(PoolTest, NewBlocksAreFilledSoUnsetFieldsStandOut) {
  const ULONG tag = PoolTag("TaFl");
  auto* block = static_cast<unsigned char*>(ExAllocatePoolWithTag(NonPagedPool, 64, tag));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) {
    ASSERT_EQ(block[i], 0xFF) << "byte " << i;
  }
  ExFreePoolWithTag(block, tag);
}

TEST_F(PoolTest, RefusesExactlyTheArmedRequestOfItsTag) {
  const ULONG tag = PoolTag("TaF3");
  const ULONG otherTag = PoolTag("TaF4");
  FailPoolAllocation(tag, 3);

  void* blocks[4];
  blocks[0] = ExAllocatePoolWithTag(NonPagedPool, 16, tag);
  void* other = ExAllocatePoolWithTag(NonPagedPool, 16, otherTag);  // does not count
  blocks[1] = ExAllocatePoolWithTag(NonPagedPool, 16, tag);
  blocks[2] = ExAllocatePoolWithTag(NonPagedPool, 16, tag);
  blocks[3] = ExAllocatePoolWithTag(NonPagedPool, 16, tag);
  EXPECT_NE(blocks[0], nullptr);
  EXPECT_NE(other, nullptr);
  EXPECT_NE(blocks[1], nullptr);
  EXPECT_EQ(blocks[2], nullptr);
  EXPECT_NE(blocks[3], nullptr);  // the refusal fires once

  const PoolTagUsage usage = QueryPoolTag(tag);
  EXPECT_EQ(usage.refusedAllocations, 1u);
  EXPECT_EQ(usage.allocations, 3u);
  EXPECT_EQ(usage.liveBlocks, 3u);
  for (void* block : blocks) {
    if (block != nullptr) {
      ExFreePoolWithTag(block, tag);
    }
  }
  ExFreePool(other);
  EXPECT_EQ(QueryPoolTag(tag).liveBlocks, 0u);
}

TEST_F(PoolTest, AnyTagRefusalCountsRequestsOfEveryTag) {
  FailPoolAllocation(kAnyPoolTag, 2);
  void* first = ExAllocatePoolWithTag(NonPagedPool, 4, PoolTag("TaW1"));
  void* second = ExAllocatePoolWithTag(NonPagedPool, 4, PoolTag("TaW2"));
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(QueryPoolTag(PoolTag("TaW2")).refusedAllocations, 1u);
  ExFreePool(first);
}

TEST_F(PoolTest, ResetDisarmsRefusalsButKeepsLiveBlocksAccounted) {
  const ULONG tag = PoolTag("TaRs");
  void* kept = ExAllocatePoolWithTag(NonPagedPool, 24, tag);
  FailPoolAllocation(tag, 1);
  ResetPlatformHooks();
  void* next = ExAllocatePoolWithTag(NonPagedPool, 24, tag);
  EXPECT_NE(next, nullptr);
  const PoolTagUsage usage = QueryPoolTag(tag);
  EXPECT_EQ(usage.liveBlocks, 2u);
  EXPECT_EQ(usage.allocations, 1u);  // counted since the reset
  ExFreePoolWithTag(kept, tag);
  ExFreePoolWithTag(next, tag);
}

TEST_F(PoolTest, AccountingAndRefusalsHoldUnderConcurrentUse) {
  const ULONG tag = PoolTag("TaMt");
  constexpr int kThreads = 4;
  constexpr int kRounds = 500;
  FailPoolAllocation(tag, kThreads * kRounds / 2);
  std::atomic<int> refused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        void* block = ExAllocatePoolWithTag(NonPagedPool, SIZE_T(8 + t + round % 7), tag);
        if (block == nullptr) {
          refused.fetch_add(1);
          continue;
        }
        static_cast<unsigned char*>(block)[0] = static_cast<unsigned char>(round);
        if (round % 2 == 0) {
          ExFreePoolWithTag(block, tag);
        } else {
          ExFreePool(block);
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  const PoolTagUsage usage = QueryPoolTag(tag);
  EXPECT_EQ(refused.load(), 1);
  EXPECT_EQ(usage.refusedAllocations, 1u);
  EXPECT_EQ(usage.allocations, ULONG(kThreads * kRounds - 1));
  EXPECT_EQ(usage.frees, usage.allocations);
  EXPECT_EQ(usage.liveBlocks, 0u);
  EXPECT_EQ(usage.liveBytes, 0u);
}

TEST(PoolDeathTest, MisusedFreesStopTheSystem) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const ULONG tag = PoolTag("TaDt");
  EXPECT_DEATH(
      {
        void* block = ExAllocatePoolWithTag(NonPagedPool, 16, tag);
        ExFreePoolWithTag(block, PoolTag("TaXx"));
      },
      "STOP: 0x000000C2 \\(0xA,.*BAD_POOL_CALLER");
  EXPECT_DEATH(
      {
        void* block = ExAllocatePoolWithTag(NonPagedPool, 16, tag);
        ExFreePool(block);
        ExFreePool(block);
      },
      "STOP: 0x000000C2 \\(0x7,.*BAD_POOL_CALLER");
  EXPECT_DEATH(ExFreePool(nullptr), "STOP: 0x000000C2 \\(0x46,");
  int notFromPool = 0;
  EXPECT_DEATH(ExFreePool(&notFromPool), "BAD_POOL_CALLER");
}

}  // namespace
}  // namespace tessil
