// How every block and the engine store a setting: validate, refuse with a result code and keep the
// previous value, or store the 32-bit word with StoreRelaxed (the control plane may write it while
// a block runs).
#pragma once

#include <stdint.h>

#include "facts/facts.h"
#include "filters/result_codes.h"
#include "platform/relaxed.h"

namespace tessil {

inline bool IsSwitch(int32_t value) { return value == 0 || value == 1; }

// 0 or 1; anything else is refused with kResultBadSwitch.
inline int32_t StoreSwitch(int32_t& word, int32_t value) {
  if (!IsSwitch(value)) return kResultBadSwitch;
  StoreRelaxed(word, value);
  return kResultSuccess;
}

// Inside the inclusive range; anything else, a NaN included, is refused with kResultOutOfRange.
inline int32_t StoreInRange(float& word, float value, const SettingRange& range) {
  if (!(value >= range.minimum && value <= range.maximum)) return kResultOutOfRange;
  StoreRelaxed(word, value);
  return kResultSuccess;
}

}  // namespace tessil
