#include "dsp/percentile.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <cstring>
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

using V4 = float __attribute__((vector_size(16)));
using V4i = int32_t __attribute__((vector_size(16)));
using V4u = uint32_t __attribute__((vector_size(16)));

inline V4 Load4(const float* p) {
  V4 x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

inline int LaneSum(V4i a) { return a[0] + a[1] + a[2] + a[3]; }

// Number of values below t: eight values per step in two independent vector
// sums (a true lane comparison is -1).
int CountBelow(const float* v, int n, float t) {
  const V4 tv = {t, t, t, t};
  V4i a = {}, b = {};
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    a += Load4(v + i) < tv;
    b += Load4(v + i + 4) < tv;
  }
  int c = -LaneSum(a + b);
  for (; i < n; ++i) c += v[i] < t ? 1 : 0;
  return c;
}

// Numbers of values below each of four thresholds, in one pass.
std::array<int, 4> CountBelow4(const float* v, int n, const std::array<float, 4>& t) {
  const V4 t0 = {t[0], t[0], t[0], t[0]}, t1 = {t[1], t[1], t[1], t[1]};
  const V4 t2 = {t[2], t[2], t[2], t[2]}, t3 = {t[3], t[3], t[3], t[3]};
  V4i c0 = {}, c1 = {}, c2 = {}, c3 = {};
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const V4 x = Load4(v + i);
    c0 += x < t0;
    c1 += x < t1;
    c2 += x < t2;
    c3 += x < t3;
  }
  std::array<int, 4> c = {-LaneSum(c0), -LaneSum(c1), -LaneSum(c2), -LaneSum(c3)};
  for (; i < n; ++i)
    for (int k = 0; k < 4; ++k) c[k] += v[i] < t[k] ? 1 : 0;
  return c;
}

// Moves the values x of v[0 .. n-1] with base <= bits(x) < base + width (as
// unsigned differences: bits(x) - base < width) to the front of w and returns
// their count; w needs room for n values. A branch-free loop that stores every
// value and advances past the wanted ones costs a dependent step per value, so
// whole groups of four are sifted first with one vector test per group, and
// only the groups that hold a wanted value are taken value by value.
int GatherInRange(const float* v, int n, uint32_t base, uint32_t width, float* w) {
  auto in = [base, width](float x) { return std::bit_cast<uint32_t>(x) - base < width ? 1 : 0; };
  int c = 0;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    V4u x;
    std::memcpy(&x, v + i, sizeof x);
    const V4i hit = (x - base) < width;
    uint64_t h[2];
    std::memcpy(h, &hit, sizeof h);
    std::memcpy(w + c, v + i, sizeof x);
    c += (h[0] | h[1]) != 0 ? 4 : 0;
  }
  for (; i < n; ++i) {
    w[c] = v[i];
    c += in(v[i]);
  }
  int m = 0;
  for (int k = 0; k < c; ++k) {
    const float x = w[k];
    w[m] = x;
    m += in(x);
  }
  return m;
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
    // Bracket [lo, hi) with #(v < lo) <= Rank < #(v < hi). The count below
    // the guess tells on which side the rank lies and how far: about
    // n / 3 values per unit of relative change near the median of power-like
    // values. One pass counts below four thresholds at 1/2, 1, 3/2 and 2
    // times that estimate, and the narrowest bracket is taken; when the rank
    // lies further out, the bracket widens geometrically.
    const int below0 = CountBelow(v, n, Guess);
    const bool up = below0 <= Rank;
    const float e = 3.0f * static_cast<float>(std::abs(below0 - Rank) + 1) / static_cast<float>(n);
    std::array<float, 4> t;
    for (int k = 0; k < 4; ++k) {
      const float g = 1.0f + 0.5f * static_cast<float>(k + 1) * e;
      t[k] = up ? Guess * g : Guess / g;
    }
    const std::array<int, 4> c = CountBelow4(v, n, t);
    float lo = Guess, hi = Guess;
    int below = below0, belowHi = below0;
    bool found = false;
    for (int k = 0; k < 4 && !found; ++k) {
      if (up) {
        lo = hi;
        below = belowHi;
        hi = t[k];
        belowHi = c[k];
      } else {
        hi = lo;
        belowHi = below;
        lo = t[k];
        below = c[k];
      }
      found = below <= Rank && Rank < belowHi;
    }
    constexpr int kTries = 8;
    float step = 2.0f * e;
    for (int k = 0; k < kTries && !found; ++k) {
      step *= 2.0f;
      if (up) {
        lo = hi;
        below = belowHi;
        hi = Guess * (1.0f + step);
        belowHi = CountBelow(v, n, hi);
      } else {
        hi = lo;
        belowHi = below;
        lo = Guess / (1.0f + step);
        below = CountBelow(v, n, lo);
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
      const int m = GatherInRange(v, n, base, width, w);
      if (m == belowHi - below) return SelectRank(w, 0, m - 1, Rank - below);
      // Counts and gathering disagree only for values that are not numbers.
    }
  }
  std::copy(Values.begin(), Values.end(), Scratch.begin());
  return SelectRank(w, 0, n - 1, Rank);
}

}  // namespace brenvo
