// Changes the sample rate of a real signal by a power of two (2 to 64) in a
// cascade of half-band FIR stages, block by block on a continuous stream.
#pragma once

#include <array>
#include <cstdint>

#include "dsp/types.h"

namespace brenvo {

// Member i stands for the factor 2^i and for i halving stages.
enum TResamplingFactor : uint8_t { rf01x, rf02x, rf04x, rf08x, rf16x, rf32x, rf64x };

class TOctaveResampler {
 public:
  // Factor rf02x, BigBlockSize 1024, GainDb 0.
  TOctaveResampler();
  // Same as setting Factor, then BigBlockSize (validated as by the setters).
  TOctaveResampler(TResamplingFactor factor, int32_t bigBlockSize);

  TResamplingFactor Factor() const { return FFactor; }
  // rf01x .. rf64x. Throws ERangeError for any other value, or when the current
  // BigBlockSize is not a whole multiple of the new factor (nothing changes then).
  // Designs the kernels, computes Delay, then Reset.
  void SetFactor(TResamplingFactor value);

  // 2^Factor: 1 .. 64.
  int32_t IntegerFactor() const { return int32_t{1} << FFactor; }
  // Factor := log2(v) rounded to the nearest integer; v must be 1 .. 90 (log2
  // rounding to 0 .. 6), else ERangeError.
  void SetIntegerFactor(int32_t v);

  // Samples per block at the high rate: a whole multiple of IntegerFactor, at
  // least IntegerFactor (ERangeError otherwise, nothing changes). Then Reset.
  int32_t BigBlockSize() const { return FBigBlockSize; }
  void SetBigBlockSize(int32_t value);
  // Samples per block at the low rate: BigBlockSize / IntegerFactor.
  int32_t SmallBlockSize() const { return FSmallBlockSize; }

  // Overall gain in dB (finite, else ERangeError); redesigns the kernels and
  // keeps the histories.
  float GainDb() const { return FGainDb; }
  void SetGainDb(float value);
  float Gain() const { return FGain; }

  // Delay of the cascade in samples of the high rate: 0, 76, 166, 342, 692,
  // 1392, 2792 for rf01x .. rf64x. Output j of a block stands for input
  // (j + 1) * IntegerFactor - 1 - Delay of that block.
  float Delay() const { return FDelay; }

  // Zeroes every stage history.
  void Reset();

  // Input: exactly BigBlockSize samples at the high rate; Output: exactly
  // SmallBlockSize samples, filled in place with the next low-rate samples.
  // Other lengths raise "Assertion failure" before anything is filtered.
  void Decimate(const TSingleArray& Input, TSingleArray& Output);
  // The reverse cascade: Input SmallBlockSize samples, Output BigBlockSize.
  // Decimate followed by Interpolate delays a stream by 2 * Delay -
  // IntegerFactor + 1 samples of the high rate.
  // Decimate and Interpolate share the stage buffers: use one direction per
  // object (or Reset between them).
  void Interpolate(const TSingleArray& Input, TSingleArray& Output);

  // The odd-offset taps of the short kernels (centre tap 1, not stored) and of
  // the long kernels (element 0 the centre tap, 1..38 the offsets 1, 3, .. 75).
  const std::array<float, 4>& Kernel2() const { return FKernel2; }
  const std::array<float, 5>& Kernel3() const { return FKernel3; }
  const std::array<float, 7>& Kernel4() const { return FKernel4; }
  const std::array<float, 39>& Kernel5D() const { return FKernel5D; }
  const std::array<float, 39>& Kernel5I() const { return FKernel5I; }

 private:
  void DesignKernels();
  // The whole job of rf01x: a copy, scaled when a gain is set.
  void CopyWithGain(const TSingleArray& Input, TSingleArray& Output) const;
  // Buffer b (0..5) takes part when the factor reaches it.
  bool BufferUsed(int b) const { return b >= 6 - static_cast<int>(FFactor); }
  static int DecimateHistory(int b);
  static int InterpolateHistory(int b);
  // Block length that runs through buffer b (its stage's input).
  int32_t BufferBlock(int b) const { return FSmallBlockSize << (6 - b); }

  TResamplingFactor FFactor = rf02x;
  int32_t FSmallBlockSize = 0;
  int32_t FBigBlockSize = 1024;
  std::array<float, 4> FKernel2{};
  std::array<float, 5> FKernel3{};
  std::array<float, 7> FKernel4{};
  std::array<float, 39> FKernel5D{};
  std::array<float, 39> FKernel5I{};
  // Buf[0] .. Buf[5]: the history of each stage followed by its input block.
  std::array<TSingleArray, 6> Buf;
  // Per-output accumulators of the stage in progress (double, as the taps are summed).
  std::vector<double> Acc;
  // The even-position input values of the stage in progress.
  std::vector<double> Even;
  float FGainDb = 0.0f;
  float FGain = 1.0f;
  float FDelay = 0.0f;
};

}  // namespace brenvo
