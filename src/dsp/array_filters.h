// Centred-window filters over a whole array (one spectrum at a time): running
// maximum, minimum, mean and median over W = 2 * HalfWidth + 1 values.
//
// Common to all four: HalfWidth >= 0 (ERangeError otherwise); Dst gets the
// length of Src and keeps what it held where a routine does not write; Src is
// left unchanged, also when Dst is the same array. The cost per value does not
// depend on W. After the first call with a given size, no memory is allocated
// (the work arrays are kept per thread).
#pragma once

#include <cstdint>

#include "dsp/types.h"

namespace brenvo {

// Dst[k] = largest of Src[k - HalfWidth .. k + HalfWidth], the window cut at
// both ends of the array. Src must hold at least W values ("Range check error"
// otherwise).
void SlidingMax(const TSingleArray& Src, int32_t HalfWidth, TSingleArray& Dst);
// Smallest value, likewise.
void SlidingMin(const TSingleArray& Src, int32_t HalfWidth, TSingleArray& Dst);

// Dst[k] = mean of the W values centred on k (a running sum in single
// precision), written only for k = HalfWidth .. High - HalfWidth - 1 (High =
// last index of Src); the first HalfWidth and the last HalfWidth + 1 entries of
// Dst are left as they were. Src must hold at least W values.
void SlidingMean(const TSingleArray& Src, int32_t HalfWidth, TSingleArray& Dst);

// Dst[k] = the (HalfWidth + 1)-th smallest of the W values centred on k, for
// k = HalfWidth + 1 .. High - HalfWidth - 1; entries 0 .. HalfWidth repeat
// entry HalfWidth + 1 and entries High - HalfWidth .. High repeat entry
// High - HalfWidth - 1. Src must hold at least W + 1 values ("Range check
// error" otherwise). A NaN sorts above every number.
void SlidingMedian(const TSingleArray& Src, int32_t HalfWidth, TSingleArray& Dst);

}  // namespace brenvo
