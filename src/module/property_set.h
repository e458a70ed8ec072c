// The kernel-streaming property set: twenty properties in integer units (whole decibels,
// hundredths, hertz, switches), answered by the handlers below through the manager's typed
// operations. The manager pointer travels in DriverContext[3] of the request being dispatched.
#pragma once

#include "tessil/tessil.h"

namespace tessil {

inline constexpr ULONG kTessilPropertyCount = 20;
// Property buffers: the plain request, + channel, + channel and band (each field with padding).
inline constexpr ULONG kPropertyRequestBytes = 24;
inline constexpr ULONG kChannelPropertyRequestBytes = 32;
inline constexpr ULONG kBandPropertyRequestBytes = 40;
inline constexpr ULONG kPropertyValueBytes = 4;

extern const KSPROPERTY_ITEM kTessilPropertyItems[kTessilPropertyCount];
extern const KSPROPERTY_SET kTessilPropertySet;

NTSTATUS NTAPI BooleanPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value);
NTSTATUS NTAPI DecibelPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value);
NTSTATUS NTAPI PercentPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value);
NTSTATUS NTAPI IntegerPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value);
NTSTATUS NTAPI CoreWeightingPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value);
NTSTATUS NTAPI EqEnablePropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value);
NTSTATUS NTAPI EqBandEnablePropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value);
NTSTATUS NTAPI EqBandGainPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value);
NTSTATUS NTAPI EqBandFrequencyPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value);
NTSTATUS NTAPI EqBandQPropertyHandler(PIRP request, PKSIDENTIFIER property, PVOID value);

}  // namespace tessil
