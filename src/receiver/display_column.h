// The waterfall column of one audio block: each spectrum divided by its
// noise-floor estimate (the value at 90 % rank of its 101-bin sliding
// median) and summed; at the end every bin s becomes ln(s / n + 1), n being
// the noise floor of the selected channel's mark tone, and bins 16 .. 239
// form the column.
#pragma once

#include <cstdint>
#include <span>

#include "dsp/types.h"

namespace brenvo {

class TDisplayColumn {
 public:
  static constexpr int32_t kMedianHalfWidth = 50;
  static constexpr float kFloorRank = 0.9f;
  static constexpr int32_t kFirstBin = 16;

  // FftSize: spectrum length, 2 x kMedianHalfWidth + 2 .. 65536
  // (ERangeError otherwise); the column holds FftSize - 32 values.
  explicit TDisplayColumn(int32_t FftSize);

  // Adds one spectrum (FftSize values, ERangeError otherwise); First starts a
  // new block. A spectrum whose 90 % value is 0 adds nothing.
  void Add(std::span<const float> Spectrum, bool First);
  // Turns the sum into display values with the noise floor Nfl and fills
  // the column. Values that are not finite numbers (Nfl 0 in digital
  // silence) become 0.
  void Finish(float Nfl);

  // ln(s / n + 1), or 0 where that is not a finite number.
  static float DisplayValue(float s, float n);

  const TSingleArray& LogPwr() const { return FLogPwr; }
  const TSingleArray& Column() const { return FColumn; }

 private:
  TSingleArray FSpec;
  TSingleArray FMedian;
  TSingleArray FScratch;
  TSingleArray FLogPwr;
  TSingleArray FColumn;
};

}  // namespace brenvo
