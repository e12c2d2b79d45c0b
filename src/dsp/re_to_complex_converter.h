// Turns real audio at 6000 Hz into complex samples at 3000 Hz covering the
// audio band 0 .. 3000 Hz.
//
// An audio tone of amplitude A at f Hz (200 <= f <= 2800) comes out as a
// complex exponential of amplitude A/2 at f - 1500 Hz: positive complex
// frequencies are audio frequencies above 1500 Hz. The output is delayed by 76
// samples of the input rate: output j of a block stands for input 2j - 75 of
// that block (counted from its first sample; negative values reach into the
// previous block).
#pragma once

#include <cstdint>

#include "dsp/fast_down_mixer.h"
#include "dsp/octave_resampler.h"
#include "dsp/types.h"

namespace brenvo {

class TReToComplexConverter {
 public:
  // BigBlockSize: input samples per call, even and 2 .. 2^24 (ERangeError
  // otherwise). The program uses 128.
  explicit TReToComplexConverter(int32_t BigBlockSize);

  int32_t BigBlockSize() const { return FBigBlockSize; }

  // Real must hold exactly BigBlockSize samples (any scale; the program's is
  // that of a 32-bit integer), else "Assertion failure" with nothing changed.
  // IQ receives BigBlockSize / 2 complex samples. Samples that are not finite
  // count as 0, so one bad sample cannot poison the filters for good.
  // Consecutive calls form one continuous stream. Allocates nothing once IQ
  // has had its size.
  void Convert(const TSingleArray& Real, TComplexArray& IQ);

  // Back to the just-built state: silent histories, oscillator at entry 0.
  void Reset();

  const TFastDownMixer& Mixer() const { return Mix; }

 private:
  int32_t FBigBlockSize;
  TFastDownMixer Mix;
  TOctaveResampler ResR;
  TOctaveResampler ResI;
  // Per-call work arrays, sized once.
  TSingleArray Clean;
  TReImArrays S;
  TReImArrays O;
};

}  // namespace brenvo
