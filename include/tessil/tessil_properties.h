// The Tessil kernel-streaming property set: its identifier, its property ids and the layouts of
// its property requests. Values travel in integer units (whole decibels, hundredths, hertz,
// switches 0/1), one 32-bit value per request.
#pragma once

#include "platform/ks.h"

// {6F1C2A94-3B7E-4D25-9A0C-5E8B71D4C362}
inline constexpr GUID KSPROPSETID_Tessil = {
    0x6F1C2A94, 0x3B7E, 0x4D25, {0x9A, 0x0C, 0x5E, 0x8B, 0x71, 0xD4, 0xC3, 0x62}};

typedef enum {
  KSPROPERTY_TESSIL_ENABLE = 0,                 // ULONG 0/1
  KSPROPERTY_TESSIL_INPUT_GAIN = 1,             // LONG dB, -999 for silence
  KSPROPERTY_TESSIL_OUTPUT_GAIN = 2,            // LONG dB
  KSPROPERTY_TESSIL_BYPASS_GAIN = 3,            // LONG dB
  KSPROPERTY_TESSIL_CORE_ENABLE = 4,            // ULONG 0/1
  KSPROPERTY_TESSIL_CORE_LEVEL = 5,             // ULONG hundredths
  KSPROPERTY_TESSIL_HIGHPASS_ENABLE = 6,        // ULONG 0/1
  KSPROPERTY_TESSIL_HIGHPASS_FREQUENCY = 7,     // ULONG Hz
  KSPROPERTY_TESSIL_HIGHPASS_ORDER = 8,         // ULONG
  KSPROPERTY_TESSIL_LOWPASS_ENABLE = 9,         // ULONG 0/1
  KSPROPERTY_TESSIL_LOWPASS_FREQUENCY = 10,     // ULONG Hz
  KSPROPERTY_TESSIL_LOWPASS_ORDER = 11,         // ULONG
  KSPROPERTY_TESSIL_OUTPUT_STAGE_ENABLE = 12,   // ULONG 0/1
  KSPROPERTY_TESSIL_EQ_ENABLE = 13,             // ULONG 0/1, TESSIL_CHANNEL_PROPERTY request
  KSPROPERTY_TESSIL_EQ_BAND_ENABLE = 14,        // ULONG 0/1, TESSIL_BAND_PROPERTY request
  KSPROPERTY_TESSIL_EQ_BAND_GAIN = 15,          // LONG dB, TESSIL_BAND_PROPERTY request
  KSPROPERTY_TESSIL_EQ_BAND_FREQUENCY = 16,     // ULONG Hz, TESSIL_BAND_PROPERTY request
  KSPROPERTY_TESSIL_EQ_BAND_Q = 17,             // ULONG hundredths, TESSIL_BAND_PROPERTY request
  KSPROPERTY_TESSIL_OUTPUT_STAGE_AMOUNT = 18,   // ULONG hundredths
  KSPROPERTY_TESSIL_CORE_WEIGHTING = 19,        // ULONG 0/1
} KSPROPERTY_TESSIL;

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
