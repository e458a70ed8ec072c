#include "math_switch.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

#include "platform/kernel/kernel_math.h"

namespace tessil::kernel_test {

namespace {

MathLibrary selected = MathLibrary::kCLibrary;
uint64_t disagreements = 0;

// The C library's own definition, found past this program's.
template <typename Function>
Function Next(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  if (symbol == nullptr) std::abort();
  return reinterpret_cast<Function>(symbol);
}

template <typename Value>
Value Choose(Value cLibrary, Value kernel) {
  if (std::memcmp(&cLibrary, &kernel, sizeof(Value) > 10 ? 10 : sizeof(Value)) != 0) {
    ++disagreements;
  }
  return kernel;
}

}  // namespace

void UseMath(MathLibrary library) { selected = library; }
uint64_t MathDisagreements() { return disagreements; }
void ResetMathDisagreements() { disagreements = 0; }

}  // namespace tessil::kernel_test

using tessil::kernel_test::MathLibrary;
namespace kernel_math = tessil::kernel_math;
namespace test = tessil::kernel_test;

#define TESSIL_MATH_SWITCH(name, KernelFunction, Type, Parameters, Arguments)       \
  extern "C" Type name Parameters noexcept {                                               \
    using Function = Type(*) Parameters;                                            \
    static const Function cLibrary = test::Next<Function>(#name);                   \
    if (test::selected == MathLibrary::kCLibrary) return cLibrary Arguments;        \
    return test::Choose<Type>(cLibrary Arguments, kernel_math::KernelFunction Arguments); \
  }

TESSIL_MATH_SWITCH(tan, Tan, double, (double x), (x))
TESSIL_MATH_SWITCH(cos, Cos, double, (double x), (x))
TESSIL_MATH_SWITCH(exp, Exp, double, (double x), (x))
TESSIL_MATH_SWITCH(log10, Log10, double, (double x), (x))
TESSIL_MATH_SWITCH(pow, Pow, double, (double x, double y), (x, y))
TESSIL_MATH_SWITCH(powl, PowExtended, long double, (long double x, long double y), (x, y))
