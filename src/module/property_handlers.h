// The handler of every property, produced from its row (property_list.h): one request of the set
// in, one typed operation of the manager called, the value converted between the request's
// integer units and the engine's. The manager pointer travels in DriverContext[3] of the request
// being dispatched.
#pragma once

#include <string.h>

#include "module/manager.h"
#include "module/property_list.h"
#include "module/units.h"

namespace tessil {

namespace property_detail {

// The manager that HandlePropertyRequest placed in the request being dispatched.
inline TessilManager* ManagerOf(PIRP request) {
  return static_cast<TessilManager*>(
      static_cast<ITessilManager*>(request->Tail.Overlay.DriverContext[3]));
}

inline bool IsGet(PKSIDENTIFIER property) {
  return (property->Flags & KSPROPERTY_TYPE_GET) != 0;
}

// Value and request fields are read and written as plain 32-bit words; KsPropertyHandler has
// already checked the sizes against the item's minimums.
inline ULONG ReadWord(const void* address) {
  ULONG word;
  memcpy(&word, address, sizeof word);
  return word;
}

inline void WriteWord(void* address, ULONG word) { memcpy(address, &word, sizeof word); }

// The channel and band of a per-channel request; a stream-wide request carries neither, and its
// buffer may end before them.
inline Address AddressOf(PKSIDENTIFIER property, TESSIL_PROPERTY_SCOPE scope) {
  const UCHAR* request = reinterpret_cast<const UCHAR*>(property);
  Address address{0, 0};
  if (scope != TESSIL_SCOPE_STREAM) {
    address.channel = ReadWord(request + offsetof(TESSIL_CHANNEL_PROPERTY, Channel));
  }
  if (scope == TESSIL_SCOPE_BAND) {
    address.band = ReadWord(request + offsetof(TESSIL_BAND_PROPERTY, Band));
  }
  return address;
}

// A handler runs on the requester's thread, whose floating-point registers belong to the
// requester: every handler (the switch and whole-number ones too, since a switch, an order or a
// cut-off redesigns filters in double precision) works inside a saved region, and a failed save
// is passed on unchanged before anything is touched.
template <typename Work>
NTSTATUS WithFloatingPoint(Work work) {
  KFLOATING_SAVE floatingSave;
  const NTSTATUS saved = KeSaveFloatingPointState(&floatingSave);
  if (!NT_SUCCESS(saved)) return saved;
  const NTSTATUS status = work();
  KeRestoreFloatingPointState(&floatingSave);
  return status;
}

// A request's word as the manager's value, and back.
template <Conversion kConversion, typename Value>
Value FromRequest(ULONG word) {
  if constexpr (kConversion == Conversion::kSwitch) {
    return word != 0 ? 1 : 0;
  } else if constexpr (kConversion == Conversion::kDecibels) {
    return LinearFromDecibels(static_cast<LONG>(word));
  } else if constexpr (kConversion == Conversion::kHundredths ||
                       kConversion == Conversion::kNearestHundredths) {
    return FromHundredths(static_cast<LONG>(word));
  } else {
    return word;
  }
}

template <Conversion kConversion, typename Value>
ULONG ToRequest(Value value) {
  if constexpr (kConversion == Conversion::kDecibels) {
    return static_cast<ULONG>(DecibelsFromLinear(value));
  } else if constexpr (kConversion == Conversion::kHundredths) {
    return ToWholeHundredths(value);
  } else if constexpr (kConversion == Conversion::kNearestHundredths) {
    return ToNearestHundredths(value);
  } else {
    return static_cast<ULONG>(value);
  }
}

}  // namespace property_detail

template <KSPROPERTY_TESSIL kId>
NTSTATUS NTAPI PropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value) {
  using namespace property_detail;
  using Row = Property<kId>;
  using V = Value<kId>;
  TessilManager* manager = ManagerOf(request);
  const Address address = AddressOf(property, ScopeOf(kId));
  return WithFloatingPoint([&]() -> NTSTATUS {
    if constexpr (Row::kConversion == Conversion::kSwitch &&
                  ScopeOf(kId) == TESSIL_SCOPE_STREAM) {
      // The buffer of a stream-wide switch always ends up holding it as 0 or 1, whatever the
      // direction or the outcome.
      V on = FromRequest<Row::kConversion, V>(ReadWord(value));
      const NTSTATUS status = IsGet(property) ? manager->template GetAt<kId>(address, &on)
                                              : manager->template SetAt<kId>(address, on);
      WriteWord(value, on);
      return status;
    } else {
      if (IsGet(property)) {
        V current{};
        const NTSTATUS status = manager->template GetAt<kId>(address, &current);
        if (NT_SUCCESS(status)) WriteWord(value, ToRequest<Row::kConversion>(current));
        return status;
      }
      return manager->template SetAt<kId>(address,
                                          FromRequest<Row::kConversion, V>(ReadWord(value)));
    }
  });
}

}  // namespace tessil
