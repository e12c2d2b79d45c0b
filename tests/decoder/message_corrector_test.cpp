#include "decoder/message_corrector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "decoder/baudot_table.h"
#include "decoder/char_prob.h"
#include "decoder/message_storage.h"
#include "dsp/errors.h"
#include "message_test_util.h"

namespace brenvo {
namespace {

using testing::CodeRecord;
using testing::EncodeBaudot;
using testing::MarkerRecord;

TRttyMessageStatistics BuiltIn() {
  TRttyMessageStatistics s;
  InitMessageStatistics(s);
  return s;
}

std::shared_ptr<const TRttyMessageHmm> BuiltInModel() {
  static const auto model = std::make_shared<const TRttyMessageHmm>(BuiltIn());
  return model;
}

// The emission of a model character for a record, from the character
// probability routines: "p" over the punctuation marks that have a code,
// divided by the size of the whole class.
float ReferenceEmission(uint8_t c, const TCharInfo& r) {
  if (r.RawCh == kChSteadyTone || r.RawCh == kChIncomplete || r.RawCh == kChSilence)
    return c == kChSeparator ? 0.0f : -10000.0f;
  if (c == kChAnyLetter) return LnCharClassProb("ABCDEFGHIJKLMNOPQRSTUVWXYZ", r.BitProbs);
  if (c == kChAnyDigit) return LnCharClassProb("0123456789", r.BitProbs);
  if (c == kChAnyPunct) {
    float best = 0.0f;
    bool first = true;
    for (char m : std::string_view("-'$*,!:(+)#?&./=")) {
      if (CodeTable[static_cast<uint8_t>(m)] == kNoCode) continue;
      const float v = CharProb(static_cast<uint8_t>(m), r.BitProbs);
      if (first || v > best) best = v;
      first = false;
    }
    return SafeLn(best / 16.0f);
  }
  return LnCharProb(c, r.BitProbs);
}

// A plain Viterbi over the model's state objects: one array for the previous
// step and one for this one (a silent predecessor is read from this step, an
// emitting one from the previous), the whole history kept, the best path
// traced back to the start after every step.
class ReferenceViterbi {
 public:
  explicit ReferenceViterbi(const TRttyMessageHmm& m) : M(m), Prob(m.States().size(), 0.0f) {}

  void Step(const TCharInfo& r) {
    const auto& states = M.States();
    std::vector<float> now(states.size());
    std::vector<int> from(states.size());
    for (std::size_t i = 0; i < states.size(); ++i) {
      const TState& s = *states[i];
      bool first = true;
      float best = 0.0f;
      int bestPred = -1;
      for (const TLink& l : s.Prev) {
        const int p = l.State->Index;
        const bool silent = l.State->FChar == 0;
        ASSERT_TRUE(!silent || p < static_cast<int>(i)) << "silent predecessor not computed yet";
        const float v = (silent ? now[static_cast<std::size_t>(p)] : Prob[static_cast<std::size_t>(p)]) + l.TransProb;
        if (!first && v == best) ++Ties;
        if (first || v > best) {
          best = v;
          bestPred = p;
        }
        first = false;
      }
      if (s.FChar != 0) best += ReferenceEmission(s.FChar, r);
      now[i] = best;
      from[i] = bestPred;
    }
    // Best character state, the first on ties; all scores shifted so it is 0.
    int end = -1;
    for (const TState* s : M.CharStates())
      if (end < 0 || now[static_cast<std::size_t>(s->Index)] > now[static_cast<std::size_t>(end)]) end = s->Index;
    const float top = now[static_cast<std::size_t>(end)];
    for (float& v : now) v -= top;
    Prob = std::move(now);
    History.push_back(std::move(from));
    Ends.push_back(end);
  }

  // The character state of every step on the best path ending now.
  std::vector<int> Path() const {
    std::vector<int> path(History.size());
    int state = Ends.back();
    for (std::size_t t = History.size(); t-- > 0;) {
      path[t] = state;
      do {
        state = History[t][static_cast<std::size_t>(state)];
      } while (M.States()[static_cast<std::size_t>(state)]->FChar == 0);
    }
    return path;
  }

  const TRttyMessageHmm& M;
  std::vector<float> Prob;
  std::vector<std::vector<int>> History;
  std::vector<int> Ends;
  long Ties = 0;  // equal candidates, decided for the first
};

// A record of what a character state reports.
TCharInfo Reported(const TState& s) {
  TCharInfo r;
  r.ChType = WordTypeOf(s.FType);
  if (s.FChar == '@' || s.FChar == 'n' || s.FChar == 'p' || s.FChar == '~')
    r.MetaCh = s.FChar;
  else
    r.CorrCh = s.FChar;
  return r;
}

bool SameReport(const TCharInfo& a, const TCharInfo& b) {
  return a.CorrCh == b.CorrCh && a.MetaCh == b.MetaCh && a.ChType == b.ChType;
}

// Random records: sure and unsure bits, exact halves (ties), repeated
// records, and steady-tone, incomplete and silence markers.
TCharInfo RandomRecord(std::mt19937& rng) {
  std::uniform_int_distribution<int> kind(0, 99);
  const int k = kind(rng);
  if (k < 4) return MarkerRecord(kChSteadyTone);
  if (k < 7) return MarkerRecord(kChIncomplete);
  if (k < 10) return MarkerRecord(kChSilence);
  TCharInfo r;
  std::uniform_int_distribution<int> code(0, 31);
  std::uniform_real_distribution<float> any(0.0f, 1.0f);
  const int c = code(rng);
  for (int i = 0; i < 5; ++i) {
    const bool one = (c >> i) & 1;
    float p;
    if (k < 20)
      p = 0.5f;
    else if (k < 50)
      p = one ? 0.9f : 0.1f;
    else if (k < 60)
      p = one ? 1.0f : 0.0f;
    else
      p = any(rng);
    r.BitProbs.Set(i, p);
  }
  r.RawCh = BaudotTable[0][ProbsToCode(r.BitProbs)];
  return r;
}

// Clear text first: from a reset every state scores alike, so copies of the
// same part (the call bodies of the seven structures) tie where they join.
void CompareWithReference(const std::shared_ptr<const TRttyMessageHmm>& model, uint32_t seed, int steps,
                          const std::string& prefix = "",
                          TRttyMessageCorrector::TKernel kernel = TRttyMessageCorrector::Fastest()) {
  std::mt19937 rng(seed);
  const auto coded = EncodeBaudot(prefix);
  TRttyMessageCorrector corr(model, kernel);
  ReferenceViterbi ref(*model);
  TCharInfoArray shown;  // what the corrector has reported, one record per step
  TCharInfo last;
  std::size_t longest = 0;
  for (int t = 0; t < steps; ++t) {
    // Now and then the same record twice in a row: equal scores everywhere.
    const TCharInfo r = static_cast<std::size_t>(t) < coded.size() ? CodeRecord(coded[static_cast<std::size_t>(t)].Code, 0.99f)
                        : (t > 0 && rng() % 8 == 0)                 ? last
                                                                    : RandomRecord(rng);
    last = r;
    corr.ProcessChar(r);
    ref.Step(r);
    if (::testing::Test::HasFatalFailure()) return;

    const TCharInfoArray& msg = corr.Msg();
    ASSERT_GE(msg.size(), 1u);
    ASSERT_LE(msg.size(), 25u);
    ASSERT_LE(msg.size(), static_cast<std::size_t>(t + 1));
    longest = std::max(longest, msg.size());
    shown.emplace_back();
    std::copy(msg.begin(), msg.end(), shown.end() - static_cast<std::ptrdiff_t>(msg.size()));

    for (int i = 0; i < model->StateCount(); ++i)
      ASSERT_EQ(corr.Score(i), ref.Prob[static_cast<std::size_t>(i)]) << "step " << t << " state " << i;
    const std::vector<int> path = ref.Path();
    const int from = std::max(0, t + 1 - 25);
    for (int k = from; k <= t; ++k) {
      ASSERT_EQ(corr.PathState(t - k), path[static_cast<std::size_t>(k)]) << "step " << t << " record " << k;
      const TCharInfo want = Reported(*model->States()[static_cast<std::size_t>(path[static_cast<std::size_t>(k)])]);
      ASSERT_TRUE(SameReport(shown[static_cast<std::size_t>(k)], want)) << "step " << t << " record " << k;
    }
  }
  EXPECT_EQ(corr.Age(), steps);
  EXPECT_EQ(corr.HistIdx(), steps % 25);
  // The streams did what they are for: ties, and corrections reaching back.
  EXPECT_GT(ref.Ties, 0);
  EXPECT_GE(longest, 3u);
}

TEST(MessageCorrector, SameScoresAndPathsAsAPlainViterbiBuiltInModel) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    CompareWithReference(BuiltInModel(), seed, 150);
  }
  CompareWithReference(BuiltInModel(), 4, 120, "ABC DE DL1ABC CQ TEST 599 K");
  CompareWithReference(BuiltInModel(), 5, 120, "1AB/P UP 5NN 5NN");
  CompareWithReference(BuiltInModel(), 6, 100, "", TRttyMessageCorrector::TKernel::Reference);
  CompareWithReference(BuiltInModel(), 10, 100, "ABC DE DL1ABC",
                       TRttyMessageCorrector::TKernel::Runs);
}

TEST(MessageCorrector, SameScoresAndPathsAsAPlainViterbiContestModel) {
  TRttyMessageStatistics s = BuiltIn();
  s.CqWords = {{"CQ", 0.6f}, {"TEST", 0.3f}, {"QRZ", 0.1f}};
  s.Exchanges = {{"599~nnn", 0.5f}, {"599~nn<~nn>", 0.2f}, {"[5NN~]@<@>~@@", 0.2f}, {"{A,BB,C}<~n>", 0.1f}};
  CompareWithReference(std::make_shared<const TRttyMessageHmm>(s), 7, 150, "BB 7 A 599 123 5NN JIM NY");
  s.CqWords.clear();
  s.Exchanges.clear();
  CompareWithReference(std::make_shared<const TRttyMessageHmm>(s), 8, 100);
}

// Beyond 65536 states the history holds 32-bit indices.
TEST(MessageCorrector, SameScoresAndPathsAsAPlainViterbiHugeModel) {
  TRttyMessageStatistics s = BuiltIn();
  s.Exchanges.clear();
  for (int k = 0; k < 64; ++k) {
    std::string p = std::to_string(k % 10);
    for (int j = 0; j < 10; ++j) p += "~n";
    s.Exchanges.push_back({p, 1.0f});
  }
  const auto model = std::make_shared<const TRttyMessageHmm>(s);
  ASSERT_GT(model->StateCount(), 65536);
  CompareWithReference(model, 9, 30, "CQ 1 2 3 4 5 6 7 8 9 0 K");
}

TEST(MessageCorrector, FirstStepReportsOneRecordAndASteadyStreamOneEach) {
  TRttyMessageCorrector corr(BuiltInModel());
  corr.ProcessChar(CodeRecord(CodeTable['E'], 0.99f));
  EXPECT_EQ(corr.Msg().size(), 1u);
  EXPECT_EQ(corr.Age(), 1);
  // A long run of sure blanks: once the path has settled each new blank
  // leaves the earlier path as it is.
  int ones = 0;
  for (int i = 0; i < 60; ++i) {
    corr.ProcessChar(CodeRecord(CodeTable[kChSpace], 0.999f));
    EXPECT_LE(corr.Msg().size(), 25u);
    if (i >= 30) {
      EXPECT_EQ(corr.Msg().size(), 1u);
      EXPECT_EQ(corr.Msg().back().CorrCh, kChSpace);
      EXPECT_EQ(corr.Msg().back().ChType, ctWhiteSpace);
      ++ones;
    }
  }
  EXPECT_EQ(ones, 30);
  corr.Reset(BuiltInModel());
  EXPECT_EQ(corr.Age(), 0);
  EXPECT_TRUE(corr.Msg().empty());
  corr.ProcessChar(CodeRecord(CodeTable['E']));
  EXPECT_EQ(corr.Msg().size(), 1u);
}

TEST(MessageCorrector, MarkersBecomeSquelchSeparators) {
  TRttyMessageCorrector corr(BuiltInModel());
  for (uint8_t m : {kChSteadyTone, kChSilence, kChIncomplete, kChSteadyTone}) {
    corr.ProcessChar(MarkerRecord(m));
    const TCharInfo& last = corr.Msg().back();
    EXPECT_EQ(last.MetaCh, kChSeparator);
    EXPECT_EQ(last.CorrCh, 0);
    EXPECT_EQ(last.ChType, ctSquelch);
    for (uint8_t c : BuiltInModel()->Compiled().UsedCharList)
      EXPECT_EQ(corr.EmissionProb(c), c == kChSeparator ? 0.0f : -10000.0f);
  }
}

// "+" and "=" have no code: they must not make the punctuation class score
// like the letters shift.
TEST(MessageCorrector, PunctuationClassLeavesOutMembersWithoutACode) {
  TRttyMessageCorrector corr(BuiltInModel());
  const TCharInfo letters = CodeRecord(31, 1.0f);  // all ones, sure
  corr.ProcessChar(letters);
  float best = 0.0f;
  for (char m : std::string_view("-'$*,!:()#?&./")) best = std::max(best, CharProb(static_cast<uint8_t>(m), letters.BitProbs));
  EXPECT_EQ(corr.EmissionProb('p'), SafeLn(best / 16.0f));
  EXPECT_LT(corr.EmissionProb('p'), std::log(1.0f / 16.0f) - 5.0f);
  const TCharInfo comma = CodeRecord(CodeTable[','], 0.9f);
  corr.ProcessChar(comma);
  EXPECT_FLOAT_EQ(corr.EmissionProb('p'), SafeLn(CharProb(',', comma.BitProbs) / 16.0f));
}

TEST(MessageCorrector, FindBestMetaMatch) {
  TCharInfo r = CodeRecord(CodeTable['T'], 0.8f);  // code 16: "T" / "5"
  r.MetaCh = 'n';
  EXPECT_EQ(TRttyMessageCorrector::FindBestMetaMatch(r), '5');
  r.MetaCh = '@';
  EXPECT_EQ(TRttyMessageCorrector::FindBestMetaMatch(r), 'T');
  r.MetaCh = '~';
  EXPECT_EQ(TRttyMessageCorrector::FindBestMetaMatch(r), '~');
  // Code 31 is no punctuation mark: the best coded one, never "+" or "=".
  TCharInfo ones = CodeRecord(31, 0.9f);
  ones.MetaCh = 'p';
  const uint8_t p = TRttyMessageCorrector::FindBestMetaMatch(ones);
  EXPECT_NE(p, '+');
  EXPECT_NE(p, '=');
  EXPECT_NE(CodeTable[p], kNoCode);
  // Ties go to the earlier member: all bits undecided.
  TCharInfo half;
  for (int i = 0; i < 5; ++i) half.BitProbs.Set(i, 0.5f);
  half.MetaCh = 'p';
  EXPECT_EQ(TRttyMessageCorrector::FindBestMetaMatch(half), '-');
  half.MetaCh = 'n';
  EXPECT_EQ(TRttyMessageCorrector::FindBestMetaMatch(half), '0');
  half.MetaCh = '@';
  EXPECT_EQ(TRttyMessageCorrector::FindBestMetaMatch(half), 'A');
  for (uint8_t bad : {uint8_t(0), uint8_t('A'), uint8_t('x'), uint8_t(0xAB)}) {
    half.MetaCh = bad;
    try {
      TRttyMessageCorrector::FindBestMetaMatch(half);
      ADD_FAILURE() << int(bad);
    } catch (const EBrenvoError& e) {
      EXPECT_STREQ(e.what(), "Unknown meta char");
    }
  }
}

TEST(MessageCorrector, ScoresStayNearZeroOverALongRun) {
  TRttyMessageCorrector corr(BuiltInModel());
  std::mt19937 rng(11);
  for (int t = 0; t < 3000; ++t) corr.ProcessChar(RandomRecord(rng));
  float top = -1e30f;
  for (int32_t s : BuiltInModel()->Compiled().CharStates) top = std::max(top, corr.Score(s));
  EXPECT_EQ(top, 0.0f);
  EXPECT_EQ(corr.Age(), 3000);
}

TEST(MessageCorrector, HoldsItsModelAcrossARebuild) {
  auto model = std::make_shared<const TRttyMessageHmm>(BuiltIn());
  std::weak_ptr<const TRttyMessageHmm> weak = model;
  TRttyMessageCorrector corr(model);
  model.reset();
  ASSERT_FALSE(weak.expired());
  corr.ProcessChar(CodeRecord(1));
  EXPECT_EQ(corr.Msg().size(), 1u);
  TRttyMessageStatistics s = BuiltIn();
  s.Exchanges.clear();
  corr.Reset(std::make_shared<const TRttyMessageHmm>(s));
  EXPECT_TRUE(weak.expired());
  EXPECT_LT(corr.Model()->StateCount(), 3491);
  EXPECT_THROW(corr.Reset(nullptr), EBrenvoError);
}

// Runs text through corrector and storage as a receiver does and returns
// the storage with the corrected records.
struct Decoded {
  std::string Corr;
  std::vector<TWordType> Types;
};

Decoded Correct(const std::vector<TCharInfo>& records) {
  TRttyMessageCorrector corr(BuiltInModel());
  TMessageStorage storage;
  for (const TCharInfo& r : records) {
    storage.PutRawChar(r);
    corr.ProcessChar(r);
    storage.PutCorrChars(corr.Msg());
  }
  Decoded d;
  for (int i = 0; i <= storage.HiChar(); ++i) {
    d.Corr += static_cast<char>(storage.Char(i).CorrCh);
    d.Types.push_back(storage.Char(i).ChType);
  }
  return d;
}

std::string Printable(const std::string& s) {
  std::string out;
  for (char c : s) {
    const auto u = static_cast<uint8_t>(c);
    out += u == kChFigures ? std::string("{FIGS}") : u == kChLetters ? std::string("{LTRS}") : std::string(1, c);
  }
  return out;
}

// Sent text in Baudot with its shifts; bits sure / 1 - sure; the listed
// records get one bit flipped. Expected: the sent text and a word type per character.
void CheckSynthesised(const std::string& text, const std::string& types, std::vector<std::pair<int, int>> flips, float sure = 0.99f) {
  const auto coded = EncodeBaudot(text);
  std::string sent;
  std::vector<TCharInfo> records;
  for (std::size_t k = 0; k < coded.size(); ++k) {
    sent += static_cast<char>(coded[k].Ch);
    records.push_back(CodeRecord(coded[k].Code, sure, static_cast<int32_t>(k)));
  }
  ASSERT_EQ(types.size(), coded.size()) << Printable(sent);
  for (auto [k, bit] : flips) {
    TCharInfo& r = records[static_cast<std::size_t>(k)];
    r.BitProbs.Set(bit, 1.0f - r.BitProbs[bit]);
    r.RawCh = BaudotTable[0][ProbsToCode(r.BitProbs)];
  }
  const Decoded d = Correct(records);
  EXPECT_EQ(Printable(d.Corr), Printable(sent));
  std::string got;
  for (TWordType t : d.Types) got += "SPLDWXCEQ"[t];
  EXPECT_EQ(got, types) << Printable(sent);
}

// Word type letters: S squelch, P punctuation, L letter, D digit, W white
// space, X exchange, C call, E de, Q CQ word.
TEST(MessageCorrector, SynthesisedCqCall) {
  const std::string text = "CQ CQ TEST DE DL1ABC DL1ABC K";
  // D L {FIGS} 1 {LTRS} A B C: eight records per call.
  const std::string types = "QQWQQWQQQQWEEWCCCCCCCCWCCCCCCCCWL";
  CheckSynthesised(text, types, {});
  // Single flipped bits in the literal words, the shifts and a blank.
  CheckSynthesised(text, types, {{0, 1}, {4, 4}, {7, 0}, {9, 2}, {11, 3}, {16, 0}, {18, 4}, {22, 2}});
}

// "No character" scores 30 p (1 - p) per bit: a bit is only taken as decided
// above about 0.965. At 0.9 / 0.1 every record fits "no character" (0.9999)
// better than its own code (0.9^5 = 0.59), so the text reads as squelch.
TEST(MessageCorrector, BitsOfNinetyPercentReadAsNoCharacter) {
  const auto coded = EncodeBaudot("CQ CQ TEST DE DL1ABC K");
  std::vector<TCharInfo> records;
  for (const auto& c : coded) records.push_back(CodeRecord(c.Code, 0.9f));
  TRttyMessageCorrector corr(BuiltInModel());
  corr.ProcessChar(records[0]);
  EXPECT_FLOAT_EQ(corr.EmissionProb('~'), std::log(0.9999f));
  EXPECT_FLOAT_EQ(corr.EmissionProb('C'), std::log(0.9f * 0.9f * 0.9f * 0.9f * 0.9f));
  const Decoded d = Correct(records);
  EXPECT_EQ(d.Corr, std::string(coded.size(), '~'));
  for (TWordType t : d.Types) EXPECT_EQ(t, ctSquelch);
}

TEST(MessageCorrector, SynthesisedExchange) {
  const std::string text = "UA3XYZ DE DL1ABC 599 599 K";
  // U A {FIGS} 3 {LTRS} X Y Z; {FIGS} 5 9 9 twice.
  const std::string types = "CCCCCCCCWEEWCCCCCCCCWXXXXXXXXXWL";
  CheckSynthesised(text, types, {});
  CheckSynthesised(text, types, {{9, 0}, {21, 2}, {23, 1}, {25, 4}, {26, 3}, {28, 0}, {20, 1}});
}

}  // namespace
}  // namespace brenvo
