// The kernel services a driver may use, in one include: types and status values, lists, pool,
// dispatcher objects and locks, floating-point state, request packets, kernel-streaming
// properties, and the stop routine.
#pragma once

#if defined(TESSIL_KERNEL)
#include "platform/kernel/wdm.h"
#else
#include "platform/bugcheck.h"
#include "platform/float_state.h"
#include "platform/irp.h"
#include "platform/ks.h"
#include "platform/list.h"
#include "platform/ntdef.h"
#include "platform/pool.h"
#include "platform/sync.h"
#endif
