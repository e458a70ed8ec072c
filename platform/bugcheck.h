// Stopping the system on a driver fault.
//
// The real kernel halts with a stop code when a driver misuses pool or locks. The stand-in does
// the same to the process: it writes the stop code, its name and the four parameters to standard
// error and aborts, so that a fault in the driver can never pass unnoticed in a test.
#pragma once

#include "platform/ntdef.h"

// Pool misuse; parameter 1 says which (the BAD_POOL_CALLER_* values below).
#define BAD_POOL_CALLER 0x000000C2
// An exception the driver did not handle, such as releasing a kernel mutex it does not own.
#define KMODE_EXCEPTION_NOT_HANDLED 0x0000001E
// A check of the driver verifier failed; parameter 1 says which (DRIVER_VERIFIER_* below).
#define DRIVER_VERIFIER_DETECTED_VIOLATION 0x000000C4

#define BAD_POOL_CALLER_FREE_NULL 0x00000046              // free of a null pointer
#define BAD_POOL_CALLER_FREE_UNKNOWN 0x00000007           // block not allocated or already freed
#define BAD_POOL_CALLER_TAG_MISMATCH 0x0000000A           // ExFreePoolWithTag with another tag

#define DRIVER_VERIFIER_FAST_MUTEX_RECURSION 0x00001001   // owner acquires its fast mutex again
#define DRIVER_VERIFIER_FAST_MUTEX_NOT_OWNER 0x00001002   // release by a thread that is not owner
#define DRIVER_VERIFIER_UNINITIALISED_OBJECT 0x00001003   // wait on an object never initialised
#define DRIVER_VERIFIER_FLOAT_NOT_SAVED 0x00001004        // restore without a successful save

[[noreturn]] void KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR Parameter1, ULONG_PTR Parameter2,
                               ULONG_PTR Parameter3, ULONG_PTR Parameter4);
