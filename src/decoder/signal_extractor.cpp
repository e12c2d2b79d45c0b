#include "decoder/signal_extractor.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace brenvo {

namespace {

// L1 / (L0 + L1), 0.5 when undefined.
double ProbOf(double l0, double l1) {
  const double sum = l0 + l1;
  // Also catches NaN from a broken state: no decision rather than poison.
  if (!(sum > 0.0) || !std::isfinite(sum)) return 0.5;
  return l1 / sum;
}

// Bitwise, so that a NaN or a changed sign of zero counts as a change.
bool Same(float a, float b) { return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b); }

}  // namespace

TSignalExtractor::TSignalExtractor() = default;

void TSignalExtractor::Reset() {
  Mx.Reset();
  Mn.Reset();
  Avg.Reset();
  Del.Reset();
  FSnrCnt = 0;
  Amp = Env = Snr = 0.0f;
  Nfl = 1.0f;
  Prob = 0.0;
  FSeen = false;
}

void TSignalExtractor::Process(float p) {
  // A NaN or infinite power would stay in the moving sum for ever.
  if (!std::isfinite(p)) p = 0.0f;
  p = std::max(p, 0.0f);
  const float a = std::sqrt(std::max(p - 1.0f, 0.0f)) * 0.97f;
  Env = Mn.Process(Avg.Filter(Mx.Process(a)));
  if (1.1f * Nfl > Env) Env = 1.1f * Nfl;
  Amp = Del.Process(std::sqrt(p));
  const float x[2] = {Level(0.0f), Level(1.0f)};
  const float y[2] = {Amp, Amp};
  double l[2];
  AmplitudeDensities(x, y, l, 2);
  FL0 = l[0];
  FL1 = l[1];
  FSeenEnv = Env;
  FSeenNfl = Nfl;
  FSeenAmp = Amp;
  FSeen = true;
  Prob = ProbOf(FL0, FL1);
  if (Prob > 0.8) {
    Snr = static_cast<float>((static_cast<double>(FSnrCnt) * Snr + p) / (FSnrCnt + 1));
    FSnrCnt = std::min(FSnrCnt + 1, kMaxSnrCount);
  }
}

void TSignalExtractor::UpdateNfl(float x) {
  if (!std::isfinite(x)) return;
  Nfl = 0.95f * Nfl + 0.05f * x;
}

float TSignalExtractor::Level(float s) const {
  return static_cast<float>((static_cast<double>(Env) - Nfl) * s + Nfl);
}

double TSignalExtractor::Likelihood(float s) const { return AmplitudeDensity(Level(s), Amp); }

double TSignalExtractor::ComputeProb() const { return ProbOf(Likelihood(0.0f), Likelihood(1.0f)); }

bool TSignalExtractor::LastLikelihoods(double& l0, double& l1) const {
  if (!FSeen || !Same(Env, FSeenEnv) || !Same(Nfl, FSeenNfl) || !Same(Amp, FSeenAmp)) return false;
  l0 = FL0;
  l1 = FL1;
  return true;
}

void TSignalExtractor::AmplitudeDensities(const float* x, const float* y, double* out, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[i] = AmplitudeDensity(x[i], y[i]);
}

double TSignalExtractor::AmplitudeDensity(float x, float y) {
  const double X = x;
  const double Y = y;
  // Exponential tail of small amplitudes, fading as the expected level grows.
  const float d1 = static_cast<float>(0.63762878 * X + 2.86465603);
  const float w1 = static_cast<float>(0.02370843 * std::pow(0.96268291, X));
  const float t1 = static_cast<float>(std::exp(-Y / d1) * w1);
  // Main peak a little below the expected level, widening with it.
  const float m = static_cast<float>(std::max(X - 0.5, 0.0));
  const float s = static_cast<float>(0.56393249 * std::pow(X, 0.40322534));
  const float w2 = static_cast<float>(0.39511329 * std::exp(-0.05994442 * X) + 0.08157534);
  float t2;
  if (s > 0.0f) {
    const double dy = Y - m;
    t2 = static_cast<float>(std::exp(-dy * dy / (2.0 * static_cast<double>(s) * s)) * w2);
  } else {
    // Zero width (x = 0): the limit, all weight at y = m.
    t2 = (Y == m) ? w2 : 0.0f;
  }
  // Broad floor for outliers.
  const float w3 = static_cast<float>(0.10714286 * X + 5.0);
  const double dx = Y - X;
  const float t3 = static_cast<float>(std::exp(-dx * dx / (2.0 * static_cast<double>(w3) * w3)) * 0.007);
  return static_cast<double>(t1) + t2 + t3;
}

}  // namespace brenvo
