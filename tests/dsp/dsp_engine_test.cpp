#include "dsp/dsp_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <type_traits>
#include <utility>
#include <vector>

#include "dsp/errors.h"
#include "dsp/fft.h"
#include "support/heap_counter.h"

namespace brenvo {
namespace {

constexpr int kBlock = 8;
constexpr float kRate = 3000.0f;
constexpr int kBins = 256;
constexpr int kCentre = 128;
constexpr int kRing = 1024;

// Complex test signal at 3000 Hz: tones given in 2.93 Hz grid steps
// (ExactRate / RingLength; four steps are one bin) plus complex white noise.
class TIqSource {
 public:
  explicit TIqSource(unsigned seed = 1) : rng_(seed) {}
  void AddTone(double gridSteps, double amplitude) { tones_.push_back({gridSteps, amplitude, 0.0}); }
  void ClearTones() { tones_.clear(); }
  void SetNoise(double sigma) { sigma_ = sigma; }

  std::vector<TComplex> Block(int n = kBlock) {
    std::vector<TComplex> out(n);
    std::normal_distribution<double> g(0.0, 1.0);
    for (auto& c : out) {
      double re = 0, im = 0;
      for (auto& t : tones_) {
        re += t.amplitude * std::cos(t.phase);
        im += t.amplitude * std::sin(t.phase);
        t.phase = std::fmod(t.phase + 2.0 * std::numbers::pi * t.gridSteps / kRing, 2.0 * std::numbers::pi);
      }
      if (sigma_ > 0) {
        re += sigma_ * g(rng_);
        im += sigma_ * g(rng_);
      }
      c = {static_cast<float>(re), static_cast<float>(im)};
    }
    return out;
  }

 private:
  struct TTone {
    double gridSteps, amplitude, phase;
  };
  std::mt19937 rng_;
  std::vector<TTone> tones_;
  double sigma_ = 0;
};

void Feed(TDspEngine& e, TIqSource& src, int calls) {
  for (int i = 0; i < calls; ++i) e.ProcessIqBlock(src.Block(e.InputLength()));
}

// A tone at the centre of bin `bin` over a little noise: a clear peak.
TIqSource ToneOverNoise(unsigned seed, int bin, double noise = 0.01) {
  TIqSource src(seed);
  src.AddTone(4.0 * (bin - kCentre), 1.0);
  src.SetNoise(noise);
  return src;
}

// Calls until the peak map marks `bin`, or -1 if it does not within maxCalls.
int CallsUntilPeak(TDspEngine& e, TIqSource& src, int bin, int maxCalls) {
  for (int i = 1; i <= maxCalls; ++i) {
    e.ProcessIqBlock(src.Block());
    if (e.Peaks()[bin] == -1) return i;
  }
  return -1;
}

// The design response H[k] of a tone k grid steps from a bin's centre,
// computed here from the design rule (W = 22.725 Hz, roll-off 1).
double DesignH(int k, double rate = kRate, int ring = kRing) {
  if (k == 0) return 1.0;
  const double x = k * rate / ring / 22.725;
  if (x > 2.0) return 0.0;
  const double a = std::numbers::pi * x / 2;
  return a / std::sin(a) * 0.5 * (1 - std::sin((x - 1) * std::numbers::pi / 2));
}

bool AllFinite(std::span<const float> v) {
  return std::all_of(v.begin(), v.end(), [](float x) { return std::isfinite(x); });
}

TEST(DspEngine, CreateDerivesSizesAndStartsEmpty) {
  TDspEngine e(kBlock, kRate);
  EXPECT_EQ(e.InputLength(), 8);
  EXPECT_EQ(e.FftSize(), 256);
  EXPECT_EQ(e.RingLength(), 1024);
  EXPECT_EQ(e.ExactRate(), 3000.0f);
  EXPECT_EQ(e.Age(), 0);
  EXPECT_EQ(e.RingPos(), 0);
  EXPECT_FALSE(e.PeaksAvailable());
  EXPECT_TRUE(e.ScalingEnabled());
  EXPECT_EQ(e.FastPwr().size(), 256u);
  EXPECT_EQ(e.Peaks().size(), 256u);
  EXPECT_EQ(e.WindowFunc().size(), 2048u);
  for (float v : e.FastPwr()) EXPECT_EQ(v, 0.0f);
  static_assert(std::is_same_v<decltype(e.Age()), int64_t>, "runs for days: 64-bit counter");
}

TEST(DspEngine, BadParametersRaise) {
  for (int n : {-8, 0, 3, 12, 1024}) EXPECT_THROW(TDspEngine(n, kRate), EBrenvoError) << n;
  for (float r : {0.0f, -3000.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()})
    EXPECT_THROW(TDspEngine(kBlock, r), EBrenvoError) << r;
}

TEST(DspEngine, WrongBlockLengthRaisesAndChangesNothing) {
  TDspEngine e(kBlock, kRate);
  TIqSource src;
  src.AddTone(40, 1.0);
  Feed(e, src, 3);
  const std::vector<float> before(e.FastPwr().begin(), e.FastPwr().end());
  for (int n : {0, 7, 9, 16}) {
    EXPECT_THROW(e.ProcessIqBlock(src.Block(n)), EBrenvoError) << n;
  }
  EXPECT_EQ(e.Age(), 3);
  EXPECT_EQ(e.RingPos(), 24);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), e.FastPwr().begin()));
}

bool SameBits(float x, float y) { return std::bit_cast<uint32_t>(x) == std::bit_cast<uint32_t>(y); }

// Spectra made in the caller's buffers carry the same bits as those the
// engine keeps, and so do the averages and peak maps built on them.
TEST(DspEngine, SpectraIntoCallersBuffersAsItsOwn) {
  TDspEngine own(kBlock, kRate), into(kBlock, kRate);
  TIqSource src;
  src.AddTone(40, 1.0);
  src.AddTone(170, 0.3);
  src.SetNoise(0.05);
  std::vector<std::vector<float>> buffers(3, std::vector<float>(kBins, -1.0f));
  for (int call = 0; call < 200; ++call) {
    const std::vector<TComplex> block = src.Block();
    own.ProcessIqBlock(block);
    std::vector<float>& buffer = buffers[call % 3];
    into.ProcessIqBlock(block, buffer);
    ASSERT_EQ(into.FastPwr().data(), buffer.data());
    ASSERT_TRUE(std::equal(buffer.begin(), buffer.end(), own.FastPwr().begin(), SameBits)) << call;
    ASSERT_TRUE(std::equal(own.SlowPwr().begin(), own.SlowPwr().end(), into.SlowPwr().begin(), SameBits)) << call;
    ASSERT_TRUE(std::equal(own.Peaks().begin(), own.Peaks().end(), into.Peaks().begin())) << call;
  }
  std::vector<float> small(kBins - 1);
  EXPECT_THROW(into.ProcessIqBlock(src.Block(), small), EBrenvoError);
  EXPECT_EQ(into.Age(), 200);
  into.Reset();
  EXPECT_NE(into.FastPwr().data(), buffers[199 % 3].data());
}

TEST(DspEngineWindow, CrossCheckedValues) {
  TDspEngine e(kBlock, kRate);
  const auto w = e.WindowFunc();
  EXPECT_NEAR(w[512], 0.021015f, 5e-7f);
  double sum = 0;
  for (int i = 0; i < kRing; ++i) sum += w[i];
  EXPECT_NEAR(sum, 1.0, 1e-5);
  EXPECT_EQ(*std::max_element(w.begin(), w.begin() + kRing), w[512]);
  // Symmetric about the centre; positive out to 45 taps, negative at 46.
  for (int d = 1; d < 512; ++d) EXPECT_NEAR(w[512 + d], w[512 - d], 1e-8f) << d;
  for (int d = 0; d <= 45; ++d) EXPECT_GT(w[512 + d], 0.0f) << d;
  EXPECT_LT(w[512 + 46], 0.0f);
  EXPECT_LT(w[512 - 46], 0.0f);
  // Negative side lobes towards both ends.
  EXPECT_LT(*std::min_element(w.begin(), w.begin() + 100), 0.0f);
  EXPECT_LT(*std::min_element(w.begin() + 924, w.begin() + kRing), 0.0f);
  // Stored twice in a row.
  for (int i = 0; i < kRing; ++i) ASSERT_EQ(w[i], w[kRing + i]);
}

// The design's H is an array of singles: each value is stored, then scaled
// by the taper, itself a single. Computing H in double and rounding once
// changes about a third of the 15 values in their last bit, and through the
// transform nearly every tap.
TEST(DspEngineWindow, DesignRoundsEachStepToSingle) {
  for (const auto& [inputLength, rate] : {std::pair{8, 3000.0f}, std::pair{32, 3000.0f}, std::pair{8, 8000.0f}}) {
    TDspEngine e(inputLength, rate);
    const int n = e.RingLength();
    TComplexArray h(n);
    h[0] = ComplexFromReal(1.0f);
    for (int k = 1; k < n / 2; ++k) {
      const double x = k * static_cast<double>(rate) / n / 22.725;
      if (x > 2.0) break;
      const double a = std::numbers::pi * x / 2;
      const float response = static_cast<float>(a / std::sin(a));
      const float taper = static_cast<float>(0.5 * (1 - std::sin((x - 1) * std::numbers::pi / 2)));
      h[k] = h[n - k] = ComplexFromReal(response * taper);
    }
    FftComplexArray(h);
    double s = 0;
    for (const TComplex& c : h) s += c.Re;
    const auto w = e.WindowFunc();
    for (int i = 0; i < n; ++i)
      ASSERT_EQ(w[i], static_cast<float>(h[(n / 2 + i) % n].Re / s)) << "rate " << rate << " tap " << i;
  }
}

// Power response of a bin to a tone d bins from its centre, straight from the
// taps: |sum w[m] e^(j 2 pi d m / 256)|^2 (ring of 1024, 256 bins).
double TapResponse(std::span<const float> w, double d) {
  long double re = 0, im = 0;
  for (int m = 0; m < kRing; ++m) {
    const long double a = 2.0L * std::numbers::pi_v<long double> * d * m / kBins;
    re += w[m] * std::cos(a);
    im += w[m] * std::sin(a);
  }
  return static_cast<double>(re * re + im * im);
}

TEST(DspEngineWindow, StopBandBelowMinus47DbFromFourBinsOn) {
  TDspEngine e(kBlock, kRate);
  const auto w = e.WindowFunc();
  double worst = 0, worstAt = 0;
  for (double d = 4.0; d <= 12.0; d += d < 5.0 ? 0.005 : 0.05) {
    const double r = TapResponse(w, d);
    if (r > worst) {
      worst = r;
      worstAt = d;
    }
  }
  for (double d = 12.5; d <= 128.0; d += 0.37) worst = std::max(worst, TapResponse(w, d));
  EXPECT_NEAR(10 * std::log10(worst), -47.04, 0.05);
  EXPECT_NEAR(worstAt, 4.09, 0.015);
  EXPECT_NEAR(TapResponse(w, 1.0), 0.892485, 1e-5);

  // The same through the engine: a tone 4.09 bins from bin 150.
  e.SetScalingEnabled(false);
  TIqSource src;
  src.AddTone(4 * 22 + 4 * 4.09, 1.0);
  Feed(e, src, 130);
  EXPECT_LT(10 * std::log10(e.FastPwr()[150]), -46.95);
}

TEST(DspEngineWindow, DesignResponseCrossCheck) {
  EXPECT_NEAR(DesignH(4) * DesignH(4), 0.892485, 1e-6);
  EXPECT_NEAR(DesignH(8) * DesignH(8), 0.594566, 1e-6);
  EXPECT_NEAR(DesignH(12) * DesignH(12), 0.203828, 1e-6);
  EXPECT_EQ(DesignH(16), 0.0);
}

// With scaling off, a unit impulse as the very first sample sits at ring
// index 0; after call c it is the (1024 - 8c)-th oldest sample, so the folded
// block holds the single value w[1024 - 8c] and the spectrum is flat at its
// square. A fold that took the ring position before the advance would give
// w[1024 - 8(c - 1)] instead.
TEST(DspEngineFold, ImpulseAgeGivesFlatSquaredTap) {
  TDspEngine e(kBlock, kRate);
  e.SetScalingEnabled(false);
  const auto w = e.WindowFunc();
  std::vector<TComplex> block(kBlock);
  for (int c = 1; c <= 130; ++c) {
    block[0] = c == 1 ? TComplex{1, 0} : TComplex{};
    e.ProcessIqBlock(block);
    const double want = c <= 128 ? static_cast<double>(w[(kRing - 8 * c) % kRing]) * w[(kRing - 8 * c) % kRing] : 0.0;
    for (int b = 0; b < kBins; ++b) ASSERT_NEAR(e.FastPwr()[b], want, want * 1e-5 + 1e-20) << "call " << c << " bin " << b;
    if (c == 64) {
      EXPECT_NEAR(e.FastPwr()[0], 4.4164e-4, 1e-7);
    }
  }
}

// A tone on the 2.93 Hz grid, filling the ring, shows in each bin with the
// power A^2 H[d]^2, d being its distance from the bin's centre in grid steps.
TEST(DspEngineSpectrum, ToneResponseFollowsTheDesign) {
  struct Case {
    int gridSteps;  // from zero frequency
  } cases[] = {{4 * 20}, {4 * 20 + 1}, {4 * 20 + 2}, {-4 * 37 - 3}, {4 * 100 + 2}};
  TDspEngine e(kBlock, kRate);
  e.SetScalingEnabled(false);
  const double amp = 2.5;
  for (const Case& tc : cases) {
    e.Reset();
    TIqSource src;
    src.AddTone(tc.gridSteps, amp);
    Feed(e, src, 128);  // the ring is full of the tone from here on
    for (int b = 0; b < kBins; ++b) {
      const int d = std::abs(tc.gridSteps - 4 * (b - kCentre));
      const double want = amp * amp * DesignH(d) * DesignH(d);
      ASSERT_NEAR(e.FastPwr()[b], want, 2e-5 * amp * amp) << "tone " << tc.gridSteps << " bin " << b;
    }
  }
}

TEST(DspEngineSpectrum, BinCentreToneAndItsNeighbours) {
  TDspEngine e(kBlock, kRate);
  e.SetScalingEnabled(false);
  TIqSource src;
  src.AddTone(4 * 30, 1.0);
  Feed(e, src, 200);
  const auto p = e.FastPwr();
  EXPECT_NEAR(p[158], 1.0f, 1e-5f);  // taps sum to 1
  EXPECT_NEAR(p[157], 0.892485f, 1e-5f);
  EXPECT_NEAR(p[159], 0.892485f, 1e-5f);
  EXPECT_LT(p[154], 1e-9f);
  EXPECT_LT(p[162], 1e-9f);
}

TEST(DspEngineSpectrum, HalfBinToneGivesTwoEqualBins) {
  TDspEngine e(kBlock, kRate);
  e.SetScalingEnabled(false);
  TIqSource src;
  src.AddTone(4 * -50 + 2, 1.0);  // between bins 78 and 79
  Feed(e, src, 150);
  const auto p = e.FastPwr();
  const float h2 = static_cast<float>(DesignH(2) * DesignH(2));
  EXPECT_NEAR(p[78], h2, 1e-5f);
  EXPECT_NEAR(p[79], h2, 1e-5f);
  EXPECT_EQ(std::max_element(p.begin(), p.end()) - p.begin(), p[78] >= p[79] ? 78 : 79);
}

TEST(DspEngineSpectrum, LargestBinFollowsTheToneFrequency) {
  TDspEngine e(kBlock, kRate);
  for (int k = -127; k <= 127; ++k) {
    e.Reset();
    TIqSource src;
    src.AddTone(4.0 * k, 1.0);
    Feed(e, src, 128);
    const auto p = e.FastPwr();
    ASSERT_EQ(std::max_element(p.begin(), p.end()) - p.begin(), kCentre + k) << "k = " << k;
  }
}

TEST(DspEngineScaling, ZerosGiveZeroSpectrumWithoutScaling) {
  TDspEngine e(kBlock, kRate);
  const std::vector<TComplex> zeros(kBlock);
  for (int i = 0; i < 200; ++i) e.ProcessIqBlock(zeros);
  EXPECT_EQ(e.Mdn(), 0.0f);
  for (float v : e.FastPwr()) ASSERT_EQ(v, 0.0f);
  for (float v : e.PeakData()) ASSERT_EQ(v, 0.0f);
  for (int32_t c : e.Peaks()) ASSERT_EQ(c, 0);
}

TEST(DspEngineScaling, NoiseMedianReadsOne) {
  TDspEngine scaled(kBlock, kRate), raw(kBlock, kRate);
  raw.SetScalingEnabled(false);
  TIqSource a(5), b(5);
  a.SetNoise(300.0);
  b.SetNoise(300.0);
  for (int i = 0; i < 300; ++i) {
    scaled.ProcessIqBlock(a.Block());
    raw.ProcessIqBlock(b.Block());
    if (i % 37 != 0) continue;
    std::vector<float> r(raw.FastPwr().begin(), raw.FastPwr().end());
    std::sort(r.begin(), r.end());
    ASSERT_EQ(raw.Mdn(), r[128]);  // rank 128: the upper middle value
    ASSERT_EQ(scaled.Mdn(), raw.Mdn());
    std::vector<float> s(scaled.FastPwr().begin(), scaled.FastPwr().end());
    std::sort(s.begin(), s.end());
    EXPECT_NEAR(s[128], 1.0f, 2.5e-7f);
    const float f = 1.0f / raw.Mdn();
    for (int k = 0; k < kBins; ++k) ASSERT_EQ(scaled.FastPwr()[k], raw.FastPwr()[k] * f);
  }
}

TEST(DspEngineScaling, TinyMedianWhoseReciprocalOverflowsIsNotScaled) {
  TDspEngine e(kBlock, kRate);
  TIqSource src;
  src.SetNoise(1e-19);  // powers around 1e-40: 1 / median is not finite
  Feed(e, src, 130);
  ASSERT_GT(e.Mdn(), 0.0f);
  ASSERT_FALSE(std::isfinite(1.0f / e.Mdn()));
  EXPECT_TRUE(AllFinite(e.FastPwr()));
  EXPECT_LT(*std::max_element(e.FastPwr().begin(), e.FastPwr().end()), 1e-30f);
}

TEST(DspEnginePeaks, OfferedEvery16thAndFirstPeakWithThe80th) {
  TDspEngine e(kBlock, kRate);
  TIqSource src = ToneOverNoise(3, 148);
  for (int c = 1; c <= 200; ++c) {
    e.ProcessIqBlock(src.Block());
    ASSERT_EQ(e.Age(), c);
    ASSERT_EQ(e.PeaksAvailable(), c % 16 == 0) << c;
    if (!e.PeaksAvailable()) continue;
    const auto peaks = e.Peaks();
    if (c <= 64) {
      for (int k = 0; k < kBins; ++k) ASSERT_EQ(peaks[k], 0) << "call " << c << " cell " << k;
    } else {
      for (int k = 0; k < kBins; ++k) ASSERT_EQ(peaks[k], k == 148 ? -1 : 0) << "call " << c << " cell " << k;
    }
  }
}

TEST(DspEnginePeaks, NothingBeforeThe71stSpectrum) {
  TDspEngine e(kBlock, kRate);
  TIqSource src = ToneOverNoise(4, 68);
  Feed(e, src, 70);
  for (float v : e.SlowPwr()) ASSERT_EQ(v, 0.0f);
  for (float v : e.PeakData()) ASSERT_EQ(v, 0.0f);
  Feed(e, src, 1);
  EXPECT_GT(e.SlowPwr()[68], 0.0f);
  EXPECT_GT(e.PeakData()[68], 70.0f);  // one strong contrast is enough
  EXPECT_EQ(e.Peaks()[68], -1);
}

TEST(DspEnginePeaks, EdgeCellsStayZero) {
  TDspEngine e(kBlock, kRate);
  TIqSource src(6);
  for (int k : {-128, -126, -124, 124, 126}) src.AddTone(4 * k, 1.0);  // bins 0, 2, 4, 252, 254
  src.SetNoise(0.001);
  for (int c = 0; c < 400; ++c) {
    e.ProcessIqBlock(src.Block());
    const auto peaks = e.Peaks();
    for (int k : {0, 1, 2, 3, 4, 252, 253, 254, 255}) ASSERT_EQ(peaks[k], 0) << "call " << c << " cell " << k;
  }
  // The contrast is kept for bins 4 .. 251 only.
  for (int k : {0, 1, 2, 3, 252, 253, 254, 255}) EXPECT_EQ(e.PeakData()[k], 0.0f) << k;
  EXPECT_GT(e.PeakData()[4], 0.0f);
}

TEST(DspEnginePeaks, ClaimMarkIsRewrittenByTheNextSpectrum) {
  TDspEngine e(kBlock, kRate);
  TIqSource src = ToneOverNoise(8, 138);
  Feed(e, src, 100);
  ASSERT_EQ(e.Peaks()[138], -1);
  e.Peaks()[138] = 1;  // claimed by a channel
  e.Peaks()[60] = 1;
  Feed(e, src, 1);
  EXPECT_EQ(e.Peaks()[138], -1);
  EXPECT_EQ(e.Peaks()[60], 0);
}

// Digital silence into and beyond the 71st spectrum makes the contrast 0/0;
// it must count as 0 so that a tone is found again afterwards.
TEST(DspEnginePeaks, LongSilenceThenToneFindsThePeakAgain) {
  TDspEngine e(kBlock, kRate);
  const std::vector<TComplex> zeros(kBlock);
  for (int i = 0; i < 3000; ++i) e.ProcessIqBlock(zeros);
  EXPECT_TRUE(AllFinite(e.PeakData()));

  TIqSource src = ToneOverNoise(9, 158);
  Feed(e, src, 400);
  EXPECT_EQ(e.Peaks()[158], -1);

  // Silence after a tone: the sums decay through the subnormal range to 0.
  for (int i = 0; i < 6000; ++i) {
    e.ProcessIqBlock(zeros);
    ASSERT_TRUE(AllFinite(e.PeakData())) << i;
  }
  TIqSource other = ToneOverNoise(16, 88, 0.0);
  EXPECT_GT(CallsUntilPeak(e, other, 88, 1000), 0) << "no peak after the silence";
  EXPECT_TRUE(AllFinite(e.SlowPwr()));
}

TEST(DspEngineBadInput, NanBurstReadsAsSilenceAndDetectionResumes) {
  TDspEngine e(kBlock, kRate);
  TIqSource src = ToneOverNoise(10, 153);
  Feed(e, src, 300);
  ASSERT_EQ(e.Peaks()[153], -1);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (int i = 0; i < 40; ++i) {
    std::vector<TComplex> bad = src.Block();
    bad[i % kBlock] = {nan, 0};
    bad[(i + 3) % kBlock] = {1, inf};
    if (i % 5 == 0) std::fill(bad.begin(), bad.end(), TComplex{nan, nan});
    e.ProcessIqBlock(bad);
    ASSERT_TRUE(AllFinite(e.FastPwr())) << i;
    ASSERT_TRUE(std::isfinite(e.Mdn()));
  }
  Feed(e, src, 200);
  EXPECT_TRUE(AllFinite(e.SlowPwr()));
  EXPECT_TRUE(AllFinite(e.PeakData()));
  EXPECT_EQ(e.Peaks()[153], -1);
}

// Samples so large that the powers overflow leave the running sums at their
// ceiling instead of at infinity, from which they decay again.
TEST(DspEngineBadInput, OverflowingBurstDecaysAgain) {
  TDspEngine e(kBlock, kRate);
  TIqSource src = ToneOverNoise(11, 108);
  Feed(e, src, 200);
  TIqSource loud(12);
  loud.SetNoise(1e30);
  Feed(e, loud, 20);
  EXPECT_TRUE(AllFinite(e.SlowPwr()));
  EXPECT_TRUE(AllFinite(e.PeakData()));
  // The ceiling swamps the tone for a while: its peak fades, then returns as
  // the ceiling decays.
  int gone = -1;
  for (int i = 0; i < 3000 && gone < 0; ++i) {
    e.ProcessIqBlock(src.Block());
    if (e.Peaks()[108] != -1) gone = i;
  }
  EXPECT_GE(gone, 0);
  EXPECT_GT(CallsUntilPeak(e, src, 108, 4000), 0) << "no peak after the burst";
  EXPECT_TRUE(AllFinite(e.PeakData()));
}

TEST(DspEngine, ResetReturnsToTheJustBuiltState) {
  TDspEngine a(kBlock, kRate), b(kBlock, kRate);
  TIqSource s1(13), s2(13), other(14);
  s1.AddTone(52, 1.0);
  s2.AddTone(52, 1.0);
  other.SetNoise(1.0);
  Feed(a, other, 333);
  a.Reset();
  EXPECT_EQ(a.Age(), 0);
  EXPECT_EQ(a.RingPos(), 0);
  EXPECT_FALSE(a.PeaksAvailable());
  for (int i = 0; i < 150; ++i) {
    const auto blk = s1.Block();
    a.ProcessIqBlock(blk);
    b.ProcessIqBlock(blk);
  }
  EXPECT_TRUE(std::equal(a.FastPwr().begin(), a.FastPwr().end(), b.FastPwr().begin()));
  EXPECT_TRUE(std::equal(a.PeakData().begin(), a.PeakData().end(), b.PeakData().begin()));
  EXPECT_TRUE(std::equal(a.Peaks().begin(), a.Peaks().end(), b.Peaks().begin()));
}

// Other block lengths scale every size with them.
TEST(DspEngine, OtherInputLengths) {
  for (int n : {1, 2, 32, 512}) {
    TDspEngine e(n, 8000.0f);
    ASSERT_EQ(e.FftSize(), 32 * n);
    ASSERT_EQ(e.RingLength(), 128 * n);
    double sum = 0;
    for (int i = 0; i < e.RingLength(); ++i) sum += e.WindowFunc()[i];
    EXPECT_NEAR(sum, 1.0, 1e-4) << n;
    // A tone 5 bins above zero frequency, once the ring is full.
    std::vector<TComplex> block(n);
    long long t = 0;
    for (int c = 0; c < 4 * 32 + 2; ++c) {
      for (auto& x : block) {
        const double ph = 2.0 * std::numbers::pi * 5.0 * static_cast<double>(t++) / e.FftSize();
        x = {static_cast<float>(std::cos(ph)), static_cast<float>(std::sin(ph))};
      }
      e.ProcessIqBlock(block);
    }
    const auto p = e.FastPwr();
    EXPECT_EQ(std::max_element(p.begin(), p.end()) - p.begin(), e.FftSize() / 2 + 5) << n;
  }
}

TEST(DspEngine, NoHeapAllocationPerCall) {
  if (!testing::HeapCountingAvailable()) GTEST_SKIP() << "allocation counting not available in this build";
  TDspEngine e(kBlock, kRate);
  TIqSource src(15);
  src.AddTone(70, 1.0);
  src.SetNoise(0.1);
  std::vector<std::vector<TComplex>> blocks;
  for (int i = 0; i < 64; ++i) blocks.push_back(src.Block());
  for (int i = 0; i < 100; ++i) e.ProcessIqBlock(blocks[i % 64]);
  const long long before = testing::HeapAllocations();
  for (int i = 0; i < 500; ++i) e.ProcessIqBlock(blocks[i % 64]);
  EXPECT_EQ(testing::HeapAllocations() - before, 0);
}

}  // namespace
}  // namespace brenvo
