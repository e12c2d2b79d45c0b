#include "callsigns/call_extractor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "callsigns/master_dta.h"
#include "decoder/baudot_table.h"
#include "decoder/message_corrector.h"
#include "decoder/message_hmm.h"
#include "decoder/message_statistics.h"
#include "decoder/message_test_util.h"
#include "dsp/errors.h"
#include "support/heap_counter.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;
using testing::EncodeBaudot;

// Database: DL1ABC G4XYZ F5ABC OK1XYZ UA3XYZ K1ABC; watch list: W1XYZ;
// black list: N0CALL; no pattern table, so other well-formed calls rate
// vrWarning.
const TCallsignValidator& TestValidator() {
  static const std::unique_ptr<TCallsignValidator> v = [] {
    testing::TempDir tmp;
    fs::create_directories(tmp.Path() / "Reference");
    fs::create_directories(tmp.Path() / "UserData");
    std::ofstream(tmp.Path() / "Reference" / "MASTER.DTA", std::ios::binary)
        << BuildMasterDta({"DL1ABC", "G4XYZ", "F5ABC", "OK1XYZ", "UA3XYZ", "K1ABC"});
    std::ofstream(tmp.Path() / "UserData" / "Watch.lst", std::ios::binary) << "W1XYZ\r\n";
    std::ofstream(tmp.Path() / "Reference" / "Black.lst", std::ios::binary) << "N0CALL\r\n";
    return std::make_unique<TCallsignValidator>((tmp.Path() / "Reference").string(),
                                                (tmp.Path() / "UserData").string());
  }();
  return *v;
}

// A corrected record: bits that spell ch with probability sure each (1 - sure
// for the zero bits), the given word type and meta character.
TCharInfo Rec(uint8_t ch, TWordType type, float sure = 0.99f, uint8_t meta = 0) {
  TCharInfo r;
  const int code = CodeTable[ch];
  for (int i = 0; i < 5; ++i) r.BitProbs.Set(i, code == kNoCode ? 0.5f : (((code >> i) & 1) ? sure : 1.0f - sure));
  r.RawCh = ch;
  r.CorrCh = ch;
  r.MetaCh = meta;
  r.ChType = type;
  return r;
}

// The records of a word as sent (with its shifts); letters and digits carry
// the class meta character when withMeta.
TCharInfoArray WordRecs(std::string_view text, TWordType type, float sure = 0.99f, bool withMeta = false) {
  TCharInfoArray out;
  for (const auto& c : EncodeBaudot(text)) {
    uint8_t meta = 0;
    if (withMeta && c.Ch >= 'A' && c.Ch <= 'Z') meta = kChAnyLetter;
    if (withMeta && c.Ch >= '0' && c.Ch <= '9') meta = kChAnyDigit;
    out.push_back(Rec(c.Ch, type, sure, meta));
  }
  return out;
}

// A storage fed as a receiver feeds it, one record and its correction at a
// time, and an extractor updated after each.
class Rig {
 public:
  explicit Rig(const TCallsignValidator& v = TestValidator()) : Cx(&Ms, &v) {}

  // One record, corrected as it stands.
  bool Put(const TCharInfo& r) {
    Ms.PutRawChar(r);
    TCharInfoArray msg{r};
    return Correct(msg);
  }
  // A correction of the newest records (msg's last element is the newest).
  bool Correct(TCharInfoArray msg) {
    Ms.PutCorrChars(msg);
    return Cx.Update(static_cast<int>(Ms.ChangedChars().size()));
  }
  bool PutAll(const TCharInfoArray& recs) {
    bool changed = false;
    for (const TCharInfo& r : recs) changed |= Put(r);
    return changed;
  }
  // A word; returns the running number of its first record.
  int64_t Say(std::string_view text, TWordType type, float sure = 0.99f, bool withMeta = false) {
    const int64_t start = Pos();
    PutAll(WordRecs(text, type, sure, withMeta));
    return start;
  }
  void Space(int n = 1) {
    for (int k = 0; k < n; ++k) Put(Rec(kChSpace, ctWhiteSpace));
  }
  void LineFeed() { Put(Rec(kChLineFeed, ctWhiteSpace)); }
  void Squelch(int n) {
    for (int k = 0; k < n; ++k) Put(Rec(kChSeparator, ctSquelch, 0.5f, kChSeparator));
  }
  // Running number of the next record.
  int64_t Pos() const { return Ms.CharCnt() + 1; }

  const TCallEstimate* Find(std::string_view txt) const {
    for (int i = 0; i < Cx.CallCount(); ++i)
      if (Cx.Calls(i).Txt == txt) return &Cx.Calls(i);
    return nullptr;
  }
  std::string BestTxt() const { return Cx.BestCall() ? Cx.BestCall()->Txt : std::string("(none)"); }

  TMessageStorage Ms;
  TCallExtractor Cx;
};

// The candidates and the best call in one line.
std::string Summary(const TCallExtractor& x) {
  std::string s;
  for (int i = 0; i < x.CallCount(); ++i) {
    const TCallEstimate& c = x.Calls(i);
    s += c.Txt + " " + std::to_string(c.Cnt) + " " + std::to_string(c.LastSeen) + " " + std::to_string(c.CqDe) + " " +
         std::to_string(c.Vald) + " " + std::to_string(c.Score) + " " + std::to_string(c.CallWords.size()) + "; ";
  }
  s += "best " + (x.BestCall() ? x.BestCall()->Txt : std::string("-"));
  return s;
}

// ---------------------------------------------------------------- building blocks

TEST(CallExtractorParts, WordCharsProbSkipsShiftsAndMultipliesTheRest) {
  const TCharInfoArray recs = WordRecs("DL1ABC", ctCall, 0.9f);
  ASSERT_EQ(recs.size(), 8u);  // D L {FIGS} 1 {LTRS} A B C
  EXPECT_NEAR(WordCharsProb(recs), std::pow(0.9, 30), 1e-6);
  EXPECT_EQ(WordCharsProb(TCharInfoArray{}), 1.0f);
  // "~" scores as no character: 30 p (1 - p) per bit, clamped.
  const TCharInfoArray sep{Rec(kChSeparator, ctSquelch, 0.5f, kChSeparator)};
  EXPECT_FLOAT_EQ(WordCharsProb(sep), 0.9999f);
}

TEST(CallExtractorParts, CopyWordCharsDropsShiftsThatChangeNothing) {
  // {LTRS} D {FIGS} {FIGS} 1 {LTRS} {LTRS} A {FIGS} -> D {FIGS} 1 {LTRS} A {FIGS}
  const uint8_t in[] = {kChLetters, 'D', kChFigures, kChFigures, '1', kChLetters, kChLetters, 'A', kChFigures};
  TCharInfoArray recs;
  for (uint8_t c : in) recs.push_back(Rec(c, ctCall));
  TCharInfoArray out{Rec('X', ctCall)};  // replaced, not appended to
  CopyWordChars(recs.data(), recs.size(), out);
  std::string got;
  for (const TCharInfo& r : out) got += static_cast<char>(r.CorrCh);
  const std::string want = {'D', static_cast<char>(kChFigures), '1', static_cast<char>(kChLetters), 'A',
                            static_cast<char>(kChFigures)};
  EXPECT_EQ(got, want);
}

TEST(CallExtractorParts, EstimateTextResolvesMetaCharactersFromTheBits) {
  TCallEstimate e;
  e.Chars = WordRecs("K1ABC", ctCall, 0.99f, true);
  // The stored character says X, the bits say C: the bits win for a class character.
  e.Chars.back().CorrCh = 'X';
  // A literal character is taken as it stands.
  e.Chars[0].CorrCh = 'Q';
  e.Chars[0].MetaCh = 0;
  EXPECT_EQ(EstimateText(e), "Q1ABC");
  EXPECT_EQ(e.Chars.back().CorrCh, 'C');
}

TEST(CallExtractorParts, CharDistanceCountsDifferingCodeBits) {
  using X = TCallExtractor;
  const auto a = WordRecs("DL1ABC", ctCall);
  // C = 01110, K = 11110: one bit; C and T (00001) differ in four bits.
  EXPECT_EQ(CharDistance(a, WordRecs("DL1ABK", ctCall), X::kAlignStart), 1.0f);
  EXPECT_EQ(CharDistance(a, WordRecs("DL1ABT", ctCall), X::kAlignStart), 4.0f);
  EXPECT_EQ(CharDistance(a, a, X::kAlignStart), 0.0f);
  // A shift against a letter, at any position: dissimilar.
  EXPECT_EQ(CharDistance(a, WordRecs("DLABCD", ctCall), X::kAlignStart), 99.0f);
  // Differing meta characters, even over identical letters.
  auto m = a;
  m[0].MetaCh = kChAnyLetter;
  EXPECT_EQ(CharDistance(a, m, X::kAlignStart), 99.0f);
  // The longer array's first record skipped.
  const auto longer = WordRecs("EDL1ABC", ctCall);
  EXPECT_EQ(CharDistance(longer, a, X::kSkipLongerFirst), 0.0f);
  EXPECT_EQ(CharDistance(a, longer, X::kSkipLongerFirst), 0.0f);
  // Equal lengths skip A's first record and compare what remains of both.
  const auto e1 = WordRecs("EET", ctLetter), e2 = WordRecs("EEE", ctLetter);
  EXPECT_EQ(CharDistance(e1, e2, X::kSkipLongerFirst), 2.0f);  // E-E, T-E
  EXPECT_EQ(CharDistance(e2, e1, X::kSkipLongerFirst), 0.0f);  // E-E, E-E
  // A character without a code counts as the all-ones code: "+" vs "/" (29 = 10111).
  const TCharInfoArray plus{Rec('+', ctPunc)}, slash{Rec('/', ctPunc)};
  EXPECT_EQ(CharDistance(plus, slash, X::kAlignStart), 1.0f);
}

TEST(CallExtractorParts, AlignModeTable) {
  using X = TCallExtractor;
  struct Case {
    const char* a;
    const char* b;
    int mode;
  } cases[] = {
      {"DL1ABC", "DL1ABK", X::kAlignStart},      // equal length, one bit
      {"DL1ABC", "DL1ABC", X::kAlignStart},
      {"K1ABC", "K1AB", X::kAlignStart},          // shorter by one at the end
      {"K1AB", "K1ABC", X::kAlignStart},
      {"EDL1ABC", "DL1ABC", X::kSkipLongerFirst},  // an extra first character
      {"DL1ABC", "EDL1ABC", X::kSkipLongerFirst},
      {"EEEE", "EEE", X::kAlignStart},            // D1 = D2: aligned at the start
      {"DL1ABC", "DL1A", X::kNotSimilar},         // lengths differ by two
      {"EEE", "EEA", X::kAlignStart},             // 1 bit <= 3 - 2
      {"EEE", "EET", X::kNotSimilar},             // 2 bits > 3 - 2
      {"EEE", "TTT", X::kNotSimilar},
      {"DL1ABC", "DLABCD", X::kNotSimilar},       // shift against letter
  };
  for (const auto& c : cases)
    EXPECT_EQ(AlignMode(WordRecs(c.a, ctCall), WordRecs(c.b, ctCall)), c.mode) << c.a << " / " << c.b;
  // The threshold is the first argument's length less 2: 8 records allow 6 bits.
  auto a = WordRecs("DL1ABC", ctCall), b = a;
  // Bits listed first on the air first.
  b[0] = Rec('E', ctCall);  // D (10010) -> E (10000): 1 bit
  b[1] = Rec('A', ctCall);  // L (01001) -> A (11000): 2 bits
  b[5] = Rec('T', ctCall);  // A (11000) -> T (00001): 3 bits
  EXPECT_EQ(CharDistance(a, b, X::kAlignStart), 6.0f);
  EXPECT_EQ(AlignMode(a, b), X::kAlignStart);
  b[6] = Rec('E', ctCall);  // B (10011) -> E (10000): 2 more bits
  EXPECT_EQ(AlignMode(a, b), X::kNotSimilar);
}

// From 101 records on, the bound (length - 2) reaches the 99 that a shift or
// meta mismatch reads as: such a mismatch must still keep two readings apart.
TEST(CallExtractorParts, AMismatchKeepsLongReadingsApart) {
  using X = TCallExtractor;
  TCharInfoArray a(110, Rec('E', ctCall));
  TCharInfoArray b = a;
  EXPECT_EQ(AlignMode(a, b), X::kAlignStart);
  b[60] = Rec(kChFigures, ctCall);
  EXPECT_EQ(CharDistance(a, b, X::kAlignStart), 99.0f);
  EXPECT_EQ(AlignMode(a, b), X::kNotSimilar);
  b[60] = a[60];
  b[60].MetaCh = kChAnyLetter;
  EXPECT_EQ(AlignMode(a, b), X::kNotSimilar);
  // Many differing bits before the mismatch (E 10000 against V 01111: 5 each,
  // 125 > 108) decide the same way.
  for (int k = 0; k < 25; ++k) b[static_cast<std::size_t>(k)] = Rec('V', ctCall);
  EXPECT_EQ(AlignMode(a, b), X::kNotSimilar);
  // One longer by a stray first record: the skip alignment is clean, the
  // start alignment meets the shift.
  TCharInfoArray c = a;
  c.insert(c.begin(), Rec(kChFigures, ctCall));
  EXPECT_EQ(AlignMode(c, a), X::kSkipLongerFirst);
  EXPECT_EQ(AlignMode(a, c), X::kSkipLongerFirst);
}

TEST(CallExtractorParts, FuseBitProbsByHand) {
  TBitProbArray a{0.9f, 1.0f, 0.5f, 0.2f, 0.0f};
  const TBitProbArray b{0.8f, 0.0f, 0.3f, 0.2f, 0.7f};
  FuseBitProbs(a, b);
  EXPECT_NEAR(a[0], 0.72 / (0.72 + 0.02), 1e-6);
  EXPECT_EQ(a[1], 0.5f);  // certain 1 against certain 0: no evidence either way
  EXPECT_NEAR(a[2], 0.3, 1e-6);  // 0.5 carries no information
  EXPECT_NEAR(a[3], 0.04 / (0.04 + 0.64), 1e-6);
  EXPECT_EQ(a[4], 0.0f);
}

TEST(CallExtractorParts, FuseCharsFollowsTheAlignment) {
  auto a = WordRecs("EK1AB", ctCall, 0.9f);
  const auto b = WordRecs("K1AB", ctCall, 0.8f);
  FuseChars(a, b, TCallExtractor::kSkipLongerFirst);
  EXPECT_FLOAT_EQ(a[0].BitProbs[0], 0.9f);  // the skipped record keeps its bits
  // K (11110) against K: bit 0 is 1 in both.
  EXPECT_NEAR(a[1].BitProbs[0], 0.72 / (0.72 + 0.02), 1e-6);
  EXPECT_NEAR(a[1].BitProbs[4], 0.02 / (0.02 + 0.72), 1e-6);
}

TEST(CallExtractorParts, ValidityPosteriorByHand) {
  struct Case {
    TValdResult v;
    double p09, p05;  // worked out with the rating tables on paper
  } cases[] = {
      {vrError, 0.00274474, 0.000305717},  {vrWarning, 0.646255, 0.168737},
      {vrGood, 0.873602, 0.434372},        {vrPerfect, 0.919761, 0.560176},
      {vrDta, 0.992120, 0.933288},         {vrWatch, 0.994975, 0.956522},
  };
  for (const auto& c : cases) {
    TCallEstimate e;
    e.Vald = c.v;
    e.Prob = 0.9f;
    EXPECT_NEAR(ValidityPosterior(e), c.p09, 2e-6) << int(c.v);
    e.Prob = 0.5f;
    EXPECT_NEAR(ValidityPosterior(e), c.p05, 2e-6) << int(c.v);
    e.Prob = 0.0f;
    EXPECT_EQ(ValidityPosterior(e), 0.0f);
    e.Prob = 1.0f;
    EXPECT_EQ(ValidityPosterior(e), 1.0f);
  }
  TCallEstimate unrated;
  unrated.Prob = 1.0f;
  EXPECT_EQ(ValidityPosterior(unrated), 0.0f);  // 0 / 0 would be NaN
}

TEST(CallExtractorParts, ScoreTable) {
  const float below07 = 0.7f;  // the single nearest 0.7 lies below it
  const float above07 = std::nextafter(0.7f, 1.0f);
  const float below09 = 0.9f;
  const float above09 = std::nextafter(0.9f, 1.0f);
  ASSERT_LT(static_cast<double>(below07), 0.7);
  ASSERT_LT(static_cast<double>(below09), 0.9);
  struct Case {
    const char* txt;
    TValdResult v;
    float cnt, prob;
    int score;
  } cases[] = {
      {"DL1ABC", vrDta, 1.0f, 1.0f, 0},       // a database call heard once
      {"W1XYZ", vrWatch, 1.0f, 1.0f, 1},      // a watch-list call heard once
      {"DL1ABC", vrDta, 1.0f, above09, 0},
      {"DL1ABC", vrDta, 1.0f, below09, -1},   // below 0.9: one less
      {"DL1ABC", vrDta, 1.0f, above07, -1},
      {"DL1ABC", vrDta, 3.0f, below07, -1},   // below 0.7: not usable
      {"DL1ABC", vrError, 9.0f, 1.0f, -1},    // rejected
      {"DL1ABC", vrUnknown, 9.0f, 1.0f, -1},
      {"K1ABC", vrWarning, 3.35f, 1.0f, -1},  // round(3.35) = 3: 3 + 2 - 6
      {"K1ABC", vrWarning, 3.5f, 1.0f, 0},    // a warning needs round(Cnt) >= 4
      {"K1ABC", vrWarning, 2.5f, 1.0f, -2},   // halves to even
      {"K1ABC", vrWarning, 4.5f, 1.0f, 0},
      {"K1A", vrPerfect, 3.0f, 1.0f, 0},      // three characters: one less
      {"K1A", vrPerfect, 3.0f, 0.8f, -1},
      {"DL1ABC", vrGood, 5.4f, 0.95f, 2},
  };
  for (const auto& c : cases) {
    TCallEstimate e;
    e.Txt = c.txt;
    e.Vald = c.v;
    e.Cnt = c.cnt;
    e.Prob = c.prob;
    EXPECT_EQ(ScoreEstimate(e), c.score) << c.txt << " " << int(c.v) << " " << c.cnt << " " << c.prob;
  }
  TCallEstimate nan;
  nan.Txt = "DL1ABC";
  nan.Vald = vrDta;
  nan.Cnt = 5;
  nan.Prob = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(ScoreEstimate(nan), -1);
}

TEST(CallExtractorParts, EstimateCopyAndCompare) {
  TCallEstimate a;
  a.Txt = "DL1ABC";
  a.Cnt = 2.0f;
  a.CqDe = cdDe;
  a.Prob = 0.5f;
  a.LastSeen = 5'000'000'000LL;
  a.Vald = vrDta;
  a.Score = 1;
  a.Chars = WordRecs("DL1ABC", ctCall);
  TWordEntry w1, w2;
  w1.Txt = "DL1ABC";
  w2.Txt = "DL1ABK";
  a.CallWords = {&w1, &w2};
  const auto b = a.Clone();
  EXPECT_TRUE(a.IsSame(b.get()));
  EXPECT_EQ(b->LastSeen, a.LastSeen);
  EXPECT_EQ(b->Chars.size(), 8u);
  EXPECT_EQ(b->CallWords[1], &w2);
  EXPECT_EQ(b->ListWords(), "DL1ABC DL1ABK ");
  EXPECT_FALSE(a.IsSame(nullptr));
  b->Cnt = 2.35f;
  EXPECT_FALSE(a.IsSame(b.get()));
  b->Cnt = 2.0f;
  b->CqDe = cdCQ;
  EXPECT_FALSE(a.IsSame(b.get()));
  b->CqDe = cdDe;
  b->Prob = 0.1f;  // probability and score take no part
  b->Score = 7;
  EXPECT_TRUE(a.IsSame(b.get()));
}

TEST(CallExtractorParts, CqDeNamesAreTheCallListTexts) {
  EXPECT_EQ(CqDeName(cdNone), "");
  EXPECT_EQ(CqDeName(cdDe), "DE");
  EXPECT_EQ(CqDeName(cdCQ), "CQ");
  EXPECT_EQ(CqDeName(static_cast<TCqDe>(3)), "");
}

// ---------------------------------------------------------------- words

TEST(CallExtractor, CallWordTakenOnlyOnceAnotherTypeFollows) {
  Rig r;
  r.Say("DL1ABC", ctCall);
  EXPECT_EQ(r.Cx.WordCount(), 0);
  EXPECT_EQ(r.Cx.CallCount(), 0);
  EXPECT_FALSE(r.Cx.Changed());
  r.Space();
  ASSERT_EQ(r.Cx.WordCount(), 0);  // a run at the window's first record makes no word
  r.Say("G4XYZ", ctCall);
  r.Space();
  ASSERT_EQ(r.Cx.WordCount(), 1);
  const TWordEntry& w = r.Cx.Words(0);
  EXPECT_EQ(w.Start, 9);
  EXPECT_EQ(w.Len, 7);  // G {FIGS} 4 {LTRS} X Y Z
  EXPECT_EQ(w.Txt, "G4XYZ");
  EXPECT_EQ(w.Kind, ctCall);
  EXPECT_FALSE(w.NewLine);
  EXPECT_NEAR(w.Prob, std::pow(0.99, 25), 1e-5);
  ASSERT_EQ(r.Cx.CallCount(), 1);
  EXPECT_EQ(r.Cx.Calls(0).Txt, "G4XYZ");
  EXPECT_EQ(r.Cx.Calls(0).Vald, vrDta);
  EXPECT_EQ(r.Cx.Calls(0).CallWords.size(), 1u);
  EXPECT_EQ(r.Cx.Calls(0).CallWords[0], &w);
  EXPECT_EQ(w.UsedIn, &r.Cx.Calls(0));
  EXPECT_THROW(r.Cx.Words(1), ERangeError);
  EXPECT_THROW(r.Cx.Calls(1), ERangeError);
}

TEST(CallExtractor, WordKindsTextsAndLineBreaks) {
  Rig r;
  r.Squelch(3);
  r.Say("ABC", ctLetter);
  r.Put(Rec(',', ctPunc));
  r.Say("599", ctDigit);
  r.Space();
  r.LineFeed();
  r.Say("DE", ctDe);
  r.Put(Rec(kChCarriageReturn, ctWhiteSpace));
  r.Say("TEST", ctCQ);
  r.Squelch(2);
  r.Space();
  // squelch at 0 (made, then dropped as a run at the window's first record
  // by the next update), ABC, 599, DE, TEST, squelch; punctuation and white
  // space make none.
  ASSERT_EQ(r.Cx.WordCount(), 5);
  const char* texts[] = {"ABC", "599", "DE", "TEST", ""};
  const TWordType kinds[] = {ctLetter, ctDigit, ctDe, ctCQ, ctSquelch};
  const bool newLines[] = {false, false, true, true, false};
  const int64_t starts[] = {3, 7, 13, 16, 20};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(r.Cx.Words(i).Txt, texts[i]) << i;
    EXPECT_EQ(r.Cx.Words(i).Kind, kinds[i]) << i;
    EXPECT_EQ(r.Cx.Words(i).NewLine, newLines[i]) << i;
    EXPECT_EQ(r.Cx.Words(i).Start, starts[i]) << i;
  }
  // 599 = {FIGS} 5 9 9
  EXPECT_EQ(r.Cx.Words(1).Len, 4);
  // Probabilities only for calls, CQ words and "DE".
  EXPECT_EQ(r.Cx.Words(0).Prob, 0.0f);
  EXPECT_EQ(r.Cx.Words(1).Prob, 0.0f);
  EXPECT_NEAR(r.Cx.Words(2).Prob, std::pow(0.99, 10), 1e-6);
  EXPECT_NEAR(r.Cx.Words(3).Prob, std::pow(0.99, 20), 1e-6);
  EXPECT_EQ(r.Cx.Words(4).Prob, 0.0f);
}

TEST(CallExtractor, RewrittenTailIsCutAgain) {
  Rig r;
  r.Space();
  r.Say("DL1ABC", ctCall);
  r.Space();
  ASSERT_EQ(r.Cx.CallCount(), 1);
  r.Cx.TakeChanged();
  // The corrector now reads the last 4 records (B C and the blank) as a letter word "BC" and a blank.
  TCharInfoArray tail{r.Ms.Char(r.Ms.HiChar() - 3), r.Ms.Char(r.Ms.HiChar() - 2), r.Ms.Char(r.Ms.HiChar() - 1),
                      r.Ms.Char(r.Ms.HiChar())};
  tail[0].ChType = ctWhiteSpace;  // A -> blank-type run
  tail[0].CorrCh = kChSpace;
  tail[1].ChType = ctLetter;
  tail[2].ChType = ctLetter;
  EXPECT_TRUE(r.Correct(tail));
  ASSERT_EQ(r.Cx.WordCount(), 2);
  EXPECT_EQ(r.Cx.Words(0).Txt, "DL1");  // D L {FIGS} 1 {LTRS}
  EXPECT_EQ(r.Cx.Words(0).Len, 5);
  EXPECT_EQ(r.Cx.Words(1).Txt, "BC");
  EXPECT_EQ(r.Cx.Words(1).Kind, ctLetter);
  ASSERT_EQ(r.Cx.CallCount(), 1);
  EXPECT_EQ(r.Cx.Calls(0).Txt, "DL1");
  EXPECT_EQ(r.Cx.Calls(0).Vald, vrError);  // a prefix and a digit only
  EXPECT_TRUE(r.Cx.TakeChanged());
  // Rewriting with the same types still re-cuts the touched words.
  EXPECT_TRUE(r.Correct(tail));
  EXPECT_EQ(r.Cx.WordCount(), 2);
  // A correction of the newest record alone, after a blank, leaves the words.
  r.Space();
  TCharInfoArray one{r.Ms.Char(r.Ms.HiChar())};
  EXPECT_FALSE(r.Correct(one));
}

TEST(CallExtractor, BadUseRaisesClearErrors) {
  EXPECT_THROW(TCallExtractor(nullptr, nullptr), EBrenvoError);
  TCallExtractor noStorage(nullptr, &TestValidator());
  EXPECT_THROW(noStorage.Update(0), EBrenvoError);
  Rig r;
  r.Space();
  r.Say("DL1ABC", ctCall);
  r.Space();
  r.Say("G4XYZ", ctCall);
  // More records reported changed than the storage holds, or a negative
  // count: refused before anything changes.
  const std::string before = Summary(r.Cx);
  for (int bad : {r.Ms.HiChar() + 2, -1, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()}) {
    EXPECT_THROW(r.Cx.Update(bad), EAssertionFailure) << bad;
    EXPECT_EQ(r.Cx.WordCount(), 1);
    EXPECT_EQ(Summary(r.Cx), before);
  }
  EXPECT_NO_THROW(r.Cx.Update(r.Ms.HiChar() + 1));
  EXPECT_NO_THROW(r.Cx.Update(0));
  EXPECT_EQ(Summary(r.Cx), before);
}

// ---------------------------------------------------------------- merging

TEST(CallExtractor, SameCallThreeTimesThenASimilarReading) {
  Rig r;
  r.Space();
  int64_t starts[4];
  for (int k = 0; k < 3; ++k) {
    starts[k] = r.Say("DL1ABC", ctCall);
    r.Space();
  }
  ASSERT_EQ(r.Cx.CallCount(), 1);
  const TCallEstimate* c = &r.Cx.Calls(0);
  EXPECT_EQ(c->Txt, "DL1ABC");
  EXPECT_EQ(c->Cnt, 3.0f);
  EXPECT_EQ(c->CallWords.size(), 3u);
  EXPECT_EQ(c->LastSeen, starts[2]);
  EXPECT_EQ(c->Vald, vrDta);
  // Three readings at 0.99 fuse each bit to 0.99^3 / (0.99^3 + 0.01^3).
  const double bit = std::pow(0.99, 3) / (std::pow(0.99, 3) + std::pow(0.01, 3));
  const double p = std::pow(bit, 30);
  EXPECT_NEAR(c->Prob, p * 0.4099 / ((1 - p) * 0.0293 + p * 0.4099), 1e-5);
  EXPECT_EQ(c->Score, 3 + 5 - 6);

  // One bit wrong in the last character (C -> K), read less surely: merged
  // into the three with weight 0.35.
  starts[3] = r.Say("DL1ABK", ctCall, 0.95f);
  r.Space();
  ASSERT_EQ(r.Cx.CallCount(), 1);
  c = &r.Cx.Calls(0);
  EXPECT_EQ(c->Txt, "DL1ABC");
  EXPECT_FLOAT_EQ(c->Cnt, 3.35f);
  EXPECT_EQ(c->CallWords.size(), 4u);
  EXPECT_EQ(c->LastSeen, starts[3]);
  EXPECT_EQ(c->Score, 3 + 5 - 6);  // round(3.35) = 3
  EXPECT_EQ(r.BestTxt(), "DL1ABC");
  EXPECT_EQ(r.Cx.ValdLevel(), vlAggressive);
}

TEST(CallExtractor, TheMoreProbableReadingAbsorbsTheOther) {
  Rig r;
  r.Space();
  for (int k = 0; k < 3; ++k) {
    r.Say("DL1ABC", ctCall, 0.95f);
    r.Space();
  }
  r.Say("DL1ABK", ctCall, 0.99f);
  r.Space();
  ASSERT_EQ(r.Cx.CallCount(), 1);
  const TCallEstimate& c = r.Cx.Calls(0);
  // Literal characters: the survivor keeps its own text.
  EXPECT_EQ(c.Txt, "DL1ABK");
  EXPECT_FLOAT_EQ(c.Cnt, 1.0f + 0.35f * 3.0f);
  EXPECT_EQ(c.CallWords.size(), 4u);
  EXPECT_EQ(c.Vald, vrWarning);
  // Equally probable: the reading first in text order absorbs the other.
  Rig q;
  q.Space();
  for (const char* call : {"DL1ABK", "DL1ABC"}) {
    q.Say(call, ctCall, 0.95f);
    q.Space();
  }
  ASSERT_EQ(q.Cx.CallCount(), 1);
  EXPECT_EQ(q.Cx.Calls(0).Txt, "DL1ABC");
}

// The weight is 0.35 itself, not its nearest single: 1 + 0.35 x 9 is the
// single nearest 4.15 (4.1500001), where 0.35f would give 4.1499996.
TEST(CallExtractor, SimilarReadingWeightIsExactlyPointThreeFive) {
  Rig r;
  r.Space();
  for (int k = 0; k < 9; ++k) {
    r.Say("DL1ABC", ctCall, 0.95f);
    r.Space();
  }
  r.Say("DL1ABK", ctCall, 0.99f);
  r.Space();
  ASSERT_EQ(r.Cx.CallCount(), 1);
  EXPECT_EQ(r.Cx.Calls(0).Cnt, static_cast<float>(1.0 + 0.35 * 9.0));
  EXPECT_NE(r.Cx.Calls(0).Cnt, 1.0f + 0.35f * 9.0f);
  EXPECT_EQ(r.Cx.Calls(0).CallWords.size(), 10u);
}

TEST(CallExtractor, ClassCharactersAreReadAgainFromTheFusedBits) {
  Rig r;
  r.Space();
  for (int k = 0; k < 3; ++k) {
    r.Say("DL1ABC", ctCall, 0.95f, true);
    r.Space();
  }
  r.Say("DL1ABK", ctCall, 0.99f, true);
  r.Space();
  ASSERT_EQ(r.Cx.CallCount(), 1);
  // The K reading survives, but three readings of C outvote it bit by bit.
  EXPECT_EQ(r.Cx.Calls(0).Txt, "DL1ABC");
  EXPECT_EQ(r.Cx.Calls(0).Vald, vrDta);
  EXPECT_FLOAT_EQ(r.Cx.Calls(0).Cnt, 1.0f + 0.35f * 3.0f);
}

TEST(CallExtractor, ShiftOrMetaMismatchKeepsReadingsApart) {
  Rig r;
  r.Space();
  r.Say("DL1ABC", ctCall);
  r.Space();
  // Same length in records, but a letter where the other has a shift.
  r.Say("DLZABCD", ctCall);  // D L Z A B C D: 7 letters... plus nothing
  r.Space();
  r.Say("DL1ABK", ctCall, 0.99f, true);  // one bit off, but class characters
  r.Space();
  EXPECT_EQ(r.Cx.CallCount(), 3);
  EXPECT_EQ(r.Find("DL1ABC")->Cnt, 1.0f);
}

TEST(CallExtractor, LengthsDifferingByOneMergeAfterRating) {
  Rig r;
  r.Space();
  const int64_t first = r.Say("EDL1ABC", ctCall, 0.99f);  // a stray E in front
  r.Space();
  r.Say("DL1ABC", ctCall, 0.95f);
  r.Space();
  int calls = 0;
  TValdResult seen[2] = {vrUnknown, vrUnknown};
  r.Cx.OnDebug = [&](TCallExtractor& x) {
    calls = x.CallCount();
    for (int i = 0; i < x.CallCount() && i < 2; ++i) seen[i] = x.Calls(i).Vald;
  };
  r.Say("K", ctLetter);  // re-estimates once more
  r.Space();
  EXPECT_EQ(calls, 2);  // before the merge of different lengths
  EXPECT_NE(seen[0], vrUnknown);
  EXPECT_NE(seen[1], vrUnknown);
  ASSERT_EQ(r.Cx.CallCount(), 1) << Summary(r.Cx);
  // The database call, rated far more probable, absorbs the longer reading.
  const TCallEstimate* c = r.Find("DL1ABC");
  ASSERT_NE(c, nullptr) << Summary(r.Cx);
  EXPECT_FLOAT_EQ(c->Cnt, 1.35f);
  EXPECT_EQ(c->CallWords.size(), 2u);
  EXPECT_GT(c->LastSeen, first);
  EXPECT_EQ(r.Find("EDL1ABC"), nullptr);
}

TEST(CallExtractor, EqualTextsOfDifferentShapeMerge) {
  Rig r;
  r.Space();
  r.Say("K1ABC", ctCall);
  r.Space();
  // The same text with a redundant letters shift in front (dropped on copy).
  TCharInfoArray recs{Rec(kChLetters, ctCall)};
  for (const TCharInfo& x : WordRecs("K1ABC", ctCall)) recs.push_back(x);
  r.PutAll(recs);
  r.Space();
  ASSERT_EQ(r.Cx.CallCount(), 1);
  EXPECT_EQ(r.Cx.Calls(0).Cnt, 2.0f);
  EXPECT_EQ(r.Cx.Calls(0).Chars.size(), 7u);  // K {FIGS} 1 {LTRS} A B C
}

TEST(CallExtractor, CandidatesNewestFirstAndLongTextsCut) {
  Rig r;
  r.Space();
  r.Say("G4XYZ", ctCall);
  r.Space();
  r.Say("ABCDEFGHIJKLMNOPQRS", ctCall);
  r.Space();
  r.Say("F5ABC", ctCall);
  r.Space();
  ASSERT_EQ(r.Cx.CallCount(), 3);
  EXPECT_EQ(r.Cx.Calls(0).Txt, "F5ABC");
  EXPECT_EQ(r.Cx.Calls(1).Txt, "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(r.Cx.Calls(2).Txt, "G4XYZ");
  EXPECT_EQ(r.Cx.Words(1).Txt.size(), 19u);  // the word keeps all of it
}

// ---------------------------------------------------------------- CQ and DE

struct Token {
  const char* txt;
  TWordType type;
};

// Words separated by single blanks, ending with a blank; "|" stands for a
// line feed, "~" for a squelched stretch of four records.
void Tell(Rig& r, std::initializer_list<Token> tokens) {
  for (const Token& t : tokens) {
    const std::string_view txt = t.txt;
    if (txt == "|") {
      r.LineFeed();
    } else if (txt == "~") {
      r.Squelch(4);
    } else {
      r.Say(t.txt, t.type);
      r.Space();
    }
  }
}

TCqDe CqDeOf(const Rig& r, const char* call) {
  const TCallEstimate* c = r.Find(call);
  EXPECT_NE(c, nullptr) << call;
  return c ? c->CqDe : cdNone;
}

TEST(CallExtractor, CqAndDeContextTable) {
  const Token cq{"CQ", ctCQ}, test{"TEST", ctCQ}, de{"DE", ctDe}, k{"K", ctLetter}, abc{"ABC", ctLetter},
      rst{"599", ctDigit}, nl{"|", ctWhiteSpace}, sq{"~", ctSquelch}, dl{"DL1ABC", ctCall}, g4{"G4XYZ", ctCall},
      ua{"UA3XYZ", ctCall};
  struct Case {
    std::initializer_list<Token> tokens;
    TCqDe dl, other;  // context of DL1ABC and of the other call (G4XYZ or UA3XYZ), if any
  } cases[] = {
      {{cq, cq, de, dl, k}, cdCQ, cdNone},           // two CQ words and DE before the call
      {{ua, de, dl, k}, cdDe, cdNone},               // DE alone
      {{de, nl, dl, k}, cdNone, cdNone},             // DE, then a new line
      {{dl, cq, g4, k}, cdNone, cdNone},             // CQ between two different calls
      {{dl, cq, dl, k}, cdCQ, cdNone},               // ... or two readings of one call
      {{dl, cq, nl, k}, cdCQ, cdNone},               // the line ends after the CQ
      {{cq, test, de, abc, dl, k}, cdCQ, cdNone},    // one other word is passed over
      {{cq, abc, rst, dl, k}, cdNone, cdNone},       // a second one ends the scan
      {{cq, sq, dl, k}, cdNone, cdNone},             // so does a squelched stretch
      {{cq, nl, dl, k}, cdNone, cdNone},             // and a new line
      {{cq, dl, de, dl, k}, cdCQ, cdNone},           // a CQ mark replaces a DE mark
      {{de, dl, cq, nl, k}, cdCQ, cdNone},           // a DE mark never replaces a CQ mark
  };
  for (std::size_t n = 0; n < std::size(cases); ++n) {
    const Case& c = cases[n];
    Rig r;
    r.Space();
    Tell(r, c.tokens);
    EXPECT_EQ(CqDeOf(r, "DL1ABC"), c.dl) << "case " << n;
    for (const char* other : {"G4XYZ", "UA3XYZ"}) {
      if (const TCallEstimate* e = r.Find(other)) {
        EXPECT_EQ(e->CqDe, c.other) << "case " << n << " " << other;
      }
    }
  }
}

TEST(CallExtractor, CqAfterItsCallWaitsForTheCallToEnd) {
  Rig r;
  r.Space();
  Tell(r, {{"DL1ABC", ctCall}, {"CQ", ctCQ}});
  // No word after the CQ yet and no line break: nothing is marked.
  EXPECT_EQ(CqDeOf(r, "DL1ABC"), cdNone);
  // One other word is passed over; the words run out again.
  Tell(r, {{"K", ctLetter}});
  EXPECT_EQ(CqDeOf(r, "DL1ABC"), cdNone);
  // A second one ends the CQ call without a call after it.
  Tell(r, {{"599", ctDigit}});
  EXPECT_EQ(CqDeOf(r, "DL1ABC"), cdCQ);
}

TEST(CallExtractor, CqFollowedByALineBreakMarksTheCallBefore) {
  Rig r;
  r.Space();
  Tell(r, {{"DL1ABC", ctCall}, {"CQ", ctCQ}});
  r.LineFeed();
  r.Space();
  // A rewrite of the newest record re-estimates: the line break after the
  // last word now ends the CQ call.
  TCharInfoArray tail{r.Ms.Char(r.Ms.HiChar() - 3), r.Ms.Char(r.Ms.HiChar() - 2), r.Ms.Char(r.Ms.HiChar() - 1),
                      r.Ms.Char(r.Ms.HiChar())};
  EXPECT_TRUE(r.Correct(tail));
  EXPECT_EQ(CqDeOf(r, "DL1ABC"), cdCQ);
}

TEST(CallExtractor, UnsureCqOrDeWordsMarkNothing) {
  Rig r;
  r.Space();
  // Bits of 0.5: every character 1/32, the word 1/1024 < 0.01.
  r.Say("CQ", ctCQ, 0.5f);
  r.Space();
  r.Say("DE", ctDe, 0.5f);
  r.Space();
  Tell(r, {{"DL1ABC", ctCall}, {"K", ctLetter}});
  EXPECT_EQ(CqDeOf(r, "DL1ABC"), cdNone);
}

// A CQ word "Q" whose probability is exactly p (Q = 11101: the first bit
// carries p, the others are certain) before a call: the single nearest 0.01
// lies below it and marks nothing, the next single up marks the call.
TEST(CallExtractor, CqWordProbabilityComparedWithPointZeroOneInDouble) {
  const float nearest = 0.01f;
  ASSERT_LT(static_cast<double>(nearest), 0.01);
  for (const float p : {nearest, std::nextafter(nearest, 1.0f)}) {
    Rig r;
    r.Space();
    TCharInfo q = Rec('Q', ctCQ);
    q.BitProbs.Set(0, p);
    for (int i = 1; i < 5; ++i) q.BitProbs.Set(i, i == 3 ? 0.0f : 1.0f);
    r.Put(q);
    r.Space();
    Tell(r, {{"DL1ABC", ctCall}, {"K", ctLetter}});
    ASSERT_EQ(r.Cx.Words(0).Kind, ctCQ);
    ASSERT_EQ(r.Cx.Words(0).Prob, p);
    EXPECT_EQ(CqDeOf(r, "DL1ABC"), p == nearest ? cdNone : cdCQ) << p;
  }
}

// ---------------------------------------------------------------- best call

TEST(CallExtractor, BestCallPrefersTheHigherScore) {
  Rig r;
  r.Space();
  Tell(r, {{"G4XYZ", ctCall}, {"K1XYZ", ctCall}, {"K1XYZ", ctCall}, {"K1XYZ", ctCall}, {"K1XYZ", ctCall},
           {"N0CALL", ctCall}, {"N0CALL", ctCall}, {"K", ctLetter}});
  EXPECT_EQ(r.Find("G4XYZ")->Score, 0);
  EXPECT_EQ(r.Find("K1XYZ")->Vald, vrWarning);
  EXPECT_EQ(r.Find("K1XYZ")->Score, 0);   // 4 + 2 - 6: equal, but newer
  EXPECT_EQ(r.Find("N0CALL")->Score, -1);  // black-listed
  EXPECT_EQ(r.BestTxt(), "K1XYZ");
  EXPECT_EQ(r.Cx.ValdLevel(), vlMinimal);
  Tell(r, {{"G4XYZ", ctCall}});
  EXPECT_EQ(r.BestTxt(), "G4XYZ");
  EXPECT_EQ(r.Cx.ValdLevel(), vlMinimal + 1);
}

// A CQ call, then a better call whose second hearing starts gap characters
// after the CQ call's last word.
std::string BestAfterGap(int64_t gap, std::string* bestBefore = nullptr) {
  Rig r;
  r.Space();
  Tell(r, {{"CQ", ctCQ}, {"DE", ctDe}});
  r.Say("DL1ABC", ctCall);
  r.Space();
  const int64_t cqLast = r.Say("DL1ABC", ctCall);
  r.Space();
  // W1XYZ {FIGS} ... : 7 records and a blank before the second hearing.
  r.Space(static_cast<int>(cqLast + gap - 8 - r.Pos()));
  Tell(r, {{"W1XYZ", ctCall}});
  if (bestBefore) *bestBefore = r.BestTxt();
  EXPECT_EQ(r.Pos(), cqLast + gap);
  Tell(r, {{"W1XYZ", ctCall}});
  EXPECT_EQ(r.Find("DL1ABC")->CqDe, cdCQ);
  EXPECT_EQ(r.Find("DL1ABC")->Score, 1);
  EXPECT_EQ(r.Find("W1XYZ")->Score, 2);
  EXPECT_EQ(r.Find("W1XYZ")->LastSeen, cqLast + gap);
  return r.BestTxt();
}

TEST(CallExtractor, CqCallHoldsTheBestPlaceFor240Characters) {
  std::string before;
  EXPECT_EQ(BestAfterGap(239, &before), "DL1ABC");
  EXPECT_EQ(before, "DL1ABC");  // W1XYZ heard once: score 1, not higher
  EXPECT_EQ(BestAfterGap(240), "W1XYZ");
  EXPECT_EQ(BestAfterGap(600), "W1XYZ");
}

// ---------------------------------------------------------------- change flags

TEST(CallExtractor, ChangedStaysSetUntilRead) {
  Rig r;
  r.Space();
  EXPECT_FALSE(r.Cx.Changed());
  r.Say("DL1ABC", ctCall);
  EXPECT_FALSE(r.Cx.Changed());
  EXPECT_TRUE(r.Put(Rec(kChSpace, ctWhiteSpace)));  // closes the call word
  EXPECT_TRUE(r.Cx.Changed());
  EXPECT_TRUE(r.Cx.CallChanged());
  // Updates that re-estimate nothing leave the flag for the reader.
  EXPECT_FALSE(r.Put(Rec(kChSpace, ctWhiteSpace)));
  EXPECT_FALSE(r.Put(Rec('K', ctLetter)));
  EXPECT_TRUE(r.Cx.Changed());
  EXPECT_TRUE(r.Cx.TakeChanged());
  EXPECT_FALSE(r.Cx.Changed());
  EXPECT_FALSE(r.Cx.TakeChanged());
  EXPECT_TRUE(r.Put(Rec(kChSpace, ctWhiteSpace)));  // closes "K": a re-estimation
  EXPECT_TRUE(r.Cx.TakeChanged());
  ASSERT_NE(r.Cx.OldBestCall(), nullptr);
  EXPECT_TRUE(r.Cx.OldBestCall()->IsSame(r.Cx.BestCall()));
  EXPECT_TRUE(r.Cx.OldBestCall()->CallWords.empty());
  // CallChanged stays until Reset.
  EXPECT_TRUE(r.Cx.CallChanged());
  r.Cx.Reset();
  EXPECT_FALSE(r.Cx.CallChanged());
  EXPECT_EQ(r.Cx.BestCall(), nullptr);
  EXPECT_EQ(r.Cx.OldBestCall(), nullptr);
  EXPECT_EQ(r.Cx.CallCount(), 0);
  EXPECT_EQ(r.Cx.WordCount(), 0);
}

TEST(CallExtractor, CallChangedOnlyForADifferentBestCall) {
  Rig r;
  r.Space();
  Tell(r, {{"DL1ABC", ctCall}});
  EXPECT_TRUE(r.Cx.CallChanged());
  r.Cx.Reset();  // the words go; the storage keeps its records
  Tell(r, {{"K", ctLetter}});
  EXPECT_FALSE(r.Cx.CallChanged());  // no words: no best call
  Tell(r, {{"DL1ABC", ctCall}});
  EXPECT_TRUE(r.Cx.CallChanged());
}

// ---------------------------------------------------------------- the window

// Every word that a cut of the whole window from scratch finds: runs of a
// word-making type followed by another type, not starting at the window's
// first record.
std::vector<std::pair<int64_t, int>> ReferenceWords(const TMessageStorage& ms) {
  std::vector<std::pair<int64_t, int>> out;
  int s = 0;
  for (int i = 1; i <= ms.HiChar(); ++i) {
    const TWordType t = ms.Char(i - 1).ChType;
    if (ms.Char(i).ChType == t) continue;
    const bool makes = t == ctSquelch || t == ctLetter || t == ctDigit || t == ctExchange || t == ctCall ||
                       t == ctDe || t == ctCQ;
    if (makes && s > 0) out.push_back({ms.DumpCount() + s, i - s});
    s = i;
  }
  return out;
}

std::vector<std::pair<int64_t, int>> ExtractorWords(const TCallExtractor& x, const TMessageStorage& ms) {
  std::vector<std::pair<int64_t, int>> out;
  for (int i = 0; i < x.WordCount(); ++i)
    if (x.Words(i).Start > ms.DumpCount()) out.push_back({x.Words(i).Start, x.Words(i).Len});
  return out;
}


// Random text with rewrites of the tail, across several drops of the
// storage: the incrementally kept words equal a cut from scratch after every
// update, and the candidates those of a fresh extractor on the same window.
TEST(CallExtractor, IncrementalWordsMatchACutFromScratchAcrossDrops) {
  std::mt19937 rng(20240607);
  Rig r;
  const char* calls[] = {"DL1ABC", "DL1ABK", "EDL1ABC", "G4XYZ", "W1XYZ", "K1AB", "K1ABC", "UA3XYZ"};
  const char* letters[] = {"ABC", "K", "TU", "QRZ"};
  const TCallsignValidator& v = TestValidator();
  int compared = 0;
  for (int step = 0; r.Ms.DumpCount() < 3 * 256 || step < 400; ++step) {
    switch (rng() % 9) {
      case 0:
      case 1:
      case 2: r.Say(calls[rng() % 8], ctCall, rng() % 2 ? 0.99f : 0.9f, rng() % 2); break;
      case 3: r.Say(rng() % 2 ? "CQ" : "TEST", ctCQ); break;
      case 4: r.Say("DE", ctDe); break;
      case 5: r.Say(letters[rng() % 4], ctLetter); break;
      case 6: r.Squelch(1 + static_cast<int>(rng() % 6)); break;
      case 7: r.LineFeed(); break;
      default: r.Say("599", ctExchange); break;
    }
    r.Space(1 + static_cast<int>(rng() % 2));
    if (rng() % 3 == 0) {
      // The corrector rewrites up to 25 of the newest records with other types.
      const int n = 1 + static_cast<int>(rng() % 25);
      TCharInfoArray tail;
      for (int k = std::max(0, r.Ms.HiChar() - n + 1); k <= r.Ms.HiChar(); ++k) tail.push_back(r.Ms.Char(k));
      const std::size_t from = rng() % tail.size();
      const TWordType t = static_cast<TWordType>(rng() % 9);
      for (std::size_t k = from; k < tail.size() && k < from + 4; ++k) tail[k].ChType = t;
      r.Correct(tail);
    }
    ASSERT_EQ(ExtractorWords(r.Cx, r.Ms), ReferenceWords(r.Ms)) << "step " << step;
    for (int i = 0; i < r.Cx.WordCount(); ++i) {
      ASSERT_GE(r.Cx.Words(i).Start, r.Ms.DumpCount());
      // Only a squelch run may start at the window's first record.
      if (r.Cx.Words(i).Start == r.Ms.DumpCount()) {
        ASSERT_EQ(r.Cx.Words(i).Kind, ctSquelch);
      }
    }
    if (step % 7 == 0) {
      TCallExtractor fresh(&r.Ms, &v);
      fresh.Update(r.Ms.HiChar() + 1);
      ASSERT_EQ(Summary(r.Cx), Summary(fresh)) << "step " << step;
      ++compared;
    }
  }
  EXPECT_GE(r.Ms.DumpCount(), 3 * 256);
  EXPECT_GT(compared, 50);
}

TEST(CallExtractor, WordsThatBeganInTheDroppedPartDisappear) {
  Rig r;
  r.Space(254);
  const int64_t straddling = r.Say("G4XYZ", ctCall);  // records 254 .. 260
  r.Space(static_cast<int>(264 - r.Pos()));
  r.Say("F5ABC", ctCall);
  r.Space();
  const int64_t kept = r.Say("OK1XYZ", ctCall);
  r.Space();
  r.Space(static_cast<int>(TMessageStorage::kCapacity - r.Pos()));
  ASSERT_EQ(r.Ms.HiChar(), TMessageStorage::kCapacity - 1);
  ASSERT_EQ(r.Cx.CallCount(), 3);
  EXPECT_EQ(r.Find("G4XYZ")->LastSeen, straddling);
  r.Cx.TakeChanged();

  // The 1081st record drops 256 and the word that began at 254 goes with them.
  EXPECT_TRUE(r.Put(Rec(kChSpace, ctWhiteSpace)));
  EXPECT_EQ(r.Ms.DumpCount(), 256);
  EXPECT_TRUE(r.Cx.TakeChanged());
  EXPECT_EQ(r.Find("G4XYZ"), nullptr);
  ASSERT_EQ(r.Cx.CallCount(), 2);
  EXPECT_EQ(r.Find("OK1XYZ")->LastSeen, kept);
  EXPECT_EQ(r.Cx.Words(0).Start, 264);

  // Positions keep counting past the window's length.
  const int64_t late = r.Say("UA3XYZ", ctCall);
  r.Space();
  EXPECT_EQ(late, 1081);
  EXPECT_EQ(r.Cx.Calls(0).Txt, "UA3XYZ");
  EXPECT_EQ(r.Cx.Calls(0).LastSeen, 1081);
  EXPECT_EQ(r.Cx.Calls(0).CallWords[0]->Start, 1081);
}

TEST(CallExtractor, AWordAtTheWindowsFirstRecordGoesWithTheDrop) {
  Rig r;
  r.Space(256);
  r.Say("F5ABC", ctCall);  // from running number 256: window index 0 after the drop
  r.Space();
  r.Space(static_cast<int>(TMessageStorage::kCapacity - r.Pos()));
  ASSERT_NE(r.Find("F5ABC"), nullptr);
  r.Space();
  EXPECT_EQ(r.Ms.DumpCount(), 256);
  // Its run might have begun before the window, as a cut from scratch sees it.
  EXPECT_EQ(r.Cx.CallCount(), 0);
}

TEST(CallExtractor, ACallHeardAcrossManyDropsKeepsOnlyTheWindowsWords) {
  Rig r;
  r.Space();
  for (int k = 0; k < 600; ++k) {
    r.Say("DL1ABC", ctCall);
    r.Space();
  }
  EXPECT_GE(r.Ms.DumpCount(), 4 * 256);
  ASSERT_EQ(r.Cx.CallCount(), 1);
  const TCallEstimate& c = r.Cx.Calls(0);
  // Every word of the candidate lies inside the window and was counted once.
  EXPECT_EQ(c.Cnt, static_cast<float>(c.CallWords.size()));
  EXPECT_EQ(static_cast<int>(c.CallWords.size()), r.Cx.WordCount());
  for (const TWordEntry* w : c.CallWords) EXPECT_GT(w->Start, r.Ms.DumpCount());
  EXPECT_EQ(c.LastSeen, r.Ms.CharCnt() - 8);  // the last word, then its blank
}

TEST(CallExtractor, StorageClearedWithoutResetDropsTheWords) {
  Rig r;
  r.Space();
  Tell(r, {{"DL1ABC", ctCall}, {"G4XYZ", ctCall}});
  ASSERT_EQ(r.Cx.CallCount(), 2);
  r.Ms.Clear();
  r.Cx.TakeChanged();
  r.Space();
  EXPECT_EQ(r.Cx.WordCount(), 0);
  EXPECT_EQ(r.Cx.CallCount(), 0);
  EXPECT_EQ(r.Cx.BestCall(), nullptr);
  EXPECT_TRUE(r.Cx.TakeChanged());
  Tell(r, {{"K1ABC", ctCall}});
  EXPECT_EQ(r.BestTxt(), "K1ABC");
}

// A receiver's steady state: the same kinds of text again and again, across
// drops of the storage, with the tail rewritten now and then. Database calls
// only, so that the validator answers from its table.
TEST(CallExtractor, SteadyStateAllocatesNothing) {
  if (!testing::HeapCountingAvailable()) GTEST_SKIP() << "no allocation counting in this build";
  TMessageStorage ms;
  TCallExtractor cx(&ms, &TestValidator());
  TCharInfoArray text;
  const Token tokens[] = {{"CQ", ctCQ},     {"DE", ctDe},      {"DL1ABC", ctCall}, {"G4XYZ", ctCall},
                          {"599", ctDigit}, {"F5ABC", ctCall}, {"TU", ctLetter},   {"OK1XYZ", ctCall}};
  for (const Token& t : tokens) {
    for (const TCharInfo& x : WordRecs(t.txt, t.type)) text.push_back(x);
    text.push_back(Rec(kChSpace, ctWhiteSpace));
  }
  TCharInfoArray msg, tail;
  msg.reserve(32);
  tail.reserve(32);
  auto feed = [&](int n) {
    for (int k = 0; k < n; ++k) {
      const TCharInfo& r = text[static_cast<std::size_t>(k) % text.size()];
      ms.PutRawChar(r);
      msg.assign(1, r);
      if (k % 5 == 0 && ms.HiChar() >= 24) {
        // Rewrite the last 25 records as they stand.
        msg.assign(ms.Chars().begin() + (ms.HiChar() - 24), ms.Chars().begin() + ms.HiChar() + 1);
      }
      ms.PutCorrChars(msg);
      cx.Update(static_cast<int>(ms.ChangedChars().size()));
    }
  };
  feed(4000);
  const long long before = testing::HeapAllocations();
  feed(3000);
  EXPECT_EQ(testing::HeapAllocations() - before, 0);
  EXPECT_GE(ms.DumpCount(), 5 * 256);
  EXPECT_EQ(cx.CallCount(), 4);
}

// ---------------------------------------------------------------- end to end

// The real corrector on a synthesised stream: each Baudot character's bits
// sure to 0.99, fed as a receiver feeds the storage and the extractor.
TEST(CallExtractor, EndToEndThroughTheCorrector) {
  TRttyMessageStatistics stats;
  InitMessageStatistics(stats);
  TRttyMessageCorrector corr(std::make_shared<const TRttyMessageHmm>(stats));
  TMessageStorage ms;
  TCallExtractor cx(&ms, &TestValidator());
  int reEstimations = 0;
  for (const auto& c : EncodeBaudot("CQ CQ TEST DE DL1ABC DL1ABC K")) {
    TCharInfo r = testing::CodeRecord(c.Code, 0.99f);
    ms.PutRawChar(r);
    corr.ProcessChar(r);
    ms.PutCorrChars(corr.Msg());
    if (cx.Update(static_cast<int>(ms.ChangedChars().size()))) ++reEstimations;
  }
  EXPECT_GT(reEstimations, 0);
  ASSERT_EQ(cx.CallCount(), 1);
  const TCallEstimate& c = cx.Calls(0);
  EXPECT_EQ(c.Txt, "DL1ABC");
  EXPECT_EQ(c.Cnt, 2.0f);
  EXPECT_EQ(c.CallWords.size(), 2u);
  EXPECT_EQ(c.Vald, vrDta);
  EXPECT_EQ(c.CqDe, cdCQ);
  EXPECT_GE(c.Prob, 0.99f);
  EXPECT_EQ(c.Score, 1);
  ASSERT_EQ(cx.BestCall(), &c);
  EXPECT_TRUE(cx.CallChanged());
  EXPECT_TRUE(cx.TakeChanged());
  // CQ TEST DE DL1ABC DL1ABC: the first CQ starts the window (its run might
  // have begun before it) and the trailing K is still the newest run.
  ASSERT_EQ(cx.WordCount(), 5);
  EXPECT_EQ(cx.Words(0).Txt, "CQ");
  EXPECT_EQ(cx.Words(0).Kind, ctCQ);
  EXPECT_EQ(cx.Words(1).Txt, "TEST");
  EXPECT_EQ(cx.Words(1).Kind, ctCQ);
  EXPECT_EQ(cx.Words(2).Txt, "DE");
  EXPECT_EQ(cx.Words(2).Kind, ctDe);
}

}  // namespace
}  // namespace brenvo
