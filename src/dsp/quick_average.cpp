#include "dsp/quick_average.h"

#include <algorithm>
#include <cmath>

namespace brenvo {

TQuickAverage::TQuickAverage() { Reset(); }

TQuickAverage::TQuickAverage(int32_t passes, int32_t points) {
  FPasses = std::clamp(passes, 1, 8);
  FPoints = std::max(points, 1);
  Reset();
}

void TQuickAverage::SetPasses(int32_t value) {
  FPasses = std::clamp(value, 1, 8);
  Reset();
}

void TQuickAverage::SetPoints(int32_t value) {
  FPoints = std::max(value, 1);
  Reset();
}

void TQuickAverage::Reset() {
  const std::size_t n = static_cast<std::size_t>(FPasses + 1) * static_cast<std::size_t>(FPoints);
  ReBufs.assign(n, 0.0f);
  ImBufs.assign(n, 0.0f);
  FScale = static_cast<float>(std::pow(static_cast<double>(FPoints), -static_cast<double>(FPasses)));
  Idx = 0;
  PrevIdx = FPoints - 1;
}

TComplex TQuickAverage::Filter(float re, float im) {
  TComplex r{Run(ReBufs.data(), re), Run(ImBufs.data(), im)};
  Advance();
  return r;
}

float TQuickAverage::FilteredModule(float re, float im) { return ComplexModulus(Filter(re, im)); }

}  // namespace brenvo
