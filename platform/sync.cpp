#include "platform/sync.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/bugcheck.h"

namespace {

using Clock = std::chrono::steady_clock;
using KernelTicks = std::chrono::duration<LONGLONG, std::ratio<1, 10000000>>;  // 100 ns

// Dispatcher state (signal states and mutex owners) is guarded by one of a fixed set of host
// locks chosen by the object's address, so the objects themselves stay plain records that need no
// teardown. A change wakes every waiter of the stripe; each re-checks its own object.
struct WaitStripe {
  std::mutex lock;
  std::condition_variable changed;
};

constexpr int kStripes = 64;

WaitStripe& StripeFor(const void* object) {
  static WaitStripe stripes[kStripes];
  const uintptr_t address = reinterpret_cast<uintptr_t>(object);
  return stripes[((address >> 4) ^ (address >> 12)) % kStripes];
}

thread_local UCHAR tThreadToken;
thread_local KIRQL tIrql = PASSIVE_LEVEL;

// Intervals beyond this are waits without limit; it also keeps the clock arithmetic in range.
constexpr LONGLONG kLongestWait = 100LL * 365 * 24 * 3600 * 10000000;
// 100 ns units from 1601-01-01 (system time) to 1970-01-01 (the host clock's epoch).
constexpr LONGLONG kSystemTimeToUnixEpoch = 116444736000000000LL;

bool DeadlineFor(const LARGE_INTEGER* timeout, Clock::time_point* deadline) {
  if (timeout == nullptr) {
    return false;
  }
  LONGLONG interval = -timeout->QuadPart;
  if (timeout->QuadPart > 0) {
    const auto sinceUnixEpoch = std::chrono::duration_cast<KernelTicks>(
        std::chrono::system_clock::now().time_since_epoch());
    interval = timeout->QuadPart - (sinceUnixEpoch.count() + kSystemTimeToUnixEpoch);
    if (interval < 0) {
      interval = 0;
    }
  }
  if (interval > kLongestWait) {
    return false;
  }
  *deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(KernelTicks(interval));
  return true;
}

// Takes the object for `thread` if its state allows; called with the object's stripe held.
bool TryTake(DISPATCHER_HEADER* header, PKTHREAD thread) {
  switch (header->Type) {
    case MutantObject: {
      auto* mutex = reinterpret_cast<PKMUTEX>(header);
      if (header->SignalState > 0) {
        header->SignalState = 0;
        mutex->OwnerThread = thread;
        return true;
      }
      if (mutex->OwnerThread == thread) {
        header->SignalState -= 1;
        return true;
      }
      return false;
    }
    case EventSynchronizationObject:
      if (header->SignalState > 0) {
        header->SignalState = 0;
        return true;
      }
      return false;
    default:  // EventNotificationObject
      return header->SignalState > 0;
  }
}

}  // namespace

PKTHREAD KeGetCurrentThread() { return reinterpret_cast<PKTHREAD>(&tThreadToken); }

KIRQL KeGetCurrentIrql() { return tIrql; }

void KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
  Event->Header.Type =
      Type == SynchronizationEvent ? EventSynchronizationObject : EventNotificationObject;
  Event->Header.Absolute = 0;
  Event->Header.Size = sizeof(KEVENT) / sizeof(LONG);
  Event->Header.Inserted = 0;
  Event->Header.SignalState = State != FALSE ? 1 : 0;
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait) {
  (void)Increment;
  (void)Wait;
  WaitStripe& stripe = StripeFor(Event);
  std::lock_guard<std::mutex> guard(stripe.lock);
  const LONG previous = Event->Header.SignalState;
  Event->Header.SignalState = 1;
  stripe.changed.notify_all();
  return previous;
}

LONG KeResetEvent(PRKEVENT Event) {
  WaitStripe& stripe = StripeFor(Event);
  std::lock_guard<std::mutex> guard(stripe.lock);
  const LONG previous = Event->Header.SignalState;
  Event->Header.SignalState = 0;
  return previous;
}

void KeClearEvent(PRKEVENT Event) { KeResetEvent(Event); }

LONG KeReadStateEvent(PRKEVENT Event) {
  WaitStripe& stripe = StripeFor(Event);
  std::lock_guard<std::mutex> guard(stripe.lock);
  return Event->Header.SignalState;
}

void KeInitializeMutex(PRKMUTEX Mutex, ULONG Level) {
  (void)Level;
  Mutex->Header.Type = MutantObject;
  Mutex->Header.Absolute = 0;
  Mutex->Header.Size = sizeof(KMUTEX) / sizeof(LONG);
  Mutex->Header.Inserted = 0;
  Mutex->Header.SignalState = 1;
  Mutex->OwnerThread = nullptr;
  Mutex->Abandoned = FALSE;
}

LONG KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN Wait) {
  (void)Wait;
  WaitStripe& stripe = StripeFor(Mutex);
  std::lock_guard<std::mutex> guard(stripe.lock);
  if (Mutex->Header.SignalState > 0 || Mutex->OwnerThread != KeGetCurrentThread()) {
    KeBugCheckEx(KMODE_EXCEPTION_NOT_HANDLED, static_cast<ULONG>(STATUS_MUTANT_NOT_OWNED),
                 reinterpret_cast<ULONG_PTR>(Mutex), 0, 0);
  }
  const LONG previous = Mutex->Header.SignalState;
  Mutex->Header.SignalState += 1;
  if (Mutex->Header.SignalState == 1) {
    Mutex->OwnerThread = nullptr;
    stripe.changed.notify_all();
  }
  return previous;
}

LONG KeReadStateMutex(PRKMUTEX Mutex) {
  WaitStripe& stripe = StripeFor(Mutex);
  std::lock_guard<std::mutex> guard(stripe.lock);
  return Mutex->Header.SignalState;
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout) {
  (void)WaitReason;
  (void)WaitMode;
  (void)Alertable;
  auto* header = static_cast<DISPATCHER_HEADER*>(Object);
  if (header->Size == 0 || header->Type > MutantObject) {
    KeBugCheckEx(DRIVER_VERIFIER_DETECTED_VIOLATION, DRIVER_VERIFIER_UNINITIALISED_OBJECT,
                 reinterpret_cast<ULONG_PTR>(Object), 0, 0);
  }
  Clock::time_point deadline;
  const bool limited = DeadlineFor(Timeout, &deadline);
  const PKTHREAD thread = KeGetCurrentThread();
  WaitStripe& stripe = StripeFor(Object);
  std::unique_lock<std::mutex> lock(stripe.lock);
  while (!TryTake(header, thread)) {
    if (!limited) {
      stripe.changed.wait(lock);
    } else if (stripe.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
      return TryTake(header, thread) ? STATUS_SUCCESS : STATUS_TIMEOUT;
    }
  }
  return STATUS_SUCCESS;
}

void ExInitializeFastMutex(PFAST_MUTEX FastMutex) {
  FastMutex->Count = 1;
  FastMutex->Owner = nullptr;
  FastMutex->Contention = 0;
  KeInitializeEvent(&FastMutex->Event, SynchronizationEvent, FALSE);
  FastMutex->OldIrql = PASSIVE_LEVEL;
}

void ExAcquireFastMutex(PFAST_MUTEX FastMutex) {
  const PKTHREAD thread = KeGetCurrentThread();
  // Only this thread can have stored itself as owner, so seeing itself there is never stale.
  if (__atomic_load_n(&FastMutex->Owner, __ATOMIC_RELAXED) == thread) {
    KeBugCheckEx(DRIVER_VERIFIER_DETECTED_VIOLATION, DRIVER_VERIFIER_FAST_MUTEX_RECURSION,
                 reinterpret_cast<ULONG_PTR>(FastMutex), 0, 0);
  }
  if (__atomic_fetch_sub(&FastMutex->Count, 1, __ATOMIC_ACQ_REL) != 1) {
    __atomic_fetch_add(&FastMutex->Contention, 1, __ATOMIC_RELAXED);
    KeWaitForSingleObject(&FastMutex->Event, Executive, KernelMode, FALSE, nullptr);
  }
  __atomic_store_n(&FastMutex->Owner, thread, __ATOMIC_RELAXED);
  FastMutex->OldIrql = tIrql;
  tIrql = APC_LEVEL;
}

BOOLEAN ExTryToAcquireFastMutex(PFAST_MUTEX FastMutex) {
  LONG expected = 1;
  if (!__atomic_compare_exchange_n(&FastMutex->Count, &expected, 0, false, __ATOMIC_ACQ_REL,
                                   __ATOMIC_RELAXED)) {
    return FALSE;
  }
  __atomic_store_n(&FastMutex->Owner, KeGetCurrentThread(), __ATOMIC_RELAXED);
  FastMutex->OldIrql = tIrql;
  tIrql = APC_LEVEL;
  return TRUE;
}

void ExReleaseFastMutex(PFAST_MUTEX FastMutex) {
  if (__atomic_load_n(&FastMutex->Owner, __ATOMIC_RELAXED) != KeGetCurrentThread()) {
    KeBugCheckEx(DRIVER_VERIFIER_DETECTED_VIOLATION, DRIVER_VERIFIER_FAST_MUTEX_NOT_OWNER,
                 reinterpret_cast<ULONG_PTR>(FastMutex), 0, 0);
  }
  __atomic_store_n(&FastMutex->Owner, nullptr, __ATOMIC_RELAXED);
  tIrql = static_cast<KIRQL>(FastMutex->OldIrql);
  // A count below zero before the increment means a thread is waiting: hand the mutex over.
  if (__atomic_fetch_add(&FastMutex->Count, 1, __ATOMIC_ACQ_REL) != 0) {
    KeSetEvent(&FastMutex->Event, 0, FALSE);
  }
}
