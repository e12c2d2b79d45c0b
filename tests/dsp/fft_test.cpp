#include "dsp/fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dsp/errors.h"
#include "support/heap_counter.h"

namespace brenvo {
namespace {

using LComplex = std::complex<long double>;

std::vector<int> AllSizes() {
  std::vector<int> sizes;
  for (int n = kFftMinSize; n <= kFftMaxSize; n *= 2) sizes.push_back(n);
  return sizes;
}

TComplexArray RandomSignal(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  TComplexArray x(n);
  for (auto& c : x) c = {u(rng), u(rng)};
  return x;
}

// Direct DFT in long double: X[k] = sum x[n] e^(sign j 2 pi k n / N), for the
// listed bins only (the large sizes are checked on a sample of bins).
class NaiveDft {
 public:
  explicit NaiveDft(int n) : n_(n), roots_(n) {
    for (int m = 0; m < n; ++m) {
      const long double a = 2.0L * std::numbers::pi_v<long double> * m / n;
      roots_[m] = {std::cos(a), std::sin(a)};
    }
  }
  LComplex Bin(const TComplexArray& x, int k, int sign) const {
    LComplex sum = 0;
    const long long step = (static_cast<long long>(sign) * k % n_ + n_) % n_;
    long long idx = 0;
    for (int i = 0; i < n_; ++i) {
      sum += LComplex(x[i].Re, x[i].Im) * roots_[idx];
      idx += step;
      if (idx >= n_) idx -= n_;
    }
    return sum;
  }

 private:
  int n_;
  std::vector<LComplex> roots_;
};

std::vector<int> BinsToCheck(int n) {
  std::vector<int> bins;
  if (n <= 1024) {
    for (int k = 0; k < n; ++k) bins.push_back(k);
    return bins;
  }
  // Edges, the quarter points where the split radix changes its twiddle
  // symmetry, and a random sample in between.
  for (int k : {0, 1, 2, 3, n / 8 - 1, n / 8, n / 4 - 1, n / 4, n / 4 + 1, n / 2 - 1, n / 2, n / 2 + 1,
                3 * n / 4 - 1, 3 * n / 4, n - 2, n - 1})
    bins.push_back(k);
  std::mt19937 rng(static_cast<unsigned>(n));
  std::uniform_int_distribution<int> u(0, n - 1);
  for (int i = 0; i < 48; ++i) bins.push_back(u(rng));
  return bins;
}

// Largest error over the checked bins, relative to the input's root-sum-square
// (the natural scale of single-precision FFT rounding).
struct TDftCheck {
  long double maxRelError = 0;
};

TDftCheck CompareWithDft(const TComplexArray& input, const TComplexArray& output, int sign, bool scrambled,
                         long double scale) {
  const int n = static_cast<int>(input.size());
  const NaiveDft dft(n);
  long double energy = 0;
  for (const auto& c : input) energy += static_cast<long double>(c.Re) * c.Re + static_cast<long double>(c.Im) * c.Im;
  const long double norm = std::sqrt(energy) * scale;
  const auto perm = FftPermutation(n);
  TDftCheck r;
  for (int k : BinsToCheck(n)) {
    const LComplex want = dft.Bin(input, k, sign) * scale;
    const TComplex got = output[scrambled ? perm[k] : k];
    const long double err = std::abs(LComplex(got.Re, got.Im) - want) / norm;
    r.maxRelError = std::max(r.maxRelError, err);
  }
  return r;
}

// Single-precision rounding gives about 1e-7 to 4e-7 for every size; one wrong
// twiddle or position gives at least 1/sqrt(N), i.e. 4e-3 at 65536.
long double Tolerance(int) { return 1e-6L; }

struct TDirCase {
  bool inverse;
  bool permute;
};

class FftAgainstDft : public ::testing::TestWithParam<TDirCase> {};

TEST_P(FftAgainstDft, EverySize) {
  const TDirCase dc = GetParam();
  for (int n : AllSizes()) {
    SCOPED_TRACE("N = " + std::to_string(n));
    const TComplexArray x = RandomSignal(n, 1000u + static_cast<unsigned>(n));
    TComplexArray data(n);
    const auto perm = FftPermutation(n);
    if (dc.inverse && !dc.permute) {
      // The second direction takes its input in the scrambled order.
      for (int i = 0; i < n; ++i) data[perm[i]] = x[i];
    } else {
      data = x;
    }
    TComplexArray work(n);
    Fft(data.data(), n, dc.inverse, false, dc.permute, work.data());
    const bool scrambledOut = !dc.inverse && !dc.permute;
    const TDftCheck r = CompareWithDft(x, data, dc.inverse ? -1 : +1, scrambledOut, 1.0L);
    EXPECT_LT(r.maxRelError, Tolerance(n));
  }
}

INSTANTIATE_TEST_SUITE_P(Directions, FftAgainstDft,
                         ::testing::Values(TDirCase{false, true}, TDirCase{false, false}, TDirCase{true, true},
                                           TDirCase{true, false}),
                         [](const auto& info) {
                           return std::string(info.param.inverse ? "Second" : "First") +
                                  (info.param.permute ? "Natural" : "Scrambled");
                         });

TEST(FftScale, SecondDirectionScalesByOneOverN) {
  for (int n : {16, 256, 4096}) {
    const TComplexArray x = RandomSignal(n, 7u);
    TComplexArray data = x;
    Fft(data.data(), n, true, true, true, nullptr);
    EXPECT_LT(CompareWithDft(x, data, -1, false, 1.0L / n).maxRelError, Tolerance(n)) << n;
  }
}

TEST(FftScale, FirstDirectionIgnoresScale) {
  const TComplexArray x = RandomSignal(512, 8u);
  TComplexArray a = x, b = x;
  Fft(a.data(), 512, false, true, true, nullptr);
  Fft(b.data(), 512, false, false, true, nullptr);
  for (int k = 0; k < 512; ++k) {
    EXPECT_EQ(a[k].Re, b[k].Re);
    EXPECT_EQ(a[k].Im, b[k].Im);
  }
}

// P_N as the split radix places its outputs: even bins in the first half in
// the order of the half-size transform, bins 4m + 1 in the third quarter and
// bins 4m - 1 in the fourth, each in the order of the quarter-size transform.
int SplitRadixPosition(int n, int k) {
  if (n == 1) return 0;
  if (n == 2) return k;
  const int q = n / 4;
  if (k % 2 == 0) return SplitRadixPosition(n / 2, k / 2);
  if (k % 4 == 1) return 2 * q + SplitRadixPosition(q, (k - 1) / 4);
  return 3 * q + SplitRadixPosition(q, ((k + 1) / 4) % q);
}

TEST(FftPermutation, WorkedExamples) {
  const auto p8 = FftPermutation(8);
  EXPECT_EQ(std::vector<int32_t>(p8.begin(), p8.end()), (std::vector<int32_t>{0, 4, 2, 7, 1, 5, 3, 6}));
  const auto p16 = FftPermutation(16);
  EXPECT_EQ(std::vector<int32_t>(p16.begin(), p16.end()),
            (std::vector<int32_t>{0, 8, 4, 14, 2, 10, 7, 13, 1, 9, 5, 15, 3, 11, 6, 12}));
}

TEST(FftPermutation, MatchesSplitRadixRecursionForEverySize) {
  for (int n = 2; n <= kFftMaxSize; n *= 2) {
    const auto p = FftPermutation(n);
    ASSERT_EQ(static_cast<int>(p.size()), n);
    std::vector<bool> seen(n, false);
    int mismatches = 0;
    for (int k = 0; k < n; ++k) {
      if (p[k] != SplitRadixPosition(n, k)) ++mismatches;
      ASSERT_TRUE(p[k] >= 0 && p[k] < n);
      seen[p[k]] = true;
    }
    EXPECT_EQ(mismatches, 0) << "N = " << n;
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](bool b) { return b; })) << "not a permutation, N = " << n;
  }
}

TEST(FftTwiddles, LongDoubleValuesForEverySizeWhicheverThreadBuildsThem) {
  // Reference: the angle k * (2 pi / N), the step in double, sine and cosine
  // in long double, rounded to single.
  std::vector<std::vector<float>> cosRef, sinRef;
  std::vector<int> sizes;
  for (int n = 4; n <= kFftMaxSize; n *= 2) {
    sizes.push_back(n);
    const double step = 2.0 * std::numbers::pi / n;
    cosRef.emplace_back();
    sinRef.emplace_back();
    for (int k = 0; k < n / 4; ++k) {
      const long double a = static_cast<long double>(k) * step;
      cosRef.back().push_back(static_cast<float>(std::cos(a)));
      sinRef.back().push_back(static_cast<float>(std::sin(a)));
    }
  }
  // Threads ask for the sizes in different orders while the tables are built.
  std::vector<int> mismatches(8, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (std::size_t i = 0; i < sizes.size(); ++i) {
        const std::size_t s = t % 2 ? sizes.size() - 1 - (i + t) % sizes.size() : (i + t) % sizes.size();
        const TFftTwiddles w = FftTwiddles(sizes[s]);
        if (!std::equal(w.Cos.begin(), w.Cos.end(), cosRef[s].begin(), cosRef[s].end()) ||
            !std::equal(w.Sin.begin(), w.Sin.end(), sinRef[s].begin(), sinRef[s].end()))
          ++mismatches[t];
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(8, 0));
  EXPECT_THROW(FftTwiddles(2), EBrenvoError);
  EXPECT_THROW(FftTwiddles(2 * kFftMaxSize), EBrenvoError);
}

TEST(FftPermutation, IsNotBitReversal) {
  const auto p = FftPermutation(8);
  EXPECT_EQ(p[3], 7);  // bit reversal would put X[3] at 6
}

TEST(FftWorkedExamples, ImpulseAtOneGivesRootsOfUnity) {
  for (bool inverse : {false, true}) {
    TComplexArray x(16);
    x[1] = {1, 0};
    Fft(x.data(), 16, inverse, false, true, nullptr);
    for (int k = 0; k < 16; ++k) {
      const double a = (inverse ? -2.0 : 2.0) * std::numbers::pi * k / 16;
      EXPECT_NEAR(x[k].Re, std::cos(a), 1e-6) << k;
      EXPECT_NEAR(x[k].Im, std::sin(a), 1e-6) << k;
    }
  }
}

TEST(FftWorkedExamples, ScrambledPositionsOfImpulseAtOne) {
  TComplexArray x(16);
  x[1] = {1, 0};
  Fft(x.data(), 16, false, false, false, nullptr);
  EXPECT_NEAR(x[3].Re, 0.0f, 1e-6);  // X[12] = -j
  EXPECT_NEAR(x[3].Im, -1.0f, 1e-6);
  EXPECT_NEAR(x[8].Re, std::cos(std::numbers::pi / 8), 1e-6);  // X[1]
  EXPECT_NEAR(x[8].Im, std::sin(std::numbers::pi / 8), 1e-6);
}

TEST(FftRoundTrip, BothOrdersReturnTheInput) {
  for (int n : AllSizes()) {
    const TComplexArray x = RandomSignal(n, 99u + static_cast<unsigned>(n));
    for (bool permute : {true, false}) {
      TComplexArray data = x;
      Fft(data.data(), n, false, false, permute, nullptr);
      Fft(data.data(), n, true, true, permute, nullptr);
      float worst = 0;
      for (int i = 0; i < n; ++i)
        worst = std::max({worst, std::fabs(data[i].Re - x[i].Re), std::fabs(data[i].Im - x[i].Im)});
      EXPECT_LT(worst, 2e-6f * std::log2(static_cast<float>(n))) << "N = " << n << " permute " << permute;
    }
  }
}

TEST(FftWork, ScratchOrGivenWorkGiveIdenticalResults) {
  const TComplexArray x = RandomSignal(2048, 3u);
  for (bool inverse : {false, true}) {
    TComplexArray a = x, b = x, work(2048);
    Fft(a.data(), 2048, inverse, true, true, nullptr);
    Fft(b.data(), 2048, inverse, true, true, work.data());
    for (int i = 0; i < 2048; ++i) {
      ASSERT_EQ(a[i].Re, b[i].Re);
      ASSERT_EQ(a[i].Im, b[i].Im);
    }
  }
}

TEST(FftWork, OverlappingWorkIsRejected) {
  TComplexArray x = RandomSignal(64, 4u);
  x.resize(96);
  const TComplexArray before = x;
  EXPECT_THROW(Fft(x.data(), 64, false, false, true, x.data() + 32), EBrenvoError);
  for (int i = 0; i < 96; ++i) EXPECT_EQ(x[i].Re, before[i].Re);
}

void ExpectFftError(int n, const char* text) {
  TComplexArray x = RandomSignal(std::max(n, 1), 5u);
  const TComplexArray before = x;
  try {
    Fft(x.data(), n, false, false, true, nullptr);
    ADD_FAILURE() << "no exception for N = " << n;
  } catch (const EBrenvoError& e) {
    EXPECT_STREQ(e.what(), text) << n;
  }
  for (std::size_t i = 0; i < x.size(); ++i) ASSERT_EQ(x[i].Re, before[i].Re);
}

TEST(FftErrors, SizesOutOfRangeOrNotPowersOfTwoRaise) {
  for (int n : {-16, 0, 1, 8, 15, 100, 48, 1000, 65535, 65537, 131072}) ExpectFftError(n, "FftSize must be 16 to 64k");
}

TEST(FftSplitScrambled, SameAsFirstDirectionWithoutReordering) {
  for (int n : {16, 256, 8192}) {
    const TComplexArray x = RandomSignal(n, 12u);
    TComplexArray a = x;
    Fft(a.data(), n, false, false, false, nullptr);
    std::vector<float> re(n), im(n);
    for (int i = 0; i < n; ++i) {
      re[i] = x[i].Re;
      im[i] = x[i].Im;
    }
    FftSplitScrambled(re.data(), im.data(), n);
    for (int i = 0; i < n; ++i) {
      ASSERT_EQ(re[i], a[i].Re) << n << " " << i;
      ASSERT_EQ(im[i], a[i].Im) << n << " " << i;
    }
  }
  std::vector<float> buf(64);
  EXPECT_THROW(FftSplitScrambled(buf.data(), buf.data() + 8, 16), EBrenvoError);
  EXPECT_THROW(FftSplitScrambled(buf.data(), buf.data() + 32, 24), EBrenvoError);
}

TEST(FftComplexArray, SameAsFirstDirectionInNaturalOrder) {
  const TComplexArray x = RandomSignal(1024, 6u);
  TComplexArray a = x, b = x;
  FftComplexArray(a);
  Fft(b.data(), 1024, false, false, true, nullptr);
  ASSERT_EQ(a.size(), 1024u);
  for (int i = 0; i < 1024; ++i) {
    EXPECT_EQ(a[i].Re, b[i].Re);
    EXPECT_EQ(a[i].Im, b[i].Im);
  }
}

TEST(FftComplexArray, BadLengthsRaiseAndLeaveTheArray) {
  for (std::size_t n : {0u, 15u, 100u, 131072u}) {
    TComplexArray a = RandomSignal(static_cast<int>(n), 2u);
    const TComplexArray before = a;
    try {
      FftComplexArray(a);
      ADD_FAILURE() << "no exception for length " << n;
    } catch (const EBrenvoError& e) {
      EXPECT_STREQ(e.what(), "FftSize must be 16..65536");
    }
    ASSERT_EQ(a.size(), n);
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(a[i].Re, before[i].Re);
  }
}

TEST(FftWork, RepeatedCallsAllocateNothing) {
  if (!testing::HeapCountingAvailable()) GTEST_SKIP() << "allocation counting not available in this build";
  TComplexArray x = RandomSignal(4096, 11u), work(4096);
  Fft(x.data(), 4096, false, false, true, nullptr);  // builds the tables and this thread's scratch
  const long long before = testing::HeapAllocations();
  for (int i = 0; i < 20; ++i) {
    Fft(x.data(), 4096, true, true, i % 2 == 0, nullptr);
    Fft(x.data(), 1024, false, false, true, work.data());
  }
  EXPECT_EQ(testing::HeapAllocations() - before, 0);
}

}  // namespace
}  // namespace brenvo
