// Kernel dispatcher objects and locks: events, kernel mutexes, fast mutexes, and the wait.
//
// Kernel mutex: recursive for its owning thread. Each KeWaitForSingleObject that acquires it must
// be matched by one KeReleaseMutex from the same thread; the mutex is free again only when every
// acquisition has been released. Releasing a mutex the thread does not own stops the system.
//
// Fast mutex: not recursive. It is acquired with ExAcquireFastMutex and released with
// ExReleaseFastMutex by the same thread; while held, the thread runs at APC_LEVEL. A second
// acquisition by the owner (which would deadlock on the real kernel) and a release by another
// thread stop the system.
//
// None of these objects needs tearing down: its memory may simply be freed once no thread uses it.
#pragma once

#include "platform/ntdef.h"

typedef UCHAR KIRQL;
#define PASSIVE_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2

typedef LONG KPRIORITY;

typedef struct _KTHREAD* PKTHREAD;

typedef enum _KWAIT_REASON {
  Executive = 0,
  FreePage,
  PageIn,
  PoolAllocation,
  DelayExecution,
  Suspended,
  UserRequest,
} KWAIT_REASON;

typedef enum _EVENT_TYPE {
  NotificationEvent = 0,
  SynchronizationEvent = 1,
} EVENT_TYPE;

// Dispatcher object types, as stored in DISPATCHER_HEADER::Type.
#define EventNotificationObject 0
#define EventSynchronizationObject 1
#define MutantObject 2

// Common head of every object a thread can wait on. Size is in 32-bit words and is zero only in an
// object that was never initialised. SignalState is guarded inside the stand-in; callers read it
// only through the Ke routines.
typedef struct _DISPATCHER_HEADER {
  UCHAR Type;
  UCHAR Absolute;
  UCHAR Size;
  UCHAR Inserted;
  LONG SignalState;
} DISPATCHER_HEADER;

typedef struct _KEVENT {
  DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

// SignalState is 1 when free and 1 minus the recursion depth while owned.
typedef struct _KMUTANT {
  DISPATCHER_HEADER Header;
  PKTHREAD OwnerThread;
  BOOLEAN Abandoned;
} KMUTANT, KMUTEX, *PKMUTEX, *PRKMUTEX;

// Count is 1 when free and 0 or below while owned (minus the number of waiting threads). Waiters
// sleep on Event, which every contended release sets once.
typedef struct _FAST_MUTEX {
  LONG Count;
  PKTHREAD Owner;
  ULONG Contention;
  KEVENT Event;
  ULONG OldIrql;
} FAST_MUTEX, *PFAST_MUTEX;

// A token unique to the calling thread while it runs.
PKTHREAD KeGetCurrentThread();

// PASSIVE_LEVEL, or APC_LEVEL while the thread holds a fast mutex.
KIRQL KeGetCurrentIrql();

void KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
// Each returns the previous signal state (0 or 1).
LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
LONG KeResetEvent(PRKEVENT Event);
void KeClearEvent(PRKEVENT Event);
LONG KeReadStateEvent(PRKEVENT Event);

// Level orders mutexes on the real kernel's checked builds; the stand-in does not check it.
void KeInitializeMutex(PRKMUTEX Mutex, ULONG Level);
// Returns the signal state before the release (0 when this release frees the mutex). Wait says
// that a wait call follows at once; it changes nothing here.
LONG KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN Wait);
LONG KeReadStateMutex(PRKMUTEX Mutex);

// Waits until Object (a KEVENT or a KMUTEX) is signalled and takes it: a synchronisation event is
// reset, a mutex becomes owned by (or once more by) the caller. Timeout is null for no limit, 0 to
// poll, negative for an interval relative to now and positive for an absolute system time, in
// 100 ns units. Returns STATUS_SUCCESS, or STATUS_TIMEOUT when the time ran out first. WaitReason,
// WaitMode and Alertable are accepted and ignored.
NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout);

void ExInitializeFastMutex(PFAST_MUTEX FastMutex);
void ExAcquireFastMutex(PFAST_MUTEX FastMutex);
void ExReleaseFastMutex(PFAST_MUTEX FastMutex);
// Acquires the fast mutex if it is free and returns TRUE; otherwise returns FALSE at once.
BOOLEAN ExTryToAcquireFastMutex(PFAST_MUTEX FastMutex);
