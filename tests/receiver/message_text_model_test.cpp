#include "receiver/message_text_model.h"

#include <gtest/gtest.h>

#include <string>

namespace brenvo {
namespace {

TCharInfo Corr(uint8_t ch, TCharFlags flags, TWordType type = ctLetter) {
  TCharInfo r;
  r.RawCh = ch;
  r.CorrCh = ch;
  r.CorrFlags = flags;
  r.RawFlags = flags;
  r.ChType = type;
  return r;
}

TMessageTextModel MainView() {
  TMessageTextModel m;
  m.ShowCorrected = true;
  m.ShowCtrlChars = false;
  m.ShowSquelched = false;
  return m;
}

TEST(MessageTextModel, Cp1252ToUtf8) {
  EXPECT_EQ(Cp1252ToUtf8("AB _"), "AB _");
  EXPECT_EQ(Cp1252ToUtf8("\x95"), "\xE2\x80\xA2");  // bullet
  EXPECT_EQ(Cp1252ToUtf8("\xA6\xB0\xAB\xBB\xAE\xA9\xF7"),
            "\xC2\xA6\xC2\xB0\xC2\xAB\xC2\xBB\xC2\xAE\xC2\xA9\xC3\xB7");
  EXPECT_EQ(Cp1252ToUtf8("\x80\x81\x9F"), "\xE2\x82\xAC\xC2\x81\xC5\xB8");
}

TEST(MessageTextModel, MainViewShowsVisibleTextWithBlanks) {
  TMessageTextModel m = MainView();
  const TCharFlags vis{cfVisible};
  m.PutText({Corr('C', vis, ctCQ)}, {});
  m.PutText({Corr('Q', vis, ctCQ)}, {});
  m.PutText({Corr('_', vis, ctWhiteSpace)}, {});
  m.PutText({Corr(kChFigures, {})}, {});       // invisible
  m.PutText({Corr('~', vis)}, {});             // separator: the bullet
  m.PutText({Corr('X', {cfVisible, cfSquelch})}, {});  // squelched: not in the main view
  ASSERT_EQ(m.Lines().size(), 1u);
  EXPECT_EQ(m.Lines()[0], "CQ \x95");
  EXPECT_EQ(m.Utf8Text(), "CQ \xE2\x80\xA2");
  EXPECT_EQ(m.TextInfo()[0].size(), 4u);
  EXPECT_EQ(m.TextInfo()[0][0].Format, 7);  // CQ word, confident
  // Raw view keeps "_".
  TMessageTextModel raw;
  raw.ShowCtrlChars = true;
  raw.PutText({Corr('_', vis)}, {});
  EXPECT_EQ(raw.Lines()[0], "_");
}

TEST(MessageTextModel, CorrectedBatchReplacesOldVersionsAndLines) {
  TMessageTextModel m = MainView();
  const TCharFlags vis{cfVisible};
  m.PutText({Corr('A', vis)}, {});
  m.PutText({Corr('B', {cfVisible, cfVisNewLine})}, {});
  ASSERT_EQ(m.Lines().size(), 2u);
  // The corrector rewrites both: the line start goes away.
  const TCharInfoArray old = {Corr('A', vis), Corr('B', {cfVisible, cfVisNewLine})};
  m.PutText({Corr('D', vis), Corr('E', vis), Corr('F', vis)}, old);
  ASSERT_EQ(m.Lines().size(), 1u);
  EXPECT_EQ(m.Lines()[0], "DEF");
  EXPECT_EQ(m.TextInfo()[0].size(), 3u);
}

TEST(MessageTextModel, RawViewDrawsOnlyTheNewRecords) {
  TMessageTextModel raw;
  raw.ShowCtrlChars = true;
  const TCharFlags vis{cfVisible};
  raw.PutText({Corr('A', vis), Corr('B', vis), Corr('C', vis), Corr('D', vis)},
              {Corr('A', vis), Corr('B', vis), Corr('C', vis)});
  EXPECT_EQ(raw.Utf8Text(), "D");
  ASSERT_EQ(raw.TextInfo().size(), 1u);  // the empty view got its line first
  EXPECT_EQ(raw.TextInfo()[0].size(), 1u);
  raw.PutText({Corr('E', {cfVisible, cfNewLine})}, {});
  EXPECT_EQ(raw.Utf8Text(), "D\nE");
}

TEST(MessageTextModel, QsxBarAndLineLimit) {
  TMessageTextModel m = MainView();
  m.PutQsxBar(2295);
  ASSERT_EQ(m.Lines().size(), 1u);
  EXPECT_EQ(m.Lines()[0], " QSX 2295 Hz");
  EXPECT_EQ(m.TextInfo()[0][0].Format, 10);
  EXPECT_EQ(m.TextInfo()[0][0].SampleNo, 2147483647);
  m.PutText({Corr('K', {cfVisible})}, {});  // continues on the bar's line
  EXPECT_EQ(m.Lines()[0], " QSX 2295 HzK");
  m.PutText({Corr('X', {cfVisible, cfSquelch, cfVisNewLine})}, {});  // not shown: an empty line
  m.PutQsxBar(562);  // on that line
  EXPECT_EQ(m.Lines(), (std::vector<std::string>{" QSX 2295 HzK", " QSX 562 Hz"}));

  TMessageTextModel lim = MainView();
  for (int i = 0; i < 101; ++i) lim.PutText({Corr('L', {cfVisible, cfVisNewLine})}, {});
  EXPECT_EQ(lim.Lines().size(), 101u);
  lim.PutText({Corr('M', {cfVisible})}, {});  // 101 lines: the first goes before drawing
  EXPECT_EQ(lim.Lines().size(), 100u);
  lim.PutText({Corr('N', {cfVisible})}, {});  // 100: nothing goes
  EXPECT_EQ(lim.Lines().size(), 100u);
  EXPECT_EQ(lim.Lines().back(), "LMN");
}

TEST(MessageTextModel, FormatNumbers) {
  EXPECT_EQ(TMessageTextModel::CorrFormat(Corr('A', {cfVisible, cfWeak}, ctCall)), 1);
  EXPECT_EQ(TMessageTextModel::CorrFormat(Corr('A', {cfVisible}, ctCall)), 6);
  EXPECT_EQ(TMessageTextModel::CorrFormat(Corr('5', {cfVisible}, ctExchange)), 8);
  EXPECT_EQ(TMessageTextModel::CorrFormat(Corr('D', {cfVisible, cfWeak}, ctDe)), 2);
  EXPECT_EQ(TMessageTextModel::CorrFormat(Corr('A', {cfVisible, cfSquelch, cfWeak}, ctCall)), 4);
  EXPECT_EQ(TMessageTextModel::CorrFormat(Corr('A', {cfVisible, cfPreSquelch}, ctCall)), 9);
  TCharInfo r = Corr('A', {cfVisible});
  r.BitProbs = {0.99f, 0.01f, 0.99f, 0.01f, 0.01f};
  EXPECT_EQ(TMessageTextModel::RawFormat(r), 5);
  r.BitProbs = {0.6f, 0.01f, 0.99f, 0.01f, 0.01f};
  EXPECT_EQ(TMessageTextModel::RawFormat(r), 0);
  r.RawFlags = {cfSquelch};
  EXPECT_EQ(TMessageTextModel::RawFormat(r), 4);
  r.RawFlags = {};
  EXPECT_EQ(TMessageTextModel::RawFormat(r), 3);
}

TEST(MessageTextModel, GutterStampsOncePerMinute) {
  TMessageTextModel m = MainView();
  const auto line = [&m](int h, int n, int sec, int ms) {
    TCharInfo r = Corr('A', {cfVisible, cfVisNewLine});
    r.Utc = EncodeDateTime(2024, 5, 1, h, n, sec, ms);
    m.PutText({r}, {});
  };
  line(0, 1, 10, 0);
  line(0, 1, 59, 999);  // same minute
  line(0, 2, 0, 0);     // a full minute is that minute (times 1440 it falls just below)
  m.PutText({Corr('X', {cfVisible, cfSquelch, cfVisNewLine})}, {});  // hidden: an empty line
  line(0, 5, 0, 0);     // after an empty line
  const std::vector<std::string> want = {"00:01", "", "00:02", "", ""};
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(m.GutterText(static_cast<int64_t>(i)), want[i]) << i;
}

TEST(MessageTextModel, SquelchedTextIsOneWord) {
  TMessageTextModel m;
  m.ShowCorrected = true;
  m.PutText({Corr('A', {cfVisible, cfSquelch}), Corr('B', {cfVisible, cfSquelch, cfWeak}), Corr('C', {cfVisible})}, {});
  EXPECT_EQ(m.PickWord(0, 1).Word, "AB");  // formats 9 and 4
  EXPECT_EQ(m.PickWord(0, 1).Kind, ctWord);
  EXPECT_EQ(m.SampleNoAt(0, 3), -1);
}

}  // namespace
}  // namespace brenvo
