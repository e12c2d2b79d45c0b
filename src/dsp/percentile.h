// Value of a given rank in an array of singles without sorting it, by Hoare's
// selection algorithm FIND (quickselect). Linear time on average.
#pragma once

#include <span>

#include "dsp/types.h"

namespace brenvo {

// The value at the fractional rank Fraction of A, on a copy (A is unchanged).
// An even count drops A[0] first, so that the working copy W always holds an
// odd number m of values; the result is the value of rank trunc(m * Fraction)
// (0 = smallest) of W. Example: Fraction 0.9 on 256 values gives rank 229 of
// the last 255.
// Raises ERangeError ("Range check error") for an empty A or when the rank
// falls outside 0 .. m - 1 (Fraction >= 1, <= -1/m, or not a number).
// Values that are not numbers give an unspecified element of A, never a fault.
float Percentile(const TSingleArray& A, float Fraction);
// The same with a caller-owned working copy, so that repeated calls allocate
// nothing once Scratch has grown to A's size.
float Percentile(const TSingleArray& A, float Fraction, TSingleArray& Scratch);

// The median of Values[0 .. Count - 1]: the value of rank Count / 2 (for an even
// count the upper of the two middle values). Reorders the buffer: afterwards no
// element before that position is greater and none after it is smaller.
// Allocates nothing. Raises ERangeError for Count < 1.
float MedianInPlace(float* Values, int Count);
inline float MedianInPlace(std::span<float> Values) {
  return MedianInPlace(Values.data(), static_cast<int>(Values.size()));
}

// The value of rank Rank (0 = smallest) of Values, which stay unchanged: the
// same value as MedianInPlace or Percentile would select on a copy. Rounds of
// one counting pass below four pivots (values of the range at spread places,
// on the first round Guess in place of one when it is a finite number: the
// previous result on slowly changing data) keep the values between the two
// pivots that bracket the rank, about a fifth, until a few are left for
// selection. When no pivot separates the values, a rank among copies of the
// lower pivot is that pivot (digital silence costs one round); values that
// are not numbers, or other such ties, fall back to selecting on a full
// copy. Scratch must hold at least Values.size() floats and is overwritten.
// Allocates nothing. Raises ERangeError for a Rank outside 0 .. size - 1 or
// a Scratch that is too small.
float RankValueNear(std::span<const float> Values, int Rank, float Guess, std::span<float> Scratch);

// The counting step of RankValueNear's rounds: Below[k] := the number of
// values of V[0 .. N-1] below P[k], k = 0 .. 3. N at least 8 (ERangeError
// otherwise).
void CountBelow4(const float* V, int N, const float* P, int* Below);

// The gathering step of RankValueNear's rounds: moves the values x of
// V[0 .. N-1] with Lo <= x and not Hi <= x (a NaN as Hi bounds nothing; a NaN
// value is never taken) to the front of W, in their order, and returns their
// number. W has room for N values and may be V itself. Avx2 picks the AVX2
// kernel (EBrenvoError where CpuHasAvx2() is false), else the portable one;
// both leave the same values.
int GatherRange(const float* V, int N, float Lo, float Hi, float* W, bool Avx2);

}  // namespace brenvo
