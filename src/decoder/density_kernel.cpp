#include "decoder/density_kernel.h"

#include <algorithm>
#include <cstring>

#include "dsp/cpu_features.h"
#include "dsp/errors.h"
#include "dsp/lane_math.h"

// The vector code is always inlined: an eight-lane value never crosses a
// call boundary, so the ABI note about it (given where the templates are
// instantiated, at the end of the file) does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace brenvo {

namespace {

// The density of amplitude y at expected level x, lane by lane, for K
// vectors side by side: an exponential tail fading with the level, the main
// peak a little below the level and widening with it, and a broad floor. The
// constant factors of the tail (0.02370843 * 0.96268291^x) and of the floor
// (0.007) go into their exponents as logarithms, and the peak's width
// 0.56393249 x^0.40322534 is taken as e^(0.40322534 ln x + ln 0.56393249).
// Each vector's terms form long chains of dependent exponentials and
// logarithms: every step is taken for all K vectors before the next, so that
// the processor works on K chains at once instead of waiting on one, and the
// longest chain (ln x, the width, the peak) comes first, the tail and the
// floor filling the gaps while it waits.
template <int N, int K>
[[gnu::always_inline]] inline void Density(const typename TLanes<N>::F (&x)[K], const typename TLanes<N>::F (&y)[K],
                                           typename TLanes<N>::F (&d)[K]) {
  using F = typename TLanes<N>::F;
  const F zero{};
  F t1[K], s[K], w2[K], peak[K], t3[K];
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) s[k] = LaneLn<N>(x[k]);
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) s[k] = LaneExp<N>(0.40322534f * s[k] - 0.572820723f);
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    const F m = x[k] - 0.5f > zero ? x[k] - 0.5f : zero;
    const F dy = y[k] - m;
    // At zero width (level 0) the peak is all at y = m.
    peak[k] = s[k] > zero ? LaneExp<N>(-(dy * dy) / (2.0f * s[k] * s[k])) : (y[k] == m ? zero + 1.0f : zero);
  }
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) {
    t1[k] = LaneExp<N>(x[k] * -0.0380311944f - 3.74192452f - y[k] / (0.63762878f * x[k] + 2.86465603f));
    w2[k] = 0.39511329f * LaneExp<N>(-0.05994442f * x[k]) + 0.08157534f;
    const F w3 = 0.10714286f * x[k] + 5.0f;
    const F dx = y[k] - x[k];
    t3[k] = LaneExp<N>(-(dx * dx) / (2.0f * w3 * w3) - 4.96184492f);
  }
#pragma GCC unroll 8
  for (int k = 0; k < K; ++k) d[k] = t1[k] + peak[k] * w2[k] + t3[k];
}

// m <= N values from p, the lanes past them 0 (they compute harmlessly and
// are dropped).
template <int N>
[[gnu::always_inline]] inline typename TLanes<N>::F LoadLanes(const float* p, std::size_t m) {
  typename TLanes<N>::F v{};
  if (m == N)
    std::memcpy(&v, p, sizeof v);
  else
    for (std::size_t i = 0; i < m; ++i) v[i] = p[i];
  return v;
}

template <int N>
[[gnu::always_inline]] inline void StoreLanes(float* p, typename TLanes<N>::F v, std::size_t m) {
  if (m == N)
    std::memcpy(p, &v, sizeof v);
  else
    for (std::size_t i = 0; i < m; ++i) p[i] = v[i];
}

// K vectors of N lanes at a time (24 lanes: the 18 densities of a decoder
// step, padded to whole vectors).
template <int N, int K>
[[gnu::always_inline]] inline void Densities(const float* x, const float* y, float* density, float* lnDensity,
                                             std::size_t n) {
  using F = typename TLanes<N>::F;
  for (std::size_t at = 0; at < n; at += N * K) {
    F xv[K], yv[K], d[K], ln[K];
    std::size_t m[K];
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) {
      const std::size_t first = std::min(n, at + static_cast<std::size_t>(N * k));
      m[k] = std::min<std::size_t>(N, n - first);
      xv[k] = LoadLanes<N>(x + first, m[k]);
      yv[k] = LoadLanes<N>(y + first, m[k]);
    }
    Density<N, K>(xv, yv, d);
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) ln[k] = LaneLn<N>(d[k]);
#pragma GCC unroll 8
    for (int k = 0; k < K; ++k) {
      if (m[k] == 0) break;
      const std::size_t first = at + static_cast<std::size_t>(N * k);
      StoreLanes<N>(density + first, d[k], m[k]);
      StoreLanes<N>(lnDensity + first, ln[k], m[k]);
    }
  }
}

#if BRENVO_AVX2_DISPATCH
[[gnu::target("avx2")]] void DensitiesAvx2(const float* x, const float* y, float* density, float* lnDensity,
                                           std::size_t n) {
  Densities<8, 3>(x, y, density, lnDensity, n);
}
#endif

// Throws for a kernel the processor cannot run; true for AVX2.
bool UseAvx2(TDensityKernel kernel) {
  if (!DensityKernelRuns(kernel)) throw EBrenvoError("The density kernel asked for does not run on this processor");
  return kernel == TDensityKernel::Avx2;
}

}  // namespace

TDensityKernel FastestDensityKernel() {
  return DensityKernelRuns(TDensityKernel::Avx2) ? TDensityKernel::Avx2 : TDensityKernel::Portable;
}

bool DensityKernelRuns(TDensityKernel kernel) {
  static const bool hasAvx2 = CpuHasAvx2();
  return kernel != TDensityKernel::Avx2 || hasAvx2;
}

void AmplitudeDensities(const float* x, const float* y, float* density, float* lnDensity, std::size_t n,
                        TDensityKernel kernel) {
#if BRENVO_AVX2_DISPATCH
  if (UseAvx2(kernel)) return DensitiesAvx2(x, y, density, lnDensity, n);
#else
  UseAvx2(kernel);
#endif
  Densities<4, 6>(x, y, density, lnDensity, n);
}

}  // namespace brenvo
