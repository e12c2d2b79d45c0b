#include "support/tone_level_synth.h"

#include <cmath>
#include <complex>
#include <numbers>
#include <random>

namespace brenvo::testing {

void TToneLevelSynth::AddCode(int code) {
  const double bit = 1.0 / FSettings.Baud;
  Add(bit, 0);
  for (int i = 0; i < 5; ++i) Add(bit, (code >> i) & 1);
  Add(bit * FSettings.StopBits, 1);
}

void TToneLevelSynth::AddCodes(const std::vector<int>& codes) {
  for (int c : codes) AddCode(c);
}

void TToneLevelSynth::AddMark(double seconds) { Add(seconds, 1); }
void TToneLevelSynth::AddSilence(double seconds) { Add(seconds, -1); }

namespace {

// Raised-cosine kernel of the given width in samples, summing to 1.
std::vector<double> Hann(int width) {
  std::vector<double> h(static_cast<std::size_t>(width));
  double sum = 0;
  for (int i = 0; i < width; ++i) {
    h[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * (i + 0.5) / width);
    sum += h[static_cast<std::size_t>(i)];
  }
  for (double& v : h) v /= sum;
  return h;
}

}  // namespace

void TToneLevelSynth::Render(std::vector<float>& markPower, std::vector<float>& spacePower) const {
  constexpr int kSub = 16;  // keying resolution per spectrum
  const double rate = FSettings.SpectraPerSecond * kSub;
  std::vector<double> keyM, keyS;
  double t = 0;
  for (const TSegment& s : FSegments) {
    const double end = t + s.Seconds;
    while (static_cast<double>(keyM.size()) / rate < end) {
      keyM.push_back(s.Level == 1 ? 1.0 : 0.0);
      keyS.push_back(s.Level == 0 ? 1.0 : 0.0);
    }
    t = end;
  }
  const int edge = std::max(1, static_cast<int>(std::lround(FSettings.EdgeSpectra * kSub)));
  const std::vector<double> h = Hann(edge);
  const std::size_t count = keyM.size() / kSub;

  // Noise: white complex Gaussian per spectrum smoothed by the same kernel in
  // spectra, scaled so that its power has median 1 (mean 1 / ln 2).
  const double noiseMean = 1.0 / std::numbers::ln2;
  const int nEdge = std::max(1, static_cast<int>(std::lround(FSettings.EdgeSpectra)));
  std::vector<double> hn = Hann(nEdge);
  double e2 = 0;
  for (double v : hn) e2 += v * v;
  for (double& v : hn) v *= std::sqrt(noiseMean / e2);
  std::mt19937 rng(FSettings.Seed);
  std::normal_distribution<double> g(0.0, std::sqrt(0.5));
  auto white = [&]() {
    std::vector<std::complex<double>> w(count + hn.size());
    for (auto& v : w) v = {g(rng), g(rng)};
    return w;
  };
  const auto wm = white();
  const auto ws = white();

  const double amp = std::sqrt(std::pow(10.0, FSettings.SnrDb / 10) * noiseMean);
  markPower.assign(count, 0.0f);
  spacePower.assign(count, 0.0f);
  for (std::size_t k = 0; k < count; ++k) {
    double m = 0, s = 0;
    const std::size_t centre = k * kSub;
    for (int i = 0; i < edge; ++i) {
      const auto j = static_cast<std::ptrdiff_t>(centre) + i - edge / 2;
      if (j < 0 || j >= static_cast<std::ptrdiff_t>(keyM.size())) continue;
      m += h[static_cast<std::size_t>(i)] * keyM[static_cast<std::size_t>(j)];
      s += h[static_cast<std::size_t>(i)] * keyS[static_cast<std::size_t>(j)];
    }
    std::complex<double> nm = 0, ns = 0;
    if (FSettings.Noise) {
      for (std::size_t i = 0; i < hn.size(); ++i) {
        nm += hn[i] * wm[k + i];
        ns += hn[i] * ws[k + i];
      }
    }
    markPower[k] = static_cast<float>(std::norm(amp * m + nm));
    spacePower[k] = static_cast<float>(std::norm(amp * s + ns));
  }
}

}  // namespace brenvo::testing
