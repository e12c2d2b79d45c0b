// The amplitude density against the way it was first written (every power
// with the library's pow), on random and on realistic (level, amplitude)
// pairs: the tail's power is now e^(x ln c), which can differ from pow in
// the last bit of a double; the terms are rounded to single, so the density
// may differ only very rarely. The pair count can be raised for a long run:
// BRENVO_DENSITY_PAIRS=50000000 decoder_tests --gtest_filter='DensityReference*'.
// And the shape likelihoods the decoder takes in one call, with their cache,
// against Likelihood one level at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <random>
#include <vector>

#include "decoder/rtty_bit_viterbi.h"
#include "decoder/signal_extractor.h"
#include "support/reference_density.h"
#include "support/tone_level_synth.h"

namespace brenvo {
namespace {

using testing::ReferenceDensity;
using testing::TReferenceDensity;

std::size_t PairCount() {
  const char* v = std::getenv("BRENVO_DENSITY_PAIRS");
  if (v != nullptr) {
    const long long n = std::atoll(v);
    if (n > 0) return static_cast<std::size_t>(n);
  }
  return 2000000;
}

struct TCounts {
  std::size_t Pairs = 0, Fade = 0, Weight = 0, Tail = 0, Density = 0;
  double WorstFadeUlps = 0.0, WorstRelative = 0.0;

  void Add(float x, float y) {
    const TReferenceDensity r = ReferenceDensity(x, y);
    const double fade = TSignalExtractor::TailFade(x);
    if (fade != r.Fade) {
      ++Fade;
      const double ulp = std::nextafter(r.Fade, std::numeric_limits<double>::infinity()) - r.Fade;
      WorstFadeUlps = std::max(WorstFadeUlps, std::fabs(fade - r.Fade) / ulp);
    }
    const float w1 = static_cast<float>(0.02370843 * fade);
    const float t1 = static_cast<float>(std::exp(-static_cast<double>(y) / static_cast<float>(0.63762878 * x + 2.86465603)) * w1);
    const double d = TSignalExtractor::AmplitudeDensity(x, y);
    ++Pairs;
    Weight += w1 != r.W1;
    Tail += t1 != r.T1;
    if (d != r.Density) {
      ++Density;
      WorstRelative = std::max(WorstRelative, std::fabs(d - r.Density) / r.Density);
    }
    // The other two terms are computed as before: the density can differ
    // only through the tail.
    if (t1 == r.T1) {
      EXPECT_EQ(d, r.Density) << x << "," << y;
    }
  }
  void Report(const char* what) const {
    std::cout << what << ": " << Pairs << " pairs; the power in double differs from pow's " << Fade
              << " times (worst " << WorstFadeUlps << " ulp); differing single-precision terms: tail weight " << Weight
              << ", tail " << Tail << "; differing densities " << Density << " (worst relative " << WorstRelative
              << ")\n";
  }
};

TEST(DensityReference, RandomPairs) {
  const std::size_t n = PairCount() / 2;
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<float> level(0.0f, 60.0f), amp(0.0f, 80.0f), expo(-9.0f, 9.0f);
  TCounts c;
  for (std::size_t i = 0; i < n; ++i) {
    // Half uniform over the usual range, half spread over many octaves.
    if (i % 2 == 0)
      c.Add(level(rng), amp(rng));
    else
      c.Add(std::exp2(expo(rng)), std::exp2(expo(rng)));
  }
  c.Report("random");
  // About one in 10^8 expected (an ulp of a double against half an ulp of a
  // single); a handful allowed, each in the last bit.
  EXPECT_LE(c.Density, 3 + n / 10000000);
  EXPECT_LE(c.WorstRelative, 1.2e-7);
  EXPECT_LE(c.WorstFadeUlps, 2.0);
}

// The pairs the decoder evaluates: the nine shape levels of both tones and
// their amplitude, step by step, for keyed signals from -5 to 40 dB per bin.
TEST(DensityReference, RealisticPairs) {
  const std::size_t n = PairCount() / 2;
  TRttyBitViterbi shapes;
  TCounts c;
  std::mt19937 rng(11);
  std::uniform_int_distribution<int> code(0, 31);
  for (uint32_t seed = 1; c.Pairs < n; ++seed) {
    testing::TToneLevelSettings set;
    set.SnrDb = -5.0 + 5.0 * (seed % 10);
    set.Seed = seed;
    testing::TToneLevelSynth synth(set);
    synth.AddSilence(0.3);
    synth.AddMark(0.5);
    for (int k = 0; k < 200; ++k) synth.AddCode(code(rng));
    std::vector<float> mark, space;
    synth.Render(mark, space);
    TSignalExtractor sm, ss;
    for (std::size_t t = 0; t < mark.size() && c.Pairs < n; ++t) {
      sm.Process(mark[t]);
      ss.Process(space[t]);
      for (int i = 0; i <= 8; ++i) {
        c.Add(sm.Level(shapes.Shp(i)), sm.Amp);
        c.Add(ss.Level(shapes.Shp(i)), ss.Amp);
      }
      // The decoder's noise-floor feedback, roughly.
      if (t % 32 == 0) {
        sm.UpdateNfl(std::min(sm.Amp, ss.Amp));
        ss.UpdateNfl(std::min(sm.Amp, ss.Amp));
      }
    }
  }
  c.Report("realistic");
  EXPECT_LE(c.Density, 3 + n / 10000000);
  EXPECT_LE(c.WorstRelative, 1.2e-7);
  EXPECT_LE(c.WorstFadeUlps, 2.0);
}

TEST(DensityReference, TailWeightAtTheEnds) {
  for (float x : {0.0f, 1e-30f, 1e-6f, 0.5f, 1.0f, 100.0f, 1000.0f, 1e5f, 1e30f}) {
    const double fade = TSignalExtractor::TailFade(x), ref = ReferenceDensity(x, 0).Fade;
    EXPECT_NEAR(fade, ref, 4.5e-16 * ref) << x;
  }
  EXPECT_EQ(TSignalExtractor::TailFade(0.0f), 1.0);
  EXPECT_EQ(TSignalExtractor::TailFade(std::numeric_limits<float>::infinity()), 0.0);
  EXPECT_TRUE(std::isinf(TSignalExtractor::TailFade(-std::numeric_limits<float>::infinity())));
  EXPECT_TRUE(std::isnan(TSignalExtractor::TailFade(std::numeric_limits<float>::quiet_NaN())));
  // Zero expected level: the peak's limit, as before.
  EXPECT_EQ(TSignalExtractor::AmplitudeDensity(0, 0), ReferenceDensity(0, 0).Density);
  EXPECT_EQ(TSignalExtractor::AmplitudeDensity(0, 2), ReferenceDensity(0, 2).Density);
}

// Tone powers of 40 characters between stretches of silence, 15 dB per bin.
void KeyedTones(std::vector<float>& mark, std::vector<float>& space) {
  testing::TToneLevelSettings set;
  set.SnrDb = 15.0;
  testing::TToneLevelSynth synth(set);
  synth.AddSilence(0.2);
  synth.AddMark(0.3);
  for (int k = 0; k < 40; ++k) synth.AddCode((k * 7) % 32);
  synth.AddSilence(0.3);
  synth.Render(mark, space);
}

// ShapeDensities (the single-precision kernel) against Likelihood of each
// shape (double precision), through changing envelopes, noise-floor updates,
// states set from outside and a reset: they follow the state, and Prob is
// theirs.
TEST(SignalExtractorShapeDensities, FollowTheStateAndMatchLikelihood) {
  const auto& shapes = TSignalExtractor::ToneShapes();
  std::vector<float> mark, space;
  KeyedTones(mark, space);
  TSignalExtractor e;
  auto check = [&](const char* when, std::size_t t) {
    const TSignalExtractor::TShapeDensities d = e.ShapeDensities();
    for (std::size_t i = 0; i < shapes.size(); ++i) {
      const double ref = e.Likelihood(shapes[i]);
      ASSERT_NEAR(d.Density[i], ref, 2e-5 * ref) << when << " step " << t << " shape " << i;
      ASSERT_NEAR(d.Ln[i], std::log(ref), 2e-5) << when << " step " << t << " shape " << i;
    }
    // A second call (from what the first kept) gives the same.
    ASSERT_EQ(e.ShapeDensities(), d) << when << " step " << t;
  };
  for (std::size_t t = 0; t < mark.size(); ++t) {
    e.Process(mark[t]);
    check("after Process", t);
    const auto& d = e.ShapeDensities().Density;
    ASSERT_EQ(e.Prob, d.back() / (static_cast<double>(d.front()) + d.back())) << t;
    if (t % 32 == 5) {
      e.UpdateNfl(space[t]);
      check("after UpdateNfl", t);
    }
    if (t == 400) {
      e.Env = 7.0f;
      e.Amp = 3.0f;
      check("state set", t);
      e.Nfl = 2.0f;
      check("noise floor set", t);
    }
    if (t == 900) {
      e.Reset();
      check("after Reset", t);
    }
  }
}

// The receiver's pair step is Process on each tone, bit for bit.
TEST(SignalExtractorShapeDensities, ProcessPairIsProcessOnEach) {
  std::vector<float> mark, space;
  KeyedTones(mark, space);
  TSignalExtractor m1, s1, m2, s2;
  for (std::size_t t = 0; t < mark.size(); ++t) {
    m1.Process(mark[t]);
    s1.Process(space[t]);
    TSignalExtractor::ProcessPair(m2, mark[t], s2, space[t]);
    for (auto [a, b] : {std::pair{&m1, &m2}, std::pair{&s1, &s2}}) {
      ASSERT_EQ(a->Env, b->Env) << t;
      ASSERT_EQ(a->Amp, b->Amp) << t;
      ASSERT_EQ(a->Prob, b->Prob) << t;
      ASSERT_EQ(a->Snr, b->Snr) << t;
      ASSERT_EQ(a->ShapeDensities(), b->ShapeDensities()) << t;
      if (t % 32 == 0) {
        a->UpdateNfl(a->Amp);
        b->UpdateNfl(b->Amp);
      }
    }
  }
}

}  // namespace
}  // namespace brenvo
