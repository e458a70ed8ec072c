// Kernel-streaming property types with the layouts of the 32-bit kernel headers, shared by the
// stand-in and the kernel build. The kernel build declares them here rather than taking them from
// the cross toolchain's ks.h, which types the handlers as cdecl: the kernel-streaming driver, like
// every 32-bit kernel component, is built with stdcall as its default convention and calls
// handlers as stdcall (NTAPI).
#pragma once

#ifndef FILE_DEVICE_KS
#define FILE_DEVICE_KS 0x0000002F
#endif
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
typedef NTSTATUS(NTAPI* PFNKSHANDLER)(PIRP Irp, PKSIDENTIFIER Request, PVOID Data);
typedef BOOLEAN(NTAPI* PFNKSFASTHANDLER)(PFILE_OBJECT FileObject, PKSIDENTIFIER Request,
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
