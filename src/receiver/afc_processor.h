// Automatic frequency control of one signal: keeps the mark and space bins on
// the two tones. Each spectrum moves a fractional tracked position of the
// stronger tone by a small part of its centroid offset, drags the weaker one
// at a tenth of that rate, holds the pair 13 to 16 bins apart and moves the
// integer bins only when a tracked position is more than 0.75 bin away.
//
// Bins are spectrum indices (bin b = b x 3000 / 256 Hz in this program).
// Upper sideband means BinM > BinS.
#pragma once

#include <cstdint>
#include <span>

#include "dsp/types.h"

namespace brenvo {

class TAfcProcessor {
 public:
  // Spectrum values below this on both tones move nothing (noise reads 1).
  static constexpr float kMinLevel = 30.0f;
  static constexpr float kRate = 0.003f;  // share of the offset applied per spectrum
  static constexpr float kDragShare = 0.1f;  // the weaker tone follows at this share
  static constexpr float kHysteresis = 0.75f;  // bins
  static constexpr int32_t kMinShift = 13;  // bins
  static constexpr int32_t kMaxShift = 16;  // bins
  static constexpr int32_t kEdge = 3;  // bins kept free at both ends (the 7-bin sums)

  // Bins 0 .. 65535 (ERangeError otherwise); Process keeps them inside the
  // spectrum it is given. Enabled is false until the owner sets it.
  TAfcProcessor(int32_t BinM, int32_t BinS);

  // Adds N to both bins and both tracked positions.
  void ShiftBins(int32_t N);
  // AfcM - AfcS, bins.
  float GetShift() const { return AfcM - AfcS; }
  bool IsUsb() const { return BinM > BinS; }
  // Exchanges mark and space (bins and tracked positions) when the
  // orientation differs from Value.
  void SetUsb(bool Value);

  // One tracking step on a spectrum of at least 2 x kEdge + 1 values
  // (ERangeError otherwise); nothing when Enabled is false. A step whose
  // measurements are not finite numbers moves nothing.
  void Process(std::span<const float> Spectrum);

  int32_t BinM;
  int32_t BinS;
  float AfcM;  // tracked mark position, bins
  float AfcS;  // tracked space position, bins
  bool Enabled = false;
};

}  // namespace brenvo
