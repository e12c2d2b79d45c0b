#include "dsp/exp_ln.h"

#include <bit>
#include <cmath>

#include "dsp/errors.h"

namespace brenvo {

namespace {

constexpr long double kLn2 = 0.693147180559945309417232121458176568L;

// v with only its `bits` leading significant bits (the rest cut off).
double Leading(double v, int bits) {
  const uint64_t mask = ~((uint64_t{1} << (53 - bits)) - 1);
  return std::bit_cast<double>(std::bit_cast<uint64_t>(v) & mask);
}

}  // namespace

TPowerOf::TPowerOf(double e) : FE(e) {
  if (!(e > 0.0) || !std::isfinite(e)) throw ERangeError("TPowerOf: exponent must be above 0 and finite");
  // k * FHi is exact for any binary exponent k of a double (11 bits).
  const long double el2 = static_cast<long double>(e) * kLn2;
  FHi = Leading(static_cast<double>(el2), 42);
  FLo = static_cast<double>(el2 - FHi);
}

TPowerOfBase::TPowerOfBase(double c) {
  if (!(c > 0.0) || !std::isfinite(c)) throw ERangeError("TPowerOfBase: base must be above 0 and finite");
  // A single-precision x (24 bits) times FHi is exact.
  const long double lnc = std::log(static_cast<long double>(c));
  FHi = Leading(static_cast<double>(lnc), 28);
  FLo = static_cast<double>(lnc - FHi);
}

}  // namespace brenvo
