#include "decoder/signal_extractor.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numbers>

#include "decoder/density_kernel.h"
#include "dsp/cpu_features.h"
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

const std::array<float, TSignalExtractor::kShapeCount>& TSignalExtractor::ToneShapes() {
  static const std::array<float, kShapeCount> shapes = [] {
    std::array<float, kShapeCount> a{};
    for (std::size_t i = 0; i < kShapeCount; ++i)
      a[i] = static_cast<float>((1.0L - std::cos(static_cast<long double>(i) * std::numbers::pi_v<long double> / 8)) / 2);
    return a;
  }();
  return shapes;
}

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
  const TStep step = Filter(p);
  ComputeShapeDensities();
  UpdateProb(step.P);
}

void TSignalExtractor::ProcessPair(TSignalExtractor& mark, float pm, TSignalExtractor& space, float ps) {
  TPairSteps steps;
  FilterPairs(mark, &pm, space, &ps, 1, steps);
  mark.TakeStep(steps.Mark[0], steps.Density.data(), steps.Ln.data());
  space.TakeStep(steps.Space[0], steps.Density.data() + kShapeCount, steps.Ln.data() + kShapeCount);
}

BRENVO_AVX2_CLONES void TSignalExtractor::FilterPairs(TSignalExtractor& mark, const float* pm,
                                                      TSignalExtractor& space, const float* ps,
                                                      std::size_t count, TPairSteps& out) {
  BRENVO_ASSERT(count <= TPairSteps::kMaxSteps);
  out.Count = count;
  // Every step's levels, zeros after them up to whole vectors (only those:
  // the rest is never read).
  std::array<float, TPairSteps::kDensities> x, y;
  // One tone's filters over all the steps, then the other's (a tone's
  // state stays in registers), then the levels (the noise floors stay).
  for (std::size_t t = 0; t < count; ++t) out.Mark[t] = mark.Filter(pm[t]);
  for (std::size_t t = 0; t < count; ++t) out.Space[t] = space.Filter(ps[t]);
  for (std::size_t t = 0; t < count; ++t) {
    const std::size_t at = t * TPairSteps::kLanes;
    mark.ShapeLevels(out.Mark[t], x.data() + at, y.data() + at);
    space.ShapeLevels(out.Space[t], x.data() + at + kShapeCount, y.data() + at + kShapeCount);
  }
  const std::size_t used = count * TPairSteps::kLanes;
  const std::size_t lanes = (used + kDensityLanes - 1) / kDensityLanes * kDensityLanes;
  std::fill(x.begin() + used, x.begin() + lanes, 0.0f);
  std::fill(y.begin() + used, y.begin() + lanes, 0.0f);
  AmplitudeDensities(x.data(), y.data(), out.Density.data(), out.Ln.data(), lanes);
}

void TSignalExtractor::TakeStep(const TStep& step, const float* density, const float* ln) {
  Env = step.Env;
  Amp = step.Amp;
  KeepShapeDensities(density, ln);
  UpdateProb(step.P);
}

[[gnu::always_inline]] inline TSignalExtractor::TStep TSignalExtractor::Filter(float p) {
  // A NaN or infinite power would stay in the moving sum for ever.
  if (!std::isfinite(p)) p = 0.0f;
  p = std::max(p, 0.0f);
  const float a = std::sqrt(std::max(p - 1.0f, 0.0f)) * 0.97f;
  Env = Mn.Process(Avg.Filter(Mx.Process(a)));
  if (1.1f * Nfl > Env) Env = 1.1f * Nfl;
  Amp = Del.Process(std::sqrt(p));
  return {p, Env, Amp};
}

void TSignalExtractor::UpdateProb(float p) {
  // Shapes 0 and 8 are the tone off and on.
  Prob = ProbOf(FShapeDensities.Density.front(), FShapeDensities.Density.back());
  if (Prob > 0.8) {
    Snr = static_cast<float>((static_cast<double>(FSnrCnt) * Snr + p) / (FSnrCnt + 1));
    FSnrCnt = std::min(FSnrCnt + 1, kMaxSnrCount);
  }
}

void TSignalExtractor::UpdateNfl(float x) {
  if (!std::isfinite(x)) return;
  Nfl = 0.95f * Nfl + 0.05f * x;
}

float TSignalExtractor::Level(float s) const { return LevelWith(Env, s); }

float TSignalExtractor::LevelWith(float env, float s) const {
  return static_cast<float>((static_cast<double>(env) - Nfl) * s + Nfl);
}

double TSignalExtractor::Likelihood(float s) const { return AmplitudeDensity(Level(s), Amp); }

double TSignalExtractor::ComputeProb() const { return ProbOf(Likelihood(0.0f), Likelihood(1.0f)); }

const TSignalExtractor::TShapeDensities& TSignalExtractor::ShapeDensities() const {
  if (!(FSeen && Same(Env, FSeenEnv) && Same(Nfl, FSeenNfl) && Same(Amp, FSeenAmp))) ComputeShapeDensities();
  return FShapeDensities;
}

void TSignalExtractor::ShapeLevels(const TStep& step, float* x, float* y) const {
  const auto& shapes = ToneShapes();
  for (std::size_t i = 0; i < kShapeCount; ++i) {
    x[i] = LevelWith(step.Env, shapes[i]);
    y[i] = step.Amp;
  }
}

void TSignalExtractor::KeepShapeDensities(const float* d, const float* ln) const {
  // Of a size the compiler knows: a few moves in place, not a library call.
  std::memcpy(FShapeDensities.Density.data(), d, sizeof FShapeDensities.Density);
  std::memcpy(FShapeDensities.Ln.data(), ln, sizeof FShapeDensities.Ln);
  FSeenEnv = Env;
  FSeenNfl = Nfl;
  FSeenAmp = Amp;
  FSeen = true;
}

void TSignalExtractor::ComputeShapeDensities() const {
  float x[kShapeCount], y[kShapeCount], d[kShapeCount], ln[kShapeCount];
  ShapeLevels({0.0f, Env, Amp}, x, y);
  AmplitudeDensities(x, y, d, ln, kShapeCount);
  KeepShapeDensities(d, ln);
}

double TSignalExtractor::TailFade(float x) { return kTailFade(x); }

double TSignalExtractor::AmplitudeDensity(float x, float y) {
  const double X = x, Y = y;
  // Exponential tail of small amplitudes, fading as the expected level grows.
  const float d1 = static_cast<float>(0.63762878 * X + 2.86465603);
  const float w1 = static_cast<float>(0.02370843 * kTailFade(x));  // 0.96268291^X
  const float t1 = static_cast<float>(std::exp(-Y / d1) * w1);
  // Main peak a little below the expected level, widening with it; at zero
  // width (x = 0) its limit, all weight at y = m.
  const float m = static_cast<float>(std::max(X - 0.5, 0.0));
  const float s = static_cast<float>(0.56393249 * std::pow(X, 0.40322534));
  const float w2 = static_cast<float>(0.39511329 * std::exp(-0.05994442 * X) + 0.08157534);
  const double dy = Y - m;
  const float t2 = s > 0.0f ? static_cast<float>(std::exp(-dy * dy / (2.0 * static_cast<double>(s) * s)) * w2)
                            : (Y == m ? w2 : 0.0f);
  // Broad floor for outliers.
  const float w3 = static_cast<float>(0.10714286 * X + 5.0);
  const double dx = Y - X;
  const float t3 = static_cast<float>(std::exp(-dx * dx / (2.0 * static_cast<double>(w3) * w3)) * 0.007);
  return static_cast<double>(t1) + t2 + t3;
}

}  // namespace brenvo
