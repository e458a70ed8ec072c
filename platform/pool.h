// Kernel pool: tagged allocation and free.
//
// Blocks come back uninitialised, as from the real pool: the stand-in fills every new block with
// 0xFF bytes (NaN as a float, an unusable pointer) so that a field left unset shows up at once.
// Each block is accounted under its four-character tag until freed; the test hooks in
// platform/testing.h read that accounting and can make chosen allocations fail.
//
// Misuse stops the system (platform/bugcheck.h): freeing a null pointer, a block that is not
// live, or a block through ExFreePoolWithTag with a tag other than the one it was allocated with.
#pragma once

#include "platform/ntdef.h"
#include "platform/pool_tag.h"

typedef enum _POOL_TYPE {
  NonPagedPool = 0,
  PagedPool = 1,
  NonPagedPoolNx = 512,
} POOL_TYPE;

// Returns a block of NumberOfBytes bytes aligned for any scalar type, or null when the pool (or a
// test hook) refuses it.
PVOID ExAllocatePoolWithTag(POOL_TYPE PoolType, SIZE_T NumberOfBytes, ULONG Tag);

// Frees a live block whatever its tag.
void ExFreePool(PVOID P);

// Frees a live block that was allocated with Tag.
void ExFreePoolWithTag(PVOID P, ULONG Tag);
