#include "decoder/message_hmm.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <span>
#include <tuple>
#include <utility>

#include "decoder/char_info.h"
#include "dsp/errors.h"

namespace brenvo {

namespace {

// Source of the states being made; set while an exchange pattern is built so
// that an order fault can name its pattern. One model is built at a time per
// thread.
thread_local int t_source = -1;

// What the model being built on this thread has made so far, held to the
// model's limits; null while no model is built (a part made on its own).
struct TBudget {
  int States = 0;
  int Links = 0;
  int CqWord = -1;  // the CQ word being built, or -1
};
thread_local TBudget* t_budget = nullptr;

// Blames the exchange pattern or CQ word being built.
[[noreturn]] void Refuse(const std::string& msg) {
  throw EBadPattern(msg, t_source, t_budget ? t_budget->CqWord : -1);
}

[[noreturn]] void TooLarge(int limit, const char* what) {
  Refuse("Message model too large: more than the limit of " + std::to_string(limit) + " " + what);
}

std::unique_ptr<TState> NewState(TStateType type, uint8_t ch) {
  if (t_budget && ++t_budget->States > TRttyMessageHmm::kMaxStates) TooLarge(TRttyMessageHmm::kMaxStates, "states");
  auto s = std::make_unique<TState>(type, ch);
  s->Source = t_source;
  return s;
}

// A weight of 0 makes no link.
void AddLink(TState* from, TState* to, float p) {
  if (p == 0.0f) return;
  if (t_budget && ++t_budget->Links > TRttyMessageHmm::kMaxLinks) TooLarge(TRttyMessageHmm::kMaxLinks, "links");
  from->Next.push_back({to, p});
}

}  // namespace

THmm::THmm(TStateType type, std::string text)
    : FType(type),
      Text(std::move(text)),
      InLTR(NewState(ctNone, 0)),
      InDIG(NewState(ctNone, 0)),
      OutLTR(NewState(ctNone, 0)),
      OutDIG(NewState(ctNone, 0)) {}

THmm::~THmm() = default;

TShiftKind ShiftKindOf(uint8_t ch) {
  switch (ch) {
    case kChSeparator:
    case kChSpace:
    case kChLineFeed:
    case kChCarriageReturn:
    case kChNull:
      return skSPC;
    default:
      break;
  }
  if (ch == kChAnyLetter || (ch >= 'A' && ch <= 'Z')) return skLTR;
  return skDIG;
}

TSimpleHmm::TSimpleHmm(TStateType type, uint8_t ch, const TRttyMessageStatistics& stats)
    : THmm(type, std::string(1, static_cast<char>(ch))), Kind(ShiftKindOf(ch)) {
  // Shift1 / Shift2 emit the shift that leaves / re-enters the character's own mode.
  Shift1 = NewState(type, Kind == skDIG ? kChLetters : kChFigures);
  Shift2 = NewState(type, Kind == skDIG ? kChFigures : kChLetters);
  if (Kind != skDIG) {
    OutLTR->FType = type;
    OutLTR->FChar = ch;
  }
  if (Kind != skLTR) {
    OutDIG->FType = type;
    OutDIG->FChar = ch;
  }
  const auto& p = stats.ShiftTransitionProbs[Kind];
  // Room for the links below at once: the model has thousands of these.
  InLTR->Next.reserve(3);
  InDIG->Next.reserve(4);
  Shift1->Next.reserve(3);
  Shift2->Next.reserve(3);
  AddLink(InLTR.get(), Shift1.get(), p[0][0]);
  AddLink(InLTR.get(), Shift2.get(), p[0][1]);
  AddLink(InLTR.get(), OutLTR.get(), p[0][2]);
  AddLink(InDIG.get(), Shift1.get(), p[1][0]);
  AddLink(InDIG.get(), Shift2.get(), p[1][1]);
  AddLink(InDIG.get(), OutLTR.get(), p[1][2]);
  AddLink(InDIG.get(), OutDIG.get(), p[1][3]);
  AddLink(Shift1.get(), Shift1.get(), p[2][0]);
  AddLink(Shift1.get(), Shift2.get(), p[2][1]);
  AddLink(Shift1.get(), OutLTR.get(), p[2][2]);
  AddLink(Shift2.get(), Shift2.get(), p[3][1]);
  AddLink(Shift2.get(), OutLTR.get(), p[3][2]);
  AddLink(Shift2.get(), OutDIG.get(), p[3][3]);
}

namespace {

using THmmPtr = std::unique_ptr<THmm>;
using TComplexPtr = std::unique_ptr<TComplexHmm>;

class TBuilder {
 public:
  explicit TBuilder(const TRttyMessageStatistics& stats) : Stats(stats) {}

  TComplexPtr BuildTopHmm();

 private:
  [[noreturn]] void BadPattern() const { Refuse("Bad pattern: " + FPattern); }

  void ChainNested(TComplexHmm& c);
  void ParallelNested(TComplexHmm& c, const std::vector<float>& weights);
  TComplexPtr BuildWordHmm(TStateType type, const std::string& text);
  TComplexPtr BuildWordListHmm(TStateType type, const TPatternInfoArray& patterns);
  void FillWordList(TComplexHmm& c, const TPatternInfoArray& patterns, int* building = nullptr);
  std::size_t FirstTokenLength(const std::string& s) const;
  THmmPtr BuildTokenHmm(std::string& s);
  THmmPtr BuildPatternHmm(const std::string& s);
  void FillExchanges(TComplexHmm& c);
  TComplexPtr BuildWhiteSpaceHmm();
  TComplexPtr BuildCallBodyHmm();
  TComplexPtr BuildCallStructHmm(int structure);
  TComplexPtr BuildCallHmm();

  const TRttyMessageStatistics& Stats;
  std::string FPattern;  // the exchange pattern being built
  int FDepth = 0;
};

void TBuilder::ChainNested(TComplexHmm& c) {
  auto& n = c.NestedHmms;
  if (n.empty()) return;  // nothing can pass through
  AddLink(c.InLTR.get(), n.front()->InLTR.get(), 1.0f);
  AddLink(c.InDIG.get(), n.front()->InDIG.get(), 1.0f);
  for (std::size_t k = 0; k + 1 < n.size(); ++k) {
    AddLink(n[k]->OutLTR.get(), n[k + 1]->InLTR.get(), 1.0f);
    AddLink(n[k]->OutDIG.get(), n[k + 1]->InDIG.get(), 1.0f);
  }
  AddLink(n.back()->OutLTR.get(), c.OutLTR.get(), 1.0f);
  AddLink(n.back()->OutDIG.get(), c.OutDIG.get(), 1.0f);
}

// C's entries lead to H with the weight, H's exits to C's.
void LinkParallel(TComplexHmm& c, THmm& h, float weight) {
  AddLink(c.InLTR.get(), h.InLTR.get(), weight);
  AddLink(c.InDIG.get(), h.InDIG.get(), weight);
  AddLink(h.OutLTR.get(), c.OutLTR.get(), 1.0f);
  AddLink(h.OutDIG.get(), c.OutDIG.get(), 1.0f);
}

void TBuilder::ParallelNested(TComplexHmm& c, const std::vector<float>& weights) {
  BRENVO_ASSERT(weights.size() == c.NestedHmms.size());
  c.InLTR->Next.reserve(c.InLTR->Next.size() + weights.size());
  c.InDIG->Next.reserve(c.InDIG->Next.size() + weights.size());
  for (std::size_t k = 0; k < c.NestedHmms.size(); ++k) LinkParallel(c, *c.NestedHmms[k], weights[k]);
}

TComplexPtr TBuilder::BuildWordHmm(TStateType type, const std::string& text) {
  auto c = std::make_unique<TComplexHmm>(type, text);
  c->NestedHmms.reserve(text.size());
  for (char ch : text) c->NestedHmms.push_back(std::make_unique<TSimpleHmm>(type, static_cast<uint8_t>(ch), Stats));
  ChainNested(*c);
  return c;
}

// A pattern longer than the limit is refused before anything of it is built.
void CheckLength(const std::string& pattern) {
  if (pattern.size() > static_cast<std::size_t>(TRttyMessageHmm::kMaxPatternBytes))
    Refuse("Pattern of " + std::to_string(pattern.size()) + " bytes: longer than the limit of " +
           std::to_string(TRttyMessageHmm::kMaxPatternBytes) + " bytes");
}

TComplexPtr TBuilder::BuildWordListHmm(TStateType type, const TPatternInfoArray& patterns) {
  auto c = std::make_unique<TComplexHmm>(type, "");
  FillWordList(*c, patterns);
  return c;
}

// The words of the list side by side in C, each linked in as it is built
// (the same links in the same order as afterwards, so that everything a word
// makes counts while it is named). Building, when given, holds the index of
// the word being built (for messages), -1 afterwards.
void TBuilder::FillWordList(TComplexHmm& c, const TPatternInfoArray& patterns, int* building) {
  for (std::size_t k = 0; k < patterns.size(); ++k) {
    if (building) *building = static_cast<int>(k);
    CheckLength(patterns[k].Patt);
    if (k > 0) c.Text += '|';
    c.Text += patterns[k].Patt;
    c.NestedHmms.push_back(BuildWordHmm(c.FType, patterns[k].Patt));
    LinkParallel(c, *c.NestedHmms.back(), patterns[k].Prob);
  }
  if (building) *building = -1;
}

// Splits comma text the way a string list reads it: items end at a comma or a
// control character or blank; a double-quoted item may hold them ("" is a quote);
// a comma at the very end adds an empty item.
std::vector<std::string> SplitCommaText(const std::string& s) {
  std::vector<std::string> items;
  auto isBlank = [](char c) { return static_cast<unsigned char>(c) >= 1 && static_cast<unsigned char>(c) <= ' '; };
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n && isBlank(s[i])) ++i;
  while (i < n) {
    std::string item;
    if (s[i] == '"') {
      ++i;
      while (i < n) {
        if (s[i] == '"') {
          if (i + 1 < n && s[i + 1] == '"') {
            item += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        item += s[i++];
      }
    } else {
      const std::size_t start = i;
      while (i < n && !isBlank(s[i]) && s[i] != ',') ++i;
      item = s.substr(start, i - start);
    }
    items.push_back(std::move(item));
    while (i < n && isBlank(s[i])) ++i;
    if (i < n && s[i] == ',') {
      if (i + 1 == n) items.emplace_back();
      do {
        ++i;
      } while (i < n && isBlank(s[i]));
    }
  }
  return items;
}

std::size_t TBuilder::FirstTokenLength(const std::string& s) const {
  const char open = s[0];
  char close = 0;
  if (open == '<') close = '>';
  if (open == '[') close = ']';
  if (open == '{') close = '}';
  if (close) {
    int level = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (s[i] == open) ++level;
      if (s[i] == close && --level == 0) return i + 1;
    }
    BadPattern();
  }
  if (open == '~') return 1;
  const std::size_t end = s.find_first_of("<[{~", 1);
  return end == std::string::npos ? s.size() : end;
}

// Cuts the first token off s and builds it.
THmmPtr TBuilder::BuildTokenHmm(std::string& s) {
  if (s.empty()) BadPattern();
  const std::size_t len = FirstTokenLength(s);
  const std::string t = s.substr(0, len);
  s.erase(0, len);
  switch (t[0]) {
    case '<':
    case '[': {
      const std::string inside = t.substr(1, t.size() - 2);
      if (inside.empty()) BadPattern();
      THmmPtr h = BuildPatternHmm(inside);
      h->FType = t[0] == '<' ? ctExchangeRpt : ctExchangeOpt;
      return h;
    }
    case '{': {
      const std::vector<std::string> alternatives = SplitCommaText(t.substr(1, t.size() - 2));
      TPatternInfoArray list;
      for (const auto& a : alternatives) {
        if (a.empty()) BadPattern();
        list.push_back({a, 1.0f / static_cast<float>(alternatives.size())});
      }
      return BuildWordListHmm(ctExchangeAlt, list);
    }
    case '~':
      return BuildWordListHmm(ctExchangeSep, Stats.ExchangeSeparators);
    default:
      return BuildWordHmm(ctExchangeTxt, t);
  }
}

THmmPtr TBuilder::BuildPatternHmm(const std::string& s) {
  // Bounded so that a hostile contest file cannot exhaust the stack.
  if (++FDepth > TRttyMessageHmm::kMaxPatternDepth) BadPattern();
  std::string rest = s;
  THmmPtr first = BuildTokenHmm(rest);
  if (rest.empty()) {
    --FDepth;
    return first;
  }
  auto c = std::make_unique<TComplexHmm>(ctExchangePatt, s);
  c->NestedHmms.push_back(std::move(first));
  while (!rest.empty()) c->NestedHmms.push_back(BuildTokenHmm(rest));
  ChainNested(*c);
  auto& n = c->NestedHmms;
  const std::size_t count = n.size();
  for (std::size_t k = 0; k < count; ++k) {
    THmm& h = *n[k];
    if (h.FType == ctExchangeOpt) {
      if (k == 0) {
        AddLink(c->InLTR.get(), n[1]->InLTR.get(), 1.0f);
        AddLink(c->InDIG.get(), n[1]->InDIG.get(), 1.0f);
      } else if (k == count - 1) {
        AddLink(n[k - 1]->OutLTR.get(), c->OutLTR.get(), 1.0f);
        AddLink(n[k - 1]->OutDIG.get(), c->OutDIG.get(), 1.0f);
      } else {
        // The skip lands where the next part's entry leads first; a part that
        // nothing can enter has no such target.
        const THmm& next = *n[k + 1];
        if (next.InLTR->Next.empty() || next.InDIG->Next.empty()) BadPattern();
        AddLink(n[k - 1]->OutLTR.get(), next.InLTR->Next.front().State, 1.0f);
        AddLink(n[k - 1]->OutDIG.get(), next.InDIG->Next.front().State, 1.0f);
      }
    } else if (h.FType == ctExchangeRpt) {
      AddLink(h.OutLTR.get(), h.InLTR.get(), 1.0f);
      AddLink(h.OutDIG.get(), h.InDIG.get(), 1.0f);
    }
  }
  --FDepth;
  return c;
}

// As FillWordList, with patterns.
void TBuilder::FillExchanges(TComplexHmm& c) {
  for (std::size_t k = 0; k < Stats.Exchanges.size(); ++k) {
    const TPatternInfo& p = Stats.Exchanges[k];
    t_source = static_cast<int>(k);
    CheckLength(p.Patt);
    if (k > 0) c.Text += '|';
    c.Text += p.Patt;
    FPattern = p.Patt;
    FDepth = 0;
    c.NestedHmms.push_back(BuildPatternHmm(p.Patt));
    LinkParallel(c, *c.NestedHmms.back(), p.Prob);
    t_source = -1;
  }
}

TComplexPtr TBuilder::BuildWhiteSpaceHmm() {
  const auto& ws = Stats.WhiteSpaces;
  const std::size_t n = ws.size();
  BRENVO_ASSERT(Stats.WhiteSpaceTransitionProbs.size() == n);
  auto c = std::make_unique<TComplexHmm>(ctWhiteSpace, "");
  for (const auto& w : ws) {
    BRENVO_ASSERT(!w.Patt.empty());
    c->Text += w.Patt.substr(0, 1);
    c->NestedHmms.push_back(std::make_unique<TSimpleHmm>(ctWhiteSpace, static_cast<uint8_t>(w.Patt[0]), Stats));
  }
  for (std::size_t i = 0; i < n; ++i) {
    THmm& a = *c->NestedHmms[i];
    const auto& row = Stats.WhiteSpaceTransitionProbs[i];
    BRENVO_ASSERT(row.size() == n + 1);
    AddLink(c->InLTR.get(), a.InLTR.get(), ws[i].Prob);
    AddLink(c->InDIG.get(), a.InDIG.get(), ws[i].Prob);
    for (std::size_t j = 0; j < n; ++j) {
      THmm& b = *c->NestedHmms[j];
      AddLink(a.OutLTR.get(), b.InLTR.get(), row[j]);
      AddLink(a.OutDIG.get(), b.InDIG.get(), row[j]);
    }
    AddLink(a.OutLTR.get(), c->OutLTR.get(), row[n]);
    AddLink(a.OutDIG.get(), c->OutDIG.get(), row[n]);
  }
  return c;
}

TComplexPtr TBuilder::BuildCallBodyHmm() {
  auto c = std::make_unique<TComplexHmm>(ctCallStruC, "call");
  c->NestedHmms.push_back(BuildWordListHmm(ctCallPref, Stats.Call.PrefPatt));
  c->NestedHmms.push_back(BuildWordListHmm(ctCallDig, Stats.Call.Digits));
  c->NestedHmms.push_back(BuildWordListHmm(ctCallSuf, Stats.Call.Letters));
  ChainNested(*c);
  return c;
}

TComplexPtr TBuilder::BuildCallStructHmm(int structure) {
  if (structure == 0) return BuildCallBodyHmm();
  static constexpr TStateType kTypes[7] = {ctCallStruC,   ctCallStruCS, ctCallStruCSS, ctCallStruCP,
                                           ctCallStruCPS, ctCallStruPC, ctCallStruPCS};
  // Pieces: B body, S suffix list, P portable list; a "/" between each two.
  static constexpr const char* kParts[7] = {"B", "BS", "BSS", "BP", "BPS", "PB", "PBS"};
  static constexpr const char* kTexts[7] = {"call",          "call/suffix",   "call/suffix/suffix",
                                            "call/portable", "call/portable/suffix",
                                            "portable/call", "portable/call/suffix"};
  const TStateType type = kTypes[structure];
  auto c = std::make_unique<TComplexHmm>(type, kTexts[structure]);
  for (const char* p = kParts[structure]; *p; ++p) {
    if (p != kParts[structure]) c->NestedHmms.push_back(std::make_unique<TSimpleHmm>(type, '/', Stats));
    if (*p == 'B') c->NestedHmms.push_back(BuildCallBodyHmm());
    if (*p == 'S') c->NestedHmms.push_back(BuildWordListHmm(ctCallSuf, Stats.Call.SuffPatt));
    if (*p == 'P') c->NestedHmms.push_back(BuildWordListHmm(ctCallPort, Stats.Call.PortPrefPatt));
  }
  ChainNested(*c);
  return c;
}

TComplexPtr TBuilder::BuildCallHmm() {
  BRENVO_ASSERT(Stats.Call.Structs.size() == 7);
  auto c = std::make_unique<TComplexHmm>(ctCall, "");
  std::vector<float> weights;
  for (int k = 0; k < 7; ++k) {
    c->NestedHmms.push_back(BuildCallStructHmm(k));
    weights.push_back(Stats.Call.Structs[static_cast<std::size_t>(k)].Prob);
  }
  ParallelNested(*c, weights);
  return c;
}

TComplexPtr TBuilder::BuildTopHmm() {
  auto top = std::make_unique<TComplexHmm>(ctNone, "TOP");
  auto& n = top->NestedHmms;
  n.push_back(std::make_unique<TSimpleHmm>(ctSquelch, kChSeparator, Stats));
  n.push_back(std::make_unique<TSimpleHmm>(ctPunc, kChAnyPunct, Stats));
  n.push_back(std::make_unique<TSimpleHmm>(ctLetter, kChAnyLetter, Stats));
  n.push_back(std::make_unique<TSimpleHmm>(ctDigit, kChAnyDigit, Stats));
  n.push_back(BuildWhiteSpaceHmm());
  // The contest's exchanges and CQ words are filled in last, so that a limit
  // is only ever crossed by one of them, which the message then names. No
  // state's links change order by it: those of the loop below leave the
  // parts' exits, those of the fillings their entries and inner states.
  auto exchanges = std::make_unique<TComplexHmm>(ctExchange, "");
  TComplexHmm& exchangesRef = *exchanges;
  n.push_back(std::move(exchanges));
  n.push_back(BuildCallHmm());
  n.push_back(BuildWordHmm(ctDe, "DE"));
  auto cqWords = std::make_unique<TComplexHmm>(ctCQ, "");
  TComplexHmm& cqWordsRef = *cqWords;
  n.push_back(std::move(cqWords));
  BRENVO_ASSERT(static_cast<int>(n.size()) == kWordTypeCount);
  for (int a = 0; a < kWordTypeCount; ++a)
    for (int b = 0; b < kWordTypeCount; ++b) {
      const float p = Stats.MessageTransitionProbs[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)];
      AddLink(n[static_cast<std::size_t>(a)]->OutLTR.get(), n[static_cast<std::size_t>(b)]->InLTR.get(), p);
      AddLink(n[static_cast<std::size_t>(a)]->OutDIG.get(), n[static_cast<std::size_t>(b)]->InDIG.get(), p);
    }
  FillExchanges(exchangesRef);
  FillWordList(cqWordsRef, Stats.CqWords, &t_budget->CqWord);
  return top;
}

// The three walks of the flattening order.
void CollectOutStates(THmm& h, std::vector<TState*>& list) {
  if (h.IsSimple()) return;
  for (auto& n : static_cast<TComplexHmm&>(h).NestedHmms) CollectOutStates(*n, list);
  list.push_back(h.OutLTR.get());
  list.push_back(h.OutDIG.get());
}

void CollectInStates(THmm& h, std::vector<TState*>& list) {
  list.push_back(h.InLTR.get());
  list.push_back(h.InDIG.get());
  if (h.IsSimple()) return;
  for (auto& n : static_cast<TComplexHmm&>(h).NestedHmms) CollectInStates(*n, list);
}

void CollectSimpleStates(THmm& h, std::vector<TState*>& list) {
  if (h.IsSimple()) {
    auto& s = static_cast<TSimpleHmm&>(h);
    list.push_back(s.OutLTR.get());
    list.push_back(s.OutDIG.get());
    list.push_back(s.Shift2.get());
    list.push_back(s.Shift1.get());
    return;
  }
  for (auto& n : static_cast<TComplexHmm&>(h).NestedHmms) CollectSimpleStates(*n, list);
}

std::string IndexPair(const TState& a, const TState& b) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "[(%d)(%d)]", a.Index, b.Index);
  return buf;
}

void DumpHmm(const THmm& h, int level, std::vector<std::string>& out) {
  std::string line(static_cast<std::size_t>(2 * level), ' ');
  line += StateTypeName(h.FType);
  line += ' ';
  const char quote = h.IsSimple() ? '\'' : '"';
  line += quote + h.Text + quote;
  line += "  " + IndexPair(*h.InLTR, *h.InDIG);
  if (h.IsSimple()) {
    const auto& s = static_cast<const TSimpleHmm&>(h);
    line += IndexPair(*s.Shift1, *s.Shift2);
  }
  line += IndexPair(*h.OutLTR, *h.OutDIG);
  out.push_back(std::move(line));
  if (!h.IsSimple())
    for (const auto& n : static_cast<const TComplexHmm&>(h).NestedHmms) DumpHmm(*n, level + 1, out);
}

// A predecessor must be updated before its state in the same step when it is
// silent, and after it (still holding the previous step) when it emits.
bool BreaksOrder(const TState& pred, const TState& s) {
  return pred.FChar == 0 ? pred.Index >= s.Index : pred.Index < s.Index;
}

}  // namespace

TRttyMessageHmm::TRttyMessageHmm(const TRttyMessageStatistics& stats) : FContestName(stats.ContestName) {
  TBuilder builder(stats);
  TBudget budget;
  t_budget = &budget;
  try {
    FHmm = builder.BuildTopHmm();
  } catch (...) {
    t_source = -1;
    t_budget = nullptr;
    throw;
  }
  t_budget = nullptr;
  FMadeStates = budget.States;
  FMadeLinks = budget.Links;
  Flatten();
  CheckOrder(stats);
  Compile();
}

TRttyMessageHmm::~TRttyMessageHmm() = default;

void TRttyMessageHmm::Flatten() {
  std::vector<TState*> list;
  CollectOutStates(*FHmm, list);
  CollectInStates(*FHmm, list);
  CollectSimpleStates(*FHmm, list);

  for (TState* s : list) {
    double sum = 0.0;
    for (const TLink& l : s->Next) sum += l.TransProb;
    if (sum > 0.0)
      for (TLink& l : s->Next) l.TransProb = static_cast<float>(l.TransProb / sum);
  }
  // Each Prev list takes its room once: Index counts a state's links in
  // meanwhile (it is given its place only after pruning).
  for (TState* s : list) s->Index = 0;
  for (TState* s : list)
    for (const TLink& l : s->Next) ++l.State->Index;
  for (TState* s : list) {
    s->Prev.reserve(static_cast<std::size_t>(s->Index));
    s->Index = -1;
  }
  for (TState* s : list)
    for (const TLink& l : s->Next) l.State->Prev.push_back({s, std::log(l.TransProb)});

  // Prune whatever nothing leads into, until a whole walk removes nothing.
  // A walk goes from the end to the start, so a removal can empty an earlier
  // state in the same walk; the list is compacted after each walk.
  std::vector<char> gone(list.size(), 0);
  bool removed = true;
  while (removed) {
    removed = false;
    for (std::size_t i = list.size(); i-- > 0;) {
      TState* s = list[i];
      if (gone[i] || !s->Prev.empty()) continue;
      for (const TLink& l : s->Next) {
        auto& prev = l.State->Prev;
        auto it = std::find_if(prev.begin(), prev.end(), [s](const TLink& p) { return p.State == s; });
        if (it != prev.end()) prev.erase(it);
      }
      gone[i] = 1;
      removed = true;
    }
    if (removed) {
      std::size_t kept = 0;
      for (std::size_t i = 0; i < list.size(); ++i)
        if (!gone[i]) list[kept++] = list[i];
      list.resize(kept);
      gone.assign(kept, 0);
    }
  }

  FStates.assign(list.begin(), list.end());
  for (std::size_t i = 0; i < list.size(); ++i) list[i]->Index = static_cast<int>(i);
  for (const TState* s : FStates)
    if (s->FChar != 0) {
      FCharStates.push_back(s);
      FUsedChars[s->FChar] = true;
    }
}

void TRttyMessageHmm::CheckOrder(const TRttyMessageStatistics& stats) const {
  // A silent cycle cannot be ordered either, so this catches it too.
  for (const TState* s : FStates)
    for (const TLink& p : s->Prev)
      if (BreaksOrder(*p.State, *s)) {
        const int src = p.State->Source >= 0 ? p.State->Source : s->Source;
        if (src >= 0) throw EBadPattern("Bad pattern: " + stats.Exchanges[static_cast<std::size_t>(src)].Patt, src);
        throw EBrenvoError("Message model breaks its state order");
      }
}

void TRttyMessageHmm::Compile() {
  TCompiledHmm& c = FCompiled;
  const std::size_t n = FStates.size();
  c.PrevStart.reserve(n + 1);
  c.StateChar.reserve(n);
  c.StateWordType.reserve(n);
  for (const TState* s : FStates) {
    BRENVO_ASSERT(!s->Prev.empty());  // pruning leaves no state without one
    c.PrevStart.push_back(static_cast<uint32_t>(c.PrevLinks.size()));
    for (const TLink& l : s->Prev) c.PrevLinks.push_back({l.State->Index, l.TransProb});
    c.StateChar.push_back(s->FChar);
    c.StateWordType.push_back(WordTypeOf(s->FType));
    if (s->FChar != 0) c.CharStates.push_back(s->Index);
  }
  c.PrevStart.push_back(static_cast<uint32_t>(c.PrevLinks.size()));
  for (int ch = 1; ch < 256; ++ch)
    if (FUsedChars[static_cast<std::size_t>(ch)]) c.UsedCharList.push_back(static_cast<uint8_t>(ch));
  BRENVO_ASSERT(!c.CharStates.empty());
  CompileRuns();
}

void TRttyMessageHmm::CompileRuns() {
  // A state's level: above that of every predecessor below it and below that
  // of every state above it that reads it. States of one level never read
  // each other, so they go in any order; sorted by their number of links
  // (each run has a fixed inner loop) and by whether they have a character
  // (the best character state is sought run by run). Every link points from
  // a lower index to a higher one, so one pass in list order settles the
  // levels.
  TCompiledHmm& c = FCompiled;
  const std::size_t n = c.StateChar.size();
  std::vector<uint32_t> level(n, 0);
  for (std::size_t i = 0; i < n; ++i) {
    const auto links = std::span(c.PrevLinks).subspan(c.PrevStart[i], c.PrevStart[i + 1] - c.PrevStart[i]);
    for (const TPrevLink& l : links) {
      const auto p = static_cast<std::size_t>(l.State);
      if (p < i) level[i] = std::max(level[i], level[p] + 1);
    }
    for (const TPrevLink& l : links) {
      const auto p = static_cast<std::size_t>(l.State);
      if (p > i) level[p] = std::max(level[p], level[i] + 1);
    }
  }
  auto linkCount = [&c](std::size_t i) { return c.PrevStart[i + 1] - c.PrevStart[i]; };
  auto key = [&](std::size_t i) { return std::tuple(level[i], linkCount(i), c.StateChar[i] != 0); };
  c.Order.resize(n);
  for (std::size_t i = 0; i < n; ++i) c.Order[i] = static_cast<int32_t>(i);
  std::stable_sort(c.Order.begin(), c.Order.end(), [&](int32_t a, int32_t b) {
    return key(static_cast<std::size_t>(a)) < key(static_cast<std::size_t>(b));
  });
  c.Position.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    const auto i = static_cast<std::size_t>(c.Order[k]);
    c.Position[i] = static_cast<int32_t>(k);
    c.OrderChar.push_back(c.StateChar[i]);
    if (c.Runs.empty() || key(i) != key(static_cast<std::size_t>(c.Order[c.Runs.back().Begin])))
      c.Runs.push_back({static_cast<uint32_t>(k), static_cast<uint32_t>(k), 0, linkCount(i),
                        c.StateChar[i] != 0});
    c.Runs.back().End = static_cast<uint32_t>(k + 1);
  }
  auto addLink = [&c](std::size_t state, uint32_t j) {
    const TPrevLink& l = c.PrevLinks[c.PrevStart[state] + j];
    c.RunFrom.push_back(c.Position[static_cast<std::size_t>(l.State)]);
    c.RunLn.push_back(l.LnProb);
  };
  for (TStateRun& r : c.Runs) {
    r.LinkBegin = static_cast<uint32_t>(c.RunFrom.size());
    r.GroupBegin = static_cast<uint32_t>(c.RunSideBySide.size());
    uint32_t k = r.Begin;
    for (; k + TStateRun::kRunLanes <= r.End; k += TStateRun::kRunLanes) {
      uint32_t sideBySide = 0;
      for (uint32_t j = 0; j < r.Links; ++j) {
        const auto first = c.RunFrom.size();
        for (uint32_t lane = 0; lane < TStateRun::kRunLanes; ++lane)
          addLink(static_cast<std::size_t>(c.Order[k + lane]), j);
        bool sequence = j < TCompiledHmm::kOneChar;
        for (uint32_t lane = 1; lane < TStateRun::kRunLanes; ++lane)
          sequence = sequence && c.RunFrom[first + lane] == c.RunFrom[first] + static_cast<int32_t>(lane);
        if (sequence) sideBySide |= 1u << j;
      }
      bool oneChar = true;
      for (uint32_t lane = 1; lane < TStateRun::kRunLanes; ++lane) oneChar = oneChar && c.OrderChar[k + lane] == c.OrderChar[k];
      c.RunSideBySide.push_back(oneChar ? sideBySide | 1u << TCompiledHmm::kOneChar : sideBySide);
    }
    for (; k < r.End; ++k)
      for (uint32_t j = 0; j < r.Links; ++j) addLink(static_cast<std::size_t>(c.Order[k]), j);
  }
  c.HistoryAt.assign(n, -1);
  c.OnlyFrom.assign(n, -1);
  for (TStateRun& r : c.Runs) {
    r.HistoryBegin = c.HistorySize;
    for (uint32_t k = r.Begin; k < r.End; ++k) {
      if (r.Links > 1)
        c.HistoryAt[k] = static_cast<int32_t>(c.HistorySize++);
      else
        c.OnlyFrom[k] = c.Position[static_cast<std::size_t>(c.PrevLinks[c.PrevStart[static_cast<std::size_t>(c.Order[k])]].State)];
    }
  }
}

std::vector<std::string> TRttyMessageHmm::DebugStrings() const {
  std::vector<std::string> out;
  DumpHmm(*FHmm, 0, out);
  out.emplace_back("-------------------");
  char buf[128];
  std::snprintf(buf, sizeof buf, "Char states: %.4d   Virtual states: %d   Transitions: %d",
                static_cast<int>(FCharStates.size()), static_cast<int>(FStates.size() - FCharStates.size()),
                LinkCount());
  out.emplace_back(buf);
  out.emplace_back("-------------------");
  // CheckOrder has rejected every link that would be listed here.
  for (const TState* s : FStates)
    for (const TLink& p : s->Prev)
      if (BreaksOrder(*p.State, *s)) {
        std::snprintf(buf, sizeof buf, "%.4d -> %.4d", p.State->Index, s->Index);
        out.emplace_back(buf);
      }
  return out;
}

namespace {

std::mutex g_hmmMutex;
std::shared_ptr<const TRttyMessageHmm> g_hmm;

void PublishHmm(std::shared_ptr<const TRttyMessageHmm> hmm) {
  std::lock_guard<std::mutex> lock(g_hmmMutex);
  g_hmm = std::move(hmm);
}

}  // namespace

std::shared_ptr<const TRttyMessageHmm> MessageHmm() {
  {
    std::lock_guard<std::mutex> lock(g_hmmMutex);
    if (g_hmm) return g_hmm;
  }
  // Built outside the lock: building takes milliseconds.
  auto built = std::make_shared<const TRttyMessageHmm>(*MessageStatistics());
  std::lock_guard<std::mutex> lock(g_hmmMutex);
  if (!g_hmm) g_hmm = std::move(built);
  return g_hmm;
}

void RebuildMessageHmm() { PublishHmm(std::make_shared<const TRttyMessageHmm>(*MessageStatistics())); }

void SetMessageContestFromFile(const std::string& name, const std::string& fileName) {
  auto stats = std::make_shared<TRttyMessageStatistics>(*MessageStatistics());
  TContestKeys keys;
  LoadContestFromFile(*stats, name, fileName, &keys);
  std::shared_ptr<const TRttyMessageHmm> hmm;
  try {
    hmm = std::make_shared<const TRttyMessageHmm>(*stats);
  } catch (const EBadPattern& e) {
    // The user fixes the file: tell where.
    const auto keyOf = [](int32_t index, const std::vector<std::string>& list) {
      return index >= 0 && static_cast<std::size_t>(index) < list.size() ? &list[static_cast<std::size_t>(index)]
                                                                         : nullptr;
    };
    const std::string* key = keyOf(e.Exchange, keys.Exchanges);
    if (!key) key = keyOf(e.CqWord, keys.CqWords);
    if (!key) throw;
    throw EBadPattern(ContestEntryPlace(fileName, stats->ContestName, *key) + ": " + e.what(), e.Exchange, e.CqWord);
  }
  PublishMessageStatistics(std::move(stats));
  PublishHmm(std::move(hmm));
}

void SetMessageContest(const std::string& name) { SetMessageContestFromFile(name, GetContestsIniFileName()); }

}  // namespace brenvo
