// Table-driven complex oscillator that shifts a signal down in frequency.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dsp/types.h"

namespace brenvo {

class TFastDownMixer {
 public:
  // A table of 2048 entries of (1, 0): no shift.
  TFastDownMixer();

  // Builds a table of Count entries (Count 0: Rate rounded) holding exactly
  // k = round(Frequency / Rate * Count) periods, so the frequency actually
  // mixed is k * Rate / Count (Hz when Rate is in Hz). Entry n =
  // (cos(n * Step), -sin(n * Step)), Step = 2 pi k / Count held as a single.
  // Count 0 .. 2^24; Rate finite and above 0; Frequency finite. ERangeError
  // otherwise, leaving the mixer as it was. Then Reset.
  void SetParams(int32_t Count, double Frequency, double Rate);
  // Next sample uses entry 0.
  void Reset() { CurrT = 0; }

  double Frequency() const { return FFrequency; }
  // Index of the table entry for the next sample, 0 .. HighT.
  int32_t CurrentIndex() const { return CurrT; }
  int32_t HighIndex() const { return HighT; }
  const TComplexArray& Table() const { return Osc; }

  // Result[i] = Data[i] * Osc[CurrT], advancing CurrT (wrapping) after every
  // sample, so the phase runs on from call to call. Result gets the input's
  // length.
  void Mix(const TSingleArray& Data, TComplexArray& Result);
  void Mix(const TComplexArray& Data, TComplexArray& Result);
  // Complex product on a signal split in two arrays (Im at least as long as Re).
  void Mix(const TSingleArray& Re, const TSingleArray& Im, TReImArrays& Result);
  // Real input straight into split output: re[i], im[i] for data[i], i < n.
  void MixReal(const float* data, std::size_t n, float* re, float* im);

 private:
  int32_t CurrT = 0;
  int32_t HighT = 0;
  TComplexArray Osc;
  double FFrequency = 0.0;
};

}  // namespace brenvo
