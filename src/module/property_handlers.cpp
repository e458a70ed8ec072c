#include <string.h>

#include "module/catalogue.h"
#include "module/property_set.h"
#include "module/units.h"

namespace tessil {

namespace {

// The manager that HandlePropertyRequest placed in the request being dispatched.
TessilManager* ManagerOf(PIRP request) {
  return static_cast<TessilManager*>(
      static_cast<ITessilManager*>(request->Tail.Overlay.DriverContext[3]));
}

bool IsGet(PKSIDENTIFIER property) { return (property->Flags & KSPROPERTY_TYPE_GET) != 0; }

// Value and request fields are read and written as plain 32-bit words; KsPropertyHandler has
// already checked the sizes against the item's minimums.
ULONG ReadWord(const void* address) {
  ULONG word;
  memcpy(&word, address, sizeof word);
  return word;
}

void WriteWord(void* address, ULONG word) { memcpy(address, &word, sizeof word); }

ULONG ChannelOf(PKSIDENTIFIER property) {
  return ReadWord(reinterpret_cast<const UCHAR*>(property) + 24);
}

ULONG BandOf(PKSIDENTIFIER property) {
  return ReadWord(reinterpret_cast<const UCHAR*>(property) + 32);
}

// Every handler runs on the requester's thread, whose floating-point registers belong to the
// requester: the work (conversions, and setters that redesign filters in double precision) runs
// inside a saved region, and a failed save is passed on unchanged before anything is touched.
template <typename Work>
NTSTATUS WithFloatingPoint(Work work) {
  KFLOATING_SAVE floatingSave;
  const NTSTATUS saved = KeSaveFloatingPointState(&floatingSave);
  if (!NT_SUCCESS(saved)) return saved;
  const NTSTATUS status = work();
  KeRestoreFloatingPointState(&floatingSave);
  return status;
}

template <int Count>
NTSTATUS FloatTableHandler(PIRP request, PKSIDENTIFIER property, PVOID value,
                           const FloatParameterEntry (&table)[Count],
                           ULONG (*toUnits)(float), float (*fromUnits)(LONG)) {
  const FloatParameterEntry* end = table + Count;
  const FloatParameterEntry* row = FindParameter(table, end, property->Id);
  if (row == end) return STATUS_NOT_IMPLEMENTED;
  TessilManager* manager = ManagerOf(request);
  return WithFloatingPoint([&]() -> NTSTATUS {
    if (IsGet(property)) {
      float current = 0.0f;
      const NTSTATUS status = (manager->*row->get)(&current);
      if (NT_SUCCESS(status)) WriteWord(value, toUnits(current));
      return status;
    }
    return (manager->*row->set)(fromUnits(static_cast<LONG>(ReadWord(value))));
  });
}

ULONG DecibelWord(float linear) { return static_cast<ULONG>(DecibelsFromLinear(linear)); }

}  // namespace

NTSTATUS NTAPI DecibelPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value) {
  return FloatTableHandler(request, property, value, kDecibelParameters, DecibelWord,
                           LinearFromDecibels);
}

NTSTATUS NTAPI PercentPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value) {
  return FloatTableHandler(request, property, value, kPercentParameters, ToHundredths,
                           FromHundredths);
}

NTSTATUS NTAPI IntegerPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value) {
  const IntegerParameterEntry* end = kIntegerParameters + kIntegerParameterCount;
  const IntegerParameterEntry* row = FindParameter(kIntegerParameters, end, property->Id);
  if (row == end) return STATUS_INVALID_PARAMETER;
  TessilManager* manager = ManagerOf(request);
  return WithFloatingPoint([&]() -> NTSTATUS {
    if (IsGet(property)) {
      ULONG current = 0;
      const NTSTATUS status = (manager->*row->get)(&current);
      if (NT_SUCCESS(status)) WriteWord(value, current);
      return status;
    }
    return (manager->*row->set)(ReadWord(value));
  });
}

NTSTATUS NTAPI BooleanPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value) {
  const BooleanParameterEntry* end = kBooleanParameters + kBooleanParameterCount;
  const BooleanParameterEntry* row = FindParameter(kBooleanParameters, end, property->Id);
  if (row == end) return STATUS_INVALID_PARAMETER;
  TessilManager* manager = ManagerOf(request);
  return WithFloatingPoint([&]() -> NTSTATUS {
    BOOLEAN on = ReadWord(value) != 0 ? 1 : 0;
    const NTSTATUS status =
        IsGet(property) ? (manager->*row->get)(&on) : (manager->*row->set)(on);
    // The buffer always ends up holding the switch as 0 or 1, whatever the direction or outcome.
    WriteWord(value, on);
    return status;
  });
}

NTSTATUS NTAPI CoreWeightingPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value) {
  TessilManager* manager = ManagerOf(request);
  return WithFloatingPoint([&]() -> NTSTATUS {
    if (IsGet(property)) {
      ULONG weighting = 0;
      const NTSTATUS status = manager->GetCoreWeighting(&weighting);
      if (NT_SUCCESS(status)) WriteWord(value, weighting);
      return status;
    }
    return manager->SetCoreWeighting(ReadWord(value));
  });
}

NTSTATUS NTAPI EqEnablePropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value) {
  TessilManager* manager = ManagerOf(request);
  const ULONG channel = ChannelOf(property);
  return WithFloatingPoint([&]() -> NTSTATUS {
    if (IsGet(property)) {
      BOOLEAN on = 0;
      const NTSTATUS status = manager->GetEqEnable(channel, &on);
      if (NT_SUCCESS(status)) WriteWord(value, on);
      return status;
    }
    return manager->SetEqEnable(channel, ReadWord(value) != 0 ? 1 : 0);
  });
}

NTSTATUS NTAPI EqBandEnablePropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value) {
  TessilManager* manager = ManagerOf(request);
  const ULONG channel = ChannelOf(property);
  const ULONG band = BandOf(property);
  return WithFloatingPoint([&]() -> NTSTATUS {
    if (IsGet(property)) {
      BOOLEAN on = 0;
      const NTSTATUS status = manager->GetEqBandEnable(channel, band, &on);
      if (NT_SUCCESS(status)) WriteWord(value, on);
      return status;
    }
    return manager->SetEqBandEnable(channel, band, ReadWord(value) != 0 ? 1 : 0);
  });
}

NTSTATUS NTAPI EqBandGainPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value) {
  TessilManager* manager = ManagerOf(request);
  const ULONG channel = ChannelOf(property);
  const ULONG band = BandOf(property);
  return WithFloatingPoint([&]() -> NTSTATUS {
    if (IsGet(property)) {
      float gain = 0.0f;
      const NTSTATUS status = manager->GetEqBandGain(channel, band, &gain);
      if (NT_SUCCESS(status)) WriteWord(value, DecibelWord(gain));
      return status;
    }
    return manager->SetEqBandGain(channel, band,
                                  LinearFromDecibels(static_cast<LONG>(ReadWord(value))));
  });
}

NTSTATUS NTAPI EqBandFrequencyPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value) {
  TessilManager* manager = ManagerOf(request);
  const ULONG channel = ChannelOf(property);
  const ULONG band = BandOf(property);
  return WithFloatingPoint([&]() -> NTSTATUS {
    if (IsGet(property)) {
      ULONG hertz = 0;
      const NTSTATUS status = manager->GetEqBandFrequency(channel, band, &hertz);
      if (NT_SUCCESS(status)) WriteWord(value, hertz);
      return status;
    }
    return manager->SetEqBandFrequency(channel, band, ReadWord(value));
  });
}

NTSTATUS NTAPI EqBandQPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value) {
  TessilManager* manager = ManagerOf(request);
  const ULONG channel = ChannelOf(property);
  const ULONG band = BandOf(property);
  return WithFloatingPoint([&]() -> NTSTATUS {
    if (IsGet(property)) {
      float q = 0.0f;
      const NTSTATUS status = manager->GetEqBandQ(channel, band, &q);
      if (NT_SUCCESS(status)) WriteWord(value, ToHundredthsRounded(q));
      return status;
    }
    return manager->SetEqBandQ(channel, band, FromHundredths(static_cast<LONG>(ReadWord(value))));
  });
}

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
  if (buffer != nullptr && stack->Parameters.DeviceIoControl.InputBufferLength >= sizeof(KSPROPERTY)) {
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
