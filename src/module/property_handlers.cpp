// The manager's entry for property requests: the set's own requests go to KsPropertyHandler with
// the manager riding in the request, anything else is not this set's business.
#include <string.h>

#include "module/manager.h"
#include "module/property_set.h"

namespace tessil {

NTSTATUS TessilManager::HandlePropertyRequest(PIRP request) {
  if (request == nullptr) return STATUS_INVALID_PARAMETER;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(request);
  if (stack == nullptr) return STATUS_INVALID_PARAMETER;
  if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) return STATUS_NOT_IMPLEMENTED;
  if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_KS_PROPERTY) {
    return STATUS_NOT_IMPLEMENTED;
  }
  // Only a buffer that holds a whole property request is read here; a missing or shorter one is
  // left to KsPropertyHandler, which answers with its buffer-size status.
  const void* buffer = stack->Parameters.DeviceIoControl.Type3InputBuffer;
  if (buffer != nullptr &&
      stack->Parameters.DeviceIoControl.InputBufferLength >= sizeof(KSPROPERTY)) {
    static const GUID kNoSet = {};
    if (memcmp(buffer, &kNoSet, sizeof(GUID)) == 0) return STATUS_NOT_IMPLEMENTED;
  }
  PVOID const saved = request->Tail.Overlay.DriverContext[3];
  request->Tail.Overlay.DriverContext[3] = static_cast<ITessilManager*>(this);
  NTSTATUS status = KsPropertyHandler(request, 1, &kTessilPropertySet);
  if (status == STATUS_PROPSET_NOT_FOUND || status == STATUS_NOT_FOUND) {
    status = STATUS_NOT_IMPLEMENTED;
  }
  request->Tail.Overlay.DriverContext[3] = saved;
  return status;
}

}  // namespace tessil
