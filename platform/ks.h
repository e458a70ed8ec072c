// Kernel-streaming properties: request layouts, property set descriptions and KsPropertyHandler.
//
// A property request is a device-control packet with the code IOCTL_KS_PROPERTY. Its input buffer
// (the stack location's Type3InputBuffer, InputBufferLength bytes) holds a KSPROPERTY, possibly
// followed by property-specific fields; its value buffer (the packet's UserBuffer,
// OutputBufferLength bytes) receives the value of a get and holds the value of a set.
#pragma once

#include "platform/irp.h"
#include "platform/ntdef.h"

#define FILE_DEVICE_KS 0x0000002F
#define IOCTL_KS_PROPERTY CTL_CODE(FILE_DEVICE_KS, 0x000, METHOD_NEITHER, FILE_ANY_ACCESS)
static_assert(IOCTL_KS_PROPERTY == 0x002F0003);

// Request types (KSPROPERTY::Flags). TOPOLOGY may accompany any of them.
#define KSPROPERTY_TYPE_GET 0x00000001
#define KSPROPERTY_TYPE_SET 0x00000002
#define KSPROPERTY_TYPE_SETSUPPORT 0x00000100
#define KSPROPERTY_TYPE_BASICSUPPORT 0x00000200
#define KSPROPERTY_TYPE_RELATIONS 0x00000400
#define KSPROPERTY_TYPE_SERIALIZESET 0x00000800
#define KSPROPERTY_TYPE_UNSERIALIZESET 0x00001000
#define KSPROPERTY_TYPE_SERIALIZERAW 0x00002000
#define KSPROPERTY_TYPE_UNSERIALIZERAW 0x00004000
#define KSPROPERTY_TYPE_SERIALIZESIZE 0x00008000
#define KSPROPERTY_TYPE_DEFAULTVALUES 0x00010000
#define KSPROPERTY_TYPE_TOPOLOGY 0x10000000

// Set, item and request type; 8-byte aligned, 24 bytes, so that fields following it in a request
// start at offset 24.
struct alignas(8) KSIDENTIFIER {
  GUID Set;
  ULONG Id;
  ULONG Flags;
};
typedef KSIDENTIFIER* PKSIDENTIFIER;
typedef KSIDENTIFIER KSPROPERTY;
typedef KSIDENTIFIER* PKSPROPERTY;

static_assert(sizeof(KSPROPERTY) == 24);

// Called with the packet, the property request (the input buffer) and the value buffer. A handler
// that returns data may set Irp->IoStatus.Information; KsPropertyHandler presets it (see below).
typedef NTSTATUS (*PFNKSHANDLER)(PIRP Irp, PKSIDENTIFIER Request, PVOID Data);
typedef BOOLEAN (*PFNKSFASTHANDLER)(PFILE_OBJECT FileObject, PKSIDENTIFIER Request,
                                    ULONG RequestLength, PVOID Data, ULONG DataLength,
                                    PIO_STATUS_BLOCK IoStatus);

#define KSPROPERTY_MEMBER_RANGES 0x00000001
#define KSPROPERTY_MEMBER_STEPPEDRANGES 0x00000002
#define KSPROPERTY_MEMBER_VALUES 0x00000003

// MembersCount entries of MembersSize bytes each follow a header in a basic-support answer.
typedef struct _KSPROPERTY_MEMBERSHEADER {
  ULONG MembersFlags;
  ULONG MembersSize;
  ULONG MembersCount;
  ULONG Flags;
} KSPROPERTY_MEMBERSHEADER, *PKSPROPERTY_MEMBERSHEADER;

typedef struct _KSPROPERTY_MEMBERSLIST {
  KSPROPERTY_MEMBERSHEADER MembersHeader;
  const VOID* Members;
} KSPROPERTY_MEMBERSLIST, *PKSPROPERTY_MEMBERSLIST;

typedef struct _KSPROPERTY_VALUES {
  KSIDENTIFIER PropTypeSet;
  ULONG MembersListCount;
  const KSPROPERTY_MEMBERSLIST* MembersList;
} KSPROPERTY_VALUES, *PKSPROPERTY_VALUES;

// One property of a set. MinProperty is the least input buffer length (at least
// sizeof(KSPROPERTY)); MinData the least value buffer length for get and set. A null handler
// means the property does not support that direction.
typedef struct _KSPROPERTY_ITEM {
  ULONG PropertyId;
  PFNKSHANDLER GetPropertyHandler;
  ULONG MinProperty;
  ULONG MinData;
  PFNKSHANDLER SetPropertyHandler;
  const KSPROPERTY_VALUES* Values;
  ULONG RelationsCount;
  const KSPROPERTY* Relations;
  PFNKSHANDLER SupportHandler;
  ULONG SerializedSize;
} KSPROPERTY_ITEM, *PKSPROPERTY_ITEM;

typedef struct _KSFASTPROPERTY_ITEM {
  ULONG PropertyId;
  PFNKSFASTHANDLER GetPropertyHandler;
  PFNKSFASTHANDLER SetPropertyHandler;
  ULONG Reserved;
} KSFASTPROPERTY_ITEM, *PKSFASTPROPERTY_ITEM;

// A property set: its identifier and its items. KsPropertyHandler does not use the fast-I/O table.
typedef struct _KSPROPERTY_SET {
  const GUID* Set;
  ULONG PropertiesCount;
  const KSPROPERTY_ITEM* PropertyItem;
  ULONG FastIoCount;
  const KSFASTPROPERTY_ITEM* FastIoTable;
} KSPROPERTY_SET, *PKSPROPERTY_SET;

// The answer to a basic-support request, followed by the members lists when the buffer has room.
typedef struct _KSPROPERTY_DESCRIPTION {
  ULONG AccessFlags;      // KSPROPERTY_TYPE_GET and/or KSPROPERTY_TYPE_SET
  ULONG DescriptionSize;  // this header and every members list that follows it, in bytes
  KSIDENTIFIER PropTypeSet;
  ULONG MembersListCount;
  ULONG Reserved;
} KSPROPERTY_DESCRIPTION, *PKSPROPERTY_DESCRIPTION;

static_assert(sizeof(KSPROPERTY_DESCRIPTION) == 40);

// The property set that KsPropertyHandler found for the request being dispatched.
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
