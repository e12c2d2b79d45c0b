// In-place complex FFT of single-precision data for the power-of-two sizes
// 16 .. 65536: a split-radix kernel (decimation in frequency) on separate real
// and imaginary arrays; the second direction runs the same kernel on the
// complex conjugates.
//
// Sign convention (note: the reverse of the common naming):
//   Inverse = false:  X[k] = sum_n x[n] e^(+j 2 pi k n / N)
//   Inverse = true:   X[k] = sum_n x[n] e^(-j 2 pi k n / N)
// The spectrum engine gets the ordinary analysis transform by passing
// Inverse = true.
//
// Scrambled order: the first direction without Permute leaves X[k] at
// position P_N[k]; the second direction without Permute expects input element
// n at position P_N[n]. P_N is not bit reversal (see FftPermutation).
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "dsp/types.h"

namespace brenvo {

constexpr int kFftMinSize = 16;
constexpr int kFftMaxSize = 65536;

// Transforms Data[0 .. N-1] in place.
//   N        power of two, 16 .. 65536; anything else raises
//            "FftSize must be 16 to 64k" and leaves Data untouched.
//   Inverse  direction, see above.
//   Scale    with Inverse = true, multiplies the result by 1/N (exact: a power
//            of two); no effect with Inverse = false.
//   Permute  true: input and output in natural order. false: see above.
//   Work     scratch of N values, must not overlap Data; nullptr uses a
//            per-thread scratch buffer that grows once to the largest size used.
// No alignment is required (16-byte alignment is merely faster). No state is
// kept: calls on distinct Data and Work buffers may run on different threads.
void Fft(TComplex* Data, int N, bool Inverse, bool Scale, bool Permute, TComplex* Work = nullptr);

// A[k] := sum_n A[n] e^(+j 2 pi k n / N), N = A.size(), natural order,
// unscaled (Fft with Inverse = false, Permute = true). A length outside
// 16 .. 65536, or not a power of two, raises "FftSize must be 16..65536" and
// leaves A untouched.
void FftComplexArray(TComplexArray& A);

// The first-direction kernel alone, on split arrays: Re[n], Im[n] in natural
// order become X[k] = sum_n x[n] e^(+j 2 pi k n / N) at position P_N[k]; no
// reordering, no scaling. For callers that keep their data split and can use
// the scrambled order directly (the spectrum engine computes powers first and
// reorders those). Same sizes and error as Fft. Re and Im must not overlap.
void FftSplitScrambled(float* Re, float* Im, int N);

// Powers of the first-direction transform, delivered straight into the
// caller's bins: the kernel's last operations store |X[k]|^2 = re^2 + im^2
// (single precision, the same bits as squaring FftSplitScrambled's output)
// into Power[BinOfX[k]], so that no separate power or reordering pass runs.
class TFftPowers {
 public:
  // N: power of two, 16 .. 65536 ("FftSize must be 16 to 64k"). BinOfX: N
  // values, a permutation of 0 .. N-1 (EBrenvoError otherwise).
  TFftPowers(int N, std::span<const int32_t> BinOfX);
  int Size() const { return FN; }
  // Re, Im: the input in natural order, N values each, used as work space
  // (left holding intermediate values). Power: N values, all written. The
  // three must not overlap. Wrong sizes or overlap raise EBrenvoError.
  void Run(std::span<float> Re, std::span<float> Im, std::span<float> Power) const;

 private:
  // Four of the 8- or 4-point blocks that end the kernel's branches, which
  // run side by side; Contiguous: in every value, block i's bin is block
  // 0's plus i, so that their powers are stored a vector at a time.
  struct TLeafGroup {
    std::array<int32_t, 4> Off;
    bool Contiguous;
  };
  // Groups the blocks at Offsets (Size values each): runs of four whose bins
  // follow each other where the map has them, the rest four at a time.
  void GroupLeaves(std::span<const int32_t> Offsets, int Size, std::vector<TLeafGroup>& Groups) const;

  int FN;
  std::vector<int32_t> FDest;  // scrambled position -> bin
  // For sizes whose blocks end in one leaf phase (up to 1024 values).
  std::vector<TLeafGroup> FGroups8, FGroups4;
};

// P_N for N a power of two from 2 to 65536: P_N[k] is the position at which the
// first direction's scrambled output holds X[k]. Other N raise
// "FftSize must be 16 to 64k".
std::span<const int32_t> FftPermutation(int N);

// The twiddles w^k = e^(+j 2 pi k / N), k = 0 .. N/4 - 1, as the kernels use
// them: the angle k * (2 pi / N) (the step in double) and its sine and cosine
// in long double, stored as singles. N a power of two from 4 to 65536;
// other N raise "FftSize must be 16 to 64k". A size's tables are built on
// its first use, safely from any thread.
struct TFftTwiddles {
  std::span<const float> Cos;
  std::span<const float> Sin;
};
TFftTwiddles FftTwiddles(int N);

}  // namespace brenvo
