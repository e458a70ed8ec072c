// Which of the driver's rate sets serves a stream. The driver designs its filters and loads its
// core tables for 32000, 44100 and 48000 Hz only, so a stream at any other rate is resampled to
// the native rate of its family, run there, and resampled back:
//   - 44100 Hz for 44.1 kHz multiples and divisors (11025, 22050, 88200, 176400, ...),
//   - 48000 Hz for 48 kHz multiples and divisors (8000, 16000, 24000, 96000, 192000, ...),
//   - 32000 Hz for 32 kHz multiples and divisors not already covered (64000, 128000, ...),
//   - otherwise the native rate nearest in ratio (37800 -> 44100, 50000 -> 48000).
//
// Streams run from kLowestStreamRate to kHighestStreamRate. Below, the driver's effect would work
// on a band it was never meant for (a 2 kHz stream carries nothing above 1 kHz) while the
// resamplers' filters, whose length is fixed in frames of the stream, stretch to seconds of
// delay; above, one second of audio would take more memory and time than any real stream needs.
#pragma once

#include <cstdint>
#include <string>

namespace tessil::host {

inline constexpr uint32_t kLowestStreamRate = 4000;
inline constexpr uint32_t kHighestStreamRate = 768000;

bool IsNativeRate(uint32_t rate);
uint32_t NativeRateFor(uint32_t rate);

// `rate` as a whole number of hertz when a stream can run at it, otherwise 0: NaN, infinities,
// fractions and anything outside the bounds above are refused. Hosts that hand rates over as
// floating point or wider integers (LV2, LADSPA) check here before narrowing them.
uint32_t SupportedStreamRate(double rate);
// Why a stream cannot run at `rate`, or an empty string when it can.
std::string StreamRateProblem(double rate);

}  // namespace tessil::host
