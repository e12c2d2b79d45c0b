#include "dsp/types.h"

#include <cmath>

#include "dsp/errors.h"

namespace brenvo {

void SetReImLength(TReImArrays& r, int32_t n) {
  if (n < 0) throw ERangeError();
  r.Re.resize(static_cast<std::size_t>(n));
  r.Im.resize(static_cast<std::size_t>(n));
}

TComplexArray ReImToComplex(const TSingleArray& re, const TSingleArray& im) {
  if (im.size() < re.size()) throw ERangeError();
  TComplexArray c(re.size());
  for (std::size_t i = 0; i < re.size(); ++i) c[i] = {re[i], im[i]};
  return c;
}

TComplexArray ReImToComplex(const TReImArrays& r) { return ReImToComplex(r.Re, r.Im); }

TReImArrays ComplexToReIm(const TComplexArray& c) {
  TReImArrays r;
  r.Re.resize(c.size());
  r.Im.resize(c.size());
  for (std::size_t i = 0; i < c.size(); ++i) {
    r.Re[i] = c[i].Re;
    r.Im[i] = c[i].Im;
  }
  return r;
}

float ComplexModulus(TComplex c) {
  const float a = std::fabs(c.Re);
  const float b = std::fabs(c.Im);
  if (a == 0.0f) return b;
  if (b == 0.0f) return a;
  // Scale by the larger part so that r*r stays at most 1.
  if (a > b) {
    const float r = b / a;
    return a * std::sqrt(1.0f + r * r);
  }
  const float r = a / b;
  return b * std::sqrt(1.0f + r * r);
}

}  // namespace brenvo
