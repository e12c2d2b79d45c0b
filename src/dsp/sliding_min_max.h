// Running minimum and maximum over the last Len values, at a constant cost
// per value on average whatever the window length.
#pragma once

#include <cstdint>

#include "dsp/types.h"

namespace brenvo {

namespace detail {

// Block algorithm shared by TSlidingMin and TSlidingMax: values arrive in
// blocks of Len; for the block before the current one the suffix extremes are
// kept, so every window is the extreme of one suffix and one prefix.
// Better(a, b) is true when a is strictly more extreme than b.
template <typename Better>
class TSlidingExtreme {
 public:
  // len: window length in values, at least 1 (ERangeError otherwise).
  explicit TSlidingExtreme(int32_t len);

  int32_t Len() const { return FLen; }
  // A new length restarts the filter; writing the same length changes nothing.
  void SetLen(int32_t value);
  // The window's centre delay in values; informational only.
  int32_t Delay() const { return (FLen - 1) / 2; }
  // The last output; 0 after Reset until the first value.
  float Value() const { return FValue; }

  // Forgets all values: the next one fills the whole window.
  void Reset();
  // Takes in x and returns the extreme of the last Len values (the history
  // before the first value after Reset counts as copies of that value).
  float Process(float x);

 private:
  TSingleArray FBuff;
  int32_t FLen = 0;
  int32_t FBufSize = 0;
  int32_t Idx = -1;
  float FExtremeG = 0.0f;  // extreme of the current block so far
  float FValue = 0.0f;
};

struct TSmaller {
  bool operator()(float a, float b) const { return a < b; }
};
struct TLarger {
  bool operator()(float a, float b) const { return a > b; }
};

// Inline: it runs twice per tone and spectrum in every receiver.
template <typename Better>
inline float TSlidingExtreme<Better>::Process(float x) {
  const Better better;
  float* buf = FBuff.data();
  if (Idx == -1) {
    Idx = FLen - 1;
    for (int32_t i = 0; i < FLen; ++i) buf[i] = x;
    FExtremeG = x;
    FValue = x;
    return x;
  }
  ++Idx;
  buf[Idx] = x;
  float result;
  if (Idx < 2 * FLen - 1) {
    FExtremeG = better(x, FExtremeG) ? x : FExtremeG;  // a select, not a branch on noise
    // Equal values: the buffer's wins (matters only for signed zeros).
    const float old = buf[Idx - FLen];
    result = better(FExtremeG, old) ? FExtremeG : old;
  } else {
    // Block complete: turn it into suffix extremes for the next block.
    float g = buf[2 * FLen - 1];
    for (int32_t i = FLen - 2; i >= 0; --i) {
      buf[i] = g;
      if (better(buf[FLen + i], g)) g = buf[FLen + i];
    }
    result = g;
    FExtremeG = x;
    Idx = FLen - 1;
  }
  FValue = result;
  return result;
}

extern template class TSlidingExtreme<TSmaller>;
extern template class TSlidingExtreme<TLarger>;

}  // namespace detail

// Smallest of the last Len values.
using TSlidingMin = detail::TSlidingExtreme<detail::TSmaller>;
// Largest of the last Len values.
using TSlidingMax = detail::TSlidingExtreme<detail::TLarger>;

}  // namespace brenvo
