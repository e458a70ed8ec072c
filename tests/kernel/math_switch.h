// Runs the driver's designs over either math library in one process. This program defines the
// C library's tan, cos, exp, pow, log10 and powl itself, so every call from the driver's code
// lands here and goes on to the C library or to the kernel math layer, whichever is selected.
#pragma once

#include <stdint.h>

namespace tessil::kernel_test {

enum class MathLibrary { kCLibrary, kKernel };

void UseMath(MathLibrary library);

// Calls since the last reset whose result differed between the two libraries (only counted
// while the kernel math is selected: each call then computes both).
uint64_t MathDisagreements();
void ResetMathDisagreements();

}  // namespace tessil::kernel_test
