// Saving and restoring the floating-point state around kernel code that computes in floating point.
//
// A save records the calling thread's whole floating-point environment (rounding mode, exception
// flags and masks, and on x86 the SSE control word with its flush-to-zero and denormals-are-zero
// bits) and leaves it as it was; the restore puts every part back. A restore must follow each
// successful save on the same thread, with the same buffer, and never a failed one.
#pragma once

#include "platform/ntdef.h"

// Opaque to callers, as on the real kernel.
typedef struct _KFLOATING_SAVE {
  ULONG Valid;   // set by a successful save, cleared by its restore
  ULONG Control;  // SSE control and status word where the processor has one
  alignas(16) UCHAR Environment[64];
} KFLOATING_SAVE, *PKFLOATING_SAVE;

// STATUS_SUCCESS, or a failure status (the save can be refused: see platform/testing.h); after a
// failure nothing was saved and FloatSave must not be restored.
NTSTATUS KeSaveFloatingPointState(PKFLOATING_SAVE FloatSave);

// Always STATUS_SUCCESS. Restoring a buffer without a successful save stops the system.
NTSTATUS KeRestoreFloatingPointState(PKFLOATING_SAVE FloatSave);
