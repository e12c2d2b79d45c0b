// Drives two signal extractors and a bit decoder the way a receiver does
// (including the noise-floor feedback from settled decisions) and collects
// the characters. Header-only helper of the decoder tests.
#pragma once

#include <array>
#include <cstdint>
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

class TBitDecoderHarness {
 public:
  void Step(float markPower, float spacePower) {
    M.Process(markPower);
    S.Process(spacePower);
    V.ProcessSample(M, S);
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
  TCharInfoArray Chars;
  std::string Raw;
  std::vector<int64_t> EmitSteps;  // SampleCnt at which each character came out

 private:
  static constexpr int64_t kRing = 256;
  int64_t FFirstStep = -1;
  std::array<std::array<float, 2>, kRing> FAmps{};
};

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

}  // namespace brenvo::testing
