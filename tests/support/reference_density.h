// The signal extractor's amplitude density as first written, every power with
// the C library's pow and each intermediate value rounded to single: the
// reference that the faster density is held against (tests) and measured
// against (benchmarks).
#pragma once

namespace brenvo::testing {

struct TReferenceDensity {
  double Fade;     // 0.96268291^x (pow)
  float W1;        // tail weight
  float T1, T2, T3;  // tail, peak and floor terms
  double Density;  // T1 + T2 + T3 in double
};

// Density of an observed amplitude y given an expected level x >= 0.
TReferenceDensity ReferenceDensity(float x, float y);

}  // namespace brenvo::testing
