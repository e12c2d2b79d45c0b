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
#include <cstring>
#include <limits>
#include <utility>

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
  typedef int16_t I16 __attribute__((vector_size(2 * N)));
  typedef uint16_t U16 __attribute__((vector_size(2 * N)));
};

// A vector from memory with any alignment, and back.
template <typename V, typename T>
[[gnu::always_inline]] inline V LaneLoad(const T* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T, typename V>
[[gnu::always_inline]] inline void LaneStore(T* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

// table[index[k]] in lane k, as one initialiser of independent inserts (on
// the processors measured faster than the gather instruction).
template <typename V, std::size_t... K>
[[gnu::always_inline]] inline V LaneGather(const float* table, const int32_t* index,
                                           std::index_sequence<K...>) {
  return V{table[index[K]]...};
}

template <typename V>
[[gnu::always_inline]] inline V LaneGather(const float* table, const int32_t* index) {
  return LaneGather<V>(table, index, std::make_index_sequence<sizeof(V) / sizeof(float)>());
}

// fn(0), fn(1), ..., fn(K - 1), in this order, written out.
template <int K, typename TFn>
[[gnu::always_inline]] inline void ForEachOf(TFn&& fn) {
#pragma GCC unroll 32
  for (int k = 0; k < K; ++k) fn(k);
}

// e^x of K vectors in place, side by side: each step of the algorithm for all
// K before the next, so that the processor has K independent chains to work
// on while one waits for its last result. Results below the normal range of
// singles (x < -87.336) are 0, not subnormal: arithmetic on subnormals costs
// a processor a hundred times more (and such densities are far below
// anything the decoder tells apart). Above 88.72 (the largest single's
// logarithm) the result is infinity; a NaN stays NaN. kNoOverflow: the
// caller knows that no x lies above 88.72, and the guard is left out.
template <int N, int K, bool kNoOverflow = false>
[[gnu::always_inline]] inline void LaneExp(typename TLanes<N>::F (&x)[K]) {
  using F = typename TLanes<N>::F;
  using I = typename TLanes<N>::I;
  // The least x whose e^x is a normal single, the largest whose e^x is finite.
  constexpr float kMin = -0x1.5d589ep+6f;
  [[maybe_unused]] constexpr float kMax = 0x1.62e42ep+6f;
  F n[K], rh[K], rl[K], r[K], c[K], q[K];
  ForEachOf<K>([&](int k) {
    // Held inside the range for the arithmetic below (a NaN stays NaN).
    F v = x[k] < kMin ? F{} + kMin : x[k];
    if constexpr (!kNoOverflow) v = v > kMax ? F{} + kMax : v;
    // v = n ln 2 + r, |r| <= ln 2 / 2. Adding 1.5 * 2^23 rounds to an integer.
    const float kRound = 12582912.0f;
    n[k] = (v * 1.44269502f + kRound) - kRound;
    // The high part of ln 2 has 15 bits, so n times it is exact and so is
    // rh; c keeps the rounding error of r, which would otherwise cost a
    // fifth of an ulp.
    rh[k] = v - n[k] * 0.693145751953125f;
    rl[k] = n[k] * 1.42860677e-06f;
  });
  ForEachOf<K>([&](int k) { r[k] = rh[k] - rl[k]; });
  ForEachOf<K>([&](int k) { c[k] = (rh[k] - r[k]) - rl[k]; });
  // e^r - 1 - r by its Taylor series to r^7 (error below 10^-8 for |r| <= 0.35).
  ForEachOf<K>([&](int k) { q[k] = 1.98412701e-04f * r[k] + 1.38888892e-03f; });
  ForEachOf<K>([&](int k) { q[k] = q[k] * r[k] + 8.33333377e-03f; });
  ForEachOf<K>([&](int k) { q[k] = q[k] * r[k] + 4.16666679e-02f; });
  ForEachOf<K>([&](int k) { q[k] = q[k] * r[k] + 1.66666672e-01f; });
  ForEachOf<K>([&](int k) { q[k] = q[k] * r[k] + 0.5f; });
  ForEachOf<K>([&](int k) {
    const F p = 1.0f + (r[k] + (c[k] + r[k] * r[k] * q[k]));
    // Times 2^n by adding n to the exponent: n runs from -126 (where r >= 0)
    // to 128 (where r < 0), so the result stays a normal single.
    F e = std::bit_cast<F>(std::bit_cast<I>(p) + (__builtin_convertvector(n[k], I) << 23));
    if constexpr (!kNoOverflow) e = x[k] > kMax ? F{} + std::numeric_limits<float>::infinity() : e;
    x[k] = x[k] < kMin ? F{} : e;
  });
}

// e^x of one vector.
template <int N>
[[gnu::always_inline]] inline typename TLanes<N>::F LaneExp(typename TLanes<N>::F x) {
  typename TLanes<N>::F v[1] = {x};
  LaneExp<N>(v);
  return v[0];
}

// ln x of K vectors in place, side by side as LaneExp: -infinity at 0, NaN
// below 0 and for NaN, infinity at infinity; subnormal x are exact too.
template <int N, int K>
[[gnu::always_inline]] inline void LaneLn(typename TLanes<N>::F (&x)[K]) {
  using F = typename TLanes<N>::F;
  using I = typename TLanes<N>::I;
  using U = typename TLanes<N>::U;
  constexpr float kInf = std::numeric_limits<float>::infinity();
  F f[K], s[K], z[K], w[K], R[K], hfsq[K], e[K];
  ForEachOf<K>([&](int k) {
    // x = 2^e m with m in [sqrt(1/2), sqrt(2)); subnormals scaled up by 2^23 first.
    const I tiny = x[k] < std::numeric_limits<float>::min();
    const U bits = tiny ? std::bit_cast<U>(x[k] * 8388608.0f) : std::bit_cast<U>(x[k]);
    I ei = (tiny ? I{} - 150 : I{} - 127) + std::bit_cast<I>(bits >> 23);
    U m = (bits & 0x007fffffu) | 0x3f800000u;
    const I big = std::bit_cast<F>(m) > 1.41421354f;
    m = big ? m - 0x00800000u : m;
    ei = big ? ei + 1 : ei;
    e[k] = __builtin_convertvector(ei, F);
    f[k] = std::bit_cast<F>(m) - 1.0f;
  });
  // ln(1 + f) = 2 atanh(s), s = f / (2 + f), by a minimax series in s^2 with
  // the leading terms kept apart for accuracy (the classic fdlibm scheme).
  ForEachOf<K>([&](int k) { s[k] = f[k] / (2.0f + f[k]); });
  ForEachOf<K>([&](int k) { z[k] = s[k] * s[k]; });
  ForEachOf<K>([&](int k) { w[k] = z[k] * z[k]; });
  ForEachOf<K>([&](int k) {
    R[k] = z[k] * (0.66666662693f + w[k] * 0.28498786688f) + w[k] * (0.40000972152f + w[k] * 0.24279078841f);
    hfsq[k] = 0.5f * f[k] * f[k];
  });
  ForEachOf<K>([&](int k) {
    // e ln 2 with ln 2 in a high and a low part: more bits than one single holds.
    F y = e[k] * 6.9313812256e-01f - ((hfsq[k] - (s[k] * (hfsq[k] + R[k]) + e[k] * 9.0580006145e-06f)) - f[k]);
    y = x[k] == 0.0f ? F{} - kInf : y;
    y = x[k] == kInf ? F{} + kInf : y;
    x[k] = ((x[k] < 0.0f) | (x[k] != x[k])) ? F{} + std::numeric_limits<float>::quiet_NaN() : y;
  });
}

// ln x of one vector.
template <int N>
[[gnu::always_inline]] inline typename TLanes<N>::F LaneLn(typename TLanes<N>::F x) {
  typename TLanes<N>::F v[1] = {x};
  LaneLn<N>(v);
  return v[0];
}

#pragma GCC diagnostic pop

}  // namespace brenvo
