// Compiled (not linked) in the kernel build: the record offsets that the loader test's
// stand-ins use to read and build requests, checked against the kernel headers.
#include "platform/wdm.h"

static_assert(sizeof(IRP) == 0x70);
static_assert(offsetof(IRP, IoStatus.Information) == 0x1C);
static_assert(offsetof(IRP, UserBuffer) == 0x3C);
static_assert(offsetof(IRP, Tail.Overlay.DriverContext) == 0x40);
static_assert(offsetof(IRP, Tail.Overlay.CurrentStackLocation) == 0x60);
static_assert(sizeof(IO_STACK_LOCATION) == 0x24);
static_assert(offsetof(IO_STACK_LOCATION, Parameters.DeviceIoControl.OutputBufferLength) == 0x04);
static_assert(offsetof(IO_STACK_LOCATION, Parameters.DeviceIoControl.InputBufferLength) == 0x08);
static_assert(offsetof(IO_STACK_LOCATION, Parameters.DeviceIoControl.IoControlCode) == 0x0C);
static_assert(offsetof(IO_STACK_LOCATION, Parameters.DeviceIoControl.Type3InputBuffer) == 0x10);
static_assert(sizeof(KSPROPERTY_ITEM) == 40 && sizeof(KSPROPERTY_SET) == 20);
static_assert(sizeof(KFLOATING_SAVE) >= 8);
