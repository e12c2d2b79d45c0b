#include "dsp/delay_line.h"

#include "dsp/errors.h"

namespace brenvo {

TDelayLine::TDelayLine(int32_t delay) { SetDelay(delay); }

void TDelayLine::SetDelay(int32_t value) {
  if (value < 1) throw ERangeError("Delay must be at least 1");
  FDelay = value;
  Reset();
}

void TDelayLine::Reset() {
  FBuf.assign(static_cast<std::size_t>(FDelay), TComplex{});
  Idx = 0;
}

TComplex TDelayLine::Process(TComplex x) {
  const TComplex r = FBuf[static_cast<std::size_t>(Idx)];
  FBuf[static_cast<std::size_t>(Idx)] = x;
  if (++Idx == FDelay) Idx = 0;
  return r;
}

}  // namespace brenvo
