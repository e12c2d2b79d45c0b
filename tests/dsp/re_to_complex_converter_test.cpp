#include "dsp/re_to_complex_converter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/errors.h"
#include "dsp/fast_down_mixer.h"

namespace brenvo {
namespace {

using LD = long double;
constexpr double kPi = std::numbers::pi;

std::vector<float> Tone(double hz, double amplitude, std::size_t n, double phase = 0.0) {
  std::vector<float> x(n);
  for (std::size_t i = 0; i < n; ++i)
    x[i] = static_cast<float>(amplitude * std::cos(2 * kPi * hz * i / 6000.0 + phase));
  return x;
}

// Converts a whole stream in blocks of 128.
std::vector<TComplex> ConvertStream(TReToComplexConverter& c, const std::vector<float>& x) {
  std::vector<TComplex> out;
  TSingleArray block(128);
  TComplexArray iq;
  for (std::size_t p = 0; p + 128 <= x.size(); p += 128) {
    block.assign(x.begin() + p, x.begin() + p + 128);
    c.Convert(block, iq);
    out.insert(out.end(), iq.begin(), iq.end());
  }
  return out;
}

// DFT of z[from .. from + n) at the complex frequency f (Hz at 3000 Hz), scaled
// to the amplitude of a complex exponential.
std::complex<LD> Dft(const std::vector<TComplex>& z, std::size_t from, std::size_t n, LD f) {
  std::complex<LD> acc = 0;
  for (std::size_t j = 0; j < n; ++j) {
    const std::complex<LD> v(z[from + j].Re, z[from + j].Im);
    acc += v * std::polar(1.0L, -2 * std::numbers::pi_v<LD> * f * static_cast<LD>(j) / 3000.0L);
  }
  return acc / static_cast<LD>(n);
}

TEST(FastDownMixer, DefaultTableIsNoShift) {
  TFastDownMixer m;
  ASSERT_EQ(m.Table().size(), 2048u);
  EXPECT_EQ(m.HighIndex(), 2047);
  for (const TComplex& o : m.Table()) ASSERT_TRUE(o.Re == 1.0f && o.Im == 0.0f);
}

TEST(FastDownMixer, TableLengthAndRoundedPeriods) {
  TFastDownMixer m;
  m.SetParams(0, 0, 48000);
  ASSERT_EQ(m.Table().size(), 48000u);
  for (const TComplex& o : m.Table()) ASSERT_TRUE(o.Re == 1.0f && o.Im == 0.0f);
  // Entry 1 is (cos Step, -sin Step) with Step = 2 pi k / Count.
  struct Case {
    int count;
    double freq, rate;
    int k;
  } cases[] = {{4096, 1000, 4096, 1000}, {10, 1.25, 10, 1}, {4, 2.5, 4, 2}, {4, 3.5, 4, 4}};
  for (const Case& c : cases) {
    m.SetParams(c.count, c.freq, c.rate);
    EXPECT_EQ(m.Frequency(), c.freq);
    const double step = 2 * kPi * c.k / c.count;
    EXPECT_NEAR(m.Table()[1].Re, std::cos(step), 1e-6) << c.freq;
    EXPECT_NEAR(m.Table()[1].Im, -std::sin(step), 1e-6) << c.freq;
  }
}

TEST(FastDownMixer, QuarterRateTableAndRejections) {
  TFastDownMixer m;
  m.SetParams(4096, 1024, 4096);
  const float expected[4][2] = {{1, 0}, {0, -1}, {-1, 0}, {0, 1}};
  for (int n = 0; n < 4096; ++n) {
    ASSERT_NEAR(m.Table()[n].Re, expected[n % 4][0], 2e-4) << n;
    ASSERT_NEAR(m.Table()[n].Im, expected[n % 4][1], 2e-4) << n;
  }
  EXPECT_THROW(m.SetParams(-1, 0, 10), ERangeError);
  EXPECT_THROW(m.SetParams(10, 0, 0), ERangeError);
  EXPECT_THROW(m.SetParams(10, NAN, 10), ERangeError);
  EXPECT_THROW(m.SetParams(0, 0, 0.2), ERangeError);
  EXPECT_EQ(m.Table().size(), 4096u);
}

TEST(FastDownMixer, OverloadsAgreeAndPhaseRunsOn) {
  TFastDownMixer a, b, c;
  for (TFastDownMixer* m : {&a, &b, &c}) m->SetParams(5, 1, 5);
  const TSingleArray re = {1, 2, 3, 4, 5, 6, 7}, im = {-1, 0.5f, 2, 0, 1, -3, 4};
  TComplexArray in(re.size());
  for (std::size_t i = 0; i < re.size(); ++i) in[i] = {re[i], im[i]};
  TComplexArray outA;
  TReImArrays outB;
  a.Mix(in, outA);
  b.Mix(re, im, outB);
  ASSERT_EQ(outA.size(), 7u);
  ASSERT_EQ(outB.Re.size(), 7u);
  for (std::size_t i = 0; i < re.size(); ++i) {
    const std::complex<double> o = std::polar(1.0, -2 * kPi * static_cast<double>(i % 5) / 5);
    const std::complex<double> want = std::complex<double>(re[i], im[i]) * o;
    EXPECT_NEAR(outA[i].Re, want.real(), 1e-5);
    EXPECT_NEAR(outA[i].Im, want.imag(), 1e-5);
    EXPECT_EQ(outB.Re[i], outA[i].Re);
    EXPECT_EQ(outB.Im[i], outA[i].Im);
  }
  EXPECT_EQ(a.CurrentIndex(), 2);  // 7 samples on a table of 5
  // Real input in two calls continues the oscillator.
  TComplexArray r1, r2;
  c.Mix(TSingleArray{1, 1, 1}, r1);
  c.Mix(TSingleArray{1, 1, 1, 1}, r2);
  EXPECT_EQ(r2[0].Re, c.Table()[3].Re);
  EXPECT_EQ(r2[2].Im, c.Table()[0].Im);
  c.Reset();
  EXPECT_EQ(c.CurrentIndex(), 0);
  EXPECT_THROW(c.Mix(TSingleArray{1, 2}, TSingleArray{1}, outB), ERangeError);
}

TEST(ReToComplexConverter, BlockOf128Gives64AndOscillatorContinues) {
  TReToComplexConverter c(128);
  TComplexArray iq;
  c.Convert(TSingleArray(128, 1.0f), iq);
  EXPECT_EQ(iq.size(), 64u);
  EXPECT_EQ(c.Mixer().CurrentIndex(), 128);
  c.Convert(TSingleArray(128, 1.0f), iq);
  EXPECT_EQ(c.Mixer().CurrentIndex(), 256);
  EXPECT_THROW(TReToComplexConverter(127), ERangeError);
  EXPECT_THROW(TReToComplexConverter(0), ERangeError);
}

// Audio above 1500 Hz turns counter-clockwise, below it clockwise, at half the
// amplitude.
TEST(ReToComplexConverter, PhaseDirection) {
  struct Case {
    double audio, complexHz;
  } cases[] = {{2000, 500}, {1000, -500}};
  for (const Case& k : cases) {
    TReToComplexConverter c(128);
    const std::vector<TComplex> z = ConvertStream(c, Tone(k.audio, 1.0, 128 * 10));
    const double want = 2 * kPi * k.complexHz / 3000;
    for (std::size_t j = 100; j + 1 < z.size(); ++j) {
      const std::complex<double> a(z[j].Re, z[j].Im), b(z[j + 1].Re, z[j + 1].Im);
      ASSERT_NEAR(std::abs(a), 0.5, 1e-4) << k.audio << " " << j;
      ASSERT_NEAR(std::arg(b / a), want, 1e-4) << k.audio << " " << j;
    }
  }
}

// With the oscillator running at exactly -1500 Hz, output j of the stream is
// the input tone's half-amplitude phasor at input sample 2j - 75: a delay of 76.
TEST(ReToComplexConverter, DelayOf76Samples) {
  const double hz = 2295;
  TReToComplexConverter c(128);
  const std::vector<TComplex> z = ConvertStream(c, Tone(hz, 1.0, 128 * 20, 0.7));
  for (std::size_t j = 100; j < z.size(); ++j) {
    const double n = 2.0 * j - 75;
    // Input cos(w n + p) mixed with exp(-j 2 pi 1500 n / 6000) keeps
    // 0.5 exp(j((w - w0) n + p)).
    const std::complex<double> want =
        0.5 * std::polar(1.0, 2 * kPi * (hz - 1500) * n / 6000 + 0.7);
    ASSERT_NEAR(z[j].Re, want.real(), 5e-4) << j;
    ASSERT_NEAR(z[j].Im, want.imag(), 5e-4) << j;
  }
}

TEST(ReToComplexConverter, ImpulseAppearsAtOutputs37And38) {
  TReToComplexConverter c(128);
  TSingleArray x(128, 0.0f);
  x[0] = 1.0f;
  TComplexArray iq;
  c.Convert(x, iq);
  EXPECT_NEAR(iq[37].Re, 0.318003f, 1e-6);
  EXPECT_EQ(iq[37].Im, 0.0f);
  EXPECT_EQ(iq[38].Re, iq[37].Re);
  EXPECT_EQ(iq[38].Im, 0.0f);
  for (std::size_t j = 0; j < iq.size(); ++j) EXPECT_LE(std::fabs(iq[j].Re), iq[37].Re) << j;
}

// Two blocks equal one direct convolution of the mixed stream with the long
// half-band kernel: output j = sum over odd offsets around input 2j - 75.
TEST(ReToComplexConverter, TwoBlocksEqualOneDirectConvolution) {
  std::mt19937 gen(11);
  std::uniform_real_distribution<float> d(-1000.0f, 1000.0f);
  std::vector<float> x(256);
  for (float& v : x) v = d(gen);
  TReToComplexConverter c(128);
  const std::vector<TComplex> z = ConvertStream(c, x);
  ASSERT_EQ(z.size(), 128u);

  TOctaveResampler design(rf02x, 128);
  const auto& k = design.Kernel5D();
  const float step = static_cast<float>(kPi / 2);  // the table's step, held as a single
  auto mixed = [&](long long n) -> std::complex<LD> {
    if (n < 0) return 0;
    const LD a = static_cast<LD>(n) * step;
    // The table entry rounded to single, as the converter holds it.
    const std::complex<LD> o(static_cast<float>(std::cos(a)), static_cast<float>(-std::sin(a)));
    return static_cast<LD>(x[n]) * o;
  };
  for (long long j = 0; j < 128; ++j) {
    const long long centre = 2 * j - 75;
    std::complex<LD> acc = static_cast<LD>(k[0]) * mixed(centre);
    for (int t = 1; t <= 38; ++t) acc += static_cast<LD>(k[t]) * (mixed(centre + 2 * t - 1) + mixed(centre - 2 * t + 1));
    ASSERT_NEAR(z[j].Re, static_cast<double>(acc.real()), 2e-3) << j;
    ASSERT_NEAR(z[j].Im, static_cast<double>(acc.imag()), 2e-3) << j;
  }
}

// The two default tones of a 170 Hz pair become complex tones at f - 1500 Hz of
// half the amplitude, peaking in the 256-point spectrum at round(f * 256 / 3000).
TEST(ReToComplexConverter, AudioToneBecomesHalfAmplitudeComplexTone) {
  const double amp = 8000.0 * 65536.0;  // a 16-bit sample of 8000 at the 32-bit scale
  struct Case {
    double hz;
    int bin;
  } cases[] = {{2295, 196}, {2125, 181}};
  for (const Case& k : cases) {
    TReToComplexConverter c(128);
    const std::vector<TComplex> z = ConvertStream(c, Tone(k.hz, amp, 128 * 60, 1.1));
    const LD f = k.hz - 1500;
    EXPECT_NEAR(static_cast<double>(std::abs(Dft(z, 200, 3000, f))) / amp, 0.5, 1e-4) << k.hz;
    // The mirror at -f - 1500 Hz (aliased to 3000 - f - 1500 - 3000) is gone.
    EXPECT_LT(static_cast<double>(std::abs(Dft(z, 200, 3000, -(k.hz + 1500) + 3000))) / amp, 1e-5);
    // Peak of a Hann-windowed 256-point DFT, bin b standing for audio b * 3000 / 256.
    int best = -1;
    LD bestPower = -1;
    for (int b = 0; b < 256; ++b) {
      std::complex<LD> acc = 0;
      for (int j = 0; j < 256; ++j) {
        const LD w = 0.5L - 0.5L * std::cos(2 * std::numbers::pi_v<LD> * j / 256);
        const std::complex<LD> v(z[300 + j].Re, z[300 + j].Im);
        acc += w * v * std::polar(1.0L, -2 * std::numbers::pi_v<LD> * (b - 128) * j / 256.0L);
      }
      if (std::norm(acc) > bestPower) bestPower = std::norm(acc), best = b;
    }
    EXPECT_EQ(best, k.bin) << k.hz;
    EXPECT_EQ(best, static_cast<int>(std::nearbyint(k.hz * 256 / 3000)));
  }
}

TEST(ReToComplexConverter, NonFiniteSamplesCountAsZero) {
  std::vector<float> x = Tone(1900, 1000.0, 128 * 4);
  std::vector<float> zeroed = x;
  const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                       -std::numeric_limits<float>::infinity()};
  for (int i = 0; i < 3; ++i) {
    x[130 + 7 * i] = bad[i];
    zeroed[130 + 7 * i] = 0.0f;
  }
  TReToComplexConverter a(128), b(128);
  const std::vector<TComplex> za = ConvertStream(a, x), zb = ConvertStream(b, zeroed);
  ASSERT_EQ(za.size(), zb.size());
  for (std::size_t j = 0; j < za.size(); ++j) {
    ASSERT_TRUE(std::isfinite(za[j].Re) && std::isfinite(za[j].Im)) << j;
    EXPECT_EQ(za[j].Re, zb[j].Re);
    EXPECT_EQ(za[j].Im, zb[j].Im);
  }
}

// A block of the wrong length is refused before the oscillator moves: the
// stream goes on as if the block had never been offered.
TEST(ReToComplexConverter, WrongBlockLengthLeavesTheStream) {
  const std::vector<float> x = Tone(2125, 1.0, 384, 0.2);
  TReToComplexConverter a(128), b(128);
  TComplexArray ia, ib;
  TSingleArray blk(x.begin(), x.begin() + 128);
  a.Convert(blk, ia);
  b.Convert(blk, ib);
  ia.assign(3, TComplex{9, 9});
  EXPECT_THROW(a.Convert(TSingleArray(127), ia), EAssertionFailure);
  EXPECT_THROW(a.Convert(TSingleArray(129), ia), EAssertionFailure);
  EXPECT_EQ(ia.size(), 3u);
  EXPECT_EQ(a.Mixer().CurrentIndex(), 128);
  for (int k = 1; k < 3; ++k) {
    blk.assign(x.begin() + 128 * k, x.begin() + 128 * (k + 1));
    a.Convert(blk, ia);
    b.Convert(blk, ib);
    for (int j = 0; j < 64; ++j) {
      EXPECT_EQ(ia[j].Re, ib[j].Re);
      EXPECT_EQ(ia[j].Im, ib[j].Im);
    }
  }
}

TEST(ReToComplexConverter, ResetRestartsTheStream) {
  const std::vector<float> x = Tone(1700, 3.0, 256, 0.5);
  TReToComplexConverter c(128);
  const std::vector<TComplex> first = ConvertStream(c, x);
  c.Reset();
  EXPECT_EQ(c.Mixer().CurrentIndex(), 0);
  const std::vector<TComplex> again = ConvertStream(c, x);
  for (std::size_t j = 0; j < first.size(); ++j) {
    EXPECT_EQ(first[j].Re, again[j].Re);
    EXPECT_EQ(first[j].Im, again[j].Im);
  }
}

}  // namespace
}  // namespace brenvo
