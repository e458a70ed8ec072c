#include "platform/kernel/kernel_math.h"

#include <stdint.h>
#include <string.h>

// Everything here must compile to plain SSE2 arithmetic on the 32-bit kernel target: no calls to
// the C library (floor, ldexp, frexp) and no 64-bit division or float-to-64-bit conversions,
// which the compiler would hand to run-time helpers that the kernel does not have.

namespace tessil::kernel_math {

namespace {

// An unevaluated sum hi + lo with |lo| at most half an ulp of hi.
struct Double2 {
  double hi;
  double lo;
};

constexpr Double2 Exact(double value) { return {value, 0.0}; }

// Error-free transformations. They rely on every operation being rounded once to double, which
// the build guarantees (SSE2 arithmetic, no contraction into fused multiply-adds).
constexpr Double2 TwoSum(double a, double b) {
  const double s = a + b;
  const double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

constexpr Double2 QuickTwoSum(double a, double b) {  // |a| >= |b|
  const double s = a + b;
  return {s, b - (s - a)};
}

constexpr Double2 Split(double a) {
  const double t = 134217729.0 * a;  // 2^27 + 1
  const double hi = t - (t - a);
  return {hi, a - hi};
}

constexpr Double2 TwoProduct(double a, double b) {
  const double p = a * b;
  const Double2 as = Split(a), bs = Split(b);
  return {p, ((as.hi * bs.hi - p) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo};
}

constexpr Double2 Add(Double2 a, Double2 b) {
  Double2 s = TwoSum(a.hi, b.hi);
  const Double2 t = TwoSum(a.lo, b.lo);
  s.lo += t.hi;
  s = QuickTwoSum(s.hi, s.lo);
  s.lo += t.lo;
  return QuickTwoSum(s.hi, s.lo);
}

constexpr Double2 Negate(Double2 a) { return {-a.hi, -a.lo}; }

constexpr Double2 Multiply(Double2 a, Double2 b) {
  Double2 p = TwoProduct(a.hi, b.hi);
  p.lo += a.hi * b.lo + a.lo * b.hi;
  return QuickTwoSum(p.hi, p.lo);
}

constexpr Double2 Multiply(Double2 a, double b) {
  Double2 p = TwoProduct(a.hi, b);
  p.lo += a.lo * b;
  return QuickTwoSum(p.hi, p.lo);
}

constexpr Double2 Divide(Double2 a, Double2 b) {
  const double q1 = a.hi / b.hi;
  Double2 r = Add(a, Negate(Multiply(b, q1)));
  const double q2 = r.hi / b.hi;
  r = Add(r, Negate(Multiply(b, q2)));
  const double q3 = r.hi / b.hi;
  return Add(QuickTwoSum(q1, q2), Exact(q3));
}

// One rounding to double.
constexpr double Round(Double2 a) { return a.hi + a.lo; }

// Constants to about 160 bits, as three doubles (computed with exact integer arithmetic: pi by
// Machin's formula, ln 2 = 2 atanh(1/3), ln 10 = 3 ln 2 + 2 atanh(1/9)).
constexpr double kHalfPi[3] = {0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54,
                               -0x1.f1976b7ed8fbcp-110};
constexpr double kLn2[3] = {0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56, 0x1.7b57a079a1934p-111};
constexpr Double2 kInverseLn10 = {0x1.bcb7b1526e50ep-2, 0x1.95355baaafad3p-57};

// 1/n! for n = 0 .. kFactorials-1, evaluated by the compiler in the same arithmetic.
constexpr int kFactorials = 32;
struct InverseFactorials {
  Double2 value[kFactorials];
  constexpr InverseFactorials() : value() {
    Double2 factorial = Exact(1.0);
    for (int n = 0; n < kFactorials; ++n) {
      if (n > 0) factorial = Multiply(factorial, static_cast<double>(n));
      value[n] = Divide(Exact(1.0), factorial);
    }
  }
};
constexpr InverseFactorials kInverseFactorial;

uint64_t BitsOf(double x) {
  uint64_t bits;
  memcpy(&bits, &x, sizeof bits);
  return bits;
}

double FromBits(uint64_t bits) {
  double x;
  memcpy(&x, &bits, sizeof x);
  return x;
}

bool IsFinite(double x) { return ((BitsOf(x) >> 52) & 0x7FF) != 0x7FF; }

double Infinity() { return FromBits(0x7FF0000000000000ull); }
double NotANumber() { return FromBits(0x7FF8000000000000ull); }

// Nearest integer, halves away from zero, for |x| below 2^31.
int32_t NearestInteger(double x) {
  const int32_t truncated = static_cast<int32_t>(x);
  const double fraction = x - truncated;
  if (fraction >= 0.5) return truncated + 1;
  if (fraction <= -0.5) return truncated - 1;
  return truncated;
}

int32_t FloorToInteger(double x) {  // |x| below 2^31
  const int32_t truncated = static_cast<int32_t>(x);
  return static_cast<double>(truncated) > x ? truncated - 1 : truncated;
}

// 2^k for a k within the normal double range.
double PowerOfTwo(int32_t k) { return FromBits(static_cast<uint64_t>(k + 1023) << 52); }

// x * 2^k, in two steps so that k may span the whole range of finite results.
double Scale(double x, int32_t k) {
  if (k > 1023) {
    x *= PowerOfTwo(1023);
    k -= 1023;
    if (k > 1023) return x * Infinity();
  } else if (k < -1022) {
    x *= PowerOfTwo(-1022 + 53);  // keep the step itself exact
    k += 1022 - 53;
    if (k < -1022) {
      x *= PowerOfTwo(-1022);
      k += 1022;
      if (k < -1022) return x * 0.0;
    }
  }
  return x * PowerOfTwo(k);
}

// Binary exponent of a finite non-zero double (as frexp gives it minus one).
int32_t ExponentOf(double x) {
  const int32_t biased = static_cast<int32_t>((BitsOf(x) >> 52) & 0x7FF);
  if (biased != 0) return biased - 1023;
  return ExponentOf(x * PowerOfTwo(64)) - 64;  // subnormal
}

// exp(x) = mantissa * 2^k with the mantissa near 1, for |x.hi| below about 1.4e9.
Double2 ExpParts(Double2 x, int32_t* k) {
  *k = NearestInteger(x.hi / kLn2[0]);
  const double kd = *k;
  // x - k ln 2, with each product of k and a part of ln 2 kept exactly.
  Double2 r = Add(x, Negate(TwoProduct(kd, kLn2[0])));
  r = Add(r, Negate(TwoProduct(kd, kLn2[1])));
  r = Add(r, Exact(-kd * kLn2[2]));
  // exp(r) = (exp(r / 1024))^1024: the Taylor series of expm1 converges fast on r / 1024, and
  // squaring in the expm1 form (e -> 2e + e^2) keeps the small part's bits.
  const Double2 s = {r.hi * 0x1p-10, r.lo * 0x1p-10};
  Double2 series = kInverseFactorial.value[11];
  for (int n = 10; n >= 1; --n) series = Add(Multiply(series, s), kInverseFactorial.value[n]);
  Double2 e = Multiply(series, s);
  for (int squaring = 0; squaring < 10; ++squaring) e = Add(Multiply(e, 2.0), Multiply(e, e));
  return Add(Exact(1.0), e);
}

// Natural logarithm of a positive finite value.
Double2 Log(Double2 x) {
  // x = m 2^e with m in [sqrt(1/2), sqrt(2)).
  int32_t e = ExponentOf(x.hi);
  Double2 m = {Scale(x.hi, -e), Scale(x.lo, -e)};
  if (m.hi > 1.4142135623730951) {
    m = {m.hi * 0.5, m.lo * 0.5};
    e += 1;
  }
  // A double estimate by the atanh series, then Newton steps y += m exp(-y) - 1, each of which
  // doubles the number of correct bits.
  const double t = (m.hi - 1.0) / (m.hi + 1.0);
  const double t2 = t * t;
  double series = 0.0;
  for (int n = 41; n >= 1; n -= 2) series = series * t2 + 1.0 / n;
  Double2 y = Exact(2.0 * t * series);
  for (int step = 0; step < 2; ++step) {
    int32_t k;
    const Double2 power = ExpParts(Negate(y), &k);  // |y| < 0.35, so k is 0 or +-1
    const Double2 scaled = {Scale(power.hi, k), Scale(power.lo, k)};
    y = Add(y, Add(Multiply(m, scaled), Exact(-1.0)));
  }
  const double ed = e;
  Double2 result = Add(y, TwoProduct(ed, kLn2[0]));
  result = Add(result, TwoProduct(ed, kLn2[1]));
  return Add(result, Exact(ed * kLn2[2]));
}

// sin and cos of r for |r| up to pi/4, by their Taylor series in r^2, evaluated as
// c1 - r^2 (c3 - r^2 (c5 - ...)) and c0 - r^2 (c2 - ...).
Double2 SinReduced(Double2 r) {
  const Double2 r2 = Multiply(r, r);
  Double2 series = kInverseFactorial.value[31];
  for (int n = 29; n >= 1; n -= 2) {
    series = Add(kInverseFactorial.value[n], Negate(Multiply(series, r2)));
  }
  return Multiply(series, r);
}

Double2 CosReduced(Double2 r) {
  const Double2 r2 = Multiply(r, r);
  Double2 series = kInverseFactorial.value[30];
  for (int n = 28; n >= 0; n -= 2) {
    series = Add(kInverseFactorial.value[n], Negate(Multiply(series, r2)));
  }
  return series;
}

// x - q pi/2 with |result| <= pi/4; quadrant receives q mod 4.
Double2 ReduceByHalfPi(double x, int32_t* quadrant) {
  const int32_t q = NearestInteger(x / kHalfPi[0]);
  const double qd = q;
  Double2 r = Add(Exact(x), Negate(TwoProduct(qd, kHalfPi[0])));
  r = Add(r, Negate(TwoProduct(qd, kHalfPi[1])));
  r = Add(r, Exact(-qd * kHalfPi[2]));
  *quadrant = q & 3;
  return r;
}

bool IsReducible(double x) { return IsFinite(x) && x < 0x1p30 && x > -0x1p30; }

// x rounded to an integer, for any finite x (values from 2^52 up are integers already).
double RoundToIntegral(double x) {
  if (x >= 0x1p52 || x <= -0x1p52) return x;
  return (x + 0x1.8p52) - 0x1.8p52;
}

bool IsIntegral(double x) { return IsFinite(x) && RoundToIntegral(x) == x; }

// The reduction above needs the quotient to fit an int32; beyond 2^30 the argument is first
// brought down by a multiple of 2 pi computed in double (bits are lost, as documented).
double BringIntoRange(double x) {
  if (IsReducible(x)) return x;
  return x - RoundToIntegral(x / (4.0 * kHalfPi[0])) * (4.0 * kHalfPi[0]);
}

}  // namespace

double Cos(double x) {
  if (!IsFinite(x)) return NotANumber();
  int32_t quadrant;
  const Double2 r = ReduceByHalfPi(BringIntoRange(x), &quadrant);
  switch (quadrant) {
    case 0: return Round(CosReduced(r));
    case 1: return -Round(SinReduced(r));
    case 2: return -Round(CosReduced(r));
    default: return Round(SinReduced(r));
  }
}

double Tan(double x) {
  if (!IsFinite(x)) return NotANumber();
  int32_t quadrant;
  const Double2 r = ReduceByHalfPi(BringIntoRange(x), &quadrant);
  const Double2 sine = SinReduced(r), cosine = CosReduced(r);
  if (quadrant & 1) return -Round(Divide(cosine, sine));
  return Round(Divide(sine, cosine));
}

double Exp(double x) {
  if (x != x) return x;
  if (x > 710.0) return Infinity();
  if (x < -746.0) return 0.0;
  int32_t k;
  const Double2 mantissa = ExpParts(Exact(x), &k);
  return Scale(Round(mantissa), k);
}

double Log10(double x) {
  if (x != x) return x;
  if (x < 0.0) return NotANumber();
  if (x == 0.0) return -Infinity();
  if (!IsFinite(x)) return x;
  return Round(Multiply(Log(Exact(x)), kInverseLn10));
}

double Pow(double base, double exponent) {
  if (exponent == 0.0 || base == 1.0) return 1.0;
  if (base != base || exponent != exponent) return NotANumber();
  if (!IsFinite(exponent)) {
    const double magnitude = base < 0.0 ? -base : base;
    if (magnitude == 1.0) return 1.0;
    return (magnitude > 1.0) == (exponent > 0.0) ? Infinity() : 0.0;
  }
  if (!IsFinite(base) || base <= 0.0) {
    // The cases a design never produces, answered the way the C library answers them.
    const bool odd = IsIntegral(exponent) && !IsIntegral(exponent * 0.5);
    if (base < 0.0 && IsFinite(base)) {
      if (!IsIntegral(exponent)) return NotANumber();
      const double magnitude = Pow(-base, exponent);
      return odd ? -magnitude : magnitude;
    }
    const bool negative = (BitsOf(base) >> 63) != 0 && odd;
    const bool huge = (base != 0.0) == (exponent > 0.0);  // infinity^+y or 0^-y
    const double magnitude = huge ? Infinity() : 0.0;
    return negative ? -magnitude : magnitude;
  }
  const Double2 product = Multiply(Log(Exact(base)), exponent);
  if (product.hi > 710.0) return Infinity();
  if (product.hi < -746.0) return 0.0;
  int32_t k;
  const Double2 mantissa = ExpParts(product, &k);
  return Scale(Round(mantissa), k);
}

namespace {

// t rounded to the nearest integer, a tie going to the value that makes base + result even.
int32_t RoundTail(double t, uint64_t base) {
  int32_t whole = FloorToInteger(t);
  const double fraction = t - whole;  // exact: the fractional bits of t
  if (fraction > 0.5 || (fraction == 0.5 && ((base + static_cast<uint64_t>(whole)) & 1) != 0)) {
    whole += 1;
  }
  return whole;
}

}  // namespace

long double PowExtended(long double base, long double exponent) {
  static_assert(sizeof(long double) >= 10, "the x87 extended format");
  if (base != base || exponent != exponent || !(base > 0.0L)) return NotANumber();
  if (exponent == 0.0L || base == 1.0L) return 1.0L;
  // Both arguments as exact double-double values (64 significant bits fit in two doubles).
  const double baseHi = static_cast<double>(base);
  const double exponentHi = static_cast<double>(exponent);
  if (!IsFinite(baseHi) || !IsFinite(exponentHi)) return NotANumber();
  const Double2 baseValue = {baseHi, static_cast<double>(base - baseHi)};
  const Double2 exponentValue = {exponentHi, static_cast<double>(exponent - exponentHi)};
  const Double2 product = Multiply(Log(baseValue), exponentValue);
  if (product.hi > 11357.3) return Infinity();  // beyond the largest extended value
  if (product.hi < -11355.1) return 0.0L;     // below the smallest normal extended value
  int32_t k;
  const Double2 mantissa = ExpParts(product, &k);

  // Round hi + lo once to a 64-bit significand. Scaled by 2^(63 - top), hi is an integer in
  // [2^63, 2^64) whose low 11 bits are zero, and lo is a tail of at most 2^10 in magnitude, so
  // adding the rounded tail can neither carry out of 64 bits nor drop below 2^63, except when hi
  // is exactly 2^63 and the tail is negative: the sum then lies in the binade below, where one
  // more bit of the tail counts.
  int32_t top = ExponentOf(mantissa.hi);
  const uint64_t head = ((BitsOf(mantissa.hi) & 0xFFFFFFFFFFFFFull) | (1ull << 52)) << 11;
  const double tail = Scale(mantissa.lo, 63 - top);
  uint64_t significand;
  if (tail < 0.0 && head == (1ull << 63)) {
    const int32_t adjustment = RoundTail(tail * 2.0, 0);  // relative to 2^64
    if (adjustment == 0) {
      significand = head;
    } else {
      significand = static_cast<uint64_t>(static_cast<int64_t>(adjustment));  // 2^64 + adjustment
      top -= 1;
    }
  } else {
    significand = head + static_cast<uint64_t>(static_cast<int64_t>(RoundTail(tail, head)));
  }

  const int32_t biased = top + k + 16383;
  if (biased >= 0x7FFF) return Infinity();
  if (biased <= 0) return 0.0L;
  unsigned char bytes[sizeof(long double)] = {};
  memcpy(bytes, &significand, 8);
  const uint16_t exponentField = static_cast<uint16_t>(biased);
  memcpy(bytes + 8, &exponentField, 2);
  long double result;
  memcpy(&result, bytes, sizeof result);
  return result;
}

}  // namespace tessil::kernel_math
