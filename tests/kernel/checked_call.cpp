#include "checked_call.h"

#include <cstring>
#include <vector>

// uint32_t tessil_checked_call(function, self, arguments, count, bytesRemoved*), cdecl.
asm(R"(
  .text
  .globl tessil_checked_call
  .type tessil_checked_call, @function
tessil_checked_call:
  push %ebp
  mov %esp, %ebp
  push %ebx
  push %esi
  push %edi
  mov 16(%ebp), %esi
  mov 20(%ebp), %edx
1:
  test %edx, %edx
  jz 2f
  dec %edx
  push (%esi,%edx,4)
  jmp 1b
2:
  mov %esp, %ebx
  mov 12(%ebp), %ecx
  mov 8(%ebp), %eax
  call *%eax
  mov %esp, %ecx
  sub %ebx, %ecx
  mov 24(%ebp), %edx
  mov %ecx, (%edx)
  lea -12(%ebp), %esp
  pop %edi
  pop %esi
  pop %ebx
  pop %ebp
  ret
  .size tessil_checked_call, .-tessil_checked_call
)");

extern "C" uint32_t tessil_checked_call(const void* function, const void* self,
                                        const uint32_t* arguments, uint32_t count,
                                        int32_t* bytesRemoved);

namespace tessil::kernel_test {

CallResult CheckedCall(const void* function, const void* self,
                       std::initializer_list<uint32_t> arguments) {
  const std::vector<uint32_t> words(arguments);
  CallResult result{};
  result.value = tessil_checked_call(function, self, words.data(),
                                     static_cast<uint32_t>(words.size()), &result.bytesRemoved);
  return result;
}

uint32_t Word(float value) {
  uint32_t word;
  std::memcpy(&word, &value, sizeof word);
  return word;
}

}  // namespace tessil::kernel_test
