#include "decoder/signal_extractor.h"

#include <gtest/gtest.h>

#include <cmath>

namespace brenvo {
namespace {

// The density written out in plain double precision, without the rounding
// of intermediate values to single.
double ReferenceDensity(double x, double y) {
  const double t1 = std::exp(-y / (0.63762878 * x + 2.86465603)) * 0.02370843 * std::pow(0.96268291, x);
  const double m = std::max(x - 0.5, 0.0);
  const double s = 0.56393249 * std::pow(x, 0.40322534);
  const double t2 = std::exp(-(y - m) * (y - m) / (2 * s * s)) * (0.39511329 * std::exp(-0.05994442 * x) + 0.08157534);
  const double w3 = 0.10714286 * x + 5;
  const double t3 = std::exp(-(y - x) * (y - x) / (2 * w3 * w3)) * 0.007;
  return t1 + t2 + t3;
}

TEST(AmplitudeDensity, WorkedPointsAndReference) {
  struct Case {
    float x, y;
    double expected;
  } cases[] = {{1, 1, 0.330398}, {1, 0, 0.335934}, {10, 9.5f, 0.311313}, {10, 1, 0.016879}, {1.1f, 1, 0.381833}};
  for (const auto& c : cases) {
    const double d = TSignalExtractor::AmplitudeDensity(c.x, c.y);
    EXPECT_NEAR(d, c.expected, 1e-5 * c.expected) << c.x << "," << c.y;
    EXPECT_NEAR(d, ReferenceDensity(c.x, c.y), 1e-5 * c.expected) << c.x << "," << c.y;
  }
  for (float x : {0.3f, 2.0f, 5.0f, 30.0f})
    for (float y : {0.0f, 0.7f, 3.0f, 12.0f, 40.0f}) {
      const double ref = ReferenceDensity(x, y);
      EXPECT_NEAR(TSignalExtractor::AmplitudeDensity(x, y), ref, 1e-5 * ref + 1e-12) << x << "," << y;
    }
}

// Expected level 0 (noise floor decayed to 0): the peak term takes its limit
// instead of dividing by zero.
TEST(AmplitudeDensity, ZeroExpectedLevelIsFinite) {
  const double atZero = TSignalExtractor::AmplitudeDensity(0, 0);
  EXPECT_TRUE(std::isfinite(atZero));
  // Limit: tail weight + whole peak weight + floor.
  EXPECT_NEAR(atZero, 0.02370843 + (0.39511329 + 0.08157534) + 0.007, 1e-6);
  const double away = TSignalExtractor::AmplitudeDensity(0, 2);
  EXPECT_TRUE(std::isfinite(away));
  EXPECT_NEAR(away, std::exp(-2 / 2.86465603) * 0.02370843 + std::exp(-4.0 / 50) * 0.007, 1e-7);
  // Continuity towards the limit from a tiny positive level.
  EXPECT_NEAR(TSignalExtractor::AmplitudeDensity(1e-6f, 2), away, 1e-6);
}

TEST(SignalExtractor, ConstantPower) {
  TSignalExtractor e;
  EXPECT_EQ(e.Nfl, 1.0f);
  const float p = 101.0f;
  for (int step = 1; step <= 120; ++step) {
    e.Process(p);
    if (step <= 43) {
      EXPECT_EQ(e.Amp, 0.0f) << step;
    } else {
      EXPECT_FLOAT_EQ(e.Amp, std::sqrt(101.0f)) << step;
    }
    if (step <= 10) {
      EXPECT_FLOAT_EQ(e.Env, 1.1f) << step;  // floor 1.1 Nfl while the average fills
    }
    if (step == 52) {
      EXPECT_NEAR(e.Env, 9.43, 0.005);
    }
    if (step >= 53) {
      EXPECT_NEAR(e.Env, 0.97 * 10, 1e-4) << step;
    }
  }
  // Tone on with the envelope at its level: the probability is high.
  EXPECT_GT(e.Prob, 0.8);
  EXPECT_GT(e.SnrCount(), 0);
  EXPECT_FLOAT_EQ(e.Snr, 101.0f);
}

TEST(SignalExtractor, LowPowerAndEnvelopeFloor) {
  TSignalExtractor e;
  for (int i = 0; i < 200; ++i) e.Process(0.5f);
  EXPECT_FLOAT_EQ(e.Env, 1.1f);
  EXPECT_FLOAT_EQ(e.Amp, std::sqrt(0.5f));
  e.Nfl = 3.0f;
  e.Process(0.5f);
  EXPECT_FLOAT_EQ(e.Env, 3.3f);
}

TEST(SignalExtractor, SnrCountsOnlyAbovePoint8AndStopsAt4096) {
  TSignalExtractor e;
  // Keep Amp (which lags 43 steps) equal to the envelope level: steady tone.
  for (int i = 0; i < 5000; ++i) e.Process(400.0f);
  EXPECT_EQ(e.SnrCount(), TSignalExtractor::kMaxSnrCount);
  EXPECT_FLOAT_EQ(e.Snr, 400.0f);
  // Noise-only power at the floor: the probability stays low and Snr frozen.
  TSignalExtractor q;
  for (int i = 0; i < 300; ++i) q.Process(1.0f);
  EXPECT_LT(q.Prob, 0.8);
  EXPECT_EQ(q.SnrCount(), 0);
  EXPECT_EQ(q.Snr, 0.0f);
}

TEST(SignalExtractor, ComputeProbIsHalfWhenUndefined) {
  TSignalExtractor e;
  e.Env = 1.0f;
  e.Nfl = 1.0f;
  e.Amp = 1e30f;  // both densities underflow to 0
  EXPECT_EQ(e.Likelihood(0), 0.0);
  EXPECT_EQ(e.ComputeProb(), 0.5);
  e.Amp = NAN;
  EXPECT_EQ(e.ComputeProb(), 0.5);
}

TEST(SignalExtractor, UpdateNflAndBadInput) {
  TSignalExtractor e;
  e.Nfl = 3.0f;
  e.UpdateNfl(1.0f);
  EXPECT_FLOAT_EQ(e.Nfl, 2.9f);
  for (int i = 0; i < 400; ++i) e.UpdateNfl(1.0f);
  EXPECT_NEAR(e.Nfl, 1.0f, 1e-5);
  e.UpdateNfl(NAN);
  EXPECT_NEAR(e.Nfl, 1.0f, 1e-5);
  // A NaN or infinite power does not poison the filters.
  for (float bad : {NAN, INFINITY, -5.0f}) e.Process(bad);
  for (int i = 0; i < 200; ++i) e.Process(101.0f);
  EXPECT_FLOAT_EQ(e.Amp, std::sqrt(101.0f));
  EXPECT_NEAR(e.Env, 9.7, 1e-4);
  EXPECT_TRUE(std::isfinite(e.Prob));
}

TEST(SignalExtractor, LikelihoodInterpolatesTheExpectedLevel) {
  TSignalExtractor e;
  e.Env = 9.0f;
  e.Nfl = 1.0f;
  e.Amp = 4.0f;
  EXPECT_DOUBLE_EQ(e.Likelihood(0), TSignalExtractor::AmplitudeDensity(1, 4));
  EXPECT_DOUBLE_EQ(e.Likelihood(1), TSignalExtractor::AmplitudeDensity(9, 4));
  EXPECT_DOUBLE_EQ(e.Likelihood(0.5f), TSignalExtractor::AmplitudeDensity(5, 4));
  const double l0 = e.Likelihood(0), l1 = e.Likelihood(1);
  EXPECT_DOUBLE_EQ(e.ComputeProb(), l1 / (l0 + l1));
}

}  // namespace
}  // namespace brenvo
