#include "dsp/spectrum_kernels.h"

#include <cstring>
#include <limits>
#include <string>

#include "dsp/cpu_features.h"
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

BRENVO_AVX2_CLONES void FindPeaks(std::span<const float> PeakData, std::span<int32_t> Peaks) {
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

float LargestValue(std::span<const float> Values) {
  // Vectors of four lanes; v > m is false for a NaN, which is so passed over.
  using V4 = float __attribute__((vector_size(16)));
  constexpr float kNone = -std::numeric_limits<float>::infinity();
  const float* v = Values.data();
  const std::size_t n = Values.size();
  V4 m0 = {kNone, kNone, kNone, kNone}, m1 = m0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    V4 a, b;
    std::memcpy(&a, v + i, sizeof a);
    std::memcpy(&b, v + i + 4, sizeof b);
    m0 = a > m0 ? a : m0;
    m1 = b > m1 ? b : m1;
  }
  m0 = m1 > m0 ? m1 : m0;
  float m = kNone;
  for (int k = 0; k < 4; ++k) m = m0[k] > m ? m0[k] : m;
  for (; i < n; ++i) m = v[i] > m ? v[i] : m;
  return m;
}

BRENVO_AVX2_CLONES void ScaleAndUpdatePeaks(std::span<float> Fast, float Factor, std::span<float> Slow,
                                            std::span<float> PeakData, std::span<int32_t> Peaks) {
  CheckSizes(Fast.size(), Slow.size(), 16, "ScaleAndUpdatePeaks");
  CheckSizes(Fast.size(), PeakData.size(), 16, "ScaleAndUpdatePeaks");
  CheckSizes(Fast.size(), Peaks.size(), 16, "ScaleAndUpdatePeaks");
  if (Fast.size() % 4 != 0) throw EBrenvoError("ScaleAndUpdatePeaks: size must be a multiple of 4");
  static_assert(kContrastDistance == 4, "one vector of four bins between a bin and its neighbours");

  // Vectors of four bins; block v holds bins 4v .. 4v + 3, so the bins four
  // away are the neighbouring blocks. Block v is scaled and summed into Slow;
  // then block v - 1, whose neighbours' sums are now new, gets its contrast
  // (blocks 1 .. nb - 2, bins 4 .. n - 5). The peak test follows over the
  // finished contrasts.
  using V4 = float __attribute__((vector_size(16)));
  auto load = [](const float* p) {
    V4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
  };
  auto ceil = [](V4 x, float limit) {
    const V4 l = {limit, limit, limit, limit};
    return x < l ? x : l;  // a NaN goes to the limit too
  };
  const V4 factor = {Factor, Factor, Factor, Factor};
  const V4 slowDecay = {kSlowDecay, kSlowDecay, kSlowDecay, kSlowDecay};
  const V4 peakDecay = {kPeakDecay, kPeakDecay, kPeakDecay, kPeakDecay};
  const V4 zero = {};
  float* fast = Fast.data();
  float* slow = Slow.data();
  float* peak = PeakData.data();
  const int nb = static_cast<int>(Fast.size() / 4);

  V4 s0 = {}, s1 = {};  // Slow blocks v - 2, v - 1 (new)
  for (int v = 0; v < nb; ++v) {
    const V4 f = load(fast + 4 * v) * factor;
    std::memcpy(fast + 4 * v, &f, sizeof f);
    const V4 s2 = ceil(slowDecay * load(slow + 4 * v) + f, kMaxSlowPwr);
    std::memcpy(slow + 4 * v, &s2, sizeof s2);
    if (v >= 2) {
      const V4 den = s0 + s2;
      const V4 q = ceil(s1 / den, kMaxContrast);
      const V4 p = peakDecay * load(peak + 4 * (v - 1)) + (den > zero ? q : zero);
      std::memcpy(peak + 4 * (v - 1), &p, sizeof p);
    }
    s0 = s1;
    s1 = s2;
  }
  FindPeaks(PeakData, Peaks);
}

}  // namespace brenvo
