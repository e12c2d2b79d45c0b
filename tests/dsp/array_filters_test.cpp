#include "dsp/array_filters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "dsp/errors.h"

namespace brenvo {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Numbers ascending, NaN above all of them.
bool Below(float a, float b) {
  if (std::isnan(a)) return false;
  return std::isnan(b) || a < b;
}

bool Same(float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// Values drawn from a handful of levels, so that windows are full of ties.
TSingleArray TiedValues(std::size_t n, std::mt19937& gen, int levels) {
  std::uniform_int_distribution<int> d(-levels / 2, levels / 2);
  TSingleArray x(n);
  for (float& v : x) v = static_cast<float>(d(gen)) * 0.5f;
  return x;
}

TSingleArray BruteExtreme(const TSingleArray& s, int hw, bool max) {
  const int n = static_cast<int>(s.size());
  TSingleArray d(n);
  for (int k = 0; k < n; ++k) {
    float m = s[std::max(0, k - hw)];
    for (int i = std::max(0, k - hw); i <= std::min(n - 1, k + hw); ++i)
      m = max ? std::max(m, s[i]) : std::min(m, s[i]);
    d[k] = m;
  }
  return d;
}

// Median by sorting each window; then the edge entries are copied, left edge
// first, as the filter defines.
TSingleArray BruteMedian(const TSingleArray& s, int hw) {
  const int n = static_cast<int>(s.size());
  const int high = n - 1;
  TSingleArray d(n);
  for (int k = hw + 1; k <= high - hw; ++k) {
    TSingleArray w(s.begin() + (k - hw), s.begin() + (k + hw + 1));
    std::nth_element(w.begin(), w.begin() + hw, w.end(), Below);
    d[k] = w[hw];
  }
  for (int k = 0; k <= hw; ++k) d[k] = d[hw + 1];
  for (int k = high - hw; k <= high; ++k) d[k] = d[high - hw - 1];
  return d;
}

TEST(ArrayFilters, WorkedExamples) {
  const TSingleArray s = {1, 5, 2, 8, 3};
  TSingleArray d;
  SlidingMax(s, 1, d);
  EXPECT_EQ(d, (TSingleArray{5, 5, 8, 8, 8}));
  SlidingMin(s, 1, d);
  EXPECT_EQ(d, (TSingleArray{1, 1, 2, 2, 3}));
  SlidingMax(s, 0, d);
  EXPECT_EQ(d, s);
  SlidingMin(s, 0, d);
  EXPECT_EQ(d, s);

  TSingleArray mean;
  SlidingMean(TSingleArray{1, 2, 3, 4, 5, 6}, 1, mean);
  EXPECT_EQ(mean, (TSingleArray{0, 2, 3, 4, 0, 0}));

  TSingleArray med;
  SlidingMedian(TSingleArray{5, 1, 4, 2, 3, 9, 8}, 1, med);
  EXPECT_EQ(med, (TSingleArray{2, 2, 2, 3, 3, 3, 3}));
  SlidingMedian(TSingleArray{7, 3, 9, 1, 4}, 0, med);
  EXPECT_EQ(med, (TSingleArray{3, 3, 9, 1, 1}));
}

TEST(ArrayFilters, ExactlyOneWindow) {
  const TSingleArray s = {3, -1, 7, 2, 7, 0, 4};  // W = 7
  TSingleArray d;
  SlidingMax(s, 3, d);
  EXPECT_EQ(d[3], 7);
  EXPECT_EQ(d, BruteExtreme(s, 3, true));
  SlidingMin(s, 3, d);
  EXPECT_EQ(d[3], -1);
  TSingleArray mean(7, 42.0f);
  SlidingMean(s, 3, mean);
  EXPECT_EQ(mean, TSingleArray(7, 42.0f));  // no full window before the last one
  // The median needs one value more: with exactly W it would copy entries it
  // never computed.
  TSingleArray med(7, 42.0f);
  EXPECT_THROW(SlidingMedian(s, 3, med), ERangeError);
  TSingleArray longer = s;
  longer.push_back(5);
  SlidingMedian(longer, 3, med);
  // One median is computed (of the window around index 4); both edges copy it.
  EXPECT_EQ(med, TSingleArray(8, 4.0f));
  EXPECT_EQ(med, BruteMedian(longer, 3));
}

TEST(ArrayFilters, TooShortOrNegativeHalfWidthIsARangeError) {
  const TSingleArray s(6, 1.0f);
  TSingleArray d;
  EXPECT_THROW(SlidingMax(s, 3, d), ERangeError);
  EXPECT_THROW(SlidingMin(s, 3, d), ERangeError);
  EXPECT_THROW(SlidingMean(s, 3, d), ERangeError);
  EXPECT_THROW(SlidingMedian(s, 3, d), ERangeError);
  EXPECT_THROW(SlidingMedian(TSingleArray{}, 0, d), ERangeError);
  EXPECT_THROW(SlidingMedian(TSingleArray{1}, 0, d), ERangeError);
  EXPECT_THROW(SlidingMax(TSingleArray{}, 0, d), ERangeError);
  EXPECT_THROW(SlidingMax(s, -1, d), ERangeError);
  EXPECT_THROW(SlidingMedian(s, -2, d), ERangeError);
  try {
    SlidingMedian(s, 3, d);
  } catch (const ERangeError& e) {
    EXPECT_STREQ(e.what(), "Range check error");
  }
}

// Against brute force, on lengths around the block size W and on the
// display's 256 bins with half-width 50.
TEST(ArrayFilters, MatchBruteForceOnTiedRandomData) {
  std::mt19937 gen(2024);
  struct Size {
    int n, hw;
  };
  std::vector<Size> sizes;
  for (int hw = 0; hw <= 9; ++hw)
    for (int extra = 0; extra <= 3 * (2 * hw + 1) + 2; ++extra) sizes.push_back({2 * hw + 1 + extra, hw});
  sizes.push_back({256, 50});
  sizes.push_back({256, 4});
  sizes.push_back({101, 50});
  sizes.push_back({102, 50});
  for (const Size& z : sizes) {
    for (int levels : {2, 5, 40}) {
      const TSingleArray s = TiedValues(z.n, gen, levels);
      TSingleArray d;
      SlidingMax(s, z.hw, d);
      ASSERT_EQ(d, BruteExtreme(s, z.hw, true)) << z.n << " " << z.hw;
      SlidingMin(s, z.hw, d);
      ASSERT_EQ(d, BruteExtreme(s, z.hw, false)) << z.n << " " << z.hw;
      if (z.n > 2 * z.hw + 1) {
        SlidingMedian(s, z.hw, d);
        ASSERT_EQ(d, BruteMedian(s, z.hw)) << z.n << " " << z.hw;
      }
      // Halves of small integers: every running sum is exact.
      TSingleArray mean(z.n, -99.0f);
      SlidingMean(s, z.hw, mean);
      const int w = 2 * z.hw + 1;
      const float scale = 1.0f / static_cast<float>(w);
      for (int k = 0; k < z.n; ++k) {
        if (k >= z.hw && k <= z.n - 1 - z.hw - 1) {
          double sum = 0;
          for (int i = k - z.hw; i <= k + z.hw; ++i) sum += s[i];
          ASSERT_FLOAT_EQ(mean[k], static_cast<float>(sum) * scale) << z.n << " " << z.hw << " " << k;
        } else {
          ASSERT_EQ(mean[k], -99.0f) << k;
        }
      }
    }
  }
}

TEST(ArrayFilters, MedianOfNegativeValuesIgnoresTheStartingZeros) {
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> d(-10.0f, -1.0f);
  TSingleArray s(60);
  for (float& v : s) v = d(gen);
  TSingleArray med;
  SlidingMedian(s, 6, med);
  EXPECT_EQ(med, BruteMedian(s, 6));
  for (float v : med) EXPECT_LT(v, 0.0f);
}

// NaN and infinities neither crash the median nor move values outside its
// window; a NaN sorts above every number.
TEST(ArrayFilters, MedianWithNonFiniteValues) {
  std::mt19937 gen(77);
  for (int trial = 0; trial < 200; ++trial) {
    TSingleArray s = TiedValues(40, gen, 6);
    std::uniform_int_distribution<int> pos(0, 39), kind(0, 2);
    const int bad = 1 + trial % 4;
    for (int b = 0; b < bad; ++b) {
      const float values[] = {kNaN, kInf, -kInf};
      s[pos(gen)] = values[kind(gen)];
    }
    TSingleArray med;
    SlidingMedian(s, 3, med);
    const TSingleArray ref = BruteMedian(s, 3);
    for (std::size_t k = 0; k < s.size(); ++k) ASSERT_TRUE(Same(med[k], ref[k])) << trial << " " << k;
  }
  TSingleArray med;
  SlidingMedian(TSingleArray(20, kNaN), 2, med);
  for (float v : med) EXPECT_TRUE(std::isnan(v));
}

TEST(ArrayFilters, DstSameAsSrcAndDstLengths) {
  std::mt19937 gen(8);
  const TSingleArray s = TiedValues(50, gen, 7);
  using Filter = void (*)(const TSingleArray&, int32_t, TSingleArray&);
  for (Filter f : {Filter(SlidingMax), Filter(SlidingMin), Filter(SlidingMean), Filter(SlidingMedian)}) {
    TSingleArray separate(80, 5.0f);
    f(s, 4, separate);
    EXPECT_EQ(separate.size(), s.size());
    TSingleArray inPlace = s;
    f(inPlace, 4, inPlace);
    TSingleArray expected = s;  // entries the filter does not write keep Src's values
    f(s, 4, expected);
    EXPECT_EQ(inPlace, expected);
  }
}

}  // namespace
}  // namespace brenvo
