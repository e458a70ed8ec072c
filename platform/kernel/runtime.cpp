// The C library functions that the driver sources call and the kernel does not export (memset,
// memcpy and memmove come from the kernel itself). Built into the kernel image only.
#include <stddef.h>

#include "platform/kernel/kernel_math.h"

extern "C" {

double tan(double x) { return tessil::kernel_math::Tan(x); }
double cos(double x) { return tessil::kernel_math::Cos(x); }
double exp(double x) { return tessil::kernel_math::Exp(x); }
double log10(double x) { return tessil::kernel_math::Log10(x); }
double pow(double base, double exponent) { return tessil::kernel_math::Pow(base, exponent); }
long double powl(long double base, long double exponent) {
  return tessil::kernel_math::PowExtended(base, exponent);
}

// The cross toolchain's kernel import library carries its own memcmp, an object with unwind
// tables, which the image must not contain.
int memcmp(const void* first, const void* second, size_t count) {
  const unsigned char* a = static_cast<const unsigned char*>(first);
  const unsigned char* b = static_cast<const unsigned char*>(second);
  for (size_t i = 0; i < count; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

}  // extern "C"
