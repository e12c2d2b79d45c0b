#include "dsp/percentile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "dsp/cpu_features.h"
#include "dsp/errors.h"
#include "support/heap_counter.h"

namespace brenvo {
namespace {

TEST(Percentile, WorkedExamples) {
  EXPECT_EQ(Percentile({5, 1, 4, 2, 3}, 0.5f), 3.0f);  // m = 5, k = 2
  EXPECT_EQ(Percentile({9, 1, 4, 2}, 0.5f), 2.0f);     // 9 dropped, W = (1, 4, 2), k = 1
  EXPECT_EQ(Percentile({7}, 0.9f), 7.0f);
  EXPECT_EQ(Percentile({3, 8}, 0.0f), 8.0f);  // only the second value is used
}

TEST(Percentile, NinetyPercentOf256SelectsRank229OfTheLast255) {
  TSingleArray a(256);
  for (int i = 0; i < 256; ++i) a[i] = static_cast<float>((i * 37) % 256);  // a permutation of 0 .. 255
  TSingleArray last255(a.begin() + 1, a.end());
  std::sort(last255.begin(), last255.end());
  EXPECT_EQ(Percentile(a, 0.9f), last255[229]);
}

TEST(Percentile, RankOutsideTheCopyRaisesAndLeavesTheArray) {
  const TSingleArray a{4, 2, 9, 1, 7};
  TSingleArray b = a;
  EXPECT_THROW(Percentile(b, 1.0f), ERangeError);
  EXPECT_THROW(Percentile(b, 1.5f), ERangeError);
  EXPECT_THROW(Percentile(b, -0.2f), ERangeError);  // -1/m
  EXPECT_THROW(Percentile(b, std::numeric_limits<float>::quiet_NaN()), ERangeError);
  EXPECT_THROW(Percentile(TSingleArray{}, 0.5f), ERangeError);
  EXPECT_EQ(b, a);
  // Slightly negative fractions truncate to rank 0.
  EXPECT_EQ(Percentile(b, -0.1f), 1.0f);
}

TEST(MedianInPlace, WorkedExamples) {
  float same[] = {2, 2, 2};
  EXPECT_EQ(MedianInPlace(same, 3), 2.0f);
  float one[] = {-3};
  EXPECT_EQ(MedianInPlace(one, 1), -3.0f);
  float even[] = {4, 1, 3, 2};  // upper of the two middle values
  EXPECT_EQ(MedianInPlace(even, 4), 3.0f);
  EXPECT_THROW(MedianInPlace(even, 0), ERangeError);
}

// Against sorting, on random data with many ties (few distinct values),
// on all-distinct data, and on sorted and reversed runs.
TEST(QuickSelect, MatchesSortingOnRandomDataWithTies) {
  std::mt19937 rng(2024);
  TSingleArray scratch;
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = 1 + static_cast<int>(rng() % 300);
    const int distinct = 1 + static_cast<int>(rng() % (trial % 3 == 0 ? 4 : 1000));
    TSingleArray a(n);
    for (auto& v : a) v = static_cast<float>(static_cast<int>(rng() % distinct)) * 0.5f - 3.0f;
    if (trial % 50 == 1) std::sort(a.begin(), a.end());
    if (trial % 50 == 2) std::sort(a.rbegin(), a.rend());

    // MedianInPlace: value of rank n/2 and a partition around it.
    TSingleArray sorted = a;
    std::sort(sorted.begin(), sorted.end());
    TSingleArray buf = a;
    const float med = MedianInPlace(buf.data(), n);
    ASSERT_EQ(med, sorted[n / 2]) << "trial " << trial;
    ASSERT_EQ(buf[n / 2], med);
    for (int i = 0; i < n / 2; ++i) ASSERT_LE(buf[i], med) << "trial " << trial;
    for (int i = n / 2 + 1; i < n; ++i) ASSERT_GE(buf[i], med) << "trial " << trial;
    TSingleArray bufSorted = buf;
    std::sort(bufSorted.begin(), bufSorted.end());
    ASSERT_EQ(bufSorted, sorted) << "values lost or duplicated";

    // Percentile: rank trunc(m * f) of the odd-length copy; A unchanged.
    const float f = std::uniform_real_distribution<float>(0.0f, 0.999f)(rng);
    const TSingleArray before = a;
    TSingleArray w(a.begin() + (n % 2 == 0 ? 1 : 0), a.end());
    std::sort(w.begin(), w.end());
    const int k = static_cast<int>(static_cast<double>(w.size()) * f);
    ASSERT_EQ(Percentile(a, f, scratch), w[k]) << "trial " << trial;
    ASSERT_EQ(a, before);
  }
}

// Any guess gives the exact value of the rank: near, far, below, above,
// zero, negative or not a number; on data with ties and with zeros.
TEST(RankValueNear, MatchesSortingForAnyGuess) {
  std::mt19937 rng(31);
  std::exponential_distribution<float> ex(1.0f);
  const float guesses[] = {0.0f, -1.0f, 1e-30f, 1e30f, std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::infinity()};
  for (int trial = 0; trial < 2000; ++trial) {
    const int n = 1 + static_cast<int>(rng() % 300);
    std::vector<float> a(n);
    const int kind = trial % 4;
    for (auto& v : a) {
      if (kind == 0) v = ex(rng);                                              // power-like
      if (kind == 1) v = static_cast<float>(rng() % 4);                        // heavy ties, zeros
      if (kind == 2) v = static_cast<float>(static_cast<int>(rng() % 21) - 10);  // negatives
      if (kind == 3) v = rng() % 2 ? 0.0f : ex(rng) * 1e-40f;                  // subnormals
    }
    std::vector<float> sorted = a;
    std::sort(sorted.begin(), sorted.end());
    const int rank = static_cast<int>(rng() % n);
    const std::vector<float> before = a;
    std::vector<float> scratch(n);
    const float near = sorted[rank] * std::uniform_real_distribution<float>(0.5f, 1.5f)(rng);
    for (float g : {near, sorted[rank], guesses[trial % 6]}) {
      ASSERT_EQ(RankValueNear(a, rank, g, scratch), sorted[rank]) << "trial " << trial << " guess " << g;
    }
    ASSERT_EQ(a, before);
  }
}

// Values of every kind around a guess, also guesses whose bracket reaches
// infinity, next to negative numbers, both zeros and subnormals.
TEST(RankValueNear, ExtremeValuesAndBrackets) {
  const float big = std::numeric_limits<float>::max();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> a{3e38f, -5.0f, big, 0.0f, 1e-45f, inf, -0.0f, 2.5f, 3.1e38f, 1e-40f, 2.5f, -inf};
  std::vector<float> sorted = a;
  std::sort(sorted.begin(), sorted.end());
  std::vector<float> scratch(a.size());
  for (int rank = 0; rank < static_cast<int>(a.size()); ++rank) {
    for (float base : a) {
      for (float g : {base, base * 1.01f, base * 0.99f, base * 1.2f, base / 1.2f}) {
        ASSERT_EQ(RankValueNear(a, rank, g, scratch), sorted[rank]) << "rank " << rank << " guess " << g;
      }
    }
  }
}

bool SameBits(float x, float y) { return std::bit_cast<uint32_t>(x) == std::bit_cast<uint32_t>(y); }

// Runs of equal values that no pivot separates (digital silence is all
// zeros), with a few other values among them or none.
TEST(RankValueNear, RunsOfEqualValues) {
  std::mt19937 rng(43);
  const float sets[][3] = {{0.0f, 0.0f, 0.0f}, {0.0f, -0.0f, 0.0f}, {2.0f, 2.0f, 2.0f},
                           {2.0f, 2.0f, 5.0f}, {-1.0f, 2.0f, 2.0f}};
  for (const auto& set : sets) {
    for (int trial = 0; trial < 40; ++trial) {
      const int n = 1 + static_cast<int>(rng() % 300);
      std::vector<float> a(n);
      for (auto& v : a) v = set[rng() % 3];
      std::vector<float> sorted = a, scratch(n);
      std::sort(sorted.begin(), sorted.end());
      for (int rank = 0; rank < n; ++rank)
        for (float g : {0.0f, 2.0f, std::numeric_limits<float>::quiet_NaN()})
          ASSERT_EQ(RankValueNear(a, rank, g, scratch), sorted[rank]) << "rank " << rank << " guess " << g;
    }
  }
}

// Both kernels keep exactly the values in the range, in their order, also in
// place, past groups of eight, with infinities, zeros of both signs, NaNs and
// open ends (-infinity below, NaN above).
TEST(GatherRange, KernelsKeepTheRangeInOrder) {
  std::mt19937 rng(41);
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const float special[] = {inf, -inf, nan, 0.0f, -0.0f, 1e-45f, 2.0f};
  std::vector<bool> kernels = {false};
  if (CpuHasAvx2()) kernels.push_back(true);
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = static_cast<int>(rng() % 70);
    std::vector<float> a(n);
    for (auto& v : a) v = rng() % 5 == 0 ? special[rng() % 7] : static_cast<float>(rng() % 9) - 2.0f;
    const float ends[] = {-inf, nan, 0.0f, 2.0f, -1.0f, 4.0f, inf};
    const float lo = ends[rng() % 7], hi = ends[rng() % 7];
    std::vector<float> want;
    std::copy_if(a.begin(), a.end(), std::back_inserter(want), [&](float x) { return x >= lo && !(x >= hi); });
    for (bool avx2 : kernels) {
      std::vector<float> w(n + 1, -7.0f);
      ASSERT_EQ(GatherRange(a.data(), n, lo, hi, w.data(), avx2), static_cast<int>(want.size())) << trial;
      ASSERT_TRUE(std::equal(want.begin(), want.end(), w.begin(), SameBits)) << trial << " avx2 " << avx2;
      std::vector<float> in = a;
      ASSERT_EQ(GatherRange(in.data(), n, lo, hi, in.data(), avx2), static_cast<int>(want.size()));
      ASSERT_TRUE(std::equal(want.begin(), want.end(), in.begin(), SameBits)) << trial << " in place, avx2 " << avx2;
    }
  }
}

// The counts below four pivots, for every length past the groups of eight,
// with infinities, zeros of both signs and NaNs among values and pivots.
TEST(CountBelow4, CountsAsOneByOne) {
  std::mt19937 rng(47);
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const float special[] = {inf, -inf, nan, 0.0f, -0.0f, 1e-45f, 2.0f};
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = 8 + static_cast<int>(rng() % 70);
    std::vector<float> a(n);
    for (auto& v : a) v = rng() % 5 == 0 ? special[rng() % 7] : static_cast<float>(rng() % 9) - 2.0f;
    float p[4];
    for (float& x : p) x = rng() % 3 == 0 ? special[rng() % 7] : static_cast<float>(rng() % 9) - 2.0f;
    int below[4];
    CountBelow4(a.data(), n, p, below);
    for (int k = 0; k < 4; ++k)
      ASSERT_EQ(below[k], std::count_if(a.begin(), a.end(), [&](float x) { return x < p[k]; })) << trial << " n " << n;
  }
  const float seven[7] = {}, p[4] = {};
  int below[4];
  EXPECT_THROW(CountBelow4(seven, 7, p, below), ERangeError);
}

TEST(RankValueNear, BadRankOrScratchRaises) {
  const std::vector<float> a{1, 2, 3};
  std::vector<float> scratch(3), small(2);
  EXPECT_THROW(RankValueNear(a, 3, 1.0f, scratch), ERangeError);
  EXPECT_THROW(RankValueNear(a, -1, 1.0f, scratch), ERangeError);
  EXPECT_THROW(RankValueNear(a, 1, 1.0f, small), ERangeError);
  EXPECT_THROW(RankValueNear(std::vector<float>{}, 0, 1.0f, scratch), ERangeError);
}

// Values that are not numbers break the ordering the selection relies on; the
// result is then unspecified, but the routine must stay inside the buffer
// (the sanitizer build checks that) and finish.
TEST(QuickSelect, ValuesThatAreNotNumbersStayInsideTheBuffer) {
  std::mt19937 rng(7);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (int trial = 0; trial < 500; ++trial) {
    const int n = 1 + static_cast<int>(rng() % 64);
    std::vector<float> a(n);
    for (auto& v : a) v = rng() % 3 == 0 ? nan : static_cast<float>(rng() % 5);
    std::vector<float> buf = a;
    const float med = MedianInPlace(buf.data(), n);
    EXPECT_TRUE(std::isnan(med) || std::find(a.begin(), a.end(), med) != a.end());
    const float p = Percentile(a, 0.9f);
    EXPECT_TRUE(std::isnan(p) || std::find(a.begin(), a.end(), p) != a.end());
    std::vector<float> scratch(n);
    const float r = RankValueNear(a, n / 2, 2.0f, scratch);
    EXPECT_TRUE(std::isnan(r) || std::find(a.begin(), a.end(), r) != a.end());
  }
}

TEST(QuickSelect, PercentileWithoutScratchAllocatesItsCopy) {
  // Also shows that the counter sees allocations at all.
  if (!testing::HeapCountingAvailable()) GTEST_SKIP() << "allocation counting not available in this build";
  const TSingleArray a{3, 1, 2};
  const long long before = testing::HeapAllocations();
  EXPECT_EQ(Percentile(a, 0.5f), 2.0f);
  EXPECT_EQ(testing::HeapAllocations() - before, 1);
}

TEST(QuickSelect, MedianAndPercentileWithScratchAllocateNothing) {
  if (!testing::HeapCountingAvailable()) GTEST_SKIP() << "allocation counting not available in this build";
  TSingleArray a(256), buf(256), scratch;
  for (int i = 0; i < 256; ++i) a[i] = static_cast<float>((i * 101) % 97);
  (void)Percentile(a, 0.9f, scratch);
  const long long before = testing::HeapAllocations();
  float sink = 0;
  for (int i = 0; i < 50; ++i) {
    buf = a;
    sink += MedianInPlace(buf.data(), 256) + Percentile(a, 0.9f, scratch);
  }
  EXPECT_EQ(testing::HeapAllocations() - before, 0);
  EXPECT_GT(sink, 0.0f);
}

}  // namespace
}  // namespace brenvo
