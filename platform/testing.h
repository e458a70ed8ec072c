// Test hooks of the kernel stand-in: pool accounting and refusals, floating-point save refusals.
//
// Only tests and test hosts include this header; driver code never does. Every hook may be called
// from any thread, also while other threads allocate, free, save or restore.
#pragma once

#include "platform/ntdef.h"

namespace tessil {

// Accounting of one pool tag. Live figures count blocks allocated and not yet freed; the other
// counters are cumulative since the tag was first seen or since ResetPlatformHooks.
struct PoolTagUsage {
  ULONG liveBlocks;
  SIZE_T liveBytes;
  ULONG allocations;        // successful allocations
  ULONG refusedAllocations;  // allocations refused by FailPoolAllocation
  ULONG frees;
};

// Matches every tag in FailPoolAllocation.
inline constexpr ULONG kAnyPoolTag = 0;

PoolTagUsage QueryPoolTag(ULONG tag);

// Blocks and bytes live under all tags together.
ULONG LivePoolBlocks();
SIZE_T LivePoolBytes();

// Makes the nth allocation request with the given tag from now on (1 = the next one) return null.
// Several refusals may be armed at once; each fires once. kAnyPoolTag counts requests of every
// tag.
void FailPoolAllocation(ULONG tag, ULONG nth);

// Lets the next `skip` floating-point saves succeed and makes the `count` saves after them fail
// with `status` (a failure status). A new call replaces the previous arrangement.
void FailFloatingPointSaves(NTSTATUS status, ULONG count = 1, ULONG skip = 0);

// Saves that succeeded and have not been restored yet, on all threads together.
ULONG OutstandingFloatingPointSaves();

// Successful saves since the start or since ResetPlatformHooks.
ULONG FloatingPointSaveCount();

// Disarms every pending refusal and clears the cumulative counters. Live blocks stay accounted,
// and outstanding saves stay counted, so that leaks across a reset are still seen.
void ResetPlatformHooks();

}  // namespace tessil
