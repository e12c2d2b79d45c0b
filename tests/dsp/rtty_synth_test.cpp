// The test-signal synthesiser, checked with a Goertzel/DFT of our own: its
// ITA2 table, tones, timing, keying, noise calibration and drift.
#include "support/rtty_synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <iterator>
#include <map>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

namespace brenvo::testing {
namespace {

constexpr double kPi = std::numbers::pi;

// Amplitude of the component at hz in x[from .. from + len).
double ToneAmplitude(const TSingleArray& x, std::size_t from, std::size_t len, double hz) {
  std::complex<double> acc = 0;
  const double w = 2 * kPi * hz / kSynthSampleRate;
  for (std::size_t n = 0; n < len; ++n) acc += static_cast<double>(x[from + n]) * std::polar(1.0, -w * n);
  return 2 * std::abs(acc) / static_cast<double>(len);
}

// Frequency of the strongest component between lo and hi: a coarse grid, then
// ever finer grids around the best point.
double PeakHz(const TSingleArray& x, std::size_t from, std::size_t len, double lo, double hi) {
  double best = lo;
  double step = 1.0;
  double a = lo, b = hi;
  for (int round = 0; round < 4; ++round) {
    double bestAmp = -1;
    for (double f = a; f <= b; f += step) {
      const double amp = ToneAmplitude(x, from, len, f);
      if (amp > bestAmp) bestAmp = amp, best = f;
    }
    a = best - step, b = best + step, step /= 10;
  }
  return best;
}

// Power in bins 0 .. len/2 - 1 of one len-point DFT of x[from ..), optionally
// Hann-windowed.
std::vector<double> PowerSpectrum(const TSingleArray& x, std::size_t from, std::size_t len, bool hann) {
  std::vector<std::complex<double>> tw(len);
  for (std::size_t m = 0; m < len; ++m) tw[m] = std::polar(1.0, -2 * kPi * m / len);
  std::vector<double> xs(len);
  for (std::size_t n = 0; n < len; ++n)
    xs[n] = x[from + n] * (hann ? 0.5 - 0.5 * std::cos(2 * kPi * n / len) : 1.0);
  std::vector<double> p(len / 2);
  for (std::size_t k = 0; k < len / 2; ++k) {
    std::complex<double> acc = 0;
    for (std::size_t n = 0; n < len; ++n) acc += xs[n] * tw[(k * n) % len];
    p[k] = std::norm(acc);
  }
  return p;
}

std::size_t At(double sec) { return static_cast<std::size_t>(std::llround(sec * kSynthSampleRate)); }

TEST(Ita2, LettersMatchTheStandardChart) {
  // The classic chart, first bit on the air written first.
  const std::map<char, std::string> chart = {
      {'A', "11000"}, {'B', "10011"}, {'C', "01110"}, {'D', "10010"}, {'E', "10000"}, {'F', "10110"},
      {'G', "01011"}, {'H', "00101"}, {'I', "01100"}, {'J', "11010"}, {'K', "11110"}, {'L', "01001"},
      {'M', "00111"}, {'N', "00110"}, {'O', "00011"}, {'P', "01101"}, {'Q', "11101"}, {'R', "01010"},
      {'S', "10100"}, {'T', "00001"}, {'U', "11100"}, {'V', "01111"}, {'W', "11001"}, {'X', "10111"},
      {'Y', "10101"}, {'Z', "10001"}, {' ', "00100"}, {'\r', "00010"}, {'\n', "01000"}};
  for (const auto& [c, bits] : chart) {
    uint8_t code = 0;
    for (int b = 0; b < 5; ++b) code |= static_cast<uint8_t>((bits[b] - '0') << b);
    EXPECT_EQ(Ita2ToAscii(code, false), c) << bits;
    EXPECT_EQ(TextToIta2(std::string(1, c)), std::vector<uint8_t>{code}) << bits;
  }
  // Digits sit under the top keyboard row.
  const std::string row = "Q1W2E3R4T5Y6U7I8O9P0";
  for (std::size_t i = 0; i < row.size(); i += 2) {
    const auto codes = TextToIta2(std::string(1, row[i + 1]));
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_EQ(codes[0], kItaFigures);
    EXPECT_EQ(Ita2ToAscii(codes[1], false), row[i]);
  }
  EXPECT_EQ(Ita2ToAscii(kItaSpace, true), ' ');
  EXPECT_EQ(Ita2ToAscii(kItaFigures, false), '\0');
  EXPECT_EQ(Ita2ToAscii(kItaLetters, true), '\0');
  EXPECT_THROW(Ita2ToAscii(32, false), std::invalid_argument);
}

// The figures row is the program's own, not the US teleprinter's: the decoder
// prints code 5 as the apostrophe and code 11 as the asterisk, so a test that
// sends "DON'T" must key code 5 to get "DON'T" back.
TEST(Ita2, FiguresRowIsTheProgramsOwn) {
  const std::string figures = "3-'87$4*,!:(5\")2#6019?&./;";
  const uint8_t codes[] = {1,  3,  5,  6,  7,  9,  10, 11, 12, 13, 14, 15, 16,
                           17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 28, 29, 30};
  ASSERT_EQ(figures.size(), std::size(codes));
  for (std::size_t i = 0; i < figures.size(); ++i) {
    EXPECT_EQ(Ita2ToAscii(codes[i], true), figures[i]) << int(codes[i]);
    EXPECT_EQ(TextToIta2(std::string(1, figures[i])),
              (std::vector<uint8_t>{kItaFigures, codes[i]}))
        << figures[i];
  }
  EXPECT_EQ(TextToIta2("DON'T"),
            (std::vector<uint8_t>{9, 24, 12, kItaFigures, 5, kItaLetters, 16}));
  // No bell, "=" or "+" in the program's row.
  for (char c : {'\a', '=', '+'})
    EXPECT_THROW(TextToIta2(std::string(1, c)), std::invalid_argument) << int(c);
}

TEST(Ita2, ShiftsAreInsertedAsNeeded) {
  const std::vector<uint8_t> call = TextToIta2("cq de k1abc");
  const std::vector<uint8_t> want = {14, 23, 4, 9, 1, 4, 15, kItaFigures, 23, kItaLetters, 3, 25, 14};
  EXPECT_EQ(call, want);
  // The receiver falls back to letters after a space: figures shift again.
  EXPECT_EQ(TextToIta2("599 001"),
            (std::vector<uint8_t>{kItaFigures, 16, 24, 24, 4, kItaFigures, 22, 22, 23}));
  EXPECT_EQ(TextToIta2("599 001", false),
            (std::vector<uint8_t>{kItaFigures, 16, 24, 24, 4, 22, 22, 23}));
  // And a letter after a space needs no letters shift then.
  EXPECT_EQ(TextToIta2("5 E"), (std::vector<uint8_t>{kItaFigures, 16, 4, 1}));
  EXPECT_EQ(TextToIta2("5 E", false), (std::vector<uint8_t>{kItaFigures, 16, 4, kItaLetters, 1}));
  EXPECT_THROW(TextToIta2("A=B"), std::invalid_argument);
  EXPECT_THROW(TextToIta2("@"), std::invalid_argument);
  EXPECT_THROW(TextToIta2(std::string(1, '\0')), std::invalid_argument);
}

TEST(Ita2, TextRoundTrips) {
  const std::string texts[] = {"CQ CQ DE DL1XYZ DL1XYZ PSE K\r\n", "UR 599 001 001 TU",
                               "RST 5NN? (A/B) 'OK' $12.50, 3:30 #7 & \"Q\"; -!", "*73*"};
  for (bool unshift : {true, false})
    for (const std::string& t : texts) EXPECT_EQ(Ita2ToText(TextToIta2(t, unshift), unshift), t);
}

TEST(RttySynth, CharacterTimesAndLength) {
  for (double stop : {1.0, 1.5, 2.0}) {
    RttySynthParams p;
    p.StopBits = stop;
    p.Baud = 50;
    p.LeadSilenceSec = 0.25;
    p.IdleBeforeSec = 0.5;
    p.IdleAfterSec = 0.1;
    p.TrailSilenceSec = 0.2;
    const RttySignal s = SynthesizeText(p, "RYRY 123");
    ASSERT_EQ(s.Codes.size(), TextToIta2("RYRY 123").size());
    const double charDur = (6 + stop) / 50;
    for (std::size_t i = 0; i < s.Codes.size(); ++i) {
      EXPECT_NEAR(s.Codes[i].StartSec, 0.75 + i * charDur, 1e-12);
      EXPECT_NEAR(s.Codes[i].EndSec - s.Codes[i].StartSec, charDur, 1e-12);
      EXPECT_NEAR(s.Codes[i].StartSample(), s.Codes[i].StartSec * 6000, 1e-9);
    }
    EXPECT_EQ(s.SignalStartSec, 0.25);
    EXPECT_NEAR(s.SignalEndSec, 0.75 + s.Codes.size() * charDur + 0.1, 1e-12);
    EXPECT_EQ(s.Samples.size(), static_cast<std::size_t>(std::ceil((s.SignalEndSec + 0.2) * 6000 - 1e-9)));
    EXPECT_EQ(s.Keying.size(), s.Samples.size());
  }
}

// Both tones at their frequencies, either one the higher.
TEST(RttySynth, ToneFrequencies) {
  for (auto [mark, space] : {std::pair{2125.0, 2295.0}, std::pair{2295.0, 2125.0}, std::pair{915.5, 1085.5}}) {
    RttySynthParams p;
    p.MarkHz = mark;
    p.SpaceHz = space;
    p.IdleBeforeSec = 1.0;
    // Null codes: start element and five data bits of space, 132 ms.
    const RttySignal s = SynthesizeCodes(p, {kItaNull});
    EXPECT_NEAR(PeakHz(s.Samples, At(0.2), At(0.6), mark - 100, mark + 100), mark, 0.02);
    const std::size_t spaceFrom = At(s.Codes[0].StartSec + 0.01);
    EXPECT_NEAR(PeakHz(s.Samples, spaceFrom, At(0.1), space - 100, space + 100), space, 0.2);
    EXPECT_NEAR(ToneAmplitude(s.Samples, At(0.2), At(0.6), mark) / p.Amplitude, 1.0, 1e-3);
  }
}

// Every element of every character, at several speeds and stop lengths: the
// middle of the element holds the expected tone. A wrong bit order, baud rate
// or stop length would shift the later elements onto the wrong tone.
TEST(RttySynth, BitsOnTheAirAtTheRightTimes) {
  struct Case {
    double baud, stop, edge;
  } cases[] = {{45.45, 1.5, 0.0}, {45.45, 1.5, 0.005}, {50, 1.0, 0.0}, {75, 2.0, 0.003}, {45.45, 2.0, 0.022}};
  const std::string text = "THE QUICK BROWN FOX 0123456789 JUMPS";
  for (const Case& c : cases) {
    RttySynthParams p;
    p.Baud = c.baud;
    p.StopBits = c.stop;
    p.EdgeSec = c.edge;
    p.IdleBeforeSec = 0.2;
    const RttySignal s = SynthesizeText(p, text);
    const double bit = 1 / c.baud;
    int checked = 0;
    for (std::size_t i = 0; i < s.Codes.size(); ++i) {
      const SentCode& sc = s.Codes[i];
      // Times from the parameters alone, not from the synthesiser's own record.
      const double start = 0.2 + i * (6 + c.stop) * bit;
      for (int e = 0; e < 7; ++e) {
        const bool mark = e == 0 ? false : e == 6 ? true : ((sc.Code >> (e - 1)) & 1) != 0;
        const double from = start + e * bit + 0.25 * bit;
        const std::size_t len = At(0.5 * bit);
        const double m = ToneAmplitude(s.Samples, At(from), len, p.MarkHz);
        const double sp = ToneAmplitude(s.Samples, At(from), len, p.SpaceHz);
        ASSERT_GT(mark ? m / sp : sp / m, 4.0) << c.baud << " code " << int(sc.Code) << " element " << e;
        ++checked;
      }
    }
    EXPECT_EQ(checked, 7 * static_cast<int>(s.Codes.size()));
  }
}

// The keying level follows a raised cosine across each boundary, centred on it.
TEST(RttySynth, RaisedCosineEdges) {
  RttySynthParams p;
  p.Baud = 50;
  p.EdgeSec = 0.008;
  p.IdleBeforeSec = 0.1;
  const RttySignal s = SynthesizeCodes(p, {kItaLetters});
  const double t0 = s.Codes[0].StartSec;  // mark -> space
  auto keyAt = [&](double sec) {
    const double pos = sec * 6000;
    const auto i = static_cast<std::size_t>(std::llround(pos));
    EXPECT_NEAR(pos, static_cast<double>(i), 1e-6) << "not on a sample";
    return static_cast<double>(s.Keying[i]);
  };
  EXPECT_NEAR(keyAt(t0 - 0.004), 1.0, 1e-6);
  EXPECT_NEAR(keyAt(t0 - 0.002), 0.5 + 0.5 * std::cos(kPi / 4), 1e-6);
  EXPECT_NEAR(keyAt(t0), 0.5, 1e-6);
  EXPECT_NEAR(keyAt(t0 + 0.002), 0.5 - 0.5 * std::cos(kPi / 4), 1e-6);
  EXPECT_NEAR(keyAt(t0 + 0.004), 0.0, 1e-6);
  const double t1 = t0 + 0.02;  // space -> mark (first data bit of all-ones)
  EXPECT_NEAR(keyAt(t1), 0.5, 1e-6);
  EXPECT_NEAR(keyAt(t1 + 0.004), 1.0, 1e-6);
}

// Power more than 200 Hz away from both tones, relative to the total.
double SplatterFraction(const RttySignal& s, double lo, double hi) {
  const std::size_t len = 1024;
  double out = 0, total = 0;
  for (std::size_t from = 0; from + len <= s.Samples.size(); from += len) {
    const std::vector<double> p = PowerSpectrum(s.Samples, from, len, true);
    for (std::size_t k = 1; k < p.size(); ++k) {
      const double hz = k * kSynthSampleRate / len;
      total += p[k];
      if (hz < lo - 200 || hz > hi + 200) out += p[k];
    }
  }
  return out / total;
}

// Shaped edges keep the keyed signal narrow; hard keying splatters.
TEST(RttySynth, ShapedKeyingIsNarrowerThanHardKeying) {
  RttySynthParams p;
  p.EdgeSec = 0.0;
  const std::string text = "RYRYRYRYRYRYRYRYRYRY";
  const double hard = SplatterFraction(SynthesizeText(p, text), 2125, 2295);
  p.EdgeSec = 1 / 45.45;
  const double soft = SplatterFraction(SynthesizeText(p, text), 2125, 2295);
  EXPECT_LT(soft, hard / 10) << hard << " " << soft;
}

// Continuous phase and constant amplitude: no step between samples is larger
// than the highest tone allows, with hard keying too.
TEST(RttySynth, PhaseIsContinuous) {
  for (double edge : {0.0, 0.005}) {
    RttySynthParams p;
    p.EdgeSec = edge;
    p.Amplitude = 1000;
    const RttySignal s = SynthesizeText(p, "RYRY 73");
    const double maxStep = p.Amplitude * 2 * kPi * 2295 / kSynthSampleRate;
    for (std::size_t n = 0; n + 1 < s.Samples.size(); ++n)
      ASSERT_LE(std::fabs(s.Samples[n + 1] - s.Samples[n]), maxStep * 1.0001) << n;
  }
}

// Noise power in 3000 Hz (all of it at 6000 Hz) measured over the silence and
// over the tone: the signal-to-noise ratio comes out as asked, the noise is
// white, zero-mean and Gaussian, and a seed fixes it.
TEST(RttySynth, NoiseCalibration) {
  for (double snr : {-10.0, 0.0, 6.0, 20.0}) {
    RttySynthParams p;
    p.SnrDb = snr;
    p.LeadSilenceSec = 10;
    p.IdleBeforeSec = 10;
    p.Seed = 42;
    const RttySignal s = SynthesizeCodes(p, {});
    const std::size_t quiet = At(9.9);
    double mean = 0, var = 0, m4 = 0;
    for (std::size_t n = 0; n < quiet; ++n) mean += s.Samples[n];
    mean /= quiet;
    for (std::size_t n = 0; n < quiet; ++n) {
      const double d = s.Samples[n] - mean;
      var += d * d;
      m4 += d * d * d * d;
    }
    var /= quiet;
    m4 /= quiet;
    EXPECT_NEAR(std::sqrt(var) / s.NoiseSigma, 1.0, 0.01) << snr;
    EXPECT_NEAR(10 * std::log10(s.SignalPower / var), snr, 0.06) << snr;
    EXPECT_NEAR(mean / s.NoiseSigma, 0.0, 0.02) << snr;
    EXPECT_NEAR(m4 / (var * var), 3.0, 0.1) << snr;
    // Tone plus noise: the excess power over the tone's is the noise.
    const std::size_t from = At(10.1), len = At(9.8);
    const double amp = ToneAmplitude(s.Samples, from, len, p.MarkHz);
    double total = 0;
    for (std::size_t n = from; n < from + len; ++n) total += static_cast<double>(s.Samples[n]) * s.Samples[n];
    total /= len;
    const double noise = total - amp * amp / 2;
    EXPECT_NEAR(10 * std::log10(amp * amp / 2 / noise), snr, 0.15) << snr;
    EXPECT_NEAR(amp / p.Amplitude, 1.0, 0.02) << snr;
  }
  // Whiteness: the noise power splits evenly between the lower and upper half
  // of the 3000 Hz band.
  RttySynthParams p;
  p.SnrDb = 0;
  p.LeadSilenceSec = 4;
  p.TrailSilenceSec = 0.01;
  const RttySignal s = SynthesizeCodes(p, {});
  const std::size_t len = 512;
  double low = 0, high = 0;
  for (std::size_t from = 0; from + len <= At(3.9); from += len) {
    const std::vector<double> p = PowerSpectrum(s.Samples, from, len, false);
    for (std::size_t k = 1; k < p.size(); ++k) (k < len / 4 ? low : high) += p[k];
  }
  EXPECT_NEAR(low / high, 1.0, 0.05);

  RttySynthParams q;
  q.SnrDb = 3;
  q.IdleBeforeSec = 0.1;
  const RttySignal a = SynthesizeCodes(q, {}), b = SynthesizeCodes(q, {});
  q.Seed = 2;
  const RttySignal c = SynthesizeCodes(q, {});
  EXPECT_EQ(a.Samples, b.Samples);
  EXPECT_NE(a.Samples, c.Samples);
}

TEST(RttySynth, LinearDrift) {
  for (double drift : {2.0, -1.5}) {
    RttySynthParams p;
    p.DriftHzPerSec = drift;
    p.IdleBeforeSec = 10;
    const RttySignal s = SynthesizeCodes(p, {});
    for (double centre : {1.0, 5.0, 9.0}) {
      const double f = PeakHz(s.Samples, At(centre - 0.5), At(1.0), p.MarkHz - 50, p.MarkHz + 50);
      EXPECT_NEAR(f, p.MarkHz + drift * centre, 0.05) << drift << " " << centre;
    }
  }
}

TEST(RttySynth, SilenceIdleAndFades) {
  RttySynthParams p;
  p.LeadSilenceSec = 0.5;
  p.IdleBeforeSec = 0.5;
  p.IdleAfterSec = 0.3;
  p.TrailSilenceSec = 0.5;
  p.EdgeSec = 0.004;
  const RttySignal s = SynthesizeText(p, "E");
  for (std::size_t n = 0; n < At(0.498); ++n) ASSERT_EQ(s.Samples[n], 0.0f) << n;
  for (std::size_t n = At(s.SignalEndSec + 0.0021); n < s.Samples.size(); ++n) ASSERT_EQ(s.Samples[n], 0.0f) << n;
  EXPECT_NEAR(ToneAmplitude(s.Samples, At(0.55), At(0.4), p.MarkHz) / p.Amplitude, 1.0, 1e-3);
  EXPECT_NEAR(ToneAmplitude(s.Samples, At(s.SignalEndSec - 0.25), At(0.2), p.MarkHz) / p.Amplitude, 1.0, 2e-3);
  // The fade-in reaches half amplitude at the signal's start.
  double peak = 0;
  for (std::size_t n = At(0.5) - 1; n <= At(0.5) + 1; ++n) peak = std::max(peak, std::fabs(double(s.Samples[n])));
  EXPECT_LT(peak, 0.6 * p.Amplitude);
  EXPECT_EQ(s.Keying[0], 1.0f);
}

TEST(RttySynth, RejectsBadParameters) {
  auto bad = [](auto change) {
    RttySynthParams p;
    change(p);
    EXPECT_THROW(SynthesizeCodes(p, {1}), std::invalid_argument);
  };
  bad([](RttySynthParams& p) { p.MarkHz = p.SpaceHz; });
  bad([](RttySynthParams& p) { p.MarkHz = 3100; });
  bad([](RttySynthParams& p) { p.Baud = 0; });
  bad([](RttySynthParams& p) { p.StopBits = 0.5; });
  bad([](RttySynthParams& p) { p.EdgeSec = 0.03; });
  bad([](RttySynthParams& p) { p.SnrDb = NAN; });
  bad([](RttySynthParams& p) { p.LeadSilenceSec = -1; });
  bad([](RttySynthParams& p) { p.Amplitude = INFINITY; });
  EXPECT_THROW(SynthesizeCodes(RttySynthParams{}, {32}), std::invalid_argument);
}

}  // namespace
}  // namespace brenvo::testing
