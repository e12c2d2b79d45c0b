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

// The density of amplitude y at expected level x, lane by lane: an
// exponential tail fading with the level, the main peak a little below the
// level and widening with it, and a broad floor. The constant factors of the
// tail (0.02370843 * 0.96268291^x) and of the floor (0.007) go into their
// exponents as logarithms, and the peak's width 0.56393249 x^0.40322534 is
// taken as e^(0.40322534 ln x + ln 0.56393249).
template <int N>
[[gnu::always_inline]] inline typename TLanes<N>::F Density(typename TLanes<N>::F x, typename TLanes<N>::F y) {
  using F = typename TLanes<N>::F;
  const F zero{};
  const F t1 = LaneExp<N>(x * -0.0380311944f - 3.74192452f - y / (0.63762878f * x + 2.86465603f));
  const F m = x - 0.5f > zero ? x - 0.5f : zero;
  const F s = LaneExp<N>(0.40322534f * LaneLn<N>(x) - 0.572820723f);
  const F w2 = 0.39511329f * LaneExp<N>(-0.05994442f * x) + 0.08157534f;
  const F dy = y - m;
  // At zero width (level 0) the peak is all at y = m.
  const F peak = s > zero ? LaneExp<N>(-(dy * dy) / (2.0f * s * s)) : (y == m ? zero + 1.0f : zero);
  const F w3 = 0.10714286f * x + 5.0f;
  const F dx = y - x;
  const F t3 = LaneExp<N>(-(dx * dx) / (2.0f * w3 * w3) - 4.96184492f);
  return t1 + peak * w2 + t3;
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

template <int N>
[[gnu::always_inline]] inline void Densities(const float* x, const float* y, float* density, float* lnDensity,
                                             std::size_t n) {
  for (std::size_t k = 0; k < n; k += N) {
    const std::size_t m = std::min<std::size_t>(N, n - k);
    const typename TLanes<N>::F d = Density<N>(LoadLanes<N>(x + k, m), LoadLanes<N>(y + k, m));
    StoreLanes<N>(density + k, d, m);
    StoreLanes<N>(lnDensity + k, LaneLn<N>(d), m);
  }
}

#if BRENVO_AVX2_DISPATCH
[[gnu::target("avx2")]] void DensitiesAvx2(const float* x, const float* y, float* density, float* lnDensity,
                                           std::size_t n) {
  Densities<8>(x, y, density, lnDensity, n);
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
  Densities<4>(x, y, density, lnDensity, n);
}

}  // namespace brenvo
