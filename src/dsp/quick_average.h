// Cascade of moving averages: Passes stages, each the mean of the last Points
// outputs of the stage before it. Constant work per value.
#pragma once

#include <cstdint>

#include "dsp/types.h"

namespace brenvo {

class TQuickAverage {
 public:
  // passes: number of cascaded stages, clamped to 1 .. 8 (default 4);
  // points: length of each moving sum, raised to at least 1 (default 128).
  TQuickAverage();
  TQuickAverage(int32_t passes, int32_t points);

  int32_t Passes() const { return FPasses; }
  int32_t Points() const { return FPoints; }
  // Both setters clamp the value as above and then Reset.
  void SetPasses(int32_t value);
  void SetPoints(int32_t value);

  // All history back to zeros.
  void Reset();

  // The smoothed value of a real stream.
  float Filter(float x);
  // A complex stream: real and imaginary parts smoothed separately with one
  // shared ring position.
  TComplex Filter(float re, float im);
  TComplex Filter(TComplex x) { return Filter(x.Re, x.Im); }
  // |Filter(re, im)|.
  float FilteredModule(float re, float im);

 private:
  // One value through the Passes + 1 rows of bufs (row-major, Points wide).
  float Run(float* bufs, float x) const;
  void Advance();

  int32_t FPasses = 4;
  int32_t FPoints = 128;
  float FScale = 0.0f;
  // Row 0: last Points inputs; row j: last Points outputs of stage j. The
  // values are singles, so single storage loses nothing.
  TSingleArray ReBufs;
  TSingleArray ImBufs;
  int32_t Idx = 0;      // ring position the next value overwrites (oldest)
  int32_t PrevIdx = 0;  // ring position of the newest value
};

// Inline: it runs per tone and spectrum in every receiver.
inline float TQuickAverage::Run(float* bufs, float x) const {
  float v = x;
  for (int32_t j = 1; j <= FPasses; ++j) {
    float* prevRow = bufs + static_cast<std::ptrdiff_t>(j - 1) * FPoints;
    const float* row = bufs + static_cast<std::ptrdiff_t>(j) * FPoints;
    const float in = v;
    // Moving sum: previous sum less the value leaving plus the value entering,
    // rounded to single once.
    v = static_cast<float>(static_cast<double>(row[PrevIdx]) - static_cast<double>(prevRow[Idx]) +
                           static_cast<double>(in));
    prevRow[Idx] = in;
  }
  bufs[static_cast<std::ptrdiff_t>(FPasses) * FPoints + Idx] = v;
  return v * FScale;
}

inline void TQuickAverage::Advance() {
  PrevIdx = Idx;
  Idx = (Idx + 1 == FPoints) ? 0 : Idx + 1;
}

inline float TQuickAverage::Filter(float x) {
  const float r = Run(ReBufs.data(), x);
  Advance();
  return r;
}

}  // namespace brenvo
