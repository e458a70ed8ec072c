// Settings that the control plane may write while audio runs are single 32-bit words. Every access
// to such a word goes through these two helpers so that it is one indivisible load or store (no
// torn values, no data race) without ordering costs on the audio path.
#pragma once

#include <stdint.h>

namespace tessil {

template <typename T>
inline T LoadRelaxed(const T& word) {
  static_assert(sizeof(T) == 4, "settings shared with the control plane are 32-bit words");
  T value;
  __atomic_load(&word, &value, __ATOMIC_RELAXED);
  return value;
}

template <typename T>
inline void StoreRelaxed(T& word, T value) {
  static_assert(sizeof(T) == 4, "settings shared with the control plane are 32-bit words");
  __atomic_store(&word, &value, __ATOMIC_RELAXED);
}

}  // namespace tessil
