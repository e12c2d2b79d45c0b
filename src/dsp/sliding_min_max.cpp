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

template class TSlidingExtreme<TSmaller>;
template class TSlidingExtreme<TLarger>;

}  // namespace brenvo::detail
