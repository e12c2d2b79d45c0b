// The single-precision emission kernels: their exponential and logarithm
// faithfully rounded, the densities against the double-precision reference,
// and every kernel giving the same bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "decoder/density_kernel.h"
#include "decoder/signal_extractor.h"
#include "dsp/lane_math.h"

namespace brenvo {
namespace {

// |got - ref| in units in the last place of the single nearest ref.
double UlpError(float got, double ref) {
  int exp2 = 0;
  std::frexp(ref, &exp2);
  return std::fabs(got - ref) / std::ldexp(1.0, std::max(exp2 - 24, -149));
}

// Every 997th single (all signs and exponents) and the hardest cases found
// over all of them (for e^x also the hardest without the correction of r):
// within one ulp of the exact value, and the same taken several vectors at
// a time.
TEST(LaneMath, ExpAndLnFaithfullyRounded) {
  std::vector<float> xs = {0x1.dfaf0ap+5f, 0x1.da2aap+5f, 0x1.67cc32p+0f, 1.0f, 0x1p-149f, 0x1p-126f, -87.33f, 88.7f};
  for (uint64_t b = 0; b < (uint64_t{1} << 32); b += 997) {
    float x;
    const auto u = static_cast<uint32_t>(b);
    std::memcpy(&x, &u, sizeof x);
    if (std::isfinite(x)) xs.push_back(x);
  }
  double worstExp = 0, worstLn = 0;
  for (float x : xs) {
    const TLanes<4>::F v = {x, x, x, x};
    const double e = std::exp(static_cast<double>(x));
    if (x > -87.3365f && std::isfinite(static_cast<float>(e))) worstExp = std::max(worstExp, UlpError(LaneExp<4>(v)[0], e));
    if (x > 0) worstLn = std::max(worstLn, UlpError(LaneLn<4>(v)[0], std::log(static_cast<double>(x))));
  }
  // Several vectors side by side give each vector's own values, bit for bit.
  for (std::size_t i = 0; i + 12 <= xs.size(); i += 12) {
    TLanes<4>::F e[3], l[3];
    std::memcpy(e, &xs[i], sizeof e);
    std::memcpy(l, &xs[i], sizeof l);
    LaneExp<4>(e);
    LaneLn<4>(l);
    for (int k = 0; k < 3; ++k) {
      TLanes<4>::F v;
      std::memcpy(&v, &xs[i + 4 * static_cast<std::size_t>(k)], sizeof v);
      const TLanes<4>::F e1 = LaneExp<4>(v), l1 = LaneLn<4>(v);
      ASSERT_EQ(std::memcmp(&e[k], &e1, sizeof v), 0) << xs[i];
      ASSERT_EQ(std::memcmp(&l[k], &l1, sizeof v), 0) << xs[i];
    }
  }
  EXPECT_LT(worstExp, 1.0);
  EXPECT_LT(worstLn, 1.0);
  // Without the guard against overflow: the same bits wherever it would not act.
  for (float x : xs) {
    if (x > 0x1.62e42ep+6f) continue;
    TLanes<4>::F bare[1] = {{x, x, x, x}};
    LaneExp<4, 1, true>(bare);
    const TLanes<4>::F guarded = LaneExp<4>(bare[0] * 0.0f + x);
    ASSERT_EQ(std::memcmp(&bare[0], &guarded, sizeof guarded), 0) << x;
  }
  // The ends: e^x 0 below the normal range and infinity above; ln at 0,
  // infinity and below 0; NaN stays NaN.
  constexpr float kInf = std::numeric_limits<float>::infinity(), kNan = std::numeric_limits<float>::quiet_NaN();
  const TLanes<4>::F ex = LaneExp<4>(TLanes<4>::F{-87.34f, 100.0f, kNan, -kInf});
  const TLanes<4>::F ln = LaneLn<4>(TLanes<4>::F{0.0f, kInf, -1.0f, kNan});
  const float wantEx[4] = {0.0f, kInf, kNan, 0.0f}, wantLn[4] = {-kInf, kInf, kNan, kNan};
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(ex[i] == wantEx[i] || (std::isnan(ex[i]) && std::isnan(wantEx[i]))) << i << ": " << ex[i];
    EXPECT_TRUE(ln[i] == wantLn[i] || (std::isnan(ln[i]) && std::isnan(wantLn[i]))) << i << ": " << ln[i];
  }
}

std::vector<TDensityKernel> Kernels() {
  std::vector<TDensityKernel> k = {TDensityKernel::Portable};
  if (DensityKernelRuns(TDensityKernel::Avx2)) k.push_back(TDensityKernel::Avx2);
  return k;
}

// Levels and amplitudes over many octaves and the usual range, zero
// levels and amplitudes among them: every kernel within 2e-5 of the
// reference (the rounding of exponents of up to about 80 in single
// precision), most far closer, the logarithm faithful to the density, and
// all kernels bit for bit alike, also on the lanes of an unfilled block.
TEST(DensityKernel, AgainstTheReferenceAndAlike) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> level(0.0f, 60.0f), amp(0.0f, 80.0f), expo(-12.0f, 9.0f);
  const std::size_t n = 200003;  // not a whole number of lanes
  std::vector<float> x(n), y(n);
  for (std::size_t i = 0; i < n; ++i) {
    x[i] = i % 3 == 0 ? std::exp2(expo(rng)) : (i % 101 == 1 ? 0.0f : level(rng));
    y[i] = i % 3 == 0 ? std::exp2(expo(rng)) : (i % 103 == 2 ? 0.0f : amp(rng));
  }
  x[5] = 1.0f;
  y[5] = 1e30f;  // the density underflows to 0
  std::vector<float> d(n), ln(n);
  AmplitudeDensities(x.data(), y.data(), d.data(), ln.data(), n, TDensityKernel::Portable);
  std::size_t close = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double ref = TSignalExtractor::AmplitudeDensity(x[i], y[i]);
    ASSERT_NEAR(d[i], ref, 2e-5 * ref + 1e-37) << x[i] << "," << y[i];
    close += std::fabs(d[i] - ref) <= 3e-6 * ref;
    if (d[i] > 0) {
      ASSERT_LT(UlpError(ln[i], std::log(static_cast<double>(d[i]))), 1.0) << d[i];
    }
  }
  EXPECT_GE(close, n * 99 / 100);
  EXPECT_EQ(d[5], 0.0f);
  EXPECT_EQ(ln[5], -std::numeric_limits<float>::infinity());
  for (TDensityKernel k : Kernels()) {
    std::vector<float> dk(n, -1.0f), lnk(n, -1.0f);
    AmplitudeDensities(x.data(), y.data(), dk.data(), lnk.data(), n, k);
    EXPECT_EQ(std::memcmp(dk.data(), d.data(), n * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(lnk.data(), ln.data(), n * sizeof(float)), 0);
    // Any count, the tail of a block included, gives the values of the whole run.
    for (std::size_t m = 0; m <= 50; ++m) {
      std::vector<float> part(m + 1, -1.0f), partLn(m + 1, -1.0f);
      AmplitudeDensities(x.data() + 7, y.data() + 7, part.data(), partLn.data(), m, k);
      for (std::size_t i = 0; i < m; ++i) {
        ASSERT_EQ(part[i], d[7 + i]) << m;
        ASSERT_EQ(partLn[i], ln[7 + i]) << m;
      }
      EXPECT_EQ(part[m], -1.0f) << m;
      EXPECT_EQ(partLn[m], -1.0f) << m;
    }
  }
}

}  // namespace
}  // namespace brenvo
