#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tessil {
namespace {

NTSTATUS Acquire(KMUTEX* mutex) {
  return KeWaitForSingleObject(mutex, Executive, KernelMode, FALSE, nullptr);
}

NTSTATUS Poll(PVOID object) {
  LARGE_INTEGER now;
  now.QuadPart = 0;
  return KeWaitForSingleObject(object, Executive, KernelMode, FALSE, &now);
}

// What another thread gets when it polls the object.
NTSTATUS PollFromAnotherThread(PVOID object, bool releaseIfTaken) {
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  std::thread([&] {
    status = Poll(object);
    if (status == STATUS_SUCCESS && releaseIfTaken) {
      KeReleaseMutex(static_cast<PKMUTEX>(object), FALSE);
    }
  }).join();
  return status;
}

TEST(KernelMutex, OwnerReentersAndOthersWaitUntilEveryAcquisitionIsReleased) {
  KMUTEX mutex;
  KeInitializeMutex(&mutex, 0);
  EXPECT_EQ(KeReadStateMutex(&mutex), 1);

  ASSERT_EQ(Acquire(&mutex), STATUS_SUCCESS);
  ASSERT_EQ(Acquire(&mutex), STATUS_SUCCESS);  // would deadlock if not recursive
  EXPECT_EQ(KeReadStateMutex(&mutex), -1);
  EXPECT_EQ(PollFromAnotherThread(&mutex, true), STATUS_TIMEOUT);

  EXPECT_EQ(KeReleaseMutex(&mutex, FALSE), -1);
  EXPECT_EQ(PollFromAnotherThread(&mutex, true), STATUS_TIMEOUT);  // still held once

  EXPECT_EQ(KeReleaseMutex(&mutex, FALSE), 0);
  EXPECT_EQ(KeReadStateMutex(&mutex), 1);
  EXPECT_EQ(PollFromAnotherThread(&mutex, true), STATUS_SUCCESS);
}

TEST(KernelMutex, BlockedWaiterProceedsOnlyAfterTheLastRelease) {
  KMUTEX mutex;
  KeInitializeMutex(&mutex, 0);
  ASSERT_EQ(Acquire(&mutex), STATUS_SUCCESS);
  ASSERT_EQ(Acquire(&mutex), STATUS_SUCCESS);

  std::atomic<bool> acquired{false};
  std::thread waiter([&] {
    EXPECT_EQ(Acquire(&mutex), STATUS_SUCCESS);
    acquired.store(true);
    KeReleaseMutex(&mutex, FALSE);
  });
  std::this_thread::yield();
  EXPECT_FALSE(acquired.load());
  KeReleaseMutex(&mutex, FALSE);
  EXPECT_FALSE(acquired.load());
  KeReleaseMutex(&mutex, FALSE);
  waiter.join();
  EXPECT_TRUE(acquired.load());
  EXPECT_EQ(KeReadStateMutex(&mutex), 1);
}

TEST(KernelMutex, RelativeTimeOutEndsTheWaitOnAHeldMutex) {
  KMUTEX mutex;
  KeInitializeMutex(&mutex, 0);
  ASSERT_EQ(Acquire(&mutex), STATUS_SUCCESS);
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  std::thread([&] {
    LARGE_INTEGER interval;
    interval.QuadPart = -10000;  // 1 ms
    status = KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &interval);
  }).join();
  EXPECT_EQ(status, STATUS_TIMEOUT);
  KeReleaseMutex(&mutex, FALSE);
}

TEST(KernelMutex, SerialisesThreadsThatNestTheFastMutexInside) {
  // The lock order of the driver: the kernel mutex first, then a fast mutex inside it, with a
  // re-entry of the kernel mutex in between.
  KMUTEX outer;
  FAST_MUTEX inner;
  KeInitializeMutex(&outer, 0);
  ExInitializeFastMutex(&inner);
  long guarded = 0;
  constexpr int kThreads = 4;
  constexpr int kRounds = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < kRounds; ++round) {
        Acquire(&outer);
        Acquire(&outer);
        ExAcquireFastMutex(&inner);
        guarded += 1;
        ExReleaseFastMutex(&inner);
        KeReleaseMutex(&outer, FALSE);
        KeReleaseMutex(&outer, FALSE);
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(guarded, long(kThreads) * kRounds);
  EXPECT_EQ(KeReadStateMutex(&outer), 1);
}

TEST(FastMutex, ExcludesOtherThreadsAndRaisesToApcLevelWhileHeld) {
  FAST_MUTEX mutex;
  ExInitializeFastMutex(&mutex);
  long counter = 0;
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  std::atomic<int> wrongLevel{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < kRounds; ++round) {
        ExAcquireFastMutex(&mutex);
        wrongLevel.fetch_add(KeGetCurrentIrql() != APC_LEVEL);
        counter += 1;  // a plain increment: lost updates (or a race report) if not excluded
        ExReleaseFastMutex(&mutex);
        wrongLevel.fetch_add(KeGetCurrentIrql() != PASSIVE_LEVEL);
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(counter, long(kThreads) * kRounds);
  EXPECT_EQ(wrongLevel.load(), 0);
  EXPECT_EQ(mutex.Count, 1);
  EXPECT_EQ(mutex.Owner, nullptr);
}

TEST(FastMutex, TryAcquireFailsWhileAnotherThreadHoldsIt) {
  FAST_MUTEX mutex;
  ExInitializeFastMutex(&mutex);
  ExAcquireFastMutex(&mutex);
  BOOLEAN taken = TRUE;
  std::thread([&] { taken = ExTryToAcquireFastMutex(&mutex); }).join();
  EXPECT_EQ(taken, FALSE);
  ExReleaseFastMutex(&mutex);
  std::thread([&] {
    taken = ExTryToAcquireFastMutex(&mutex);
    if (taken) {
      ExReleaseFastMutex(&mutex);
    }
  }).join();
  EXPECT_EQ(taken, TRUE);
}

TEST(KernelEvent, SynchronisationEventsWakeOneWaitNotificationEventsStaySignalled) {
  KEVENT synchronisation;
  KEVENT notification;
  KeInitializeEvent(&synchronisation, SynchronizationEvent, FALSE);
  KeInitializeEvent(&notification, NotificationEvent, TRUE);

  EXPECT_EQ(Poll(&synchronisation), STATUS_TIMEOUT);
  EXPECT_EQ(KeSetEvent(&synchronisation, 0, FALSE), 0);
  EXPECT_EQ(KeSetEvent(&synchronisation, 0, FALSE), 1);
  EXPECT_EQ(Poll(&synchronisation), STATUS_SUCCESS);
  EXPECT_EQ(Poll(&synchronisation), STATUS_TIMEOUT);  // the wait consumed the signal

  EXPECT_EQ(Poll(&notification), STATUS_SUCCESS);
  EXPECT_EQ(Poll(&notification), STATUS_SUCCESS);
  EXPECT_EQ(KeResetEvent(&notification), 1);
  EXPECT_EQ(Poll(&notification), STATUS_TIMEOUT);

  std::thread waiter([&] {
    EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, nullptr),
              STATUS_SUCCESS);
  });
  KeSetEvent(&notification, 0, FALSE);
  waiter.join();
  EXPECT_EQ(KeReadStateEvent(&notification), 1);
}

TEST(SyncDeathTest, LockMisuseStopsTheSystem) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        KMUTEX mutex;
        KeInitializeMutex(&mutex, 0);
        KeReleaseMutex(&mutex, FALSE);
      },
      "STOP: 0x0000001E \\(0xC0000046,.*KMODE_EXCEPTION_NOT_HANDLED");
  EXPECT_DEATH(
      {
        KMUTEX mutex;
        KeInitializeMutex(&mutex, 0);
        Acquire(&mutex);
        std::thread([&] { KeReleaseMutex(&mutex, FALSE); }).join();
      },
      "KMODE_EXCEPTION_NOT_HANDLED");
  EXPECT_DEATH(
      {
        FAST_MUTEX mutex;
        ExInitializeFastMutex(&mutex);
        ExAcquireFastMutex(&mutex);
        ExAcquireFastMutex(&mutex);
      },
      "STOP: 0x000000C4 \\(0x1001,");
  EXPECT_DEATH(
      {
        FAST_MUTEX mutex;
        ExInitializeFastMutex(&mutex);
        ExReleaseFastMutex(&mutex);
      },
      "STOP: 0x000000C4 \\(0x1002,");
  EXPECT_DEATH(
      {
        KMUTEX mutex{};
        Acquire(&mutex);
      },
      "STOP: 0x000000C4 \\(0x1003,");
}

}  // namespace
}  // namespace tessil
