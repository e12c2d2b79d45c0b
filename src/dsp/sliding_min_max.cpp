#include "dsp/sliding_min_max.h"

#include "dsp/errors.h"

namespace brenvo::detail {

template <typename Better>
TSlidingExtreme<Better>::TSlidingExtreme(int32_t len) {
  SetLen(len);
}

template <typename Better>
void TSlidingExtreme<Better>::SetLen(int32_t value) {
  if (value < 1) throw ERangeError("Sliding window length must be at least 1");
  if (value == FLen) return;
  FLen = value;
  FBufSize = 2 * value;
  Reset();
}

template <typename Better>
void TSlidingExtreme<Better>::Reset() {
  FBuff.assign(static_cast<std::size_t>(FBufSize), 0.0f);
  Idx = -1;
  FExtremeG = 0.0f;
  FValue = 0.0f;
}

template <typename Better>
float TSlidingExtreme<Better>::Process(float x) {
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
    if (better(x, FExtremeG)) FExtremeG = x;
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

template class TSlidingExtreme<TSmaller>;
template class TSlidingExtreme<TLarger>;

}  // namespace brenvo::detail
