#include "dsp/spectrum_kernels.h"

#include <cstring>
#include <limits>
#include <string>

#include "dsp/cpu_features.h"
#include "dsp/errors.h"
#include "dsp/lane_math.h"

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

// Eight bins at a time, read and written at any offset (the contrast reads
// the bins four away on either side); the few bins left over one at a time
// through the same expressions, which give the same bits in a lane as alone.
// The helpers are always inlined: an eight-lane value never crosses a call,
// so the ABI note about such values does not apply (GCC gives it at the end
// of the file, hence no pop).
#pragma GCC diagnostic ignored "-Wpsabi"
using V8 = TLanes<8>::F;
using V8i = TLanes<8>::I;

[[gnu::always_inline]] inline V8 Load8(const float* p) { return LaneLoad<V8>(p); }
// x in every lane of a value of T's type.
[[gnu::always_inline]] inline float SplatAs(float, float x) { return x; }
[[gnu::always_inline]] inline V8 SplatAs(V8, float x) { return V8{x, x, x, x, x, x, x, x}; }

// The steps' expressions for one bin (T = float) or eight (T = V8).
template <class T>
[[gnu::always_inline]] inline T CeilT(T x, float limit) {
  const T l = SplatAs(x, limit);
  return x < l ? x : l;
}
template <class T>
[[gnu::always_inline]] inline T SlowStep(T slow, T fast) {
  return CeilT<T>(kSlowDecay * slow + fast, kMaxSlowPwr);
}
template <class T>
[[gnu::always_inline]] inline T PeakStep(T peak, T below, T at, T above) {
  // Divide unconditionally and select afterwards, so the loop has no
  // branches; the 0/0 of silence is discarded by the select.
  const T den = below + above;
  const T q = CeilT<T>(at / den, kMaxContrast);
  const T zero = SplatAs(q, 0.0f);
  return kPeakDecay * peak + (den > zero ? q : zero);
}

inline int32_t PeakCell(const float* peak, std::size_t k) {
  const float p = peak[k];
  const bool isPeak = (p > kPeakThreshold) & (peak[k - 1] < p) & (peak[k + 1] < p);  // no branches
  return -static_cast<int32_t>(isPeak);
}

// FindPeaks, eight cells at a time; the cells past the last eight as the
// eight that end at the last cell, some of them once more (the same values).
BRENVO_AVX2_CLONES void PeakPass(const float* peak, int32_t* peaks, std::size_t n) {
  const std::size_t first = kContrastDistance + 1, last = n - 5;
  const auto eight = [&](std::size_t k) {
    const V8 p = Load8(peak + k);
    const V8i isPeak = (p > SplatAs(p, kPeakThreshold)) & (Load8(peak + k - 1) < p) & (Load8(peak + k + 1) < p);
    LaneStore(peaks + k, isPeak);
  };
  std::size_t k = first;
  for (; k + 8 <= last + 1; k += 8) eight(k);
  if (k <= last && last + 1 >= first + 8) {
    eight(last - 7);
    return;
  }
  for (; k <= last; ++k) peaks[k] = PeakCell(peak, k);
}

// Fast *= factor, the slow sums, then the contrasts (which read the new sums
// four bins away), then the peak test (which reads the new contrasts).
BRENVO_AVX2_CLONES void ScaleAndUpdatePasses(float* fast, float factor, float* slow, float* peak, int32_t* peaks,
                                             std::size_t n) {
  std::size_t b = 0;
  for (; b + 8 <= n; b += 8) {
    const V8 f = Load8(fast + b) * factor;
    LaneStore(fast + b, f);
    LaneStore(slow + b, SlowStep(Load8(slow + b), f));
  }
  for (; b < n; ++b) {
    fast[b] *= factor;
    slow[b] = SlowStep(slow[b], fast[b]);
  }
  const std::size_t end = n - kContrastDistance;
  std::size_t j = kContrastDistance;
  for (; j + 8 <= end; j += 8)
    LaneStore(peak + j, PeakStep(Load8(peak + j), Load8(slow + j - kContrastDistance), Load8(slow + j),
                             Load8(slow + j + kContrastDistance)));
  for (; j < end; ++j)
    peak[j] = PeakStep(peak[j], slow[j - kContrastDistance], slow[j], slow[j + kContrastDistance]);
  PeakPass(peak, peaks, n);
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
  const std::size_t n = PeakData.size();
  for (std::size_t k = kContrastDistance + 1; k <= n - 5; ++k) Peaks[k] = PeakCell(PeakData.data(), k);
}

BRENVO_AVX2_CLONES float LargestValue(std::span<const float> Values) {
  // v > m is false for a NaN, which is so passed over.
  constexpr float kNone = -std::numeric_limits<float>::infinity();
  const float* v = Values.data();
  const std::size_t n = Values.size();
  V8 m0 = {kNone, kNone, kNone, kNone, kNone, kNone, kNone, kNone}, m1 = m0;
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const V8 a = Load8(v + i), b = Load8(v + i + 8);
    m0 = a > m0 ? a : m0;
    m1 = b > m1 ? b : m1;
  }
  m0 = m1 > m0 ? m1 : m0;
  float m = kNone;
  for (int k = 0; k < 8; ++k) m = m0[k] > m ? m0[k] : m;
  for (; i < n; ++i) m = v[i] > m ? v[i] : m;
  return m;
}

void ScaleAndUpdatePeaks(std::span<float> Fast, float Factor, std::span<float> Slow, std::span<float> PeakData,
                         std::span<int32_t> Peaks) {
  CheckSizes(Fast.size(), Slow.size(), 16, "ScaleAndUpdatePeaks");
  CheckSizes(Fast.size(), PeakData.size(), 16, "ScaleAndUpdatePeaks");
  CheckSizes(Fast.size(), Peaks.size(), 16, "ScaleAndUpdatePeaks");
  if (Fast.size() % 4 != 0) throw EBrenvoError("ScaleAndUpdatePeaks: size must be a multiple of 4");
  ScaleAndUpdatePasses(Fast.data(), Factor, Slow.data(), PeakData.data(), Peaks.data(), Fast.size());
}

}  // namespace brenvo
