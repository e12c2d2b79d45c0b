#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <random>
#include <set>
#include <string>

#include "decoder/baudot_table.h"
#include "decoder/char_info.h"
#include "decoder/char_prob.h"
#include "decoder/state_type.h"

namespace brenvo {
namespace {

TEST(CharInfo, PackedLayout) {
  static_assert(offsetof(TCharInfo, RawCh) == 0);
  static_assert(offsetof(TCharInfo, CorrCh) == 1);
  static_assert(offsetof(TCharInfo, MetaCh) == 2);
  static_assert(offsetof(TCharInfo, ChType) == 3);
  static_assert(offsetof(TCharInfo, BitProbs) == 4);
  static_assert(offsetof(TCharInfo, RawFlags) == 24);
  static_assert(offsetof(TCharInfo, CorrFlags) == 25);
  static_assert(offsetof(TCharInfo, SampleNo) == 26);
  static_assert(offsetof(TCharInfo, Utc) == 30);
  static_assert(offsetof(TCharInfo, StopLen) == 38);
  static_assert(sizeof(TCharInfo) == 42);
  static_assert(sizeof(TWordType) == 1);
  SUCCEED();
}

// Records at odd offsets in an array: every field reads back what was
// written (this is what the sanitizer build checks for misaligned access).
TEST(CharInfo, FieldsWorkAtAnyOffsetInAnArray) {
  TCharInfoArray a(3);
  for (int k = 0; k < 3; ++k) {
    a[static_cast<std::size_t>(k)].SampleNo = 1000 + k;
    a[static_cast<std::size_t>(k)].Utc = 42.5 + k;
    a[static_cast<std::size_t>(k)].StopLen = -k;
    for (int i = 0; i < 5; ++i) a[static_cast<std::size_t>(k)].BitProbs[i] = 0.1f * static_cast<float>(i + k);
  }
  for (int k = 0; k < 3; ++k) {
    const TCharInfo r = a[static_cast<std::size_t>(k)];
    EXPECT_EQ(int32_t{r.SampleNo}, 1000 + k);  // by value: packed field
    EXPECT_EQ(double{r.Utc}, 42.5 + k);
    EXPECT_EQ(int32_t{r.StopLen}, -k);
    for (int i = 0; i < 5; ++i) EXPECT_FLOAT_EQ(r.BitProbs[i], 0.1f * static_cast<float>(i + k));
  }
  EXPECT_THROW(a[1].BitProbs[5], ERangeError);
  EXPECT_THROW((TBitProbArray{1, 2}), ERangeError);
}

TEST(CharInfo, FreshRecordIsZeroAndFlagsUseTheirBits) {
  const TCharInfo r;
  EXPECT_EQ(r.CorrCh, 0);
  EXPECT_EQ(r.MetaCh, 0);
  EXPECT_EQ(r.ChType, ctSquelch);
  EXPECT_TRUE(r.RawFlags.Empty());
  EXPECT_TRUE(r.CorrFlags.Empty());
  for (int i = 0; i < 5; ++i) EXPECT_EQ(r.BitProbs[i], 0.0f);
  TCharFlags f{cfVisible, cfSquelch};
  EXPECT_EQ(f.Bits, 0x21);
  EXPECT_TRUE(f.Has(cfSquelch));
  EXPECT_FALSE(f.Has(cfWeak));
  f.Exclude(cfVisible);
  f.Include(cfNewLine);
  EXPECT_EQ(f.Bits, 0x24);
}

TEST(StateType, OrdinalsAndNames) {
  EXPECT_EQ(ctCQ, 8);
  EXPECT_EQ(ctNone, 28);
  EXPECT_EQ(CallLtr, 18);
  EXPECT_EQ(kWordTypeCount, 9);
  EXPECT_TRUE(IsWordType(ctCQ));
  EXPECT_FALSE(IsWordType(ctCallStruC));
  EXPECT_EQ(StateTypeName(ctCall), "ctCall");
  EXPECT_EQ(StateTypeName(CallLtr), "CallLtr");
  EXPECT_EQ(StateTypeName(ctNone), "ctNone");
  EXPECT_EQ(StateTypeName(static_cast<TStateType>(29)), "");
}

TEST(BaudotTable, RoundTripOfAll64Entries) {
  for (int row = 0; row < 2; ++row)
    for (int code = 0; code < 32; ++code) EXPECT_EQ(CodeTable[BaudotTable[row][code]], code) << row << " " << code;
}

TEST(BaudotTable, ListedValues) {
  EXPECT_EQ(CodeTable['E'], 1);
  EXPECT_EQ(CodeTable['3'], 1);
  EXPECT_EQ(CodeTable['_'], 4);
  EXPECT_EQ(CodeTable[' '], 4);
  EXPECT_EQ(CodeTable['|'], 2);
  EXPECT_EQ(CodeTable[0xB0], 0);
  EXPECT_EQ(CodeTable[0xA6], 8);
  EXPECT_EQ(CodeTable[0xAB], 27);
  EXPECT_EQ(CodeTable[0xBB], 31);
  EXPECT_EQ(CodeTable['a'], 255);
  EXPECT_EQ(CodeTable['='], 255);
  EXPECT_EQ(CodeTable[0xAE], 255);
  EXPECT_EQ(BaudotTable[1][5], '\'');
  EXPECT_EQ(BaudotTable[1][11], '*');
  EXPECT_EQ(BaudotTable[1][17], '"');
  // Controls shared by both rows.
  for (int code : {0, 2, 4, 8, 27, 31}) EXPECT_EQ(BaudotTable[0][code], BaudotTable[1][code]);
}

// Exactly the 26 letters, 10 digits, the 16 figures-row punctuation marks,
// the six controls and the blank have codes.
TEST(BaudotTable, WhichBytesHaveCodes) {
  std::set<int> coded;
  for (int b = 0; b < 256; ++b)
    if (CodeTable[static_cast<std::size_t>(b)] != kNoCode) coded.insert(b);
  std::set<int> expected;
  for (int c = 'A'; c <= 'Z'; ++c) expected.insert(c);
  for (int c = '0'; c <= '9'; ++c) expected.insert(c);
  for (char c : std::string("-'$*,!:()\"#&./;?")) expected.insert(static_cast<uint8_t>(c));
  for (int c : {0xB0, int{'|'}, int{'_'}, 0xA6, 0xAB, 0xBB, int{' '}}) expected.insert(c);
  EXPECT_EQ(coded, expected);
}

TEST(SafeLn, FloorAndNaN) {
  EXPECT_FLOAT_EQ(SafeLn(0.0f), static_cast<float>(std::log(1e-12)));
  EXPECT_EQ(SafeLn(-1.0f), kSafeLnFloor);
  EXPECT_EQ(SafeLn(NAN), kSafeLnFloor);
  EXPECT_EQ(SafeLn(1.0f), 0.0f);
  EXPECT_NEAR(SafeLn(1e-12f), kSafeLnFloor, 1e-5);
}

TEST(CharProb, SureBits) {
  const TBitProbArray p{1, 0, 0, 0, 0};
  EXPECT_EQ(CharProb('E', p), 1.0f);
  EXPECT_EQ(CharProb('3', p), 1.0f);
  EXPECT_EQ(CharProb('T', p), 0.0f);
  EXPECT_EQ(ProbsToCode(p), 1);
  EXPECT_EQ(CharUncertainty(p), 0.0f);
  EXPECT_FLOAT_EQ(NoCharProb(p), 0.0001f);
  EXPECT_EQ(CharProb('~', p), NoCharProb(p));
  EXPECT_GE(LnCharProb('T', p), kSafeLnFloor);
}

TEST(CharProb, NoDecision) {
  const TBitProbArray p{0.5f, 0.5f, 0.5f, 0.5f, 0.5f};
  for (int code = 0; code < 32; ++code) EXPECT_FLOAT_EQ(CharProb(BaudotTable[0][code], p), 1.0f / 32);
  EXPECT_FLOAT_EQ(NoCharProb(p), 0.9999f);
  // Between the clamps: (30 x 0.98 x 0.02)^5.
  EXPECT_NEAR(NoCharProb(TBitProbArray{0.98f, 0.98f, 0.98f, 0.98f, 0.98f}), 0.0703, 1e-4);
  EXPECT_FLOAT_EQ(CharUncertainty(p), 0.96875f);
  EXPECT_EQ(ProbsToCode(p), 31);
}

TEST(CharProb, SumsToOneOverTheCodesAndScoresUncodedAsAllOnes) {
  const TBitProbArray p{0.9f, 0.2f, 0.65f, 0.01f, 0.4f};
  double sum = 0;
  for (int code = 0; code < 32; ++code) sum += CharProb(BaudotTable[0][code], p);
  EXPECT_NEAR(sum, 1.0, 1e-6);
  EXPECT_EQ(CharProb('a', p), CharProb(kChLetters, p));
  // Reference product in double precision.
  const double ref = 0.9 * 0.8 * 0.35 * 0.99 * 0.6;  // code 1 = "E"
  EXPECT_NEAR(CharProb('E', p), ref, 1e-6);
  EXPECT_EQ(ProbsToCode(p), 0b00101);
  EXPECT_NEAR(CharUncertainty(p), 1.0 - 0.9 * 0.8 * 0.65 * 0.99 * 0.6, 1e-6);
}

TEST(CharProb, Classes) {
  const TBitProbArray p{0.9f, 0.8f, 0.1f, 0.2f, 0.3f};
  EXPECT_FLOAT_EQ(CharClassProb("AB", p), std::max(CharProb('A', p), CharProb('B', p)) / 2);
  EXPECT_FLOAT_EQ(LnCharClassProb("AB", p), std::log(CharClassProb("AB", p)));
  EXPECT_EQ(BestCharOfClass("EE3", TBitProbArray{1, 0, 0, 0, 0}), 'E');
  EXPECT_EQ(BestCharOfClass("3E", TBitProbArray{1, 0, 0, 0, 0}), '3');
  EXPECT_EQ(BestCharOfClass("TEA", p), 'A');
  EXPECT_THROW(CharClassProb("", p), EBrenvoError);
  EXPECT_THROW(BestCharOfClass("", p), EBrenvoError);
}

// Over many soft bits (near-ties, sure bits, values that put the products
// near SafeLn's floor, NaN): every code's probability is CharProb's to the
// bit, and the best member of each class the plain scan's: the first one
// with the highest LnCharProb.
TEST(CharProb, CodeProbsAndBestOfClassAsThePlainScan) {
  std::mt19937 rng(12);
  std::uniform_real_distribution<float> any(0.0f, 1.0f);
  const float extremes[] = {0.0f, 1.0f, 0.5f, 1e-3f, 1e-6f, 0.999999f, std::nanf("")};
  const std::string classes[] = {
      "ABCDEFGHIJKLMNOPQRSTUVWXYZ", "0123456789", "-'$*,!:()#?&./", "EE3", "~A", "T", "QZX", "HIM"};
  for (int t = 0; t < 20000; ++t) {
    TBitProbArray p;
    // Every 4th: nearly sure bits, so that whole classes fall near or below the floor.
    const float sure = t % 8 == 0 ? 1e-5f : 1e-4f;
    for (int i = 0; i < 5; ++i)
      p.Set(i, t % 4 == 0         ? ((rng() & 1) ? sure : 1.0f - sure)
               : (t + i) % 3 == 0 ? extremes[rng() % 7]
               : t % 5 == 0       ? 0.5f + any(rng) * 1e-6f
                                  : any(rng));
    float codeProb[32];
    CodeProbs(p, codeProb);
    for (int code = 0; code < 32; ++code) {
      const float want = CharProb(BaudotTable[0][code], p);
      ASSERT_TRUE(codeProb[code] == want || (std::isnan(codeProb[code]) && std::isnan(want)))
          << t << " " << code;
    }
    for (const std::string& c : classes) {
      uint8_t want = static_cast<uint8_t>(c[0]);
      for (const char ch : c)
        if (LnCharProb(static_cast<uint8_t>(ch), p) > LnCharProb(want, p))
          want = static_cast<uint8_t>(ch);
      ASSERT_EQ(BestCharOfClass(c, p), want) << t << " " << c;
    }
  }
}

}  // namespace
}  // namespace brenvo
