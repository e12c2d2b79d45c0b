// The per-bin steps of the spectrum engine's slow spectrum, peak contrast and
// peak map (see TDspEngine). Free functions so that each rule can be checked
// on hand-made values.
#pragma once

#include <cstdint>
#include <span>

namespace brenvo {

// Slow[b] := 0.95 Slow[b] + Fast[b] for every bin. The sum is held below 1e30
// (and a NaN becomes 1e30) so that an overflowing spectrum cannot leave an
// infinity that would never decay. Sizes must be equal (EBrenvoError).
void UpdateSlowPwr(std::span<const float> Fast, std::span<float> Slow);

// PeakData[j] := 0.98 PeakData[j] + Slow[j] / (Slow[j - 4] + Slow[j + 4]) for
// j = 4 .. n - 5; other cells are left alone. A ratio whose denominator is not
// above 0 (digital silence) counts as 0, and a ratio is held below 1e30, so
// the sums stay finite and detection resumes when a signal returns.
// Sizes must be equal and at least 16 (EBrenvoError).
void UpdatePeakData(std::span<const float> Slow, std::span<float> PeakData);

// Peaks[k] := -1 (FFFFFFFF, an unclaimed peak) when PeakData[k] > 70 and both
// neighbours are strictly smaller, else 0, for k = 5 .. n - 5. All comparisons
// are strict: a flat top is no peak and a value that is not a number never is.
// Other cells are left alone. Sizes must be equal and at least 16 (EBrenvoError).
void FindPeaks(std::span<const float> PeakData, std::span<int32_t> Peaks);

// The largest value of Values, NaNs passed over (-infinity when there is no
// other value).
float LargestValue(std::span<const float> Values);

// The spectrum engine's steps after the median, in one pass: Fast[b] *= Factor
// for every bin, then UpdateSlowPwr, UpdatePeakData and FindPeaks as above,
// with the same arithmetic and the same results bit for bit (Factor 1 leaves
// Fast as it is). The four spans must have equal sizes, a multiple of 4 and
// at least 16 (EBrenvoError).
void ScaleAndUpdatePeaks(std::span<float> Fast, float Factor, std::span<float> Slow, std::span<float> PeakData,
                         std::span<int32_t> Peaks);

}  // namespace brenvo
