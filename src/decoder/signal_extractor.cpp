#include "decoder/signal_extractor.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "dsp/errors.h"

namespace brenvo {

namespace {

// The tail's fading c^x, c = 0.96268291, for a single-precision x: as
// e^(x ln c), a third of the cost of pow and within about an ulp of it. ln c
// (of the double c, in extended precision) in two parts, the first with 28
// significant bits so that x (24 bits) times it is exact; the rounded sum of
// the two products and its rounding error go into the exponential as
// e^hi (1 + lo). An infinite x goes to pow itself.
struct TTailFade {
  static constexpr double kBase = 0.96268291;
  double LnHi, LnLo;
  TTailFade() {
    const long double ln = std::log(static_cast<long double>(kBase));
    LnHi = std::bit_cast<double>(std::bit_cast<uint64_t>(static_cast<double>(ln)) & ~((uint64_t{1} << 25) - 1));
    LnLo = static_cast<double>(ln - LnHi);
  }
  double operator()(float x) const {
    const double p1 = static_cast<double>(x) * LnHi;  // exact
    const double p2 = static_cast<double>(x) * LnLo;
    const double hi = p1 + p2;
    const double lo = (p1 - hi) + p2;  // |p1| >= |p2|: exact
    if (!std::isfinite(hi)) return std::pow(kBase, static_cast<double>(x));
    return std::exp(hi) * (1.0 + lo);
  }
};
const TTailFade kTailFade;

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
  FLevels = {};
}

void TSignalExtractor::Process(float p) {
  // A NaN or infinite power would stay in the moving sum for ever.
  if (!std::isfinite(p)) p = 0.0f;
  p = std::max(p, 0.0f);
  const float a = std::sqrt(std::max(p - 1.0f, 0.0f)) * 0.97f;
  Env = Mn.Process(Avg.Filter(Mx.Process(a)));
  if (1.1f * Nfl > Env) Env = 1.1f * Nfl;
  Amp = Del.Process(std::sqrt(p));
  // Levels 0 and 1 are the decoder's first and last tone shapes: the same
  // cache slots.
  const TLevelTerms* terms[2] = {&Terms(0, Level(0.0f)), &Terms(kLevelSlots - 1, Level(1.0f))};
  double l[2];
  Densities(terms, 2, l);
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

bool TSignalExtractor::Unchanged() const {
  return FSeen && Same(Env, FSeenEnv) && Same(Nfl, FSeenNfl) && Same(Amp, FSeenAmp);
}

void TSignalExtractor::Likelihoods(const float* shapes, std::size_t n, double* out) const {
  if (n > kLevelSlots) throw ERangeError();
  const bool unchanged = Unchanged();
  const TLevelTerms* terms[kLevelSlots] = {};
  std::size_t at[kLevelSlots];
  std::size_t m = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const float s = shapes[i];
    if (unchanged && s == 0.0f) {
      out[i] = FL0;
    } else if (unchanged && s == 1.0f) {
      out[i] = FL1;
    } else {
      terms[m] = &Terms(i, Level(s));
      at[m++] = i;
    }
  }
  double d[kLevelSlots];
  Densities(terms, m, d);
  for (std::size_t k = 0; k < m; ++k) out[at[k]] = d[k];
}

void TSignalExtractor::Densities(const TLevelTerms* const* terms, std::size_t m, double* out) const {
  // DensityOf of each, in three runs: the exponentials' arguments, the
  // exponentials, the terms (the same operations, fewer values held across
  // the calls).
  const double Y = Amp;
  double e[3 * kLevelSlots];
  for (std::size_t k = 0; k < m; ++k) {
    const TLevelTerms& t = *terms[k];
    e[k] = -Y / t.D1;
    const double dy = Y - t.M;
    e[m + k] = t.S > 0.0f ? -dy * dy / (2.0 * static_cast<double>(t.S) * t.S) : 0.0;
    const double dx = Y - static_cast<double>(t.X);
    e[2 * m + k] = -dx * dx / (2.0 * static_cast<double>(t.W3) * t.W3);
  }
  for (std::size_t j = 0; j < 3 * m; ++j) e[j] = std::exp(e[j]);
  for (std::size_t k = 0; k < m; ++k) out[k] = Combine(*terms[k], Y, e[k], e[m + k], e[2 * m + k]);
}

const TSignalExtractor::TLevelTerms& TSignalExtractor::Terms(std::size_t slot, float x) const {
  TLevelTerms& t = FLevels[slot];
  if (!t.Valid || !Same(t.X, x)) t = TermsOf(x);
  return t;
}

double TSignalExtractor::AmplitudeDensity(float x, float y) { return DensityOf(TermsOf(x), y); }

double TSignalExtractor::TailFade(float x) { return kTailFade(x); }

TSignalExtractor::TLevelTerms TSignalExtractor::TermsOf(float x) {
  const double X = x;
  TLevelTerms t;
  t.X = x;
  t.D1 = static_cast<float>(0.63762878 * X + 2.86465603);
  t.W1 = static_cast<float>(0.02370843 * kTailFade(x));  // 0.96268291^X
  t.M = static_cast<float>(std::max(X - 0.5, 0.0));
  t.S = static_cast<float>(0.56393249 * std::pow(X, 0.40322534));
  t.W2 = static_cast<float>(0.39511329 * std::exp(-0.05994442 * X) + 0.08157534);
  t.W3 = static_cast<float>(0.10714286 * X + 5.0);
  t.Valid = true;
  return t;
}

double TSignalExtractor::DensityOf(const TLevelTerms& t, float y) {
  const double Y = y;
  const double dy = Y - t.M;
  const double dx = Y - static_cast<double>(t.X);
  // At zero width (x = 0) the peak's exponential is not used.
  const double peak = t.S > 0.0f ? std::exp(-dy * dy / (2.0 * static_cast<double>(t.S) * t.S)) : 0.0;
  return Combine(t, Y, std::exp(-Y / t.D1), peak, std::exp(-dx * dx / (2.0 * static_cast<double>(t.W3) * t.W3)));
}

double TSignalExtractor::Combine(const TLevelTerms& t, double y, double tail, double peak, double floor) {
  // Exponential tail of small amplitudes, fading as the expected level grows.
  const float t1 = static_cast<float>(tail * t.W1);
  // Main peak a little below the expected level, widening with it; at zero
  // width (x = 0) its limit, all weight at y = m.
  const float t2 = t.S > 0.0f ? static_cast<float>(peak * t.W2) : (y == t.M ? t.W2 : 0.0f);
  // Broad floor for outliers.
  const float t3 = static_cast<float>(floor * 0.007);
  return static_cast<double>(t1) + t2 + t3;
}

}  // namespace brenvo
