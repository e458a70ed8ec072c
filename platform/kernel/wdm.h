// The kernel services of the real 32-bit Windows kernel, in the one include that driver sources
// use (platform/wdm.h picks this file when TESSIL_KERNEL is defined). The kernel headers supply
// everything; what follows fills the few places where the driver sources rely on the stand-in's
// spelling.
#pragma once

#include <ntddk.h>

// The kernel headers spell CONTAINING_RECORD as offsetof arithmetic, which is only conditionally
// supported for records with virtual functions; use the form that the stand-in uses.
#undef CONTAINING_RECORD
#include "platform/containing_record.h"
#include "platform/ks_types.h"
#include "platform/pool_tag.h"

// Imported from the kernel-streaming class driver (ks.sys).
extern "C" __declspec(dllimport) NTSTATUS NTAPI KsPropertyHandler(PIRP Irp,
                                                                 ULONG PropertySetsCount,
                                                                 const KSPROPERTY_SET* PropertySet);

static_assert(sizeof(void*) == 4, "the kernel image is 32-bit");
