// The parameter catalogue: which typed manager operation serves each property id. The equaliser
// ids 13 to 17, whose requests carry a channel and a band, and the core weighting (19) have
// handlers of their own and are in no table; id 18, the output-stage amount, is a percent row.
#pragma once

#include "module/manager.h"

namespace tessil {

template <typename Value>
struct ParameterEntry {
  ULONG id;
  NTSTATUS (TessilManager::*get)(Value* result);
  NTSTATUS (TessilManager::*set)(Value value);
};

using FloatParameterEntry = ParameterEntry<float>;
using IntegerParameterEntry = ParameterEntry<ULONG>;
using BooleanParameterEntry = ParameterEntry<BOOLEAN>;

inline constexpr int kDecibelParameterCount = 3;
inline constexpr int kPercentParameterCount = 2;
inline constexpr int kIntegerParameterCount = 4;
inline constexpr int kBooleanParameterCount = 5;

extern const FloatParameterEntry kDecibelParameters[kDecibelParameterCount];
extern const FloatParameterEntry kPercentParameters[kPercentParameterCount];
extern const IntegerParameterEntry kIntegerParameters[kIntegerParameterCount];
extern const BooleanParameterEntry kBooleanParameters[kBooleanParameterCount];

// The first row in [first, end) with the id, or end.
template <typename Entry>
const Entry* FindParameter(const Entry* first, const Entry* end, ULONG id) {
  for (; first != end; ++first) {
    if (first->id == id) return first;
  }
  return end;
}

}  // namespace tessil
