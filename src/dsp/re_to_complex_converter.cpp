#include "dsp/re_to_complex_converter.h"

#include <cmath>
#include <string>

#include "dsp/errors.h"

namespace brenvo {

namespace {
int32_t CheckedBlockSize(int32_t n) {
  if (n < 2 || n > (1 << 24) || n % 2 != 0)
    throw ERangeError("Converter block size must be even and 2 to 16777216, got " +
                      std::to_string(n));
  return n;
}
}  // namespace

TReToComplexConverter::TReToComplexConverter(int32_t BigBlockSize)
    : FBigBlockSize(CheckedBlockSize(BigBlockSize)), ResR(rf02x, BigBlockSize),
      ResI(rf02x, BigBlockSize) {
  // 1024 periods in 4096 entries: a quarter of the input rate (1500 Hz at 6000 Hz).
  Mix.SetParams(4096, 1024, 4096);
  Clean.resize(static_cast<std::size_t>(FBigBlockSize));
  SetReImLength(S, FBigBlockSize);
  SetReImLength(O, FBigBlockSize / ResR.IntegerFactor());
}

void TReToComplexConverter::Convert(const TSingleArray& Real, TComplexArray& IQ) {
  // Checked before the oscillator moves, so that a rejected block leaves the
  // stream exactly as it was.
  BRENVO_ASSERT(Real.size() == static_cast<std::size_t>(FBigBlockSize));
  for (std::size_t i = 0; i < Real.size(); ++i) {
    const float v = Real[i];
    Clean[i] = std::isfinite(v) ? v : 0.0f;
  }
  Mix.MixReal(Clean.data(), Clean.size(), S.Re.data(), S.Im.data());
  ResR.Decimate(S.Re, O.Re);
  ResI.Decimate(S.Im, O.Im);
  IQ.resize(O.Re.size());
  for (std::size_t i = 0; i < O.Re.size(); ++i) IQ[i] = {O.Re[i], O.Im[i]};
}

void TReToComplexConverter::Reset() {
  Mix.Reset();
  ResR.Reset();
  ResI.Reset();
}

}  // namespace brenvo
