#include "support/band_synth.h"

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <stdexcept>

namespace brenvo::testing {

double NoiseSigmaFor(double amplitude, double snrDb) {
  return amplitude / std::sqrt(2.0) * std::pow(10.0, -snrDb / 20.0);
}

TSingleArray SynthesizeBand(const std::vector<BandSignal>& band, double seconds, double noiseSigma,
                            uint64_t noiseSeed) {
  if (!(seconds > 0 && seconds <= 3600)) throw std::invalid_argument("band: seconds must be above 0 and up to 3600");
  if (!(noiseSigma >= 0 && std::isfinite(noiseSigma))) throw std::invalid_argument("band: noise sigma must be 0 or more");
  const auto len = static_cast<std::size_t>(std::llround(seconds * kSynthSampleRate));
  TSingleArray out(len, 0.0f);
  std::vector<double> sum(len, 0.0);
  for (const BandSignal& s : band) {
    RttySynthParams p = s.Params;
    p.SnrDb = std::numeric_limits<double>::infinity();
    const double charSec = (6.0 + p.StopBits) / p.Baud;
    // Enough repeats of the text to fill the band after the signal's start.
    const double room = seconds - p.LeadSilenceSec - p.IdleBeforeSec;
    std::string text;
    if (!s.Text.empty())
      while (static_cast<double>(text.size()) * charSec < room + charSec) text += s.Text;
    const RttySignal sig = SynthesizeText(p, text);
    for (std::size_t k = 0; k < len && k < sig.Samples.size(); ++k) sum[k] += sig.Samples[k];
  }
  if (noiseSigma > 0) {
    std::mt19937_64 gen(noiseSeed);
    auto uniform = [&]() { return (static_cast<double>(gen() >> 11) + 0.5) * 0x1.0p-53; };
    constexpr double kTwoPi = 2 * std::numbers::pi;
    for (std::size_t i = 0; i < len; i += 2) {
      const double r = std::sqrt(-2.0 * std::log(uniform()));
      const double a = kTwoPi * uniform();
      sum[i] += noiseSigma * r * std::cos(a);
      if (i + 1 < len) sum[i + 1] += noiseSigma * r * std::sin(a);
    }
  }
  for (std::size_t k = 0; k < len; ++k) out[k] = static_cast<float>(sum[k]);
  return out;
}

TSingleArray BenchmarkBand(int n, double seconds, uint64_t seed) {
  constexpr double kAmplitude = 2000.0 * 65536.0;
  auto binHz = [](int bin) { return bin * 3000.0 / 256.0; };
  std::vector<BandSignal> band;
  for (int i = 0; i < n; ++i) {
    BandSignal s;
    s.Params.MarkHz = binHz(36 + 17 * i);
    s.Params.SpaceHz = binHz(36 + 17 * i + 15);
    s.Params.Amplitude = kAmplitude;
    s.Params.LeadSilenceSec = 0.3 * i;
    s.Params.IdleBeforeSec = 0.5;
    s.Params.StartPhase = 0.7 * i;
    s.Text = "CQ CQ DE DL" + std::to_string(i) + "ABC DL" + std::to_string(i) + "ABC PSE K ";
    band.push_back(s);
  }
  return SynthesizeBand(band, seconds, NoiseSigmaFor(kAmplitude, 10.0), seed);
}

}  // namespace brenvo::testing
