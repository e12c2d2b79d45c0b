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
// vectors: an exponential tail fading with the level, the main peak a little
// below the level and widening with it, and a broad floor. The constant
// factors of the tail (0.02370843 * 0.96268291^x) and of the floor (0.007) go
// into their exponents as logarithms, and the peak's width
// 0.56393249 x^0.40322534 is taken as e^(0.40322534 ln x + ln 0.56393249).
// The exponentials that do not wait on each other are taken together (the
// width, the tail and the peak's weight, then the peak and the floor): one
// vector's chain alone would leave the processor waiting. None of them can
// overflow: for finite x, y >= 0 the width's exponent is at most
// 0.40322534 ln(largest single) - 0.57 < 36 and the others are never above 0.
template <int N, int K>
[[gnu::always_inline]] inline void Density(const typename TLanes<N>::F (&x)[K], const typename TLanes<N>::F (&y)[K],
                                           typename TLanes<N>::F (&d)[K]) {
  using F = typename TLanes<N>::F;
  const F zero{};
  F lnX[K];
  ForEachOf<K>([&](int k) { lnX[k] = x[k]; });
  LaneLn<N>(lnX);
  // Width, tail, weight.
  F e1[3 * K];
  ForEachOf<K>([&](int k) {
    e1[k] = 0.40322534f * lnX[k] - 0.572820723f;
    e1[K + k] = x[k] * -0.0380311944f - 3.74192452f - y[k] / (0.63762878f * x[k] + 2.86465603f);
    e1[2 * K + k] = -0.05994442f * x[k];
  });
  LaneExp<N, 3 * K, true>(e1);
  // Peak, floor.
  F m[K], e2[2 * K];
  ForEachOf<K>([&](int k) {
    const F s = e1[k];
    m[k] = x[k] - 0.5f > zero ? x[k] - 0.5f : zero;
    const F dy = y[k] - m[k];
    e2[k] = -(dy * dy) / (2.0f * s * s);
    const F w3 = 0.10714286f * x[k] + 5.0f;
    const F dx = y[k] - x[k];
    e2[K + k] = -(dx * dx) / (2.0f * w3 * w3) - 4.96184492f;
  });
  LaneExp<N, 2 * K, true>(e2);
  ForEachOf<K>([&](int k) {
    // At zero width (level 0) the peak is all at y = m.
    const F peak = e1[k] > zero ? e2[k] : (y[k] == m[k] ? zero + 1.0f : zero);
    const F w2 = 0.39511329f * e1[2 * K + k] + 0.08157534f;
    d[k] = e1[K + k] + peak * w2 + e2[K + k];
  });
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

// Up to K vectors of N lanes: count <= N K values from the arrays.
template <int N, int K>
[[gnu::always_inline]] inline void DensityBlock(const float* x, const float* y, float* density, float* lnDensity,
                                                std::size_t count) {
  using F = typename TLanes<N>::F;
  F xv[K], yv[K], d[K], ln[K];
  std::size_t first[K], m[K];
  ForEachOf<K>([&](int k) {
    first[k] = std::min(count, static_cast<std::size_t>(N * k));
    m[k] = std::min<std::size_t>(N, count - first[k]);
    xv[k] = LoadLanes<N>(x + first[k], m[k]);
    yv[k] = LoadLanes<N>(y + first[k], m[k]);
  });
  Density<N, K>(xv, yv, d);
  ForEachOf<K>([&](int k) { ln[k] = d[k]; });
  LaneLn<N>(ln);
  ForEachOf<K>([&](int k) {
    StoreLanes<N>(density + first[k], d[k], m[k]);
    StoreLanes<N>(lnDensity + first[k], ln[k], m[k]);
  });
}

// The rest after the whole blocks, n <= N K values, in as few vectors as
// they need (the steps of a run rarely fill the last block).
template <int N, int K>
[[gnu::always_inline]] inline void DensityRest(const float* x, const float* y, float* density, float* lnDensity,
                                               std::size_t n) {
  if constexpr (K > 1) {
    if (n <= static_cast<std::size_t>(N * (K - 1))) return DensityRest<N, K - 1>(x, y, density, lnDensity, n);
  }
  DensityBlock<N, K>(x, y, density, lnDensity, n);
}

// K vectors of N lanes at a time (24 lanes: the 18 densities of a decoder
// step, padded to whole vectors), whole blocks with a count the compiler
// knows, then the rest.
template <int N, int K>
[[gnu::always_inline]] inline void Densities(const float* x, const float* y, float* density, float* lnDensity,
                                             std::size_t n) {
  constexpr std::size_t kBlock = N * K;
  std::size_t at = 0;
  for (; at + kBlock <= n; at += kBlock) DensityBlock<N, K>(x + at, y + at, density + at, lnDensity + at, kBlock);
  if (at < n) DensityRest<N, K>(x + at, y + at, density + at, lnDensity + at, n - at);
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
