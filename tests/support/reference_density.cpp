#include "support/reference_density.h"

#include <algorithm>
#include <cmath>

namespace brenvo::testing {

TReferenceDensity ReferenceDensity(float x, float y) {
  const double X = x;
  const double Y = y;
  TReferenceDensity r;
  const float d1 = static_cast<float>(0.63762878 * X + 2.86465603);
  r.Fade = std::pow(0.96268291, X);
  r.W1 = static_cast<float>(0.02370843 * r.Fade);
  r.T1 = static_cast<float>(std::exp(-Y / d1) * r.W1);
  const float m = static_cast<float>(std::max(X - 0.5, 0.0));
  const float s = static_cast<float>(0.56393249 * std::pow(X, 0.40322534));
  const float w2 = static_cast<float>(0.39511329 * std::exp(-0.05994442 * X) + 0.08157534);
  if (s > 0.0f) {
    const double dy = Y - m;
    r.T2 = static_cast<float>(std::exp(-dy * dy / (2.0 * static_cast<double>(s) * s)) * w2);
  } else {
    r.T2 = (Y == m) ? w2 : 0.0f;
  }
  const float w3 = static_cast<float>(0.10714286 * X + 5.0);
  const double dx = Y - X;
  r.T3 = static_cast<float>(std::exp(-dx * dx / (2.0 * static_cast<double>(w3) * w3)) * 0.007);
  r.Density = static_cast<double>(r.T1) + r.T2 + r.T3;
  return r;
}

}  // namespace brenvo::testing
