// The math functions that the filter designs and the decibel conversions use, for the kernel,
// which exports none of them.
//
// Every function works in double-double arithmetic (about 104 significant bits) and rounds once
// at the end, so results are correctly rounded except in the rare cases where the true value lies
// within about 2^-100 relative of a rounding boundary. The user-mode C library is not correctly
// rounded everywhere, so results can differ from it in the last bit of a double; the designs store
// floats, and the float coefficients come out the same (tests/kernel checks every reachable
// filter design). Speed is of no concern: designs run only when a setting changes.
//
// Plain code with no platform dependence, so that the Linux tests can run it beside the C library.
#pragma once

namespace tessil::kernel_math {

// Full accuracy for |x| below 2^30; beyond that the argument reduction loses bits. NaN for an
// infinite or NaN argument.
double Tan(double x);
double Cos(double x);

double Exp(double x);
double Log10(double x);
// Real powers of a positive base; for a zero or negative base, the results the C library gives
// (a negative base needs an integer exponent, else NaN).
double Pow(double base, double exponent);

// base^exponent rounded once to the 64-bit significand of the x87 extended format, as the C
// library's powl does on x86, so that a later conversion to float rounds twice the same way.
// Positive bases only (NaN otherwise); results below the extended format's normal range give 0.
long double PowExtended(long double base, long double exponent);

}  // namespace tessil::kernel_math
