// Calls into the kernel image with the stack checked: the callee's calling convention decides
// who removes the arguments (stdcall and thiscall: the callee; cdecl: the caller), and a host
// built with the Windows toolchain relies on it. Every call reports how many argument bytes the
// callee removed, so a mismatch shows up as a number instead of a corrupted stack later.
#pragma once

#include <stdint.h>

#include <initializer_list>

namespace tessil::kernel_test {

struct CallResult {
  uint32_t value;         // eax
  int32_t bytesRemoved;  // by the callee: 4 per argument for stdcall and thiscall
};

// `self` goes in ecx (thiscall's object; ignored by other conventions). Arguments are 32-bit
// words, pushed right to left.
CallResult CheckedCall(const void* function, const void* self,
                       std::initializer_list<uint32_t> arguments);

inline uint32_t Word(const void* pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}
uint32_t Word(float value);

}  // namespace tessil::kernel_test
