#include "receiver/afc_processor.h"

#include <algorithm>
#include <cmath>

#include "dsp/cpu_features.h"
#include "dsp/errors.h"

namespace brenvo {

namespace {

constexpr int32_t kMaxBin = 65535;

// Centroid of the seven bins around bin, in bins from it; 0 without energy.
float CentroidOffset(std::span<const float> s, int32_t bin) {
  float num = 0.0f, den = 0.0f;
  for (int32_t k = -3; k <= 3; ++k) {
    const float v = s[static_cast<std::size_t>(bin + k)];
    num += static_cast<float>(k) * v;
    den += v;
  }
  return den == 0.0f ? 0.0f : num / den;
}

// Spectrum value at the nearest bin to pos (halves to even), the index held
// inside the spectrum: a tracked position near the edge must not read outside.
float LevelAt(std::span<const float> s, float pos) {
  const double idx = std::nearbyint(static_cast<double>(pos));
  const double hi = static_cast<double>(s.size()) - 1.0;
  return s[static_cast<std::size_t>(std::clamp(idx, 0.0, hi))];
}

int32_t NearestBin(float pos) { return static_cast<int32_t>(std::nearbyint(pos)); }

}  // namespace

TAfcProcessor::TAfcProcessor(int32_t binM, int32_t binS) : BinM(binM), BinS(binS) {
  if (binM < 0 || binM > kMaxBin || binS < 0 || binS > kMaxBin) throw ERangeError();
  AfcM = static_cast<float>(binM);
  AfcS = static_cast<float>(binS);
}

void TAfcProcessor::ShiftBins(int32_t n) {
  BinM += n;
  BinS += n;
  AfcM += static_cast<float>(n);
  AfcS += static_cast<float>(n);
}

void TAfcProcessor::SetUsb(bool value) {
  if (IsUsb() == value) return;
  std::swap(BinM, BinS);
  std::swap(AfcM, AfcS);
}

BRENVO_AVX2_CLONES void TAfcProcessor::Process(std::span<const float> s) {
  if (!Enabled) return;
  const int32_t hi = static_cast<int32_t>(s.size()) - 1;
  if (hi < 2 * kEdge) throw ERangeError();
  // Bins set from outside (creation, ShiftBins, a shorter spectrum) are
  // brought inside first, so that the seven-bin sums never leave the spectrum.
  BinS = std::clamp(BinS, kEdge, hi - kEdge);
  BinM = std::clamp(BinM, kEdge, hi - kEdge);

  const float dM = CentroidOffset(s, BinM);
  const float dS = CentroidOffset(s, BinS);
  if (!std::isfinite(dM) || !std::isfinite(dS) || !std::isfinite(AfcM) || !std::isfinite(AfcS)) return;
  const float lM = LevelAt(s, AfcM + dM);
  const float lS = LevelAt(s, AfcS + dS);
  if (!std::isfinite(lM) || !std::isfinite(lS)) return;
  if (lM < kMinLevel && lS < kMinLevel) return;

  // The stronger tone (mark on equal levels: space) moves, the weaker one
  // follows and is held 13 to 16 bins away on its side: below the mark in
  // upper sideband. Worked out without a branch on which tone is stronger,
  // which changes with the keying.
  const bool markStronger = lM > lS;
  const float d = markStronger ? dM : dS;
  float strong = markStronger ? AfcM : AfcS, weak = markStronger ? AfcS : AfcM;
  strong += kRate * d;
  weak += kDragShare * kRate * d;
  const bool weakBelow = markStronger == IsUsb();
  const float minShift = static_cast<float>(kMinShift), maxShift = static_cast<float>(kMaxShift);
  const float lowest = weakBelow ? strong - maxShift : strong + minShift;
  const float highest = weakBelow ? strong - minShift : strong + maxShift;
  weak = std::min(std::max(weak, lowest), highest);
  AfcM = markStronger ? strong : weak;
  AfcS = markStronger ? weak : strong;

  // The tracked positions stay in the bin range too: a strong tone beyond
  // the edge would otherwise run them away for good.
  const float lo = static_cast<float>(kEdge), top = static_cast<float>(hi - kEdge);
  AfcM = std::clamp(AfcM, lo, top);
  AfcS = std::clamp(AfcS, lo, top);

  if (std::fabs(static_cast<float>(BinM) - AfcM) > kHysteresis) BinM = NearestBin(AfcM);
  if (std::fabs(static_cast<float>(BinS) - AfcS) > kHysteresis) BinS = NearestBin(AfcS);
  BinS = std::clamp(BinS, kEdge, hi - kEdge);
  BinM = std::clamp(BinM, kEdge, hi - kEdge);
}

}  // namespace brenvo
