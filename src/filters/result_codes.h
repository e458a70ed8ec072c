// Result codes of every block setter, engine operation and the block pipeline. Filters, core and
// chain answer with these, and the manager turns anything but success into a refused status.
#pragma once

#include <stdint.h>

namespace tessil {

inline constexpr int32_t kResultSuccess = 0;
// A value outside its inclusive range (or a NaN where a number is needed).
inline constexpr int32_t kResultOutOfRange = 1;
// A switch given something other than 0 or 1.
inline constexpr int32_t kResultBadSwitch = 3;
// A band index not below the band count, or a block length outside kBlockFrames to
// kLargestBlockFrames.
inline constexpr int32_t kResultBadIndex = 4;

}  // namespace tessil
