// Histogram of the stop lengths of received characters, in spectrum frames
// (375 per second), with its peak refined between frames by a parabola.
#pragma once

#include <array>
#include <cstdint>

namespace brenvo {

// Offset (-0.5 .. 0.5) of a peak from its middle bin c, given the bins on
// either side: 0 for a flat top, -0.5 / +0.5 when a neighbour is at least as
// high (p first), else the vertex of the parabola through the three.
float ParabolicPeakOffset(float Prev, float Centre, float Next);

class TStopHisto {
 public:
  static constexpr int32_t kMinLen = 7;   // shorter stops are not counted
  static constexpr int32_t kMaxLen = 34;  // nor longer ones
  static constexpr double kFramesPerMs = 0.375;

  // Counts one stop length; false, with nothing counted, outside 7 .. 34.
  // A count stops at the 32-bit maximum.
  bool Add(int32_t StopLen);
  void Reset();

  // The count of a length, 0 outside 7 .. 34.
  int32_t Count(int32_t StopLen) const;
  // The largest count, at least 1 (the bar scale divides by it).
  int32_t MaxCount() const;
  // Lengths counted since the last reset.
  int64_t HistoCnt() const { return FHistoCnt; }
  // Length at the peak in milliseconds. The peak lies in 8 .. 33 (the last
  // of equal maxima), so that both neighbours exist.
  double PeakLength() const;

 private:
  std::array<int32_t, kMaxLen - kMinLen + 1> FCounts{};
  int64_t FHistoCnt = 0;
};

}  // namespace brenvo
