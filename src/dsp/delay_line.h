// Fixed delay: returns the value pushed Delay calls earlier (zeros at first).
#pragma once

#include <cstdint>

#include "dsp/types.h"

namespace brenvo {

class TDelayLine {
 public:
  // delay: in calls, at least 1 (ERangeError otherwise); default 1.
  explicit TDelayLine(int32_t delay = 1);

  int32_t Delay() const { return FDelay; }
  // Always restarts from zeros, also when the value is unchanged.
  void SetDelay(int32_t value);
  void Reset();

  TComplex Process(TComplex x);
  // Real stream: only the real parts of the ring are used.
  float Process(float x);

 private:
  TComplexArray FBuf;
  int32_t FDelay = 1;
  int32_t Idx = 0;  // read, then overwritten, by the next call
};

// Inline: it runs per tone and spectrum in every receiver.
inline float TDelayLine::Process(float x) {
  TComplex& cell = FBuf[static_cast<std::size_t>(Idx)];
  const float r = cell.Re;
  cell.Re = x;
  if (++Idx == FDelay) Idx = 0;
  return r;
}

}  // namespace brenvo
