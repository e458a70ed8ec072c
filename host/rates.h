// Which of the driver's rate sets serves a stream. The driver designs its filters and loads its
// core tables for 32000, 44100 and 48000 Hz only, so a stream at any other rate is resampled to
// the native rate of its family, run there, and resampled back:
//   - 44100 Hz for 44.1 kHz multiples and divisors (11025, 22050, 88200, 176400, ...),
//   - 48000 Hz for 48 kHz multiples and divisors (8000, 16000, 24000, 96000, 192000, ...),
//   - 32000 Hz for 32 kHz multiples and divisors not already covered (64000, 128000, ...),
//   - otherwise the native rate nearest in ratio (37800 -> 44100, 50000 -> 48000).
#pragma once

#include <cstdint>

namespace tessil::host {

bool IsNativeRate(uint32_t rate);
uint32_t NativeRateFor(uint32_t rate);

}  // namespace tessil::host
