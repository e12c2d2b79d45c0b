#include "decoder/message_hmm.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "dsp/errors.h"
#include "files/ini_file.h"
#include "message_test_util.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

using testing::Spells;

TRttyMessageStatistics BuiltIn() {
  TRttyMessageStatistics s;
  InitMessageStatistics(s);
  return s;
}

TRttyMessageStatistics WithExchanges(TPatternInfoArray exchanges) {
  TRttyMessageStatistics s = BuiltIn();
  s.Exchanges = std::move(exchanges);
  return s;
}

const THmm& Nested(const THmm& h, std::size_t k) {
  const auto& c = dynamic_cast<const TComplexHmm&>(h);
  EXPECT_LT(k, c.NestedHmms.size());
  return *c.NestedHmms.at(k);
}

const THmm& Exchange(const TRttyMessageHmm& m, std::size_t k) { return Nested(Nested(m.Hmm(), ctExchange), k); }

bool HasNext(const TState& from, const TState& to) {
  return std::any_of(from.Next.begin(), from.Next.end(), [&](const TLink& l) { return l.State == &to; });
}

// States reachable forward from the entries of the nine word models.
std::set<const TState*> ReachableFromWordLoop(const TRttyMessageHmm& m) {
  std::set<const TState*> seen;
  std::vector<const TState*> todo;
  for (const auto& n : m.Hmm().NestedHmms) {
    todo.push_back(n->InLTR.get());
    todo.push_back(n->InDIG.get());
  }
  while (!todo.empty()) {
    const TState* s = todo.back();
    todo.pop_back();
    if (s->Index < 0 || !seen.insert(s).second) continue;
    for (const TLink& l : s->Next) todo.push_back(l.State);
  }
  return seen;
}

// The properties every model must have: list order, links, counts.
void CheckWellFormed(const TRttyMessageHmm& m) {
  const auto& states = m.States();
  int links = 0;
  for (std::size_t i = 0; i < states.size(); ++i) {
    const TState& s = *states[i];
    ASSERT_EQ(s.Index, static_cast<int>(i));
    ASSERT_FALSE(s.Prev.empty()) << i;
    for (const TLink& p : s.Prev) {
      ASSERT_GE(p.State->Index, 0);
      if (p.State->FChar == 0)
        ASSERT_LT(p.State->Index, s.Index) << "silent predecessor after its state";
      else
        ASSERT_GE(p.State->Index, s.Index) << "emitting predecessor before its state";
      ASSERT_LE(p.TransProb, 0.0f);
      ASSERT_TRUE(std::isfinite(p.TransProb));
    }
    // Prev order is list order: ties go to the first predecessor.
    for (std::size_t k = 1; k < s.Prev.size(); ++k) ASSERT_LE(s.Prev[k - 1].State->Index, s.Prev[k].State->Index);
    links += static_cast<int>(s.Prev.size());
  }
  EXPECT_EQ(links, m.LinkCount());
  // The compiled arrays say the same as the states.
  const TCompiledHmm& c = m.Compiled();
  ASSERT_EQ(c.PrevStart.size(), states.size() + 1);
  for (std::size_t i = 0; i < states.size(); ++i) {
    ASSERT_EQ(c.PrevStart[i + 1] - c.PrevStart[i], states[i]->Prev.size());
    for (std::size_t k = 0; k < states[i]->Prev.size(); ++k) {
      EXPECT_EQ(c.PrevLinks[c.PrevStart[i] + k].State, states[i]->Prev[k].State->Index);
      EXPECT_EQ(c.PrevLinks[c.PrevStart[i] + k].LnProb, states[i]->Prev[k].TransProb);
    }
    EXPECT_EQ(c.StateChar[i], states[i]->FChar);
    EXPECT_EQ(c.StateWordType[i], WordTypeOf(states[i]->FType));
  }
  ASSERT_EQ(c.CharStates.size(), m.CharStates().size());
  for (std::size_t k = 0; k < c.CharStates.size(); ++k) EXPECT_EQ(c.CharStates[k], m.CharStates()[k]->Index);
  std::set<uint8_t> used;
  for (const TState* s : m.CharStates()) used.insert(s->FChar);
  EXPECT_EQ(std::vector<uint8_t>(used.begin(), used.end()), c.UsedCharList);
  for (int ch = 0; ch < 256; ++ch) EXPECT_EQ(m.UsedChars()[static_cast<std::size_t>(ch)], used.count(static_cast<uint8_t>(ch)) > 0);
  // Outgoing weights of every live state sum to 1 before pruning.
  for (const TState* s : states) {
    if (s->Next.empty()) continue;
    double sum = 0.0;
    for (const TLink& l : s->Next) sum += l.TransProb;
    EXPECT_NEAR(sum, 1.0, 1e-5);
  }
}

// A pattern, texts its exchange model spells and texts it does not.
struct SpellCase {
  const char* pattern;
  std::vector<const char*> yes, no;
};

void CheckSpelling(const std::vector<SpellCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    const TRttyMessageHmm m(WithExchanges({{c.pattern, 1.0f}}));
    CheckWellFormed(m);
    const THmm& p = Exchange(m, 0);
    for (const char* t : c.yes) EXPECT_TRUE(Spells(p, t)) << t;
    for (const char* t : c.no) EXPECT_FALSE(Spells(p, t)) << t;
  }
}

TEST(MessageHmm, CountsWithTheBuiltInStatistics) {
  const TRttyMessageHmm m(BuiltIn());
  EXPECT_EQ(m.StateCount(), 3491);
  EXPECT_EQ(static_cast<int>(m.CharStates().size()), 1989);
  EXPECT_EQ(m.LinkCount(), 6130);
  EXPECT_EQ(m.Compiled().UsedCharList.size(), 38u);
  std::size_t maxPrev = 0;
  for (const TState* s : m.States()) maxPrev = std::max(maxPrev, s->Prev.size());
  EXPECT_EQ(maxPrev, 11u);
  CheckWellFormed(m);
  const auto& d = m.DebugStrings();
  const auto sep = std::find(d.begin(), d.end(), "-------------------");
  ASSERT_NE(sep, d.end());
  ASSERT_LT(sep + 2, d.end());
  EXPECT_EQ(sep[1], "Char states: 1989   Virtual states: 1502   Transitions: 6130");
  EXPECT_EQ(sep[2], "-------------------");
  EXPECT_EQ(sep + 3, d.end());  // no link breaks the order
  EXPECT_EQ(d.front(), "ctNone \"TOP\"  [(-1)(-1)][(-1)(-1)]");
  EXPECT_EQ(m.ContestName(), "DX");
}

TEST(MessageHmm, CountsWithEmptyCqAndExchangeLists) {
  TRttyMessageStatistics s = BuiltIn();
  s.CqWords.clear();
  s.Exchanges.clear();
  const TRttyMessageHmm m(s);
  EXPECT_EQ(m.StateCount(), 2725);
  EXPECT_EQ(m.LinkCount(), 4724);
  CheckWellFormed(m);
  // Nothing can be decoded as a CQ word or an exchange.
  for (const TState* st : m.CharStates()) {
    EXPECT_NE(WordTypeOf(st->FType), ctCQ);
    EXPECT_NE(WordTypeOf(st->FType), ctExchange);
  }
  EXPECT_EQ(Nested(m.Hmm(), ctCQ).OutLTR->Index, -1);
  EXPECT_EQ(Nested(m.Hmm(), ctExchange).OutLTR->Index, -1);
}

// Pruning removes what has no predecessor; a shift state that only its own
// self-loop feeds stays (a path may start there after a reset), and nothing else
// is out of reach of the word loop.
TEST(MessageHmm, EveryStateIsReachableOrASelfFedShiftState) {
  const TRttyMessageHmm m(BuiltIn());
  const auto reach = ReachableFromWordLoop(m);
  int selfFed = 0;
  for (const TState* s : m.States()) {
    if (reach.count(s)) continue;
    ++selfFed;
    ASSERT_EQ(s->Prev.size(), 1u);
    EXPECT_EQ(s->Prev[0].State, s);
    EXPECT_TRUE(s->FChar == kChFigures || s->FChar == kChLetters);
  }
  EXPECT_EQ(selfFed, 235);
}

TEST(MessageHmm, SimpleModelPerShiftKind) {
  const TRttyMessageStatistics s = BuiltIn();
  struct Case {
    uint8_t ch;
    TShiftKind kind;
    uint8_t shift1, shift2;
    bool outLtrEmits, outDigEmits;
    std::size_t links;
  } cases[] = {
      {'A', skLTR, kChFigures, kChLetters, true, false, 8},
      {'@', skLTR, kChFigures, kChLetters, true, false, 8},
      {'5', skDIG, kChLetters, kChFigures, false, true, 9},
      {'p', skDIG, kChLetters, kChFigures, false, true, 9},
      {'/', skDIG, kChLetters, kChFigures, false, true, 9},
      {kChSpace, skSPC, kChFigures, kChLetters, true, true, 10},
      {kChSeparator, skSPC, kChFigures, kChLetters, true, true, 10},
      {kChCarriageReturn, skSPC, kChFigures, kChLetters, true, true, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ch);
    TSimpleHmm h(ctLetter, c.ch, s);
    EXPECT_EQ(h.Kind, c.kind);
    EXPECT_EQ(ShiftKindOf(c.ch), c.kind);
    EXPECT_EQ(h.Shift1->FChar, c.shift1);
    EXPECT_EQ(h.Shift2->FChar, c.shift2);
    EXPECT_EQ(h.Shift1->FType, ctLetter);
    EXPECT_EQ(h.OutLTR->FChar, c.outLtrEmits ? c.ch : 0);
    EXPECT_EQ(h.OutDIG->FChar, c.outDigEmits ? c.ch : 0);
    EXPECT_EQ(h.InLTR->FChar, 0);
    EXPECT_EQ(h.InLTR->FType, ctNone);
    const std::size_t links = h.InLTR->Next.size() + h.InDIG->Next.size() + h.Shift1->Next.size() +
                              h.Shift2->Next.size();
    EXPECT_EQ(links, c.links);  // 13 minus the zero weights of the table
  }
  // A letter in figures mode only through a letters shift; a figure in letters
  // mode only through a figures shift; white space leaves in letters mode.
  TSimpleHmm a(ctLetter, 'A', s), five(ctDigit, '5', s), blank(ctWhiteSpace, kChSpace, s);
  EXPECT_FALSE(HasNext(*a.InDIG, *a.OutLTR));
  EXPECT_TRUE(HasNext(*a.Shift2, *a.OutLTR));
  EXPECT_TRUE(HasNext(*a.InLTR, *a.OutLTR));
  EXPECT_FALSE(HasNext(*five.InLTR, *five.OutDIG));
  EXPECT_TRUE(HasNext(*five.Shift2, *five.OutDIG));
  EXPECT_TRUE(HasNext(*five.InDIG, *five.OutDIG));
  EXPECT_FALSE(HasNext(*blank.InDIG, *blank.OutDIG));
  EXPECT_FALSE(HasNext(*blank.Shift2, *blank.OutDIG));
  EXPECT_TRUE(HasNext(*blank.InDIG, *blank.OutLTR));
}

// The thirteen links of one character, weighted straight from the shift
// table: rows InLTR, InDIG, Shift1, Shift2; columns Shift1, Shift2, OutLTR,
// OutDIG. A zero cell makes no link, and there are no other links.
TEST(MessageHmm, SimpleModelLinksCarryTheShiftTable) {
  const TRttyMessageStatistics s = BuiltIn();
  for (uint8_t ch : {uint8_t('A'), uint8_t('5'), kChSpace}) {
    SCOPED_TRACE(ch);
    const TSimpleHmm h(ctLetter, ch, s);
    const auto& table = s.ShiftTransitionProbs[h.Kind];
    const TState* from[4] = {h.InLTR.get(), h.InDIG.get(), h.Shift1.get(), h.Shift2.get()};
    const TState* to[4] = {h.Shift1.get(), h.Shift2.get(), h.OutLTR.get(), h.OutDIG.get()};
    // The three cells that the model never links, zero in every kind.
    const std::set<std::pair<int, int>> unused = {{0, 3}, {2, 3}, {3, 0}};
    for (int r = 0; r < 4; ++r) {
      std::size_t expected = 0;
      for (int c = 0; c < 4; ++c) {
        const float w = table[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
        if (unused.count({r, c})) {
          EXPECT_EQ(w, 0.0f);
          continue;
        }
        const auto it = std::find_if(from[r]->Next.begin(), from[r]->Next.end(),
                                     [&](const TLink& l) { return l.State == to[c]; });
        if (w == 0.0f) {
          EXPECT_EQ(it, from[r]->Next.end()) << r << " " << c;
        } else {
          ++expected;
          ASSERT_NE(it, from[r]->Next.end()) << r << " " << c;
          EXPECT_EQ(it->TransProb, w) << r << " " << c;
        }
      }
      EXPECT_EQ(from[r]->Next.size(), expected) << r;
    }
    EXPECT_TRUE(h.OutLTR->Next.empty());
    EXPECT_TRUE(h.OutDIG->Next.empty());
  }
}

// After flattening, the word loop and the white-space runs carry their tables
// row-normalised, in the right direction (row = from), and Prev holds the logs.
TEST(MessageHmm, WordAndWhiteSpaceLinksAreTheNormalisedTables) {
  const TRttyMessageStatistics s = BuiltIn();
  const TRttyMessageHmm m(s);
  const auto& top = m.Hmm().NestedHmms;
  auto weightOf = [](const TState& from, const TState& to) {
    for (const TLink& l : from.Next)
      if (l.State == &to) return l.TransProb;
    return 0.0f;
  };
  auto lnPrev = [](const TState& to, const TState& from) {
    for (const TLink& l : to.Prev)
      if (l.State == &from) return l.TransProb;
    return 1.0f;  // no such link
  };
  for (int a = 0; a < kWordTypeCount; ++a) {
    SCOPED_TRACE(a);
    const auto& row = s.MessageTransitionProbs[static_cast<std::size_t>(a)];
    double sum = 0.0;
    for (float w : row) sum += w;
    const THmm& from = *top[static_cast<std::size_t>(a)];
    for (int b = 0; b < kWordTypeCount; ++b) {
      const THmm& to = *top[static_cast<std::size_t>(b)];
      const float want = static_cast<float>(row[static_cast<std::size_t>(b)] / sum);
      EXPECT_FLOAT_EQ(weightOf(*from.OutLTR, *to.InLTR), want) << b;
      EXPECT_FLOAT_EQ(weightOf(*from.OutDIG, *to.InDIG), want) << b;
      if (want != 0.0f && from.OutLTR->Index >= 0) {
        EXPECT_FLOAT_EQ(lnPrev(*to.InLTR, *from.OutLTR), std::log(want)) << b;
      }
    }
  }
  const auto& ws = dynamic_cast<const TComplexHmm&>(*top[ctWhiteSpace]);
  const std::size_t n = s.WhiteSpaces.size();
  ASSERT_EQ(ws.NestedHmms.size(), n);
  double entrySum = 0.0;
  for (const auto& w : s.WhiteSpaces) entrySum += w.Prob;
  for (std::size_t i = 0; i < n; ++i) {
    SCOPED_TRACE(i);
    const THmm& a = *ws.NestedHmms[i];
    EXPECT_EQ(a.Text, s.WhiteSpaces[i].Patt.substr(0, 1));
    EXPECT_FLOAT_EQ(weightOf(*ws.InLTR, *a.InLTR), static_cast<float>(s.WhiteSpaces[i].Prob / entrySum));
    const auto& row = s.WhiteSpaceTransitionProbs[i];
    double sum = 0.0;
    for (float w : row) sum += w;
    for (std::size_t j = 0; j < n; ++j)
      EXPECT_FLOAT_EQ(weightOf(*a.OutLTR, *ws.NestedHmms[j]->InLTR), static_cast<float>(row[j] / sum)) << j;
    EXPECT_FLOAT_EQ(weightOf(*a.OutLTR, *ws.OutLTR), static_cast<float>(row[n] / sum));
  }
}

TEST(MessageHmm, LetterInFiguresModeOnlyThroughTheLettersShift) {
  const TRttyMessageHmm m(BuiltIn());
  const THmm& letter = Nested(m.Hmm(), ctLetter);
  const auto& simple = dynamic_cast<const TSimpleHmm&>(letter);
  ASSERT_EQ(simple.OutLTR->FChar, kChAnyLetter);
  // The letter's predecessors: its entry in letters mode and the two shift
  // states; the entry in figures mode leads only to the shifts.
  for (const TLink& p : simple.OutLTR->Prev) EXPECT_NE(p.State, simple.InDIG.get());
  for (const TLink& l : simple.InDIG->Next)
    EXPECT_TRUE(l.State == simple.Shift1.get() || l.State == simple.Shift2.get());
  EXPECT_EQ(simple.OutDIG->Index, -1);  // pruned: a letter never leaves in figures mode
}

TEST(MessageHmm, RepeatPatternIsTwoChainedPartsWithALoop) {
  const TRttyMessageHmm m(WithExchanges({{"5NN<~5NN>", 1.0f}}));
  CheckWellFormed(m);
  const THmm& p = Exchange(m, 0);
  EXPECT_EQ(p.FType, ctExchangePatt);
  EXPECT_EQ(p.Text, "5NN<~5NN>");
  const auto& pc = dynamic_cast<const TComplexHmm&>(p);
  ASSERT_EQ(pc.NestedHmms.size(), 2u);
  const THmm& lit = *pc.NestedHmms[0];
  const THmm& rpt = *pc.NestedHmms[1];
  EXPECT_EQ(lit.FType, ctExchangeTxt);
  EXPECT_EQ(lit.Text, "5NN");
  EXPECT_EQ(rpt.FType, ctExchangeRpt);
  const auto& rc = dynamic_cast<const TComplexHmm&>(rpt);
  ASSERT_EQ(rc.NestedHmms.size(), 2u);
  EXPECT_EQ(rc.NestedHmms[0]->FType, ctExchangeSep);
  EXPECT_EQ(rc.NestedHmms[0]->Text, "_|__|.|._|_._|_.|-|-_|_-_|_-");
  EXPECT_EQ(rc.NestedHmms[1]->FType, ctExchangeTxt);
  EXPECT_EQ(rc.NestedHmms[1]->Text, "5NN");
  EXPECT_TRUE(HasNext(*rpt.OutLTR, *rpt.InLTR));
  EXPECT_TRUE(HasNext(*rpt.OutDIG, *rpt.InDIG));
  // The chain: literal out to repeat in.
  EXPECT_TRUE(HasNext(*lit.OutLTR, *rpt.InLTR));
  EXPECT_TRUE(HasNext(*lit.OutDIG, *rpt.InDIG));
}

TEST(MessageHmm, OptionalFirstPartCanBeSkippedFromTheEntry) {
  const TRttyMessageHmm m(WithExchanges({{"[A]B", 1.0f}}));
  const THmm& p = Exchange(m, 0);
  const auto& pc = dynamic_cast<const TComplexHmm&>(p);
  ASSERT_EQ(pc.NestedHmms.size(), 2u);
  EXPECT_EQ(pc.NestedHmms[0]->FType, ctExchangeOpt);
  EXPECT_TRUE(HasNext(*p.InLTR, *pc.NestedHmms[1]->InLTR));
  EXPECT_TRUE(HasNext(*p.InDIG, *pc.NestedHmms[1]->InDIG));
}

TEST(MessageHmm, AlternativesAreEquallyWeighted) {
  const TRttyMessageHmm m(WithExchanges({{"{2,3,4}n9", 1.0f}}));
  const THmm& alt = Nested(Exchange(m, 0), 0);
  EXPECT_EQ(alt.FType, ctExchangeAlt);
  EXPECT_EQ(alt.Text, "2|3|4");
  ASSERT_EQ(alt.InLTR->Next.size(), 3u);
  for (const TLink& l : alt.InLTR->Next) EXPECT_FLOAT_EQ(l.TransProb, 1.0f / 3.0f);
}

// Which texts a pattern spells: the grammar on nested, optional and repeated parts.
TEST(MessageHmm, PatternGrammar) {
  const std::vector<SpellCase> cases = {
      {"599", {"599"}, {"59", "5999", "599_"}},
      {"599<~599>", {"599_599", "599__599_599", "599-599", "599_-_599"}, {"599", "599_", "599599", "599_59"}},
      {"{2,3,4}n9<~{2,3,4}n9>", {"2n9_3n9", "4n9-4n9_2n9"}, {"5n9_5n9", "n9_n9", "2n9"}},
      {"[A]B", {"AB", "B"}, {"A", "AAB", ""}},
      {"A[B]", {"A", "AB"}, {"B", "ABB"}},
      {"A[B]C", {"ABC", "AC"}, {"AB", "BC", "ABBC"}},
      {"A<B[C]>D", {"ABD", "ABCD", "ABBD", "ABCBD", "ABCBCD"}, {"AD", "ACD", "ABCCD"}},
      {"[A][B]", {"A", "B", "AB"}, {"BA", "AA"}},
      {"A<~B<C>>", {"A_BC", "A_BCC", "A_BC_BCCC"}, {"A_B", "A_C", "ABC"}},
      {"@<@>~@@", {"@@_@@", "@@@@@-@@"}, {"@_@@", "@@_@", "@@@@"}},
      {"599{}", {}, {"599", "599_"}},
      {"ab,c", {"ab,c"}, {"ab"}},
  };
  CheckSpelling(cases);
}

// What the grammar does not do, by its own rules: a pattern that is one
// repeat or optional group gets no loop or skip; a group whose result becomes
// the outer one's keeps only the outer meaning; a skip over a middle part
// lands on the first branch of the next part only, so it can pass over one
// optional part but not two in a row.
TEST(MessageHmm, PatternGrammarLimits) {
  const std::vector<SpellCase> cases = {
      {"<599>", {"599"}, {"599599"}},
      {"[599]", {"599"}, {""}},
      {"A[<B>]C", {"ABC", "AC"}, {"ABBC"}},
      {"A<[B]>C", {"ABC", "ABBC"}, {"AC"}},
      {"A[B][C]D", {"ABCD", "ACD", "ABD"}, {"AD"}},
      {"A[B]~C", {"AB_C", "AB-C", "A_C"}, {"A-C", "A__C"}},
  };
  CheckSpelling(cases);
}

TEST(MessageHmm, BadPatternsRaiseWithThePattern) {
  std::string deep;
  for (int i = 0; i < 40; ++i) deep += '<';
  deep += "5";
  for (int i = 0; i < 40; ++i) deep += '>';
  const std::string cases[] = {"<>",  "[]",      "{a,}",     "{,}",    "{a,,b}", "599<~599", "599[~5",
                               "{a",  "<5<5>",   "599[~]{}", "A[B]{}", "",       "<[]>",     "5<>9",
                               deep};
  for (const auto& pattern : cases) {
    SCOPED_TRACE(pattern);
    try {
      const TRttyMessageHmm m(WithExchanges({{"599", 1.0f}, {pattern, 0.5f}}));
      ADD_FAILURE() << "built";
    } catch (const EBrenvoError& e) {
      EXPECT_EQ(std::string(e.what()), "Bad pattern: " + pattern);
    }
  }
  // Thirty levels are fine.
  std::string ok;
  for (int i = 0; i < 30; ++i) ok += '<';
  ok += "5";
  for (int i = 0; i < 30; ++i) ok += '>';
  EXPECT_NO_THROW(TRttyMessageHmm(WithExchanges({{"A" + ok, 1.0f}})));
}

// Tables under which a silent state would have to be updated after its
// successor: the model refuses to build instead of mis-correcting.
TEST(MessageHmm, OrderViolationIsRefused) {
  TRttyMessageStatistics s = BuiltIn();
  s.ShiftTransitionProbs[skLTR][1][3] = 0.5f;  // a letter left in figures mode: a silent exit
  s.Exchanges.clear();
  try {
    const TRttyMessageHmm m(s);
    ADD_FAILURE() << "built";
  } catch (const EBrenvoError& e) {
    EXPECT_STREQ(e.what(), "Message model breaks its state order");
  }
  // In an exchange the pattern is named.
  s.Exchanges = {{"5N", 1.0f}};
  s.CqWords.clear();
  s.Call.PrefPatt = {{"n", 1.0f}};
  s.Call.Letters = {{"n", 1.0f}};
  s.Call.SuffPatt = {{"n", 1.0f}};
  s.Call.PortPrefPatt = {{"n", 1.0f}};
  try {
    const TRttyMessageHmm m(s);
    ADD_FAILURE() << "built";
  } catch (const EBrenvoError& e) {
    EXPECT_STREQ(e.what(), "Bad pattern: 5N");
  }
}

TEST(MessageHmm, ZeroWeightExchangeIsUnreachable) {
  const TRttyMessageHmm m(WithExchanges({{"599", 0.0f}, {"5NN", 1.0f}}));
  CheckWellFormed(m);
  const THmm& ex = Nested(m.Hmm(), ctExchange);
  const THmm& zero = Exchange(m, 0);
  EXPECT_FALSE(HasNext(*ex.InLTR, *zero.InLTR));
  EXPECT_FALSE(HasNext(*ex.InDIG, *zero.InDIG));
  EXPECT_EQ(zero.InLTR->Index, -1);
  const auto reach = ReachableFromWordLoop(m);
  for (const TState* s : m.CharStates())
    if (s->FChar == '9') {
      EXPECT_EQ(reach.count(s), 0u);
    }
}

TEST(MessageHmm, WordListTypesAndCallStructures) {
  const TRttyMessageHmm m(BuiltIn());
  const auto& top = dynamic_cast<const TComplexHmm&>(m.Hmm());
  ASSERT_EQ(top.NestedHmms.size(), 9u);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(top.NestedHmms[static_cast<std::size_t>(k)]->FType, k);
  const auto& call = dynamic_cast<const TComplexHmm&>(*top.NestedHmms[ctCall]);
  ASSERT_EQ(call.NestedHmms.size(), 7u);
  const TStateType types[7] = {ctCallStruC,   ctCallStruCS, ctCallStruCSS, ctCallStruCP,
                               ctCallStruCPS, ctCallStruPC, ctCallStruPCS};
  const std::size_t parts[7] = {3, 3, 5, 3, 5, 3, 5};
  for (int k = 0; k < 7; ++k) {
    const auto& st = dynamic_cast<const TComplexHmm&>(*call.NestedHmms[static_cast<std::size_t>(k)]);
    EXPECT_EQ(st.FType, types[k]);
    EXPECT_EQ(st.NestedHmms.size(), parts[k]);
  }
  // Structure weights by position.
  const auto s = BuiltIn();
  double sum = 0.0;
  for (const auto& e : s.Call.Structs) sum += e.Prob;
  for (int k = 0; k < 7; ++k)
    EXPECT_FLOAT_EQ(call.InLTR->Next[static_cast<std::size_t>(k)].TransProb,
                    static_cast<float>(s.Call.Structs[static_cast<std::size_t>(k)].Prob / sum));
  // A call spells prefix, digits, letters; portable forms with "/".
  for (const char* t : {"@@n@@@", "@n@", "n@n@@", "@@nn@", "@@n@@@/P", "@@n@@/n", "@@n/@@n@@@", "@@n@@/@@/P"})
    EXPECT_TRUE(Spells(call, t)) << t;
  for (const char* t : {"@@@", "nn@@", "@@n@@@@@@@", "@@n@@//P"}) EXPECT_FALSE(Spells(call, t)) << t;
  EXPECT_TRUE(Spells(*top.NestedHmms[ctDe], "DE"));
  EXPECT_TRUE(Spells(*top.NestedHmms[ctCQ], "QRZ"));
  EXPECT_TRUE(Spells(*top.NestedHmms[ctWhiteSpace], "_\xA6|"));
  EXPECT_FALSE(Spells(*top.NestedHmms[ctWhiteSpace], ""));
}

// Example exchanges of the shipped contests: each is spelt by the contest's
// exchange model, in the form the corrector sees them (letters as "@", digits as "n").
TEST(MessageHmm, ShippedContestsSpellTheirExchanges) {
  const std::map<std::string, std::vector<const char*>> examples = {
      {"DX", {"599", "599_599", "5NN"}},
      {"CQ WW RTTY DX", {"599_nn", "599_nn_nn", "599_nn_@@", "599-nn-@@", "599_599_nn", "599_599_nn_nn"}},
      {"CQ WPX RTTY", {"599_nnn", "599_nnn_nnn", "599_n", "599-nnnn"}},
      {"ARRL RTTY Roundup", {"599_@@", "599_@@_@@", "599_nnn"}},
      {"BARTG HF RTTY", {"599_nnn_nnnn", "599_n_nnnn", "599_nnn_nnn_nnnn_nnnn"}},
      {"NAQP RTTY", {"@@@_@@", "@@@@@@", "@@@@_@@_@@@@_@@"}},
      {"NA Sprint RTTY", {"nnn_@@@_@@", "n_@@@@@_@@"}},
      {"WAE DX RTTY", {"599_nnn", "599_nn_nn"}},
      {"JARTS WW RTTY", {"599_nn", "599_nn_nn", "599_599_nn"}},
      {"Russian WW Digital", {"599_@@", "599_nn", "599_nnn"}},
      {"SCC RTTY", {"599_nnnn", "599_nnnn_nnnn"}},
      {"Makrothen RTTY", {"@@nn", "@@nn_@@nn"}},
      {"SARTG WW RTTY", {"599_nnn", "599_n"}},
      {"EA RTTY", {"599_@@", "599_@", "599_nnn"}},
  };
  const std::string file = std::string(BRENVO_SOURCE_DIR) + "/data/Contests.ini";
  const auto names = TIniFile(file).ReadSectionNames();
  EXPECT_EQ(names.size(), examples.size());
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    TRttyMessageStatistics s = BuiltIn();
    LoadContestFromFile(s, name, file);
    const TRttyMessageHmm m(s);
    CheckWellFormed(m);
    const auto it = examples.find(name);
    ASSERT_NE(it, examples.end());
    for (const char* t : it->second) EXPECT_TRUE(Spells(Nested(m.Hmm(), ctExchange), t)) << t;
    for (const auto& cq : s.CqWords) EXPECT_TRUE(Spells(Nested(m.Hmm(), ctCQ), cq.Patt)) << cq.Patt;
    // A literal without a Baudot code would be scored as the letters shift.
    for (uint8_t c : m.Compiled().UsedCharList) {
      const bool meta = c == kChAnyLetter || c == kChAnyDigit || c == kChAnyPunct || c == kChSeparator;
      EXPECT_TRUE(meta || CodeTable[c] != kNoCode) << c;
    }
  }
}

class MessageHmmGlobal : public ::testing::Test {
 protected:
  void TearDown() override {
    auto s = std::make_shared<TRttyMessageStatistics>();
    InitMessageStatistics(*s);
    PublishMessageStatistics(s);
    RebuildMessageHmm();
  }
  std::string Write(const std::string& text) {
    const std::string path = (tmp.Path() / "c.ini").string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  testing::TempDir tmp;
};

TEST_F(MessageHmmGlobal, ContestChangeIsAllOrNothing) {
  const auto hmm0 = MessageHmm();
  const auto stats0 = MessageStatistics();
  ASSERT_TRUE(hmm0);
  EXPECT_EQ(hmm0->StateCount(), 3491);

  // A bad pattern: neither the statistics nor the model change; the message
  // says where the pattern stands.
  const std::string bad = Write("[C]\nCQ1=CQ|1\nEXCHANGE1=599|1\nExchange2=599<~599|1\n");
  try {
    SetMessageContestFromFile("C", bad);
    ADD_FAILURE() << "no exception";
  } catch (const EBadPattern& e) {
    EXPECT_EQ(e.what(), bad + ", section [C], key Exchange2: Bad pattern: 599<~599");
  }
  EXPECT_EQ(MessageHmm(), hmm0);
  EXPECT_EQ(MessageStatistics(), stats0);
  // A bad number: the same.
  EXPECT_THROW(SetMessageContestFromFile("C", Write("[C]\nCQ1=CQ|x\n")), EConvertError);
  EXPECT_EQ(MessageHmm(), hmm0);
  EXPECT_EQ(MessageStatistics(), stats0);

  SetMessageContestFromFile("C", Write("[C]\nCQ1=CQ|1\nEXCHANGE1=599~nnn|1\n"));
  const auto hmm1 = MessageHmm();
  const auto stats1 = MessageStatistics();
  EXPECT_NE(hmm1, hmm0);
  EXPECT_EQ(stats1->ContestName, "C");
  EXPECT_EQ(hmm1->ContestName(), "C");
  EXPECT_EQ(stats1->Exchanges, (TPatternInfoArray{{"599~nnn", 1.0f}}));
  // Whoever still holds the old snapshots keeps them whole.
  EXPECT_EQ(stats0->ContestName, "DX");
  EXPECT_EQ(hmm0->StateCount(), 3491);
  EXPECT_EQ(stats0->Exchanges.size(), 6u);
}

// A contest that makes as much as a limit allows builds; one step more is
// refused, the file, section, key and limit named, and the contest in force
// stays. Steps: one more byte of a pattern, one more entry of a pattern (the
// model grows by the same amount with each).
TEST_F(MessageHmmGlobal, ContestsUpToEachLimitBuildAndOneStepBeyondIsNamed) {
  struct Case {
    std::string key;
    std::string pattern;  // of each entry KEY1, KEY2, ...; "" for one entry of digits
    int (TRttyMessageHmm::*made)() const;  // what the limit bounds; null for the pattern's bytes
    int limit;
    std::string message;
  };
  const Case cases[] = {
      {"CQ", "", nullptr, 1024, "Pattern of 1025 bytes: longer than the limit of 1024 bytes"},
      {"EXCHANGE", "", nullptr, 1024, "Pattern of 1025 bytes: longer than the limit of 1024 bytes"},
      {"CQ", "AAAAAAAA", &TRttyMessageHmm::MadeStates, 150000,
       "Message model too large: more than the limit of 150000 states"},
      {"EXCHANGE", "________", &TRttyMessageHmm::MadeLinks, 270000,
       "Message model too large: more than the limit of 270000 links"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + " " + c.message);
    const auto file = [&](int n) {
      if (c.pattern.empty()) return Write("[C]\n" + c.key + "1=" + std::string(static_cast<std::size_t>(n), '5') + "|1\n");
      std::string text = "[C]\n";
      for (int i = 1; i <= n; ++i) text += c.key + std::to_string(i) + "=" + c.pattern + "|1\n";
      return Write(text);
    };
    const auto made = [&](int n) {
      SetMessageContestFromFile("C", file(n));
      return (*MessageHmm().*c.made)();
    };
    int n = c.limit, step = 0;
    if (c.made) {
      step = made(2) - made(1);
      n = 1 + (c.limit - made(1)) / step;
    }
    ASSERT_NO_THROW(SetMessageContestFromFile("C", file(n)));
    if (c.made) {
      EXPECT_LE((*MessageHmm().*c.made)(), c.limit);
      EXPECT_GT((*MessageHmm().*c.made)(), c.limit - step);
    }
    const auto hmm = MessageHmm();
    const std::string path = file(n + 1);
    const std::string key = c.key + std::to_string(c.made ? n + 1 : 1);
    EXPECT_THAT([&] { SetMessageContestFromFile("C", path); },
                ::testing::ThrowsMessage<EBadPattern>(
                    ::testing::StrEq(path + ", section [C], key " + key + ": " + c.message)));
    EXPECT_EQ(MessageHmm(), hmm);
  }
}

}  // namespace
}  // namespace brenvo
