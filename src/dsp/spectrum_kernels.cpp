#include "dsp/spectrum_kernels.h"

#include <string>

#include "dsp/errors.h"

namespace brenvo {
namespace {

// Single-precision constants as the sums use them.
constexpr float kSlowDecay = 0.95f;      // 3F733333
constexpr float kPeakDecay = 0.98f;      // 3F7AE148
constexpr float kPeakThreshold = 70.0f;  // 428C0000: a steady contrast of 1.4
constexpr int kContrastDistance = 4;     // bins to each side compared against

// Ceilings far above anything a scaled or unscaled spectrum of real audio
// reaches.
constexpr float kMaxSlowPwr = 1e30f;
constexpr float kMaxContrast = 1e30f;

// x < limit ? x : limit also maps a NaN to the limit.
inline float Ceil(float x, float limit) { return x < limit ? x : limit; }

void CheckSizes(std::size_t a, std::size_t b, std::size_t least, const char* what) {
  if (a != b || a < least) throw EBrenvoError(std::string(what) + ": arrays of unequal or too small size");
}

}  // namespace

void UpdateSlowPwr(std::span<const float> Fast, std::span<float> Slow) {
  CheckSizes(Fast.size(), Slow.size(), 0, "UpdateSlowPwr");
  const float* fast = Fast.data();
  float* slow = Slow.data();
  const std::size_t n = Slow.size();
  for (std::size_t b = 0; b < n; ++b) slow[b] = Ceil(kSlowDecay * slow[b] + fast[b], kMaxSlowPwr);
}

void UpdatePeakData(std::span<const float> Slow, std::span<float> PeakData) {
  CheckSizes(Slow.size(), PeakData.size(), 16, "UpdatePeakData");
  const float* slow = Slow.data();
  float* peak = PeakData.data();
  const std::size_t n = Slow.size();
  for (std::size_t j = kContrastDistance; j < n - kContrastDistance; ++j) {
    // Divide unconditionally and select afterwards, so the loop has no
    // branches and vectorises; the 0/0 of silence is discarded by the select.
    const float den = slow[j - kContrastDistance] + slow[j + kContrastDistance];
    const float q = Ceil(slow[j] / den, kMaxContrast);
    const float ratio = den > 0.0f ? q : 0.0f;
    peak[j] = kPeakDecay * peak[j] + ratio;
  }
}

void FindPeaks(std::span<const float> PeakData, std::span<int32_t> Peaks) {
  CheckSizes(PeakData.size(), Peaks.size(), 16, "FindPeaks");
  const float* peak = PeakData.data();
  int32_t* peaks = Peaks.data();
  const std::size_t n = PeakData.size();
  for (std::size_t k = kContrastDistance + 1; k <= n - 5; ++k) {
    const float p = peak[k];
    const bool isPeak = (p > kPeakThreshold) & (peak[k - 1] < p) & (peak[k + 1] < p);  // no branches
    peaks[k] = -static_cast<int32_t>(isPeak);
  }
}

}  // namespace brenvo
