// The largest value as a plain scan finds it: keep the best so far and
// replace it only by a strictly greater value. So the first of equal values
// wins, a NaN never does, and -0 and +0 count as equal. The same answer
// from N lanes at a time.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>

#include "dsp/lane_math.h"

namespace brenvo {

// GCC's vectors; always inlined, so a caller compiled for AVX2 gets it too.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"  // never passed across a call

// Lane j of Out := lane Index[j] of In (by reference: a vector passed or
// returned by value changes the ABI). Clang, which builds the fuzzing
// targets, lacks GCC's variable shuffle.
template <typename W, typename WI>
[[gnu::always_inline]] inline void LanePermute(const W& In, const WI& Index, W& Out) {
#if defined(__clang__)
  for (std::size_t j = 0; j < sizeof(W) / sizeof(In[0]); ++j) Out[j] = In[Index[j]];
#else
  Out = __builtin_shuffle(In, Index);
#endif
}

// The index of values[0 .. n) where a scan that starts from `top` last
// replaces it, and top := that value; -1 (top unchanged) when no value is
// strictly greater than top.
template <int N>
[[gnu::always_inline]] inline int32_t FirstAbove(const float* values, int32_t n, float& top) {
  using V = typename TLanes<N>::F;
  using VI = typename TLanes<N>::I;
  // Lane j scans values j, j + N, ... from top on its own.
  V best = V{} + top;
  static constexpr int32_t kIndex[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  static_assert(N <= 16);
  VI at = VI{} - 1, k;
  std::memcpy(&k, kIndex, sizeof k);
  int32_t i = 0;
  for (; i + N <= n; i += N, k += N) {
    V c;
    std::memcpy(&c, values + i, sizeof c);
    const VI better = c > best;
    best = better ? c : best;
    at = better ? k : at;
  }
  // Lane j's mate at distance 2^b is lane j ^ 2^b.
  static constexpr int32_t kMate[4][16] = {{1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14},
                                           {2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13},
                                           {4, 5, 6, 7, 0, 1, 2, 3, 12, 13, 14, 15, 8, 9, 10, 11},
                                           {8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7}};
  constexpr int kLevels = std::bit_width(static_cast<unsigned>(N)) - 1;
  // The largest of the lanes (in every lane after meeting its mates at
  // distances N / 2, ..., 1), then of the rest.
  V h = best;
  VI mate;
  for (int b = kLevels - 1; b >= 0; --b) {
    std::memcpy(&mate, kMate[b], sizeof mate);
    V o;
    LanePermute(h, mate, o);
    h = o > h ? o : h;
  }
  float m = h[0] > top ? h[0] : top;
  for (int32_t t = i; t < n; ++t) m = values[t] > m ? values[t] : m;
  if (!(m > top)) return -1;
  // The first index holding m: in a lane, the one it kept.
  VI index = best == (V{} + m) ? at : VI{} + std::numeric_limits<int32_t>::max();
  for (int b = kLevels - 1; b >= 0; --b) {
    std::memcpy(&mate, kMate[b], sizeof mate);
    VI o;
    LanePermute(index, mate, o);
    index = o < index ? o : index;
  }
  int32_t a = index[0];
  for (int32_t t = i; t < n && t < a; ++t)
    if (values[t] == m) a = t;
  top = values[a];  // m may be the other zero
  return a;
}

#pragma GCC diagnostic pop

}  // namespace brenvo
