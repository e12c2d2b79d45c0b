#include "dsp/percentile.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <limits>
#include <utility>

#include "dsp/errors.h"

namespace brenvo {
namespace {

// Hoare's FIND: moves the value of rank k of a[first .. last] to position k and
// partitions the range around it. The comparisons are strict, so values equal
// to the pivot stop both scans and are swapped. For ordinary numbers the
// scans never leave [L, R]; the explicit bounds only keep a value that is not
// a number from walking them off the range.
float SelectRank(float* a, int first, int last, int k) {
  int L = first;
  int R = last;
  while (L < R) {
    const float x = a[k];
    int i = L;
    int j = R;
    do {
      while (i < R && a[i] < x) ++i;
      while (j > L && x < a[j]) --j;
      if (i <= j) {
        std::swap(a[i], a[j]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (j < k) L = i;
    if (k < i) R = j;
  }
  return a[k];
}

// Number of values below t; a loop the compiler vectorises.
int CountBelow(const float* v, int n, float t) {
  int c = 0;
  for (int i = 0; i < n; ++i) c += v[i] < t ? 1 : 0;
  return c;
}

}  // namespace

float Percentile(const TSingleArray& A, float Fraction, TSingleArray& Scratch) {
  const std::size_t n = A.size();
  if (n == 0 || n > static_cast<std::size_t>(std::numeric_limits<int>::max())) throw ERangeError();
  const std::size_t first = n % 2 == 0 ? 1 : 0;
  const std::size_t m = n - first;
  // The rank is m * Fraction truncated toward zero; it must land in 0 .. m - 1.
  const double p = static_cast<double>(m) * static_cast<double>(Fraction);
  if (!(p > -1.0 && p < static_cast<double>(m))) throw ERangeError();
  const int k = static_cast<int>(p);
  Scratch.assign(A.begin() + static_cast<std::ptrdiff_t>(first), A.end());
  return SelectRank(Scratch.data(), 0, static_cast<int>(m) - 1, k);
}

float Percentile(const TSingleArray& A, float Fraction) {
  TSingleArray scratch;
  return Percentile(A, Fraction, scratch);
}

float MedianInPlace(float* Values, int Count) {
  if (Count < 1 || Values == nullptr) throw ERangeError();
  return SelectRank(Values, 0, Count - 1, Count / 2);
}

float RankValueNear(std::span<const float> Values, int Rank, float Guess, std::span<float> Scratch) {
  const int n = static_cast<int>(Values.size());
  if (Rank < 0 || Rank >= n || Scratch.size() < Values.size()) throw ERangeError();
  const float* v = Values.data();
  float* w = Scratch.data();

  if (std::isfinite(Guess) && Guess > 0.0f) {
    // Bracket [lo, hi) with #(v < lo) <= Rank < #(v < hi), widening
    // geometrically around the guess until it holds.
    constexpr int kTries = 8;
    float lo = Guess, hi = Guess;
    int below = CountBelow(v, n, Guess);
    int belowHi = below;
    float step = 1.0f / 16.0f;
    bool found = false;
    for (int t = 0; t < kTries && !found; ++t, step *= 2.0f) {
      if (below > Rank) {
        hi = lo;
        belowHi = below;
        lo = Guess / (1.0f + step);
        below = CountBelow(v, n, lo);
      } else {
        lo = hi;
        below = belowHi;
        hi = Guess * (1.0f + step);
        belowHi = CountBelow(v, n, hi);
      }
      found = below <= Rank && Rank < belowHi;
    }
    if (found && lo > 0.0f) {
      // Gather the values inside the bracket without branches: always write,
      // advance only for a value that belongs. With 0 < lo < hi the test
      // lo <= x < hi is one unsigned comparison of the bit patterns, which
      // order like the values for positive numbers; a negative number, -0 or
      // a NaN lands outside the range.
      const uint32_t base = std::bit_cast<uint32_t>(lo);
      const uint32_t width = std::bit_cast<uint32_t>(hi) - base;
      int m = 0;
      for (int i = 0; i < n; ++i) {
        const float x = v[i];
        w[m] = x;
        m += std::bit_cast<uint32_t>(x) - base < width ? 1 : 0;
      }
      if (m == belowHi - below) return SelectRank(w, 0, m - 1, Rank - below);
      // Counts and gathering disagree only for values that are not numbers.
    }
  }
  std::copy(Values.begin(), Values.end(), Scratch.begin());
  return SelectRank(w, 0, n - 1, Rank);
}

}  // namespace brenvo
