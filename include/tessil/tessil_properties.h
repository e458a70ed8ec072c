// The Tessil kernel-streaming property set: its identifier, its property ids and the layouts of
// its property requests. Values travel in integer units (whole decibels, hundredths, hertz,
// switches 0/1), one 32-bit value per request.
#pragma once

#include "facts/facts.h"
#include "platform/ks.h"

// {6F1C2A94-3B7E-4D25-9A0C-5E8B71D4C362}
inline constexpr GUID KSPROPSETID_Tessil = {
    0x6F1C2A94, 0x3B7E, 0x4D25, {0x9A, 0x0C, 0x5E, 0x8B, 0x71, 0xD4, 0xC3, 0x62}};

// The property ids (KSPROPERTY_TESSIL_ENABLE to KSPROPERTY_TESSIL_CORE_WEIGHTING) are facts of
// every layer: facts/facts.h.

// Request of a per-channel property: channel 0 (left) or 1 (right) at offset 24.
typedef struct {
  KSPROPERTY Property;
  ULONG Channel;
  ULONG Reserved;  // not read
} TESSIL_CHANNEL_PROPERTY, *PTESSIL_CHANNEL_PROPERTY;

// Request of a per-band property: channel at offset 24, equaliser band 0 to 3 at offset 32.
typedef struct {
  KSPROPERTY Property;
  ULONG Channel;
  ULONG Reserved0;  // not read
  ULONG Band;
  ULONG Reserved1;  // not read
} TESSIL_BAND_PROPERTY, *PTESSIL_BAND_PROPERTY;

static_assert(sizeof(TESSIL_CHANNEL_PROPERTY) == 32 && offsetof(TESSIL_CHANNEL_PROPERTY, Channel) == 24);
static_assert(sizeof(TESSIL_BAND_PROPERTY) == 40 && offsetof(TESSIL_BAND_PROPERTY, Band) == 32);
