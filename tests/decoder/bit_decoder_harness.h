// Drives two signal extractors and a bit decoder the way a receiver does
// (including the noise-floor feedback from settled decisions) and collects
// the characters. Header-only helper of the decoder tests.
#pragma once

#include <array>
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/baudot_table.h"
#include "decoder/rtty_bit_viterbi.h"
#include "decoder/signal_extractor.h"
#include "support/tone_level_synth.h"

namespace brenvo::testing {

// Baudot codes of a text of the internal character set, as a sender with
// unshift-on-space sends it: a letters shift first, then a shift wherever
// the row changes; space, CR, LF and LTRS return to letters.
inline std::vector<int> EncodeText(std::string_view text) {
  std::vector<int> codes{31};
  bool figs = false;
  for (char c : text) {
    const uint8_t ch = static_cast<uint8_t>(c);
    const int code = CodeTable[ch];
    if (code == kNoCode) continue;
    const bool letter = BaudotTable[0][code] == ch;
    const bool figure = BaudotTable[1][code] == ch;
    if (letter && figure) {
      if (code == 27) figs = true;
      if (code == 31 || code == 8 || code == 2 || code == 4) figs = false;
    } else if (letter && figs) {
      codes.push_back(31);
      figs = false;
    } else if (figure && !figs) {
      codes.push_back(27);
      figs = true;
    }
    codes.push_back(code);
  }
  return codes;
}

// Tone levels of a steady mark of lead seconds, the codes, and a steady
// mark of tail seconds.
struct TMessageLevels {
  std::vector<float> Mark, Space;
};
inline TMessageLevels RenderMessage(const TToneLevelSettings& s, const std::vector<int>& codes,
                                    double lead = 1.0, double tail = 1.0) {
  TToneLevelSynth synth(s);
  synth.AddMark(lead);
  synth.AddCodes(codes);
  synth.AddMark(tail);
  TMessageLevels l;
  synth.Render(l.Mark, l.Space);
  return l;
}

// Characters the settled path accounts for, read off the decoder's best-path
// ring after every decode: one per labelled stop, tone or silence state, and
// one per stop that leaves its section from the state just before the label
// (a 7-spectra stop) straight into the entry of the next section. Also the
// steps at which the settled path of a new traceback does not continue the
// previous one (rejoins).
class TSettledPathEvents {
 public:
  TSettledPathEvents() {
    const TRttyBitHmm& m = BitHmm();
    Section.resize(static_cast<std::size_t>(m.StateCount()));
    Pos.resize(static_cast<std::size_t>(m.StateCount()));
    for (int32_t r = 0; r < TRttyBitHmm::kSectionCount; ++r)
      for (int32_t p = 0; p <= m.SectionStateCount(r); ++p) {
        const auto s = static_cast<std::size_t>(m.StateIndexOf(r, p));
        Section[s] = r;
        Pos[s] = p;
      }
  }

  void Read(const TRttyBitViterbi& v) {
    if (v.DebugStates().empty()) return;
    const TRttyBitHmm& m = BitHmm();
    for (int32_t k = 0; k < TRttyBitViterbi::kSettle; ++k) {
      const int32_t s = v.BestPath()[static_cast<std::size_t>((v.HistIdx() + k) % TRttyBitViterbi::kWindow)];
      const int64_t n = v.SampleCnt() - TRttyBitViterbi::kWindow + k;
      const auto at = static_cast<std::size_t>(s);
      if (FPrev >= 0) {
        const auto p = static_cast<std::size_t>(FPrev);
        const TBitHmmState& st = m.State(s);
        bool follows = m.LeavesThroughExit(FPrev, s);
        for (int32_t q = 0; q < st.PrevCount; ++q) follows |= m.PrevState()[static_cast<std::size_t>(st.PrevBegin + q)] == FPrev;
        if (!follows) Rejoins.push_back(n);
        const bool fromShortStop = TRttyBitHmm::IsStopSection(Section[p]) && Pos[p] == TRttyBitHmm::kMinStopLen - 1;
        const bool intoEntry = Pos[at] == 0 && (Section[at] == 0 || Section[at] == 21 || Section[at] == 22);
        if (Section[at] != Section[p] && fromShortStop && intoEntry) {
          Events.push_back(n);
          ++ShortStops;
        }
      }
      const TStateKind kind = m.State(s).Kind;
      if (kind == skStop || kind == skTone || kind == skSilence) Events.push_back(n);
      FPrev = s;
    }
  }

  std::vector<int64_t> Events;   // SampleNo of each character, in order
  std::vector<int64_t> Rejoins;  // steps, in order
  int ShortStops = 0;

 private:
  std::vector<int32_t> Section, Pos;
  int32_t FPrev = -1;
};

class TBitDecoderHarness {
 public:
  void Step(float markPower, float spacePower) {
    M.Process(markPower);
    S.Process(spacePower);
    V.ProcessSample(M, S);
    Path.Read(V);
    const int64_t cur = V.SampleCnt() - 1;
    if (FFirstStep < 0) FFirstStep = cur;
    FAmps[static_cast<std::size_t>(cur % kRing)] = {M.Amp, S.Amp};
    const auto& dbg = V.DebugStates();
    for (std::size_t k = 0; k < dbg.size(); ++k) {
      const int64_t n = cur - 127 + static_cast<int64_t>(k);
      if (n < FFirstStep) continue;  // fed to V directly, not through the extractors
      const auto& amps = FAmps[static_cast<std::size_t>(n % kRing)];
      const TStateKind kind = dbg[k].Kind;
      if (kind == skMark || kind == skStop || kind == skTone || kind == skSilence || kind == sk11) {
        S.UpdateNfl(amps[1]);
        M.UpdateNfl(amps[1]);
      }
      if (kind == skSpace || kind == skStart || kind == skSilence || kind == sk00 || kind == skXX) {
        M.UpdateNfl(amps[0]);
        S.UpdateNfl(amps[0]);
      }
    }
    for (const TCharInfo& c : V.Chars()) {
      Chars.push_back(c);
      Raw.push_back(static_cast<char>(c.RawCh));
      EmitSteps.push_back(V.SampleCnt());
    }
  }

  void Run(const std::vector<float>& mark, const std::vector<float>& space) {
    for (std::size_t i = 0; i < mark.size(); ++i) Step(mark[i], space[i]);
  }
  void Run(const TMessageLevels& l) { Run(l.Mark, l.Space); }

  TSignalExtractor M, S;
  TRttyBitViterbi V;
  TSettledPathEvents Path;
  TCharInfoArray Chars;
  std::string Raw;
  std::vector<int64_t> EmitSteps;  // SampleCnt at which each character came out

 private:
  static constexpr int64_t kRing = 256;
  int64_t FFirstStep = -1;
  std::array<std::array<float, 2>, kRing> FAmps{};
};

// Raw text of codes as the decoder reports it (shift characters included).
template <typename Code>
std::string RawOf(const std::vector<Code>& codes) {
  std::string s;
  bool figs = false;
  for (Code c : codes) {
    const int code = static_cast<int>(c);
    if (code == 27) figs = true;
    if (code == 31 || code == 8 || code == 2 || code == 4) figs = false;
    s.push_back(static_cast<char>(BaudotTable[figs ? 1 : 0][code]));
  }
  return s;
}

// A fixed pseudo-random message of letters, figures and spaces.
inline std::string RandomText(int length, uint32_t seed) {
  std::mt19937 rng(seed);
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/?-.____";
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string s;
  for (int i = 0; i < length; ++i) s.push_back(alphabet[pick(rng)]);
  return s;
}

// Levenshtein distance between the decoded and the sent text, counting every
// character alike: the character error count.
inline std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diag = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diag + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diag = up;
    }
  }
  return row[b.size()];
}

// Character error rate of a message: the characters whose SampleNo lies in
// from .. to against the raw text of the codes sent. A steady tone after the
// message is no error.
template <typename Code>
double MessageCer(const TCharInfoArray& chars, double from, double to, const std::vector<Code>& codes) {
  std::string decoded;
  for (const TCharInfo& c : chars) {
    const double n = int32_t{c.SampleNo};
    if (n >= from && n <= to) decoded.push_back(static_cast<char>(c.RawCh));
  }
  while (!decoded.empty() && static_cast<uint8_t>(decoded.back()) == kChSteadyTone) decoded.pop_back();
  const std::string expected = RawOf(codes);
  return static_cast<double>(EditDistance(decoded, expected)) / static_cast<double>(expected.size());
}

}  // namespace brenvo::testing
