#include "decoder/message_storage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "decoder/baudot_table.h"
#include "decoder/message_corrector.h"
#include "dsp/errors.h"
#include "message_test_util.h"

namespace brenvo {
namespace {

using testing::CodeRecord;
using testing::MarkerRecord;

constexpr float kSure = 0.999f;  // not weak
constexpr float kUnsure = 0.6f;  // weak: uncertainty 1 - 0.6^5 > 0.2

TCharInfo Sure(uint8_t ch, int32_t sampleNo = 0) { return CodeRecord(CodeTable[ch], kSure, sampleNo); }
TCharInfo Unsure(uint8_t ch) { return CodeRecord(CodeTable[ch], kUnsure); }

// One corrector output element.
TCharInfo Corr(uint8_t ch, TWordType type = ctLetter) {
  TCharInfo m;
  if (ch == '@' || ch == 'n' || ch == 'p' || ch == '~')
    m.MetaCh = ch;
  else
    m.CorrCh = ch;
  m.ChType = type;
  return m;
}

// Puts a record and corrects it as itself (or as corr).
void Put(TMessageStorage& s, const TCharInfo& raw, TCharInfo corr) {
  s.PutRawChar(raw);
  TCharInfoArray msg = {corr};
  s.PutCorrChars(msg);
}
void Put(TMessageStorage& s, const TCharInfo& raw) { Put(s, raw, Corr(raw.RawCh)); }

bool SameBytes(const TCharInfo& a, const TCharInfo& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(MessageStorage, FreshAndCleared) {
  TMessageStorage s;
  EXPECT_EQ(s.HiChar(), -1);
  EXPECT_EQ(s.DumpCount(), 0);
  EXPECT_EQ(s.CharCnt(), -1);
  EXPECT_EQ(s.Chars().size(), 1080u);
  EXPECT_THROW(s.Char(0), ERangeError);
  Put(s, Sure('A'));
  EXPECT_EQ(s.HiChar(), 0);
  s.Clear();
  EXPECT_EQ(s.HiChar(), -1);
  EXPECT_TRUE(s.ChangedChars().empty());
}

TEST(MessageStorage, FirstRecordOpensALine) {
  TMessageStorage s;
  Put(s, Sure('A'));
  EXPECT_TRUE(s.Char(0).RawFlags.Has(cfNewLine));
  EXPECT_TRUE(s.Char(0).RawFlags.Has(cfVisible));
  EXPECT_FALSE(s.Char(0).RawFlags.Has(cfWeak));
  EXPECT_FALSE(s.Char(0).RawFlags.Has(cfSquelch));
  EXPECT_EQ(s.Char(0).CorrCh, 'A');
  EXPECT_TRUE(s.Char(0).CorrFlags.Has(cfVisible));
  EXPECT_TRUE(s.Char(0).CorrFlags.Has(cfVisNewLine));
  EXPECT_FALSE(s.Char(0).CorrFlags.Has(cfWeak));
}

// Weak: raw uncertainty 1 - prod max(p, 1 - p) above 0.2; corrected
// character probability below 0.9.
TEST(MessageStorage, WeakThresholds) {
  const struct {
    float Sure;
    bool RawWeak, CorrWeak;
  } cases[] = {{0.956f, true, true}, {0.957f, false, true}, {0.979f, false, true}, {0.98f, false, false}};
  for (const auto& c : cases) {
    TMessageStorage s;
    Put(s, CodeRecord(CodeTable['Y'], c.Sure));
    EXPECT_EQ(s.Char(0).RawFlags.Has(cfWeak), c.RawWeak) << c.Sure;
    EXPECT_EQ(s.Char(0).CorrFlags.Has(cfWeak), c.CorrWeak) << c.Sure;
  }
}

TEST(MessageStorage, DropsTheOldest256WhenFull) {
  TMessageStorage s;
  for (int k = 0; k < 1080; ++k) s.PutRawChar(Sure('E', k));
  EXPECT_EQ(s.HiChar(), 1079);
  EXPECT_EQ(s.DumpCount(), 0);
  EXPECT_EQ(s.CharCnt(), 1079);
  s.PutRawChar(Sure('E', 1080));
  EXPECT_EQ(s.HiChar(), 824);
  EXPECT_EQ(s.DumpCount(), 256);
  EXPECT_EQ(s.CharCnt(), 1080);
  // Record k is the (DumpCount + k)-th put.
  for (int k = 0; k <= s.HiChar(); ++k) ASSERT_EQ(int32_t{s.Char(k).SampleNo}, 256 + k);  // packed field: by value
  for (int k = 1081; k < 1081 + 255; ++k) s.PutRawChar(Sure('E', k));
  EXPECT_EQ(s.HiChar(), 1079);
  s.PutRawChar(Sure('E', 1336));
  EXPECT_EQ(s.HiChar(), 824);
  EXPECT_EQ(s.DumpCount(), 512);
  EXPECT_EQ(int32_t{s.Char(0).SampleNo}, 512);
}

TEST(MessageStorage, ToneAndSilenceAreWeakSquelchedAndInvisible) {
  for (uint8_t m : {kChSteadyTone, kChSilence}) {
    TMessageStorage s;
    Put(s, Sure('A'));
    Put(s, MarkerRecord(m), Corr('~', ctSquelch));
    const TCharInfo& r = s.Char(1);
    EXPECT_TRUE(r.RawFlags.Has(cfWeak));
    EXPECT_TRUE(r.RawFlags.Has(cfSquelch));
    EXPECT_FALSE(r.RawFlags.Has(cfVisible));
    EXPECT_EQ(r.CorrCh, '~');
    EXPECT_TRUE(r.CorrFlags.Has(cfWeak));
    EXPECT_TRUE(r.CorrFlags.Has(cfSquelch));
    EXPECT_FALSE(r.CorrFlags.Has(cfVisible));
  }
  // An incomplete character is weak but squelched only as a weak run.
  TMessageStorage s;
  Put(s, Sure('A'));
  Put(s, MarkerRecord(kChIncomplete), Corr('~', ctSquelch));
  EXPECT_TRUE(s.Char(1).RawFlags.Has(cfWeak));
  EXPECT_FALSE(s.Char(1).RawFlags.Has(cfSquelch));
}

TEST(MessageStorage, FifthWeakRecordInARowIsSquelched) {
  TMessageStorage s;
  Put(s, Sure('A'));
  for (int k = 1; k <= 6; ++k) {
    Put(s, Unsure('E'));
    EXPECT_TRUE(s.Char(k).RawFlags.Has(cfWeak));
    EXPECT_EQ(s.Char(k).RawFlags.Has(cfSquelch), k >= 5) << k;
  }
  // The first record after the squelched run opens a line.
  Put(s, Sure('B'));
  EXPECT_TRUE(s.Char(7).RawFlags.Has(cfNewLine));
  // At the start of the storage a weak first record is already squelched.
  TMessageStorage t;
  Put(t, Unsure('E'));
  EXPECT_TRUE(t.Char(0).RawFlags.Has(cfSquelch));
  EXPECT_TRUE(t.Char(0).RawFlags.Has(cfNewLine));
}

TEST(MessageStorage, RawLineBreaks) {
  TMessageStorage s;
  Put(s, Sure('A'));
  Put(s, Sure('B'));
  Put(s, Sure('|'));  // line feed after visible text: new line, invisible
  EXPECT_TRUE(s.Char(2).RawFlags.Has(cfNewLine));
  EXPECT_FALSE(s.Char(2).RawFlags.Has(cfVisible));
  Put(s, Sure(kChCarriageReturn));  // at the start of a line: no second break
  EXPECT_FALSE(s.Char(3).RawFlags.Has(cfNewLine));
  Put(s, Sure('C'));
  EXPECT_FALSE(s.Char(4).RawFlags.Has(cfNewLine));
  // The raw rule counts a record that opened a line as a line start, even a
  // visible one: a line feed right after the first character breaks nothing.
  TMessageStorage t;
  Put(t, Sure('A'));
  Put(t, Sure('|'));
  EXPECT_FALSE(t.Char(1).RawFlags.Has(cfNewLine));
}

TEST(MessageStorage, FourthSeparatorAfterTextStartsASquelchedStretch) {
  TMessageStorage s;
  for (uint8_t c : {'C', 'Q'}) Put(s, Sure(c));
  for (int k = 0; k < 4; ++k) Put(s, Sure('E'), Corr('~', ctSquelch));
  for (int k = 2; k < 5; ++k) {
    const TCharFlags f = s.Char(k).CorrFlags;
    EXPECT_TRUE(f.Has(cfPreSquelch)) << k;
    EXPECT_FALSE(f.Has(cfSquelch)) << k;
    EXPECT_TRUE(f.Has(cfVisible)) << k;
    EXPECT_TRUE(f.Has(cfWeak)) << k;
    EXPECT_EQ(s.Char(k).CorrCh, '~');
  }
  EXPECT_TRUE(s.Char(5).CorrFlags.Has(cfSquelch));
  EXPECT_FALSE(s.Char(5).CorrFlags.Has(cfPreSquelch));
  EXPECT_TRUE(s.Char(5).CorrFlags.Has(cfVisible));
  // Further separators stay squelched; the next ordinary character opens a line.
  Put(s, Sure('E'), Corr('~', ctSquelch));
  EXPECT_TRUE(s.Char(6).CorrFlags.Has(cfSquelch));
  Put(s, Sure('D'));
  EXPECT_TRUE(s.Char(7).CorrFlags.Has(cfNewLine));
  EXPECT_TRUE(s.Char(7).CorrFlags.Has(cfVisNewLine));
  EXPECT_TRUE(s.Char(7).CorrFlags.Has(cfVisible));
}

TEST(MessageStorage, NoBlankAfterASquelchOrAtALineStart) {
  TMessageStorage s;
  Put(s, Sure('_'), Corr('_', ctWhiteSpace));  // at the start of a line
  EXPECT_FALSE(s.Char(0).CorrFlags.Has(cfVisible));
  Put(s, Sure('A'));
  EXPECT_TRUE(s.Char(1).CorrFlags.Has(cfVisible));
  EXPECT_TRUE(s.Char(1).CorrFlags.Has(cfVisNewLine));
  Put(s, Sure('_'), Corr('_', ctWhiteSpace));  // inside a line: shown
  EXPECT_TRUE(s.Char(2).CorrFlags.Has(cfVisible));
  Put(s, MarkerRecord(kChSteadyTone), Corr('~', ctSquelch));
  Put(s, Sure('_'), Corr('_', ctWhiteSpace));  // right after the squelch
  EXPECT_FALSE(s.Char(4).CorrFlags.Has(cfVisible));
  // A corrected line feed inside a line breaks it.
  Put(s, Sure('B'));
  Put(s, Sure('|'), Corr('|', ctWhiteSpace));
  EXPECT_TRUE(s.Char(6).CorrFlags.Has(cfNewLine));
  EXPECT_FALSE(s.Char(6).CorrFlags.Has(cfVisible));
}

TEST(MessageStorage, GetLatest) {
  TCharInfoArray res(3);  // the caller's old content must go
  TMessageStorage s;
  s.GetLatest(res);
  EXPECT_TRUE(res.empty());

  for (uint8_t c : {'A', 'B', 'C'}) Put(s, Sure(c));
  s.GetLatest(res);
  EXPECT_EQ(res.size(), 3u);

  TMessageStorage q;  // squelched records only
  for (int k = 0; k < 4; ++k) Put(q, MarkerRecord(kChSilence), Corr('~', ctSquelch));
  q.GetLatest(res);
  EXPECT_EQ(res.size(), 4u);

  // Text, a squelched stretch, text, then squelched records again: the last
  // stretch of text and what follows it.
  TMessageStorage m;
  for (uint8_t c : {'A', 'B'}) Put(m, Sure(c));
  for (int k = 0; k < 2; ++k) Put(m, MarkerRecord(kChSteadyTone), Corr('~', ctSquelch));
  for (uint8_t c : {'C', 'D', 'E'}) Put(m, Sure(c, 100 + c));
  Put(m, MarkerRecord(kChSilence), Corr('~', ctSquelch));
  m.GetLatest(res);
  ASSERT_EQ(res.size(), 4u);
  EXPECT_EQ(res[0].CorrCh, 'C');
  EXPECT_EQ(res[3].RawCh, kChSilence);
}

TEST(MessageStorage, LongMsgRewritesOnlyTheRecordsThatExist) {
  TMessageStorage s;
  for (uint8_t c : {'A', 'B', 'C'}) s.PutRawChar(Sure(c));
  TCharInfoArray msg;
  for (int k = 0; k < 25; ++k) msg.push_back(Corr('E'));
  msg[22] = Corr('X');
  msg[23] = Corr('Y');
  msg[24] = Corr('Z');
  s.PutCorrChars(msg);
  EXPECT_EQ(msg.size(), 3u);
  EXPECT_EQ(s.ChangedChars().size(), 3u);
  EXPECT_EQ(s.Char(0).CorrCh, 'X');
  EXPECT_EQ(s.Char(2).CorrCh, 'Z');
  EXPECT_EQ(s.ChangedChars()[0].CorrCh, 0);
  EXPECT_EQ(s.ChangedChars()[2].RawCh, 'C');
  TCharInfoArray none;
  s.PutCorrChars(none);
  EXPECT_TRUE(s.ChangedChars().empty());
  TMessageStorage empty;
  TCharInfoArray one = {Corr('A')};
  empty.PutCorrChars(one);
  EXPECT_TRUE(one.empty());
  EXPECT_EQ(empty.HiChar(), -1);
}

TEST(MessageStorage, MetaCharactersResolvedFromTheBits) {
  TMessageStorage s;
  s.PutRawChar(CodeRecord(16, 0.8f));  // "T" / "5"
  s.PutRawChar(CodeRecord(16, 0.8f));
  s.PutRawChar(CodeRecord(16, 0.8f));
  TCharInfoArray msg = {Corr('n', ctDigit), Corr('@', ctCall), Corr('~', ctSquelch)};
  s.PutCorrChars(msg);
  EXPECT_EQ(s.Char(0).CorrCh, '5');
  EXPECT_EQ(s.Char(0).MetaCh, 'n');
  EXPECT_EQ(s.Char(1).CorrCh, 'T');
  EXPECT_EQ(s.Char(2).CorrCh, '~');
  // A later correction to a concrete character clears the meta character.
  TCharInfoArray again = {Corr('5', ctExchange)};
  s.PutCorrChars(again);
  EXPECT_EQ(s.Char(2).CorrCh, '5');
  EXPECT_EQ(s.Char(2).MetaCh, 0);
  // An unknown meta character raises and changes nothing.
  const TCharInfo before = s.Char(2);
  TCharInfoArray bad = {Corr('E'), Corr('E')};
  bad[0].MetaCh = 'x';
  try {
    s.PutCorrChars(bad);
    ADD_FAILURE();
  } catch (const EBrenvoError& e) {
    EXPECT_STREQ(e.what(), "Unknown meta char");
  }
  EXPECT_TRUE(SameBytes(s.Char(2), before));
}

TEST(MessageStorage, GetWordAt) {
  TMessageStorage s;
  const std::string call = "DL\xAB" "1\xBB" "ABC";
  int32_t n = 0;
  Put(s, Sure('_', n++), Corr('_', ctWhiteSpace));
  for (char c : call) Put(s, Sure(static_cast<uint8_t>(c), n++), Corr(static_cast<uint8_t>(c), ctCall));
  Put(s, Sure('_', n++), Corr('_', ctWhiteSpace));
  Put(s, Sure('K', n++), Corr('K', ctCall));
  Put(s, Sure('.', n++), Corr('.', ctPunc));
  std::string word = "old";
  s.GetWordAt(3, word);
  EXPECT_EQ(word, "DL1ABC");
  s.GetWordAt(1, word);
  EXPECT_EQ(word, "DL1ABC");
  s.GetWordAt(10, word);
  EXPECT_EQ(word, "K");
  s.GetWordAt(0, word);
  EXPECT_EQ(word, "");
  s.GetWordAt(11, word);
  EXPECT_EQ(word, "");
  s.GetWordAt(999, word);
  EXPECT_EQ(word, "");
  // The newest record with the number counts.
  Put(s, Sure('Q', 10), Corr('Q', ctCQ));
  s.GetWordAt(10, word);
  EXPECT_EQ(word, "Q");
}

// A reader that applies every (new, old) batch to its own copy of the text
// must always hold what the storage holds.
TEST(MessageStorage, MirrorOfTheBatchesEqualsTheStorage) {
  TRttyMessageCorrector corr(std::make_shared<const TRttyMessageHmm>([] {
    TRttyMessageStatistics st;
    InitMessageStatistics(st);
    return st;
  }()));
  TMessageStorage s;
  TCharInfoArray mirror;  // every record since the start
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> kind(0, 99), code(0, 31);
  std::uniform_real_distribution<float> prob(0.0f, 1.0f);
  const int total = 3000;
  for (int t = 0; t < total; ++t) {
    TCharInfo r;
    const int k = kind(rng);
    if (k < 5) {
      r = MarkerRecord(k < 2 ? kChSteadyTone : k < 4 ? kChSilence : kChIncomplete);
    } else {
      r = CodeRecord(static_cast<uint8_t>(code(rng)), k < 60 ? 0.995f : k < 80 ? 0.7f : prob(rng));
    }
    r.SampleNo = t;
    s.PutRawChar(r);
    corr.ProcessChar(r);
    s.PutCorrChars(corr.Msg());

    const TCharInfoArray& old = s.ChangedChars();
    const std::size_t n = old.size();
    ASSERT_GE(n, 1u);
    // The old versions are what the reader has, and the last is the new raw record.
    for (std::size_t j = 0; j + 1 < n; ++j) ASSERT_TRUE(SameBytes(mirror[mirror.size() - (n - 1) + j], old[j])) << t;
    ASSERT_TRUE(SameBytes(old[n - 1], r)) << t;
    mirror.resize(mirror.size() + 1);
    for (std::size_t j = 0; j < n; ++j)
      mirror[mirror.size() - n + j] = s.Char(s.HiChar() - static_cast<int>(n) + 1 + static_cast<int>(j));
    ASSERT_EQ(s.CharCnt(), t);
    for (int j = 0; j <= s.HiChar(); ++j)
      ASSERT_TRUE(SameBytes(s.Char(j), mirror[static_cast<std::size_t>(s.DumpCount() + j)])) << t << " " << j;
  }
  EXPECT_EQ(s.DumpCount(), 256 * ((total - 1080) / 256 + 1));
}

}  // namespace
}  // namespace brenvo
