#include "support/rtty_synth.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <random>
#include <stdexcept>

namespace brenvo::testing {

namespace {

// Index = code. '\0' where the position has no character of its own.
constexpr std::array<char, 32> kLetters = {
    '\0', 'E', '\n', 'A', ' ', 'S', 'I', 'U', '\r', 'D', 'R', 'J', 'N', 'F', 'C', 'K',
    'T',  'Z', 'L',  'W', 'H', 'Y', 'P', 'Q', 'O',  'B', 'G', '\0', 'M', 'X', 'V', '\0'};
constexpr std::array<char, 32> kFigures = {
    '\0', '3', '\n', '-', ' ', '\'', '8', '7', '\r', '$', '4', '*', ',', '!', ':', '(',
    '5',  '"', ')',  '2', '#', '6',  '0', '1', '9',  '?', '&', '\0', '.', '/', ';', '\0'};

bool SameInBothRows(uint8_t code) {
  return code == kItaNull || code == kItaLineFeed || code == kItaSpace || code == kItaCarriageReturn;
}

std::string Describe(char c) {
  static const char* hex = "0123456789ABCDEF";
  const auto u = static_cast<unsigned char>(c);
  std::string s = "character 0x";
  s += hex[u >> 4];
  s += hex[u & 15];
  if (u >= 32 && u < 127) s += std::string(" '") + c + "'";
  return s;
}

void Require(bool ok, const char* what) {
  if (!ok) throw std::invalid_argument(std::string("RTTY synthesiser: ") + what);
}

// Raised-cosine step from 0 to 1 over u = 0 .. 1.
double Step(double u) { return 0.5 - 0.5 * std::cos(std::numbers::pi * u); }

struct Boundary {
  double T;      // seconds
  float Before;  // keying level before
  float After;   // and after
};

}  // namespace

char Ita2ToAscii(uint8_t code, bool figures) {
  if (code > 31) throw std::invalid_argument("ITA2 code above 31");
  return figures ? kFigures[code] : kLetters[code];
}

std::vector<uint8_t> TextToIta2(std::string_view text, bool unshiftOnSpace) {
  std::vector<uint8_t> out;
  bool figures = false;
  for (char raw : text) {
    const char c = (raw >= 'a' && raw <= 'z') ? static_cast<char>(raw - 'a' + 'A') : raw;
    int code = -1;
    bool needFigures = false;
    for (uint8_t k = 0; k < 32 && code < 0; ++k) {
      if (c == '\0') break;
      if (kLetters[k] == c) code = k, needFigures = false;
      else if (kFigures[k] == c) code = k, needFigures = true;
    }
    if (code < 0) throw std::invalid_argument("no ITA2 code for " + Describe(raw));
    const auto u = static_cast<uint8_t>(code);
    if (!SameInBothRows(u) && needFigures != figures) {
      out.push_back(needFigures ? kItaFigures : kItaLetters);
      figures = needFigures;
    }
    out.push_back(u);
    if (unshiftOnSpace && (u == kItaSpace || u == kItaCarriageReturn || u == kItaLineFeed))
      figures = false;
  }
  return out;
}

std::string Ita2ToText(const std::vector<uint8_t>& codes, bool unshiftOnSpace) {
  std::string s;
  bool figures = false;
  for (uint8_t code : codes) {
    if (code == kItaFigures) {
      figures = true;
    } else if (code == kItaLetters) {
      figures = false;
    } else {
      const char c = Ita2ToAscii(code, figures);
      if (c != '\0') s += c;
      if (unshiftOnSpace && (code == kItaSpace || code == kItaCarriageReturn || code == kItaLineFeed))
        figures = false;
    }
  }
  return s;
}

RttySignal SynthesizeCodes(const RttySynthParams& p, const std::vector<uint8_t>& codes) {
  auto finite = [](double v) { return std::isfinite(v); };
  Require(finite(p.MarkHz) && p.MarkHz >= 50 && p.MarkHz <= 2950, "MarkHz must be 50 to 2950");
  Require(finite(p.SpaceHz) && p.SpaceHz >= 50 && p.SpaceHz <= 2950, "SpaceHz must be 50 to 2950");
  Require(p.MarkHz != p.SpaceHz, "mark and space must differ");
  Require(finite(p.Baud) && p.Baud > 0 && p.Baud <= 300, "Baud must be above 0 and up to 300");
  Require(finite(p.StopBits) && p.StopBits >= 1 && p.StopBits <= 2, "StopBits must be 1 to 2");
  Require(finite(p.EdgeSec) && p.EdgeSec >= 0 && p.EdgeSec <= 1 / p.Baud,
          "EdgeSec must be 0 to one bit");
  Require(finite(p.Amplitude) && p.Amplitude >= 0, "Amplitude must be 0 or more");
  Require(!std::isnan(p.SnrDb) && p.SnrDb != -std::numeric_limits<double>::infinity(),
          "SnrDb must be a number or +infinity");
  Require(finite(p.DriftHzPerSec) && finite(p.StartPhase), "drift and phase must be finite");
  for (double d : {p.LeadSilenceSec, p.IdleBeforeSec, p.IdleAfterSec, p.TrailSilenceSec})
    Require(finite(d) && d >= 0 && d <= 3600, "durations must be 0 to 3600 s");
  for (uint8_t c : codes) Require(c <= 31, "codes must be 0 to 31");

  RttySignal sig;
  const double bit = 1.0 / p.Baud;
  const double charDur = (6.0 + p.StopBits) * bit;
  sig.SignalStartSec = p.LeadSilenceSec;
  double t = p.LeadSilenceSec + p.IdleBeforeSec;

  // Keying levels as boundaries where the level changes.
  std::vector<Boundary> bounds;
  float level = p.IdleBeforeSec > 0 || codes.empty() ? 1.0f : 0.0f;
  const float initial = level;
  auto setLevel = [&](double at, float v) {
    if (v != level) bounds.push_back({at, level, v});
    level = v;
  };
  for (uint8_t code : codes) {
    sig.Codes.push_back({code, t, t + charDur});
    setLevel(t, 0.0f);
    for (int b = 0; b < 5; ++b) setLevel(t + (1 + b) * bit, ((code >> b) & 1) ? 1.0f : 0.0f);
    setLevel(t + 6 * bit, 1.0f);
    t += charDur;
  }
  t += p.IdleAfterSec;
  sig.SignalEndSec = t;
  const double total = t + p.TrailSilenceSec;
  const auto n = static_cast<std::size_t>(std::ceil(total * kSynthSampleRate - 1e-9));
  sig.Samples.assign(n, 0.0f);
  sig.Keying.assign(n, initial);
  sig.SignalPower = p.Amplitude * p.Amplitude / 2;
  sig.NoiseSigma = std::isinf(p.SnrDb) ? 0.0 : p.Amplitude / std::sqrt(2.0) * std::pow(10.0, -p.SnrDb / 20);

  const double edge = p.EdgeSec;
  // The tone fades in and out along the same raised cosine, centred on the
  // signal's start and end; without silence on a side it runs to the edge.
  auto ramp = [edge](double ts, double at) {
    if (edge == 0) return ts < at ? 0.0 : 1.0;
    return Step(std::clamp((ts - (at - edge / 2)) / edge, 0.0, 1.0));
  };
  const double start = sig.SignalStartSec, end = sig.SignalEndSec;
  const bool lead = p.LeadSilenceSec > 0, trail = p.TrailSilenceSec > 0;
  auto envOn = [&](double ts) { return lead ? ramp(ts, start) : 1.0; };
  auto envOff = [&](double ts) { return trail ? 1.0 - ramp(ts, end) : 1.0; };
  std::size_t next = 0;  // first boundary whose transition has not ended
  double phase = p.StartPhase;
  constexpr double kTwoPi = 2 * std::numbers::pi;
  for (std::size_t i = 0; i < n; ++i) {
    const double ts = static_cast<double>(i) / kSynthSampleRate;
    while (next < bounds.size() && bounds[next].T + edge / 2 <= ts) ++next;
    double k = next > 0 ? bounds[next - 1].After : initial;
    if (next < bounds.size()) {
      const Boundary& b = bounds[next];
      if (edge > 0 && ts > b.T - edge / 2)
        k = b.Before + (b.After - b.Before) * Step((ts - (b.T - edge / 2)) / edge);
    }
    sig.Keying[i] = static_cast<float>(k);
    const double env = envOn(ts) * envOff(ts);
    sig.Samples[i] = static_cast<float>(p.Amplitude * env * std::cos(phase));
    const double f = p.SpaceHz + (p.MarkHz - p.SpaceHz) * k + p.DriftHzPerSec * ts;
    phase = std::fmod(phase + kTwoPi * f / kSynthSampleRate, kTwoPi);
  }

  if (sig.NoiseSigma > 0) {
    // Box-Muller on a generator whose sequence the standard fixes, so that a
    // seed gives the same noise with every library.
    std::mt19937_64 gen(p.Seed);
    auto uniform = [&]() { return (static_cast<double>(gen() >> 11) + 0.5) * 0x1.0p-53; };
    for (std::size_t i = 0; i < n; i += 2) {
      const double r = std::sqrt(-2.0 * std::log(uniform()));
      const double a = kTwoPi * uniform();
      sig.Samples[i] = static_cast<float>(sig.Samples[i] + sig.NoiseSigma * r * std::cos(a));
      if (i + 1 < n)
        sig.Samples[i + 1] = static_cast<float>(sig.Samples[i + 1] + sig.NoiseSigma * r * std::sin(a));
    }
  }
  return sig;
}

RttySignal SynthesizeText(const RttySynthParams& p, std::string_view text, bool unshiftOnSpace) {
  return SynthesizeCodes(p, TextToIta2(text, unshiftOnSpace));
}

}  // namespace brenvo::testing
