// e^x and ln x on vectors of singles, lane by lane, faithfully rounded (every
// result within one unit in the last place; checked on all singles), for the
// kernels that evaluate many transcendental terms per spectrum. Written with
// the compiler's generic vectors: a function compiled for another instruction
// set (e.g. AVX2) runs the very same operations, so the results do not depend
// on the processor. No fused multiply-adds (the project builds with
// -ffp-contract=off), no table lookups.
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

namespace brenvo {

// These functions are always inlined: an eight-lane value never crosses a
// call boundary, so the ABI note about it does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

// Vectors of N singles and the integer vectors of the same shape (typedef:
// GCC drops the attribute of an alias with a dependent size).
template <int N>
struct TLanes {
  typedef float F __attribute__((vector_size(4 * N)));
  typedef int32_t I __attribute__((vector_size(4 * N)));
  typedef uint32_t U __attribute__((vector_size(4 * N)));
};

// e^x. Results below the normal range of singles (x < -87.336) are 0, not
// subnormal: arithmetic on subnormals costs a processor a hundred times more
// (and such densities are far below anything the decoder tells apart).
// Above 88.72 (the largest single's logarithm) the result is infinity; a
// NaN stays NaN.
template <int N>
[[gnu::always_inline]] inline typename TLanes<N>::F LaneExp(typename TLanes<N>::F x) {
  using F = typename TLanes<N>::F;
  using I = typename TLanes<N>::I;
  // The least x whose e^x is a normal single, the largest whose e^x is finite.
  constexpr float kMin = -0x1.5d589ep+6f, kMax = 0x1.62e42ep+6f;
  // Held inside the range for the arithmetic below (a NaN stays NaN).
  F v = x < kMin ? F{} + kMin : x;
  v = v > kMax ? F{} + kMax : v;
  // v = n ln 2 + r, |r| <= ln 2 / 2. Adding 1.5 * 2^23 rounds to an integer.
  const float kRound = 12582912.0f;
  const F n = (v * 1.44269502f + kRound) - kRound;
  // The high part of ln 2 has 15 bits, so n times it is exact and so is rh;
  // c keeps the rounding error of r, which would otherwise cost a fifth of
  // an ulp.
  const F rh = v - n * 0.693145751953125f, rl = n * 1.42860677e-06f;
  const F r = rh - rl;
  const F c = (rh - r) - rl;
  // e^r - 1 - r by its Taylor series to r^7 (error below 10^-8 for |r| <= 0.35).
  F q = F{} + 1.98412701e-04f;
  q = q * r + 1.38888892e-03f;
  q = q * r + 8.33333377e-03f;
  q = q * r + 4.16666679e-02f;
  q = q * r + 1.66666672e-01f;
  q = q * r + 0.5f;
  const F p = 1.0f + (r + (c + r * r * q));
  // Times 2^n by adding n to the exponent: n runs from -126 (where r >= 0)
  // to 128 (where r < 0), so the result stays a normal single.
  const F e = std::bit_cast<F>(std::bit_cast<I>(p) + (__builtin_convertvector(n, I) << 23));
  return x < kMin ? F{} : (x > kMax ? F{} + std::numeric_limits<float>::infinity() : e);
}

// ln x: -infinity at 0, NaN below 0 and for NaN, infinity at infinity;
// subnormal x are exact too.
template <int N>
[[gnu::always_inline]] inline typename TLanes<N>::F LaneLn(typename TLanes<N>::F x) {
  using F = typename TLanes<N>::F;
  using I = typename TLanes<N>::I;
  using U = typename TLanes<N>::U;
  constexpr float kInf = std::numeric_limits<float>::infinity();
  // x = 2^e m with m in [sqrt(1/2), sqrt(2)); subnormals scaled up by 2^23 first.
  const I tiny = x < std::numeric_limits<float>::min();
  const U bits = tiny ? std::bit_cast<U>(x * 8388608.0f) : std::bit_cast<U>(x);
  I e = (tiny ? I{} - 150 : I{} - 127) + std::bit_cast<I>(bits >> 23);
  U m = (bits & 0x007fffffu) | 0x3f800000u;
  const I big = std::bit_cast<F>(m) > 1.41421354f;
  m = big ? m - 0x00800000u : m;
  e = big ? e + 1 : e;
  // ln(1 + f) = 2 atanh(s), s = f / (2 + f), by a minimax series in s^2 with
  // the leading terms kept apart for accuracy (the classic fdlibm scheme).
  const F f = std::bit_cast<F>(m) - 1.0f;
  const F s = f / (2.0f + f);
  const F z = s * s, w = z * z;
  const F R = z * (0.66666662693f + w * 0.28498786688f) + w * (0.40000972152f + w * 0.24279078841f);
  const F hfsq = 0.5f * f * f;
  const F k = __builtin_convertvector(e, F);
  // k ln 2 with ln 2 in a high and a low part: more bits than one single holds.
  F y = k * 6.9313812256e-01f - ((hfsq - (s * (hfsq + R) + k * 9.0580006145e-06f)) - f);
  y = x == 0.0f ? F{} - kInf : y;
  y = x == kInf ? F{} + kInf : y;
  return ((x < 0.0f) | (x != x)) ? F{} + std::numeric_limits<float>::quiet_NaN() : y;
}

#pragma GCC diagnostic pop

}  // namespace brenvo
