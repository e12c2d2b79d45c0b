#include "ui/stop_histo.h"

#include <algorithm>
#include <limits>

namespace brenvo {

float ParabolicPeakOffset(float p, float c, float n) {
  if (p == c && c == n) return 0.0f;
  if (p >= c) return -0.5f;
  if (n >= c) return 0.5f;
  // Here c is above both neighbours, so the divisor is positive.
  return 0.5f * (n - p) / (2.0f * c - p - n);
}

bool TStopHisto::Add(int32_t len) {
  if (len < kMinLen || len > kMaxLen) return false;
  int32_t& c = FCounts[static_cast<std::size_t>(len - kMinLen)];
  if (c < std::numeric_limits<int32_t>::max()) ++c;
  ++FHistoCnt;
  return true;
}

void TStopHisto::Reset() {
  FCounts.fill(0);
  FHistoCnt = 0;
}

int32_t TStopHisto::Count(int32_t len) const {
  if (len < kMinLen || len > kMaxLen) return 0;
  return FCounts[static_cast<std::size_t>(len - kMinLen)];
}

int32_t TStopHisto::MaxCount() const { return std::max(1, *std::max_element(FCounts.begin(), FCounts.end())); }

double TStopHisto::PeakLength() const {
  int32_t k = kMinLen + 1;
  for (int32_t j = kMinLen + 1; j <= kMaxLen - 1; ++j)
    if (Count(j) >= Count(k)) k = j;
  const float d = ParabolicPeakOffset(static_cast<float>(Count(k - 1)), static_cast<float>(Count(k)),
                                      static_cast<float>(Count(k + 1)));
  return (k + static_cast<double>(d)) / kFramesPerMs;
}

}  // namespace brenvo
