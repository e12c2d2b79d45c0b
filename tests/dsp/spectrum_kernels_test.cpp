#include "dsp/spectrum_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "dsp/errors.h"

namespace brenvo {
namespace {

constexpr float kNan = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(UpdateSlowPwr, DecaysAndAdds) {
  std::vector<float> slow{0, 1, 20, 100};
  const std::vector<float> fast{1, 0, 1, 2};
  UpdateSlowPwr(fast, slow);
  EXPECT_EQ(slow, (std::vector<float>{1, 0.95f, 0.95f * 20 + 1, 0.95f * 100 + 2}));
}

TEST(UpdateSlowPwr, SteadyInputTendsToTwentyTimes) {
  std::vector<float> slow(16, 0.0f);
  const std::vector<float> fast(16, 3.0f);
  for (int i = 0; i < 1000; ++i) UpdateSlowPwr(fast, slow);
  EXPECT_NEAR(slow[7], 60.0f, 1e-3f);
}

TEST(UpdateSlowPwr, OverflowAndNanStayAtTheCeiling) {
  std::vector<float> slow{1, 1, 3e38f};
  UpdateSlowPwr(std::vector<float>{kInf, kNan, 3e38f}, slow);
  for (float v : slow) EXPECT_EQ(v, 1e30f);
  UpdateSlowPwr(std::vector<float>{0, 0, 0}, slow);
  EXPECT_EQ(slow[0], 0.95f * 1e30f);
}

TEST(UpdatePeakData, ContrastAgainstTheBinsFourAway) {
  const int n = 16;
  std::vector<float> slow(n), peak(n, -7.0f);  // -7 marks cells that must stay untouched
  for (int i = 0; i < n; ++i) slow[i] = 1.0f + static_cast<float>(i * i % 5);
  UpdatePeakData(slow, peak);
  for (int j = 0; j < n; ++j) {
    if (j < 4 || j > n - 5) {
      EXPECT_EQ(peak[j], -7.0f) << j;
    } else {
      EXPECT_EQ(peak[j], 0.98f * -7.0f + slow[j] / (slow[j - 4] + slow[j + 4])) << j;
    }
  }
}

TEST(UpdatePeakData, SteadyRatioTendsToFiftyTimes) {
  std::vector<float> slow(16, 2.0f), peak(16, 0.0f);
  slow[8] = 5.6f;  // ratio 1.4 against 2 + 2
  for (int i = 0; i < 2000; ++i) UpdatePeakData(slow, peak);
  EXPECT_NEAR(peak[8], 70.0f, 1e-3f);
}

TEST(UpdatePeakData, ZeroDenominatorCountsAsZero) {
  std::vector<float> slow(16, 0.0f), peak(16, 10.0f);
  slow[9] = 5.0f;  // x / 0 at 9, 0 / 0 elsewhere
  UpdatePeakData(slow, peak);
  // Bin 5 sees 0 / 5, a true 0.
  for (int j = 4; j <= 11; ++j) EXPECT_EQ(peak[j], 0.98f * 10.0f) << j;
}

TEST(UpdatePeakData, HugeRatioIsBounded) {
  std::vector<float> slow(16, 1e-44f), peak(16, 0.0f);  // subnormal neighbours
  slow[8] = 1e20f;
  UpdatePeakData(slow, peak);
  EXPECT_EQ(peak[8], 1e30f);
  for (int i = 0; i < 100; ++i) UpdatePeakData(slow, peak);
  EXPECT_TRUE(std::isfinite(peak[8]));
}

std::vector<int32_t> Find(const std::vector<float>& peak) {
  std::vector<int32_t> cells(peak.size(), 99);  // 99 marks cells that must stay untouched
  FindPeaks(peak, cells);
  return cells;
}

TEST(FindPeaks, StrictLocalMaximumAboveSeventy) {
  std::vector<float> p(16, 0.0f);
  p[7] = 71;
  p[6] = 70.5f;
  p[8] = 70.9f;
  p[10] = 70;  // not above the threshold
  p[12] = 80;
  const auto c = Find(p);
  const std::vector<int32_t> want{99, 99, 99, 99, 99, 0, 0, -1, 0, 0, 0, 0, 99, 99, 99, 99};
  // Cells 5 .. 11 are written; 12 (= n - 4) and up are not, whatever they hold.
  EXPECT_EQ(c, want);
}

TEST(FindPeaks, FirstAndLastTestedCells) {
  std::vector<float> p(16, 0.0f);
  p[5] = 100;
  p[11] = 100;
  const auto c = Find(p);
  EXPECT_EQ(c[5], -1);
  EXPECT_EQ(c[11], -1);
  p[4] = 200;  // a larger neighbour outside the tested range still counts
  EXPECT_EQ(Find(p)[5], 0);
}

TEST(FindPeaks, FlatTopIsNoPeak) {
  std::vector<float> p(16, 0.0f);
  p[8] = 90;
  p[9] = 90;
  const auto c = Find(p);
  EXPECT_EQ(c[8], 0);
  EXPECT_EQ(c[9], 0);
}

TEST(FindPeaks, NanIsNeverAPeakAndDoesNotMakeOne) {
  std::vector<float> p(16, 0.0f);
  p[7] = kNan;
  p[9] = 100;
  p[10] = kNan;
  const auto c = Find(p);
  EXPECT_EQ(c[7], 0);
  EXPECT_EQ(c[9], 0);  // a NaN neighbour is not "smaller"
  EXPECT_EQ(c[8], 0);
}

TEST(SpectrumKernels, SizeErrors) {
  std::vector<float> a(16), b(15), small(8);
  std::vector<int32_t> cells(16);
  EXPECT_THROW(UpdateSlowPwr(a, b), EBrenvoError);
  EXPECT_THROW(UpdatePeakData(a, b), EBrenvoError);
  EXPECT_THROW(UpdatePeakData(small, small), EBrenvoError);
  EXPECT_THROW(FindPeaks(b, cells), EBrenvoError);
}

}  // namespace
}  // namespace brenvo

namespace brenvo {
namespace {

uint32_t FloatBits(float x) { return std::bit_cast<uint32_t>(x); }

// The one-pass form against the steps one after the other: the same bits in
// every array, call after call, with digital silence, overflow, values that
// are not numbers, peaks that come and go and claim marks in the map.
TEST(ScaleAndUpdatePeaks, SameBitsAsTheStepsOneByOne) {
  std::mt19937 rng(99);
  std::exponential_distribution<float> ex(1.0f);
  for (int n : {16, 20, 32, 256, 1024}) {
    std::vector<float> slowA(n, 0.0f), peakA(n, 0.0f), slowB(n, 0.0f), peakB(n, 0.0f);
    std::vector<int32_t> peaksA(n, 0), peaksB(n, 0);
    for (int call = 0; call < 300; ++call) {
      std::vector<float> fast(n);
      for (int i = 0; i < n; ++i) fast[i] = ex(rng);
      for (int i = 3; i < n; i += 11) fast[i] *= 400.0f;  // tones that make peaks
      if (call % 50 < 10) std::fill(fast.begin(), fast.end(), 0.0f);
      if (call == 120) fast[n / 2] = kNan;
      if (call == 121) fast[n / 3] = kInf;
      if (call == 122) fast[5] = 3e38f;
      const float factor = call % 7 == 0 ? 1.0f : 1.0f / (0.5f + ex(rng));
      std::vector<float> fastA = fast, fastB = fast;
      for (float& v : fastA) v *= factor;
      UpdateSlowPwr(fastA, slowA);
      UpdatePeakData(slowA, peakA);
      FindPeaks(peakA, peaksA);
      ScaleAndUpdatePeaks(fastB, factor, slowB, peakB, peaksB);
      for (int i = 0; i < n; ++i) {
        ASSERT_EQ(FloatBits(fastB[i]), FloatBits(fastA[i])) << n << " " << call << " " << i;
        ASSERT_EQ(FloatBits(slowB[i]), FloatBits(slowA[i])) << n << " " << call << " " << i;
        ASSERT_EQ(FloatBits(peakB[i]), FloatBits(peakA[i])) << n << " " << call << " " << i;
        ASSERT_EQ(peaksB[i], peaksA[i]) << n << " " << call << " " << i;
      }
      // The channel list claims peaks between spectra; edge cells may hold anything.
      for (int i = 0; i < n; ++i)
        if (peaksA[i] == -1 && i % 2 == 0) peaksA[i] = peaksB[i] = 1;
      peaksA[4] = peaksB[4] = call;
      peaksA[n - 1] = peaksB[n - 1] = -call;
    }
    EXPECT_GT(std::count(peaksA.begin(), peaksA.end(), -1) + std::count(peaksA.begin(), peaksA.end(), 1), 0) << n;
  }
}

// Pairs of equal strong bins between equal weak ones, from the start: their
// contrasts are equal too, flat tops that are no peaks.
TEST(ScaleAndUpdatePeaks, FlatTopsAsTheStepsOneByOne) {
  for (int n : {36, 256}) {
    std::vector<float> slowA(n, 0.0f), peakA(n, 0.0f), slowB(n, 0.0f), peakB(n, 0.0f), fast(n);
    std::vector<int32_t> peaksA(n, 0), peaksB(n, 0);
    for (int i = 0; i < n; ++i) fast[i] = i % 8 == 2 || i % 8 == 3 ? 400.0f : 1.0f;
    for (int call = 0; call < 20; ++call) {
      std::vector<float> fastB = fast;
      UpdateSlowPwr(fast, slowA);
      UpdatePeakData(slowA, peakA);
      FindPeaks(peakA, peaksA);
      ScaleAndUpdatePeaks(fastB, 1.0f, slowB, peakB, peaksB);
      ASSERT_EQ(peaksB, peaksA) << n << " " << call;
    }
    ASSERT_GT(peakA[10], 70.0f);
    ASSERT_EQ(peakA[10], peakA[11]);
  }
}

// Every cell of the peak test is written, the last ones too, for lengths
// whose cells do not fill whole groups of eight: spikes at random places
// make peaks come and go in every cell, and both maps start each spectrum
// filled with a value that the test never writes.
TEST(ScaleAndUpdatePeaks, WritesEveryTestedCellAsFindPeaks) {
  std::mt19937 rng(7);
  for (int n = 16; n <= 64; n += 4) {
    std::vector<float> slowA(n, 0.0f), peakA(n, 0.0f), slowB(n, 0.0f), peakB(n, 0.0f);
    for (int call = 0; call < 200; ++call) {
      std::vector<float> fast(n, 1.0f);
      fast[rng() % n] = 1e4f;
      std::vector<float> fastB = fast;
      std::vector<int32_t> peaksA(n, 5), peaksB(n, 5);
      UpdateSlowPwr(fast, slowA);
      UpdatePeakData(slowA, peakA);
      FindPeaks(peakA, peaksA);
      ScaleAndUpdatePeaks(fastB, 1.0f, slowB, peakB, peaksB);
      ASSERT_EQ(peaksB, peaksA) << n << " " << call;
    }
  }
}

TEST(ScaleAndUpdatePeaks, BadSizesRaise) {
  std::vector<float> a(16), b(16), c(16), odd(18, 0.0f), odd2(18), odd3(18), small(12), small2(12), small3(12);
  std::vector<int32_t> p(16), podd(18), psmall(12);
  EXPECT_THROW(ScaleAndUpdatePeaks(a, 1.0f, b, c, psmall), EBrenvoError);
  EXPECT_THROW(ScaleAndUpdatePeaks(a, 1.0f, odd, c, p), EBrenvoError);
  EXPECT_THROW(ScaleAndUpdatePeaks(odd, 1.0f, odd2, odd3, podd), EBrenvoError);
  EXPECT_THROW(ScaleAndUpdatePeaks(small, 1.0f, small2, small3, psmall), EBrenvoError);
  EXPECT_NO_THROW(ScaleAndUpdatePeaks(a, 1.0f, b, c, p));
}

}  // namespace
}  // namespace brenvo
