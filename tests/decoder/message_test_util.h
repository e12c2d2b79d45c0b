// Helpers of the message-model tests: Baudot text to character records, and
// a plain search for whether a sub-model can spell a text.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decoder/baudot_table.h"
#include "decoder/char_info.h"
#include "decoder/message_hmm.h"

namespace brenvo::testing {

// One transmitted Baudot character: its code and the text character it stands for.
struct TCoded {
  uint8_t Code;
  uint8_t Ch;  // internal character set (shift bytes for shifts)
};

// Encodes text (blank = "_") with the shifts a sender inserts, starting in
// letters mode; a blank returns to letters mode (unshift on space), as the
// message model assumes.
inline std::vector<TCoded> EncodeBaudot(std::string_view text) {
  std::vector<TCoded> out;
  int mode = 0;
  for (char raw : text) {
    const uint8_t ch = raw == ' ' ? kChSpace : static_cast<uint8_t>(raw);
    const uint8_t code = CodeTable[ch];
    if (code == kNoCode) continue;
    const bool inLetters = BaudotTable[0][code] == ch;
    const bool inFigures = BaudotTable[1][code] == ch;
    if (!(inLetters && inFigures)) {
      const int want = inLetters ? 0 : 1;
      if (want != mode) {
        out.push_back({static_cast<uint8_t>(want ? 27 : 31), want ? kChFigures : kChLetters});
        mode = want;
      }
    }
    out.push_back({code, ch});
    if (ch == kChSpace) mode = 0;
  }
  return out;
}

// A record whose bits say code with probability sure (the others 1 - sure).
inline TCharInfo CodeRecord(uint8_t code, float sure = 0.9f, int32_t sampleNo = 0) {
  TCharInfo r;
  for (int i = 0; i < 5; ++i) r.BitProbs.Set(i, ((code >> i) & 1) ? sure : 1.0f - sure);
  r.RawCh = BaudotTable[0][code];
  r.SampleNo = sampleNo;
  return r;
}

inline TCharInfo MarkerRecord(uint8_t marker, int32_t sampleNo = 0) {
  TCharInfo r;
  r.RawCh = marker;
  r.SampleNo = sampleNo;
  return r;
}

// True when a path through h, entering at InLTR or InDIG and leaving at
// OutLTR or OutDIG, spells text; shift characters are passed over.
inline bool Spells(const THmm& h, std::string_view text) {
  std::set<std::pair<const TState*, std::size_t>> seen;
  std::vector<std::pair<const TState*, std::size_t>> todo = {{h.InLTR.get(), 0}, {h.InDIG.get(), 0}};
  while (!todo.empty()) {
    auto [s, pos] = todo.back();
    todo.pop_back();
    if (!seen.insert({s, pos}).second) continue;
    if (s == h.OutLTR.get() || s == h.OutDIG.get()) {
      if (pos == text.size()) return true;
      continue;
    }
    for (const TLink& l : s->Next) {
      const uint8_t c = l.State->FChar;
      if (c == 0 || c == kChFigures || c == kChLetters)
        todo.push_back({l.State, pos});
      else if (pos < text.size() && c == static_cast<uint8_t>(text[pos]))
        todo.push_back({l.State, pos + 1});
    }
  }
  return false;
}

}  // namespace brenvo::testing
