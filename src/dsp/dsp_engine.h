// Spectrum engine: turns the 3000 Hz complex stream of the real-to-complex
// converter into median-normalised power spectra (no bin more than 55 dB above
// the noise reading), a slowly averaged spectrum, a per-bin peak contrast and
// a peak map in which the channel list finds new RTTY tones.
//
// Each ProcessIqBlock call takes InputLength new complex samples (8) and
// produces one spectrum of FftSize = 32 x InputLength bins (256) over the last
// RingLength = 4 x FftSize samples (1024): a polyphase filter bank in which a
// designed RingLength-tap window is folded into FftSize points and transformed
// by one FFT. With Create(8, 3000) that is 375 spectra per second, bins
// 3000 / 256 = 11.71875 Hz apart.
//
// Bin b of FastPwr, SlowPwr, PeakData and Peaks stands for the complex baseband
// frequency (b - FftSize/2) x ExactRate / FftSize Hz: zero frequency at bin
// FftSize/2, positive frequencies above it (with the converter's shift by
// -1500 Hz, bin b is the audio frequency b x 3000 / 256 Hz).
//
// Peak map cells: 0 no peak, -1 (FFFFFFFF) a peak no channel has claimed; the
// channel list writes 1 into a cell it claims. The map is recomputed with every
// spectrum from the 71st on and offered (PeaksAvailable) with every 16th; the
// first offered map that can hold a peak comes with the 80th spectrum.
//
// Plain object, no threads; all buffers are allocated in the constructor and
// nothing is allocated per call.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "dsp/fft.h"
#include "dsp/types.h"

namespace brenvo {

class TDspEngine {
 public:
  // InputLength: complex samples per call, a power of two from 1 to 512
  //   (FftSize 32 .. 16384, RingLength 128 .. 65536); the system uses 8.
  // ExactRate: complex sample rate in Hz, finite and above 0; the system uses
  //   3000. Only the window design and readers converting bins to Hz use it.
  // Raises EBrenvoError on other values.
  TDspEngine(int InputLength, float ExactRate);
  TDspEngine(const TDspEngine&) = delete;
  TDspEngine& operator=(const TDspEngine&) = delete;

  // Back to the just-built state: ring, spectra, averages, peak map and counters
  // cleared (the window and ScalingEnabled are kept).
  void Reset();

  // Consumes exactly InputLength samples, oldest first, and leaves the results
  // in FastPwr, Mdn, Age, PeaksAvailable and, from the 71st call on, SlowPwr,
  // PeakData and Peaks. Any other count raises EBrenvoError with nothing
  // changed. A sample with a part that is not a finite number enters the ring
  // as 0, so that a burst of bad samples reads as a short silence instead of
  // poisoning the averages for the rest of the run.
  void ProcessIqBlock(std::span<const TComplex> Data);
  // The same, with the spectrum made in Into (FftSize values, else
  // EBrenvoError with nothing changed), which FastPwr then shows until the
  // next call or Reset: for a caller that keeps every spectrum, so that none
  // is copied. Into must stay valid while FastPwr shows it.
  void ProcessIqBlock(std::span<const TComplex> Data, std::span<float> Into);

  // Public steps of ProcessIqBlock. ScaleByMedian multiplies Spectrum
  // (FftSize values, unscaled, else EBrenvoError) by 1 / max(Mdn, its largest
  // value / 10^5.5) when that is a finite number above 0: the noise reads
  // about 1.0, and no bin more than 55 dB above it. Otherwise (all zeros, a
  // median that is not a number, a reciprocal that overflows) the spectrum
  // stays as it is. ComputePeaks runs the slow spectrum, peak contrast and
  // peak map update on the current FastPwr.
  void ScaleByMedian(std::span<float> Spectrum) const;
  void ComputePeaks();

  int InputLength() const { return FInputLength; }
  int FftSize() const { return FFftSize; }
  int RingLength() const { return FRingLength; }
  float ExactRate() const { return FExactRate; }
  // Position in the ring of the next input block, also of the oldest sample.
  int RingPos() const { return FRingPos; }
  // Spectra produced since creation or Reset.
  int64_t Age() const { return FAge; }
  // True after every 16th spectrum: Peaks is then offered to the channel list.
  bool PeaksAvailable() const { return FPeaksAvailable; }
  // Median of the latest spectrum before scaling (the value of rank FftSize/2).
  float Mdn() const { return FMdn; }
  // Divide each spectrum by its noise reading (see ScaleByMedian); on from
  // creation.
  bool ScalingEnabled() const { return FScalingEnabled; }
  void SetScalingEnabled(bool Value) { FScalingEnabled = Value; }

  // The latest spectrum (power, divided by its noise reading when scaling),
  // FftSize values.
  std::span<const float> FastPwr() const { return FFast; }
  // SlowPwr[b] := 0.95 SlowPwr[b] + FastPwr[b] per spectrum from the 71st on.
  std::span<const float> SlowPwr() const { return FSlowPwr; }
  // Exponentially summed peak contrast per bin (bins 4 .. FftSize - 5).
  std::span<const float> PeakData() const { return FPeakData; }
  // The peak map, FftSize cells; writable so that the channel list can mark
  // claimed peaks (the next update from the 71st spectrum on rewrites cells
  // 5 .. FftSize - 5; cells 0 .. 4 and FftSize - 4 .. FftSize - 1 stay 0).
  std::span<int32_t> Peaks() { return FPeaks; }
  std::span<const int32_t> Peaks() const { return FPeaks; }
  // The analysis window w[0 .. RingLength - 1] stored twice in a row; w is
  // centred on RingLength/2 and its taps sum to 1. w[m] weighs the m-th oldest
  // sample of the ring.
  std::span<const float> WindowFunc() const { return FWindowFunc; }

 private:
  void BuildWindow();
  void ComputeSpectrum(std::span<const TComplex> Data);
  void ComputeMedian();
  // 1 / max(Mdn, largest / 10^5.5) when that is a finite number above 0,
  // else 1 (no scaling); a bound that is not finite is left out.
  float ScaleFactor(float largest) const;

  int FInputLength;
  float FExactRate;
  int FFftSize;
  int FRingLength;

  // The ring and the folded block are kept as separate real and imaginary
  // arrays, the form the FFT kernel works in, so that no pass has to
  // interleave or split complex values.
  TAlignedSingleArray FFftRe;
  TAlignedSingleArray FFftIm;
  std::optional<TFftPowers> FPowers;  // the transform, powers into bins
  TAlignedSingleArray FWindowFunc;
  TAlignedSingleArray FMdnBuf;
  TAlignedSingleArray FRingRe;
  TAlignedSingleArray FRingIm;
  TAlignedSingleArray FFastPwr;
  std::span<float> FFast;  // the latest spectrum: FFastPwr, or a caller's Into
  TAlignedSingleArray FSlowPwr;
  TAlignedSingleArray FPeakData;
  TAlignedIntArray FPeaks;

  int FRingPos = 0;
  int64_t FAge = 0;
  bool FPeaksAvailable = false;
  float FMdn = 0.0f;
  bool FScalingEnabled = true;
};

}  // namespace brenvo
