#include "dsp/percentile.h"

#include <algorithm>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "dsp/cpu_features.h"
#include "dsp/errors.h"

#if BRENVO_AVX2_DISPATCH
#include <immintrin.h>
#endif

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

// Ranges of at most this many values are left to SelectRank.
constexpr int kSelectDirectly = 32;

using V8 = float __attribute__((vector_size(32)));
using V8i = int32_t __attribute__((vector_size(32)));

// Numbers of values of v[0 .. n-1] below each of the four pivots p, in one
// pass of eight values at a time (a true lane comparison is -1); the last
// eight values once more for the rest, their lanes already counted masked.
BRENVO_AVX2_CLONES void CountBelow4Lanes(const float* v, int n, const float* p, int* below) {
  const V8 p0 = {p[0], p[0], p[0], p[0], p[0], p[0], p[0], p[0]};
  const V8 p1 = {p[1], p[1], p[1], p[1], p[1], p[1], p[1], p[1]};
  const V8 p2 = {p[2], p[2], p[2], p[2], p[2], p[2], p[2], p[2]};
  const V8 p3 = {p[3], p[3], p[3], p[3], p[3], p[3], p[3], p[3]};
  V8i c0 = {}, c1 = {}, c2 = {}, c3 = {};
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    V8 x;
    std::memcpy(&x, v + i, sizeof x);
    c0 += x < p0;
    c1 += x < p1;
    c2 += x < p2;
    c3 += x < p3;
  }
  if (i < n) {
    V8 x;
    std::memcpy(&x, v + n - 8, sizeof x);
    const V8i lane = {0, 1, 2, 3, 4, 5, 6, 7};
    const V8i fresh = lane >= V8i{} + (i - (n - 8));
    c0 += (x < p0) & fresh;
    c1 += (x < p1) & fresh;
    c2 += (x < p2) & fresh;
    c3 += (x < p3) & fresh;
  }
  // The lanes' sums, the four counts side by side in each half.
  const V8i a = __builtin_shufflevector(c0, c1, 0, 8, 1, 9, 4, 12, 5, 13) +
                __builtin_shufflevector(c0, c1, 2, 10, 3, 11, 6, 14, 7, 15);
  const V8i b = __builtin_shufflevector(c2, c3, 0, 8, 1, 9, 4, 12, 5, 13) +
                __builtin_shufflevector(c2, c3, 2, 10, 3, 11, 6, 14, 7, 15);
  const V8i s = __builtin_shufflevector(a, b, 0, 1, 8, 9, 4, 5, 12, 13) +
                __builtin_shufflevector(a, b, 2, 3, 10, 11, 6, 7, 14, 15);
  for (int k = 0; k < 4; ++k) below[k] = -(s[k] + s[k + 4]);
}

// The value of rank `rank` of v[0 .. m-1] (numbers, m <= kSelectDirectly):
// the smallest value with more than `rank` values not above it, counted for
// eight candidates at a time against every value. On so few values the
// selection's hard-to-predict branches cost more than the counting. v must
// have kSelectDirectly values to read; those past m are not used.
BRENVO_AVX2_CLONES float RankByCounting(const float* v, int m, int rank) {
  constexpr int kGroups = kSelectDirectly / 8;
  const int groups = (m + 7) / 8;
  const V8i lane = {0, 1, 2, 3, 4, 5, 6, 7};
  const V8 nan = V8{} + std::numeric_limits<float>::quiet_NaN();
  V8 cand[kGroups];
  for (int g = 0; g < groups; ++g) {
    std::memcpy(&cand[g], v + 8 * g, sizeof cand[g]);
    // Lanes past the values never qualify: a comparison with a NaN is false.
    cand[g] = lane + 8 * g < m ? cand[g] : nan;
  }
  V8i notAbove[kGroups] = {};
  for (int j = 0; j < m; ++j) {
    const V8 x = V8{} + v[j];
    for (int g = 0; g < groups; ++g) notAbove[g] -= x <= cand[g];  // a true comparison is -1
  }
  const V8 inf = V8{} + std::numeric_limits<float>::infinity();
  V8 low = inf;
  for (int g = 0; g < groups; ++g) {
    const V8 c = notAbove[g] > rank ? cand[g] : inf;
    low = c < low ? c : low;
  }
  float r = low[0];
  for (int l = 1; l < 8; ++l) r = low[l] < r ? low[l] : r;
  return r;
}

// The portable gathering: every value is stored and the position advances
// past the wanted ones, without a branch.
int GatherRangePortable(const float* v, int n, float lo, float hi, float* w) {
  int c = 0;
  for (int i = 0; i < n; ++i) {
    const float x = v[i];
    w[c] = x;
    c += x >= lo && !(x >= hi) ? 1 : 0;
  }
  return c;
}

#if BRENVO_AVX2_DISPATCH
// For each mask of eight lanes, the lanes it selects, in order (the rest 0).
struct TCompressTable {
  uint8_t Lanes[256][8] = {};
  uint8_t Count[256] = {};
  constexpr TCompressTable() {
    for (int mask = 0; mask < 256; ++mask)
      for (int lane = 0; lane < 8; ++lane)
        if (mask >> lane & 1) Lanes[mask][Count[mask]++] = static_cast<uint8_t>(lane);
  }
};
constexpr TCompressTable kCompress;

// Eight values at a time: the wanted lanes are permuted to the front of the
// vector, which is stored whole, and the position advances by their number.
[[gnu::target("avx2")]] int GatherRangeAvx2(const float* v, int n, float lo, float hi, float* w) {
  const __m256 l = _mm256_set1_ps(lo);
  const __m256 h = _mm256_set1_ps(hi);
  int c = 0;
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 x = _mm256_loadu_ps(v + i);
    const __m256 in = _mm256_andnot_ps(_mm256_cmp_ps(x, h, _CMP_GE_OQ), _mm256_cmp_ps(x, l, _CMP_GE_OQ));
    const int mask = _mm256_movemask_ps(in);
    int64_t lanes;
    std::memcpy(&lanes, kCompress.Lanes[mask], sizeof lanes);
    const __m256i perm = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(lanes));
    _mm256_storeu_ps(w + c, _mm256_permutevar8x32_ps(x, perm));
    c += kCompress.Count[mask];
  }
  return c + GatherRangePortable(v + i, n - i, lo, hi, w + c);
}
#endif

// The number of values of v[0 .. n-1] equal to x.
int CountEqual(const float* v, int n, float x) {
  int c = 0;
  for (int i = 0; i < n; ++i) c += v[i] == x ? 1 : 0;
  return c;
}

// Sorts four values that are numbers.
void Sort4(float* p) {
  auto order = [p](int a, int b) {
    const float x = p[a], y = p[b];
    p[a] = y < x ? y : x;
    p[b] = y < x ? x : y;
  };
  order(0, 1);
  order(2, 3);
  order(0, 2);
  order(1, 3);
  order(1, 2);
}

}  // namespace

void CountBelow4(const float* V, int N, const float* P, int* Below) {
  if (N < 8) throw ERangeError();
  CountBelow4Lanes(V, N, P, Below);
}

int GatherRange(const float* V, int N, float Lo, float Hi, float* W, bool Avx2) {
#if BRENVO_AVX2_DISPATCH
  static const bool hasAvx2 = CpuHasAvx2();
  if (Avx2 && hasAvx2) return GatherRangeAvx2(V, N, Lo, Hi, W);
#endif
  if (Avx2) throw EBrenvoError("GatherRange: this processor has no AVX2");
  return GatherRangePortable(V, N, Lo, Hi, W);
}

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
  float* w = Scratch.data();
  // Each round counts the values below four pivots in one pass and keeps,
  // in Scratch, only those between the two pivots that bracket the rank:
  // about a fifth of them. The pivots are values of the range at four spread
  // places (sorted), on the first round the guess in place of one of them.
  static const bool avx2 = CpuHasAvx2();
  const float* v = Values.data();
  int m = n;
  int rank = Rank;
  for (bool first = true; m > kSelectDirectly; first = false) {
    float p[4] = {first && std::isfinite(Guess) ? Guess : v[m / 8], v[3 * m / 8], v[5 * m / 8], v[7 * m / 8]};
    if (std::isnan(p[0]) || std::isnan(p[1]) || std::isnan(p[2]) || std::isnan(p[3])) break;
    Sort4(p);
    int below[4];
    CountBelow4Lanes(v, m, p, below);
    int k = 0;
    while (k < 4 && below[k] <= rank) ++k;
    const float lo = k > 0 ? p[k - 1] : -std::numeric_limits<float>::infinity();
    const float hi = k < 4 ? p[k] : std::numeric_limits<float>::quiet_NaN();
    const int from = k > 0 ? below[k - 1] : 0;
    const int to = k < 4 ? below[k] : m;
    const int kept = GatherRange(v, m, lo, hi, w, avx2);
    // Fewer kept than counted: values that are not numbers.
    if (kept != to - from) {
      v = Values.data();
      break;
    }
    v = w;
    // All kept (none below lo): equal values that no pivot separates.
    // Digital silence is nothing but zeros: when the rank falls among copies
    // of lo it is lo, without selecting on the whole copy.
    if (kept == m) {
      if (k > 0 && CountEqual(w, kept, lo) > rank) return lo;
      break;
    }
    m = kept;
    rank -= from;
  }
  // The gathered values are numbers, and Scratch holds n > kSelectDirectly.
  if (v == w) return m <= kSelectDirectly ? RankByCounting(w, m, rank) : SelectRank(w, 0, m - 1, rank);
  std::copy(Values.begin(), Values.end(), Scratch.begin());
  return SelectRank(w, 0, n - 1, Rank);
}

}  // namespace brenvo
