#include "platform/ks.h"

namespace {

const KSPROPERTY_SET* FindSet(ULONG count, const KSPROPERTY_SET* sets, REFGUID identifier) {
  for (ULONG index = 0; index < count; ++index) {
    if (sets[index].Set != nullptr && IsEqualGUIDAligned(*sets[index].Set, identifier)) {
      return &sets[index];
    }
  }
  return nullptr;
}

const KSPROPERTY_ITEM* FindItem(const KSPROPERTY_SET* set, ULONG id) {
  for (ULONG index = 0; index < set->PropertiesCount; ++index) {
    if (set->PropertyItem[index].PropertyId == id) {
      return &set->PropertyItem[index];
    }
  }
  return nullptr;
}

// Sizes are worked out in 64 bits and capped, so that a table with absurd member counts cannot
// wrap a length check around.
ULONG CapToUlong(ULONGLONG size) { return size > 0xFFFFFFFFull ? 0xFFFFFFFFu : ULONG(size); }

// Runs a driver handler with the status block preset as callers of a get expect: the value size
// for a get, nothing for the rest; an error leaves no bytes returned.
NTSTATUS CallHandler(PIRP irp, PFNKSHANDLER handler, PKSPROPERTY request, PVOID value,
                     ULONG_PTR presetInformation) {
  irp->IoStatus.Information = presetInformation;
  const NTSTATUS status = handler(irp, request, value);
  if (NT_ERROR(status)) {
    irp->IoStatus.Information = 0;
  }
  return status;
}

NTSTATUS DispatchGetOrSet(PIRP irp, const KSPROPERTY_ITEM* item, PKSPROPERTY request, PVOID value,
                          ULONG valueLength, bool get) {
  const PFNKSHANDLER handler = get ? item->GetPropertyHandler : item->SetPropertyHandler;
  if (handler == nullptr) {
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  if (valueLength < item->MinData) {
    if (get && valueLength == 0) {
      irp->IoStatus.Information = item->MinData;
      return STATUS_BUFFER_OVERFLOW;
    }
    return STATUS_BUFFER_TOO_SMALL;
  }
  return CallHandler(irp, handler, request, value, get ? item->MinData : 0);
}

NTSTATUS AnswerBasicSupport(PIRP irp, const KSPROPERTY_ITEM* item, PVOID value,
                            ULONG valueLength) {
  const ULONG access = (item->GetPropertyHandler != nullptr ? KSPROPERTY_TYPE_GET : 0u) |
                       (item->SetPropertyHandler != nullptr ? KSPROPERTY_TYPE_SET : 0u);
  const KSPROPERTY_VALUES* values = item->Values;
  const ULONG listCount = values != nullptr ? values->MembersListCount : 0;
  ULONGLONG fullSize = sizeof(KSPROPERTY_DESCRIPTION);
  for (ULONG list = 0; list < listCount; ++list) {
    const KSPROPERTY_MEMBERSHEADER& header = values->MembersList[list].MembersHeader;
    fullSize += sizeof(KSPROPERTY_MEMBERSHEADER) +
                ULONGLONG(header.MembersSize) * ULONGLONG(header.MembersCount);
  }
  if (valueLength == 0) {
    irp->IoStatus.Information = CapToUlong(fullSize);
    return STATUS_BUFFER_OVERFLOW;
  }
  if (valueLength < sizeof(ULONG)) {
    return STATUS_BUFFER_TOO_SMALL;
  }
  if (valueLength < sizeof(KSPROPERTY_DESCRIPTION)) {
    memcpy(value, &access, sizeof access);
    irp->IoStatus.Information = sizeof access;
    return STATUS_SUCCESS;
  }
  KSPROPERTY_DESCRIPTION description{};
  description.AccessFlags = access;
  description.DescriptionSize = CapToUlong(fullSize);
  if (values != nullptr) {
    description.PropTypeSet = values->PropTypeSet;
  }
  description.MembersListCount = listCount;
  memcpy(value, &description, sizeof description);
  if (fullSize > valueLength) {
    irp->IoStatus.Information = sizeof description;
    return STATUS_SUCCESS;
  }
  auto* out = static_cast<UCHAR*>(value) + sizeof description;
  for (ULONG list = 0; list < listCount; ++list) {
    const KSPROPERTY_MEMBERSLIST& members = values->MembersList[list];
    memcpy(out, &members.MembersHeader, sizeof members.MembersHeader);
    out += sizeof members.MembersHeader;
    const SIZE_T bytes =
        SIZE_T(members.MembersHeader.MembersSize) * members.MembersHeader.MembersCount;
    if (bytes != 0) {
      memcpy(out, members.Members, bytes);
      out += bytes;
    }
  }
  irp->IoStatus.Information = ULONG(fullSize);
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS KsPropertyHandler(PIRP Irp, ULONG PropertySetsCount, const KSPROPERTY_SET* PropertySet) {
  const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(Irp);
  const ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG valueLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  const auto request = static_cast<PKSPROPERTY>(stack->Parameters.DeviceIoControl.Type3InputBuffer);
  const PVOID value = Irp->UserBuffer;
  Irp->IoStatus.Information = 0;

  if (request == nullptr || inputLength < sizeof(KSPROPERTY)) {
    return STATUS_INVALID_BUFFER_SIZE;
  }
  if (value == nullptr && valueLength != 0) {
    return STATUS_ACCESS_VIOLATION;
  }
  const KSPROPERTY_SET* set = FindSet(PropertySetsCount, PropertySet, request->Set);
  if (set == nullptr) {
    return STATUS_PROPSET_NOT_FOUND;
  }
  Irp->Tail.Overlay.DriverContext[0] = const_cast<KSPROPERTY_SET*>(set);

  const ULONG type = request->Flags & ~ULONG(KSPROPERTY_TYPE_TOPOLOGY);
  if (type == KSPROPERTY_TYPE_SETSUPPORT) {
    return STATUS_SUCCESS;
  }
  const KSPROPERTY_ITEM* item = FindItem(set, request->Id);
  if (item == nullptr) {
    return STATUS_NOT_FOUND;
  }
  if (inputLength < item->MinProperty) {
    return STATUS_INVALID_BUFFER_SIZE;
  }
  switch (type) {
    case KSPROPERTY_TYPE_GET:
      return DispatchGetOrSet(Irp, item, request, value, valueLength, true);
    case KSPROPERTY_TYPE_SET:
      return DispatchGetOrSet(Irp, item, request, value, valueLength, false);
    case KSPROPERTY_TYPE_BASICSUPPORT:
      if (item->SupportHandler != nullptr) {
        return CallHandler(Irp, item->SupportHandler, request, value, 0);
      }
      return AnswerBasicSupport(Irp, item, value, valueLength);
    case KSPROPERTY_TYPE_RELATIONS:
    case KSPROPERTY_TYPE_SERIALIZESET:
    case KSPROPERTY_TYPE_UNSERIALIZESET:
    case KSPROPERTY_TYPE_SERIALIZERAW:
    case KSPROPERTY_TYPE_UNSERIALIZERAW:
    case KSPROPERTY_TYPE_SERIALIZESIZE:
    case KSPROPERTY_TYPE_DEFAULTVALUES:
      return STATUS_NOT_SUPPORTED;
    default:
      return STATUS_INVALID_PARAMETER;
  }
}

PIRP BuildPropertyRequest(KSPROPERTY_REQUEST_PACKET* Packet, PVOID Property, ULONG PropertyLength,
                          PVOID Value, ULONG ValueLength) {
  memset(Packet, 0, sizeof *Packet);
  IRP& irp = Packet->Irp;
  IO_STACK_LOCATION& stack = Packet->StackLocation;
  stack.MajorFunction = IRP_MJ_DEVICE_CONTROL;
  stack.Parameters.DeviceIoControl.IoControlCode = IOCTL_KS_PROPERTY;
  stack.Parameters.DeviceIoControl.Type3InputBuffer = Property;
  stack.Parameters.DeviceIoControl.InputBufferLength = PropertyLength;
  stack.Parameters.DeviceIoControl.OutputBufferLength = ValueLength;
  irp.Type = IO_TYPE_IRP;
  irp.Size = sizeof(IRP);
  irp.RequestorMode = KernelMode;
  irp.StackCount = 1;
  irp.CurrentLocation = 1;
  irp.UserBuffer = Value;
  irp.Tail.Overlay.CurrentStackLocation = &stack;
  InitializeListHead(&irp.Tail.Overlay.ListEntry);
  return &irp;
}
