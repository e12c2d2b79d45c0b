#include "receiver/display_column.h"

#include <algorithm>
#include <cmath>

#include "dsp/array_filters.h"
#include "dsp/errors.h"
#include "dsp/percentile.h"

namespace brenvo {

TDisplayColumn::TDisplayColumn(int32_t fftSize) {
  if (fftSize < 2 * kMedianHalfWidth + 2 || fftSize > 65536) throw ERangeError();
  const auto n = static_cast<std::size_t>(fftSize);
  FSpec.resize(n);
  FMedian.resize(n);
  FScratch.resize(n);
  FLogPwr.resize(n);
  FColumn.resize(n - 2 * static_cast<std::size_t>(kFirstBin));
}

float TDisplayColumn::DisplayValue(float s, float n) {
  const float v = std::log(s / n + 1.0f);
  return std::isfinite(v) ? v : 0.0f;
}

void TDisplayColumn::Add(std::span<const float> spectrum, bool first) {
  if (spectrum.size() != FSpec.size()) throw ERangeError();
  std::copy(spectrum.begin(), spectrum.end(), FSpec.begin());
  SlidingMedian(FSpec, kMedianHalfWidth, FMedian);
  const float p = Percentile(FMedian, kFloorRank, FScratch);
  const float factor = p > 0.0f ? 1.0f / p : p;
  if (first) {
    for (std::size_t b = 0; b < FSpec.size(); ++b) FLogPwr[b] = FSpec[b] * factor;
  } else {
    for (std::size_t b = 0; b < FSpec.size(); ++b) FLogPwr[b] += FSpec[b] * factor;
  }
}

void TDisplayColumn::Finish(float nfl) {
  for (float& v : FLogPwr) v = DisplayValue(v, nfl);
  std::copy_n(FLogPwr.begin() + kFirstBin, FColumn.size(), FColumn.begin());
}

}  // namespace brenvo
