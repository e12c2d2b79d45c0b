#include "dsp/dsp_engine.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "dsp/cpu_features.h"
#include "dsp/errors.h"
#include "dsp/fft.h"
#include "dsp/percentile.h"
#include "dsp/spectrum_kernels.h"

namespace brenvo {
namespace {

// Window design: H[k] = (pi x / 2) / sin(pi x / 2), tapered by a raised cosine
// of roll-off kBeta, x being the bin frequency in units of kDesignWidth Hz.
constexpr double kDesignWidth = 22.725;
constexpr double kBeta = 1.0;

// At most 55 dB between the largest bin and the noise reading. The median
// stands for the noise only while the noise fills most bins; the keying
// splatter of a signal far above the noise fills more than half of them, the
// median then follows the keying and a steady tone would read as keyed
// amplitude. Real noise keeps the largest bin well below this bound.
constexpr float kMaxRange = 316227.766f;  // 10^5.5

constexpr int kPeakGateAge = 70;  // peaks are updated from the 71st spectrum
constexpr int kPeaksEvery = 16;

// acc[i] = sum over the four segments s of ring[s f + i] w[s f + i], added in
// segment order; the imaginary sums are stored negated (see ComputeSpectrum).
// The sums start from the first product, not from 0 + it: that changes at
// most the sign of a zero, which neither the transform's sums and products
// nor the powers after it can turn into another value.
BRENVO_AVX2_CLONES void FoldSegments(const float* __restrict ringRe, const float* __restrict ringIm,
                                     const float* __restrict win, int f, float* __restrict accRe,
                                     float* __restrict accIm) {
  // Indices rather than twelve pointers, so that the loop keeps them all in
  // registers.
  for (int i = 0; i < f; ++i) {
    const int j1 = i + f, j2 = i + 2 * f, j3 = i + 3 * f;
    float re = ringRe[i] * win[i];
    re += ringRe[j1] * win[j1];
    re += ringRe[j2] * win[j2];
    re += ringRe[j3] * win[j3];
    float im = ringIm[i] * win[i];
    im += ringIm[j1] * win[j1];
    im += ringIm[j2] * win[j2];
    im += ringIm[j3] * win[j3];
    accRe[i] = re;
    accIm[i] = -im;
  }
}

// re[i], im[i] := the parts of data[i], or both 0 where either is not a
// finite number (x - x is 0 only for one), without a branch.
BRENVO_AVX2_CLONES void SplitIntoRing(const TComplex* __restrict data, int n, float* __restrict re,
                                      float* __restrict im) {
  for (int i = 0; i < n; ++i) {
    const float r = data[i].Re, m = data[i].Im;
    const bool ok = (r - r == 0.0f) & (m - m == 0.0f);
    re[i] = ok ? r : 0.0f;
    im[i] = ok ? m : 0.0f;
  }
}

}  // namespace

TDspEngine::TDspEngine(int InputLength, float ExactRate) : FInputLength(InputLength), FExactRate(ExactRate) {
  if (InputLength < 1 || InputLength > 512 || (InputLength & (InputLength - 1)) != 0)
    throw EBrenvoError("InputLength must be a power of two from 1 to 512, not " + std::to_string(InputLength));
  if (!std::isfinite(ExactRate) || !(ExactRate > 0.0f)) throw EBrenvoError("ExactRate must be a number above 0 Hz");
  FFftSize = 32 * InputLength;
  FRingLength = 4 * FFftSize;
  BuildWindow();
  FFftRe.resize(FFftSize);
  FFftIm.resize(FFftSize);
  // X[k] belongs to bin (k + FftSize/2) mod FftSize: zero frequency to bin FftSize/2.
  std::vector<int32_t> binOfX(FFftSize);
  for (int k = 0; k < FFftSize; ++k) binOfX[k] = (k + FFftSize / 2) % FFftSize;
  FPowers.emplace(FFftSize, binOfX);
  FMdnBuf.resize(FFftSize);
  FRingRe.resize(FRingLength);
  FRingIm.resize(FRingLength);
  FFastPwr.resize(FFftSize);
  FFast = FFastPwr;
  FSlowPwr.resize(FFftSize);
  FPeakData.resize(FFftSize);
  FPeaks.resize(FFftSize);
}

void TDspEngine::Reset() {
  std::fill(FFftRe.begin(), FFftRe.end(), 0.0f);
  std::fill(FFftIm.begin(), FFftIm.end(), 0.0f);
  std::fill(FRingRe.begin(), FRingRe.end(), 0.0f);
  std::fill(FRingIm.begin(), FRingIm.end(), 0.0f);
  std::fill(FMdnBuf.begin(), FMdnBuf.end(), 0.0f);
  std::fill(FFastPwr.begin(), FFastPwr.end(), 0.0f);
  FFast = FFastPwr;
  std::fill(FSlowPwr.begin(), FSlowPwr.end(), 0.0f);
  std::fill(FPeakData.begin(), FPeakData.end(), 0.0f);
  std::fill(FPeaks.begin(), FPeaks.end(), 0);
  FRingPos = 0;
  FAge = 0;
  FPeaksAvailable = false;
  FMdn = 0.0f;
}

// The window is designed in the frequency domain: H[k] for the bin frequency
// k x R / N, transformed to taps and normalised to sum 1. A bin's power
// response to a tone k x R / N away from its centre is then exactly H[k]^2.
void TDspEngine::BuildWindow() {
  const int n = FRingLength;
  TComplexArray h(n);
  h[0] = ComplexFromReal(1.0f);
  for (int k = 1; k < n / 2; ++k) {
    const double x = k * static_cast<double>(FExactRate) / n / kDesignWidth;
    if (x > 1.0 + kBeta) break;
    // H holds singles: the response is stored, then the taper (itself a
    // single) scales the stored value, each step rounded as it is stored.
    const double a = std::numbers::pi * x / 2.0;
    h[k] = ComplexFromReal(static_cast<float>(a / std::sin(a)));
    if (x > 1.0 - kBeta)
      h[k] = ComplexScale(h[k], static_cast<float>(0.5 * (1.0 - std::sin((x - 1.0) * std::numbers::pi / (2.0 * kBeta)))));
    h[n - k] = h[k];
  }
  FftComplexArray(h);  // h is real: H is symmetric
  double s = 0.0;
  for (const TComplex& c : h) s += c.Re;
  BRENVO_ASSERT(s > 0.0);
  FWindowFunc.resize(2 * static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const float w = static_cast<float>(h[(n / 2 + i) % n].Re / s);
    FWindowFunc[i] = w;
    FWindowFunc[n + i] = w;
  }
}

void TDspEngine::ProcessIqBlock(std::span<const TComplex> Data) { ProcessIqBlock(Data, FFastPwr); }

void TDspEngine::ProcessIqBlock(std::span<const TComplex> Data, std::span<float> Into) {
  if (Data.size() != static_cast<std::size_t>(FInputLength))
    throw EBrenvoError("ProcessIqBlock needs " + std::to_string(FInputLength) + " samples, got " +
                       std::to_string(Data.size()));
  if (Into.size() != static_cast<std::size_t>(FFftSize))
    throw EBrenvoError("ProcessIqBlock needs room for " + std::to_string(FFftSize) + " values");
  FFast = Into;
  ComputeSpectrum(Data);
  ComputeMedian();
  const float f = FScalingEnabled ? ScaleFactor(LargestValue(FFast)) : 1.0f;
  if (FAge >= kPeakGateAge) {
    // Scaling and the peak steps in one pass; a factor of 1 changes nothing.
    ScaleAndUpdatePeaks(FFast, f, FSlowPwr, FPeakData, FPeaks);
  } else if (f != 1.0f) {
    for (float& v : FFast) v *= f;
  }
  ++FAge;
  FPeaksAvailable = FAge % kPeaksEvery == 0;
}

void TDspEngine::ComputeSpectrum(std::span<const TComplex> Data) {
  // Into the ring; RingLength is a multiple of InputLength, so a block never wraps.
  SplitIntoRing(Data.data(), FInputLength, FRingRe.data() + FRingPos, FRingIm.data() + FRingPos);
  FRingPos += FInputLength;
  if (FRingPos == FRingLength) FRingPos = 0;

  // Fold: after the advance RingPos holds the oldest sample, so ring index r is
  // the ((r - RingPos) mod RingLength)-th oldest and takes that window tap; the
  // doubled window lets each segment read its taps without wrapping. The
  // rotation by RingPos within the fold only turns the phases of the
  // transform's outputs, not their powers.
  //
  // The analysis transform has the negative exponent: sum x e^(-j..) =
  // conj(sum conj(x) e^(+j..)), so the imaginary parts go in negated and the
  // conjugate on the way out does not change the powers.
  const float* win = FWindowFunc.data() + (FRingLength - FRingPos);
  FoldSegments(FRingRe.data(), FRingIm.data(), win, FFftSize, FFftRe.data(), FFftIm.data());

  // The transform delivers its powers straight into their bins.
  FPowers->Run(FFftRe, FFftIm, FFast);
}

void TDspEngine::ComputeMedian() {
  // The value of rank c among the central 2c bins (with FftSize up to 2048 the
  // whole spectrum): the upper middle value. Successive spectra share all but
  // InputLength of their samples, so the previous median is a close guess;
  // the result is the same value for any guess, only found faster.
  const int h = FFftSize / 2;
  const int c = std::min(h, 1024);
  FMdn = RankValueNear(std::span<const float>(FFast).subspan(h - c, 2 * c), c, FMdn, FMdnBuf);
}

void TDspEngine::ScaleByMedian(std::span<float> Spectrum) const {
  if (Spectrum.size() != static_cast<std::size_t>(FFftSize))
    throw EBrenvoError("ScaleByMedian needs " + std::to_string(FFftSize) + " values");
  const float f = ScaleFactor(LargestValue(Spectrum));
  if (f == 1.0f) return;
  for (float& v : Spectrum) v *= f;
}

float TDspEngine::ScaleFactor(float largest) const {
  const float bound = largest / kMaxRange;
  const float noise = std::isfinite(bound) && bound > FMdn ? bound : FMdn;
  if (!(noise > 0.0f)) return 1.0f;
  // A noise reading so small that its reciprocal overflows, or an infinite
  // one, would turn the spectrum into infinities or NaNs: leave it unscaled.
  const float f = 1.0f / noise;
  if (!std::isfinite(f) || !(f > 0.0f)) return 1.0f;
  return f;
}

void TDspEngine::ComputePeaks() {
  UpdateSlowPwr(FFast, FSlowPwr);
  UpdatePeakData(FSlowPwr, FPeakData);
  FindPeaks(FPeakData, FPeaks);
}

}  // namespace brenvo
