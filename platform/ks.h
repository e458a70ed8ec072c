// Kernel-streaming properties: request layouts, property set descriptions and KsPropertyHandler.
//
// A property request is a device-control packet with the code IOCTL_KS_PROPERTY. Its input buffer
// (the stack location's Type3InputBuffer, InputBufferLength bytes) holds a KSPROPERTY, possibly
// followed by property-specific fields; its value buffer (the packet's UserBuffer,
// OutputBufferLength bytes) receives the value of a get and holds the value of a set.
#pragma once

#if defined(TESSIL_KERNEL)
#include "platform/kernel/wdm.h"
#else
#include "platform/irp.h"
#include "platform/ntdef.h"

#include "platform/ks_types.h"

#define KSPROPERTY_SET_IRP_STORAGE(Irp) \
  (static_cast<const KSPROPERTY_SET*>((Irp)->Tail.Overlay.DriverContext[0]))

// Answers the property request in Irp from PropertySetsCount sets at PropertySet:
// - input buffer missing or shorter than KSPROPERTY: STATUS_INVALID_BUFFER_SIZE; value buffer
//   null with a non-zero length: STATUS_ACCESS_VIOLATION (what the probe of the buffer reports);
// - no set with the request's identifier: STATUS_PROPSET_NOT_FOUND; a SETSUPPORT request for a
//   set that exists: STATUS_SUCCESS; no item with the request's id: STATUS_NOT_FOUND;
// - input buffer shorter than the item's MinProperty: STATUS_INVALID_BUFFER_SIZE;
// - get and set: no handler for the direction: STATUS_INVALID_DEVICE_REQUEST; value buffer shorter
//   than MinData: STATUS_BUFFER_TOO_SMALL, except a get with an empty buffer, which is a size
//   query answered with STATUS_BUFFER_OVERFLOW and Information = MinData; otherwise the handler's
//   status. Information is preset to MinData for a get and to 0 for a set before the handler
//   runs, and cleared when the handler fails with an error status;
// - basic support: the item's SupportHandler if it has one; otherwise the access flags (4-byte
//   buffer), a KSPROPERTY_DESCRIPTION (40 bytes or more) and the members lists of the item's
//   values (room for all of them), with Information the bytes written; an empty buffer is a size
//   query (STATUS_BUFFER_OVERFLOW, Information = the full description size);
// - any other request type: STATUS_NOT_SUPPORTED; none or several types: STATUS_INVALID_PARAMETER.
// Information is 0 after every refusal other than a size query. A found set is recorded in
// DriverContext[0] (KSPROPERTY_SET_IRP_STORAGE); no other driver-context slot is touched, and
// IoStatus.Status is left for the caller.
NTSTATUS KsPropertyHandler(PIRP Irp, ULONG PropertySetsCount, const KSPROPERTY_SET* PropertySet);

// A property request as a host sends it down: the packet with its single stack location.
typedef struct _KSPROPERTY_REQUEST_PACKET {
  IRP Irp;
  IO_STACK_LOCATION StackLocation;
} KSPROPERTY_REQUEST_PACKET;

// Builds a device-control IOCTL_KS_PROPERTY request in Packet (cleared first) with the property
// request at Property and the value buffer at Value, and returns its packet.
PIRP BuildPropertyRequest(KSPROPERTY_REQUEST_PACKET* Packet, PVOID Property, ULONG PropertyLength,
                          PVOID Value, ULONG ValueLength);
#endif
