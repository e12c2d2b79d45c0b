// Exponential, logarithm and powers in double precision without branches or
// library calls, so that loops over arrays of them vectorise (the decoders
// evaluate thousands of densities per second and channel). Each is within
// about one unit in the last place of the exact result, as the C library's
// functions are; the two can differ in the last bit, so use these where the
// result is rounded to single precision afterwards.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

namespace brenvo {

namespace exp_ln_detail {

constexpr double kInvLn2 = 0x1.71547652b82fep0;
// ln 2 split: the high part has 32 significant bits, so n * kLn2Hi is exact.
constexpr double kLn2Hi = 0x1.62e42feep-1;
constexpr double kLn2Lo = 0x1.a39ef35793c76p-33;
// Adding 1.5 * 2^52 rounds to an integer held in the low mantissa bits.
constexpr double kRoundShift = 0x1.8p52;
// Turns those bits (n + 2^51, exponent of 2^52 above) into the bits of 2^n.
constexpr uint64_t kScaleBias = 1023ull - (1ull << 51);
constexpr double kExpMin = -708.0;  // e^-708 > 2^-1022: 2^n stays normal
constexpr double kExpMax = 709.0;

// 1/k! for k = 2..13: e^r = 1 + r + r^2 (1/2! + r/3! + ...); for |r| <= ln2/2
// the series after r^13 adds less than 1e-17.
constexpr double kInvFact[14] = {1.0,
                                 1.0,
                                 1.0 / 2,
                                 1.0 / 6,
                                 1.0 / 24,
                                 1.0 / 120,
                                 1.0 / 720,
                                 1.0 / 5040,
                                 1.0 / 40320,
                                 1.0 / 362880,
                                 1.0 / 3628800,
                                 1.0 / 39916800,
                                 1.0 / 479001600,
                                 1.0 / 6227020800};

constexpr uint64_t kMantissaMask = (1ull << 52) - 1;
constexpr uint64_t kOneBits = 0x3ff0000000000000ull;
// 2^52 + v as a double has v in its mantissa bits (v < 2^52).
constexpr uint64_t kIntMagicBits = 0x4330000000000000ull;
constexpr double kIntMagic = 0x1p52;
constexpr double kSqrt2 = 0x1.6a09e667f3bcdp0;
// 2 / (2j + 1) for j = 0..10: 2 atanh(s) = sum of 2 s^(2j+1) / (2j + 1).
constexpr double kAtanhCoef[11] = {2.0,      2.0 / 3,  2.0 / 5,  2.0 / 7,  2.0 / 9, 2.0 / 11,
                                   2.0 / 13, 2.0 / 15, 2.0 / 17, 2.0 / 19, 2.0 / 21};

}  // namespace exp_ln_detail

// e^(hi + lo), lo a correction far below the last place of hi (0 for a plain
// argument). Results below e^-708 (about 3e-308) are flushed to 0, above
// e^709 they are +infinity; NaN gives NaN.
inline double ExpSum(double hi, double lo) {
  using namespace exp_ln_detail;
  const double a = hi < kExpMin ? kExpMin : (hi > kExpMax ? kExpMax : hi);  // NaN passes
  const double t = a * kInvLn2 + kRoundShift;
  const double n = t - kRoundShift;  // nearest integer to a / ln 2
  const double r = ((a - n * kLn2Hi) - n * kLn2Lo) + lo;
  double p = kInvFact[13];
  for (int k = 12; k >= 2; --k) p = p * r + kInvFact[k];
  // 1 + r with its rounding error kept, then the small rest.
  const double s = 1.0 + r;
  const double err = (1.0 - s) + r;
  const double q = s + (err + r * r * p);
  const double scale = std::bit_cast<double>((std::bit_cast<uint64_t>(t) + kScaleBias) << 52);
  // The ends by a factor rather than a choice of values: a choice would keep
  // GCC from vectorising (it moves the product into a branch).
  const double ends = hi < kExpMin ? 0.0 : (hi > kExpMax ? std::numeric_limits<double>::infinity() : 1.0);
  return q * scale * ends;
}

inline double Exp(double a) { return ExpSum(a, 0.0); }

// x = 2^k m with m in [sqrt(1/2), sqrt(2)]: k (an integer, as a double) and
// ln m, for a normal finite x > 0 (every single-precision value above 0 is
// normal as a double). Other x give meaningless parts: callers select.
inline void LnParts(double x, double& k, double& lnm) {
  using namespace exp_ln_detail;
  const uint64_t u = std::bit_cast<uint64_t>(x);
  const double m0 = std::bit_cast<double>((u & kMantissaMask) | kOneBits);  // 1 .. 2
  const double e0 = std::bit_cast<double>((u >> 52) | kIntMagicBits) - (kIntMagic + 1023.0);
  const bool big = m0 > kSqrt2;
  const double m = m0 * (big ? 0.5 : 1.0);
  k = e0 + (big ? 1.0 : 0.0);
  // ln m = ln(1 + f) = 2 atanh(s), s = f / (2 + f), |s| < 0.172:
  // f - (f^2/2 - s (f^2/2 + R)), R = sum of 2 s^2j / (2j + 1), j = 1..10.
  const double f = m - 1.0;  // exact
  const double s = f / (2.0 + f);
  const double z = s * s;
  double rr = kAtanhCoef[10];
  for (int j = 9; j >= 1; --j) rr = rr * z + kAtanhCoef[j];
  const double R = rr * z;
  const double hfsq = 0.5 * f * f;
  lnm = f - (hfsq - s * (hfsq + R));
}

// ln x: +0 gives -infinity, a negative x or NaN gives NaN, +infinity itself.
inline double Ln(float x) {
  double k, lnm;
  LnParts(x, k, lnm);
  const double v = k * exp_ln_detail::kLn2Hi + (k * exp_ln_detail::kLn2Lo + lnm);
  constexpr double inf = std::numeric_limits<double>::infinity();
  // Added rather than chosen (see ExpSum); v is finite for every x.
  return v + (x > 0.0f ? (x < inf ? 0.0 : inf) : (x == 0.0f ? -inf : std::numeric_limits<double>::quiet_NaN()));
}

// x to a fixed power e > 0, for single-precision x: e ln x is carried with
// extra precision into the exponential.
class TPowerOf {
 public:
  // e above 0 and finite; otherwise ERangeError.
  explicit TPowerOf(double e);
  // x^e; 0 for x = 0, +infinity for +infinity, NaN for a negative x or NaN.
  double operator()(float x) const {
    double k, lnm;
    LnParts(x, k, lnm);
    const double p1 = k * FHi;  // exact
    const double p2 = FE * lnm;
    const double hi = p1 + p2;
    const double b = hi - p1;
    const double err = (p1 - (hi - b)) + (p2 - b);  // p1 + p2 = hi + err exactly
    const double v = ExpSum(hi, err + k * FLo);  // finite above 0 for every x
    constexpr double inf = std::numeric_limits<double>::infinity();
    // A factor rather than a choice of values (see ExpSum).
    return v * (x > 0.0f ? (x < inf ? 1.0 : inf) : (x == 0.0f ? 0.0 : std::numeric_limits<double>::quiet_NaN()));
  }

 private:
  double FE;
  double FHi, FLo;  // e ln 2, the high part with 42 significant bits
};

// A fixed base c > 0 to a single-precision power x: x ln c exactly split.
class TPowerOfBase {
 public:
  // c above 0 and finite; otherwise ERangeError.
  explicit TPowerOfBase(double c);
  // c^x (NaN for NaN).
  double operator()(float x) const {
    const double xd = x;
    return ExpSum(xd * FHi, xd * FLo);  // xd * FHi exact: 24 + 28 bits
  }

 private:
  double FHi, FLo;  // ln c, the high part with 28 significant bits
};

}  // namespace brenvo
