#include "ui/message_text_frame.h"

#include <gtest/gtest.h>

#include <Qsci/qsciscintilla.h>

#include <QMouseEvent>
#include <QTest>
#include <random>
#include <string>
#include <vector>

#include "decoder/baudot_table.h"
#include "decoder/message_storage.h"
#include "receiver/char_batch.h"
#include "ui/text_view_points.h"

namespace brenvo {
namespace {

using Sci = QsciScintillaBase;

struct TBatch {
  TCharInfoArray New, Old;
};

const TDateTime kNoon = EncodeDateTime(2024, 5, 1, 12, 0, 0);

// A storage fed as a receiver feeds it: raw characters (confident and weak,
// line breaks, steady tone, silence, shifts), each followed by a correction
// that rewrites up to 25 of the newest records with other characters,
// kinds and "~". Every step gives the views' batch. Records From to To - 1
// of the stream (sample numbers and times go on from a previous call).
std::vector<TBatch> StorageStream(uint32_t seed, int from, int to, TMessageStorage& ms) {
  std::mt19937 rng(seed);
  const auto pick = [&rng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
  const std::string raw = "CQDEKL15AB____|\xA6\xA9\xF7\xAB\xBB";
  const TWordType kinds[] = {ctLetter, ctWhiteSpace, ctCall, ctCQ, ctDe, ctExchange, ctPunc};
  std::vector<TBatch> out;
  for (int i = from; i < to; ++i) {
    TCharInfo r;
    r.RawCh = static_cast<uint8_t>(raw[pick(raw.size())]);
    const float one = pick(4) == 0 ? 0.6f : 0.99f;
    if (CodeTable[r.RawCh] != kNoCode)
      for (int b = 0; b < 5; ++b) r.BitProbs.Set(b, (CodeTable[r.RawCh] >> b) & 1 ? one : 1 - one);
    r.SampleNo = 7 * i;
    r.Utc = kNoon + i * 9.0 / 86400;
    ms.PutRawChar(r);
    TCharInfoArray msg(std::min<std::size_t>(pick(25) + 1, static_cast<std::size_t>(ms.HiChar()) + 1));
    for (std::size_t k = 0; k < msg.size(); ++k) {
      msg[k] = ms.Char(ms.HiChar() + 1 - static_cast<int>(msg.size() - k));
      msg[k].CorrCh = pick(5) == 0 ? 'X' : msg[k].RawCh;
      msg[k].MetaCh = pick(8) == 0 ? kChSeparator : 0;
      msg[k].ChType = kinds[pick(std::size(kinds))];
    }
    ms.PutCorrChars(msg);
    TBatch b;
    GetCharBatch(ms, b.New, b.Old);
    out.push_back(std::move(b));
  }
  return out;
}

struct TViewCase {
  const char* Name;
  bool Corrected, CtrlChars, Squelched;
};
void PrintTo(const TViewCase& v, std::ostream* os) { *os << v.Name; }
const TViewCase kViews[] = {{"main", true, false, false}, {"raw", false, true, true}, {"engine", true, false, true}};

void SetUpView(TMessageTextFrame& f, const TViewCase& v) {
  f.SetShowCorrected(v.Corrected);
  f.SetShowCtrlChars(v.CtrlChars);
  f.SetShowSquelched(v.Squelched);
  f.resize(400, 160);
  f.show();
}

void ExpectSameText(const TMessageTextModel& a, const TMessageTextModel& b) {
  ASSERT_EQ(a.Lines(), b.Lines());
  for (std::size_t l = 0; l < a.TextInfo().size(); ++l)
    for (std::size_t c = 0; c < a.TextInfo()[l].size(); ++c) {
      const TTextCharInfo &x = a.TextInfo()[l][c], &y = b.TextInfo()[l][c];
      ASSERT_EQ(x.Format, y.Format) << l << ":" << c;
      ASSERT_EQ(x.SampleNo, y.SampleNo) << l << ":" << c;
      if (x.Format != TMessageTextModel::kBarFormat) {
        ASSERT_EQ(x.Utc, y.Utc) << l << ":" << c;
      }
    }
}

// The editor shows exactly the model: its text, a style per character for
// the character's format, and the gutter's minute stamps.
void ExpectEditorFollowsModel(const TMessageTextFrame& f) {
  QsciScintilla& s = *f.Syn();
  const TMessageTextModel& m = f.Model();
  ASSERT_EQ(s.text().toUtf8().toStdString(), m.Utf8Text());
  s.SendScintilla(Sci::SCI_COLOURISE, 0UL, -1L);
  long pos = 0;
  for (std::size_t l = 0; l < m.Lines().size(); ++l) {
    for (std::size_t c = 0; c < m.Lines()[l].size(); ++c) {
      const auto len = static_cast<long>(Cp1252CharToUtf8(static_cast<uint8_t>(m.Lines()[l][c])).size());
      for (long b = 0; b < len; ++b, ++pos)
        ASSERT_EQ(s.SendScintilla(Sci::SCI_GETSTYLEAT, static_cast<unsigned long>(pos)), m.TextInfo()[l][c].Format)
            << l << ":" << c;
    }
    ++pos;  // the line feed
    char stamp[16] = {};
    const long n = s.SendScintilla(Sci::SCI_MARGINGETTEXT, static_cast<unsigned long>(l), static_cast<void*>(stamp));
    ASSERT_EQ(std::string(stamp, static_cast<std::size_t>(n)), m.GutterText(static_cast<int64_t>(l))) << l;
  }
}

class MessageTextFrameViews : public testing::TestWithParam<TViewCase> {};
INSTANTIATE_TEST_SUITE_P(Views, MessageTextFrameViews, testing::ValuesIn(kViews),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_P(MessageTextFrameViews, BatchByBatchEqualsTheWholeStorageAtOnce) {
  TMessageStorage ms;
  const std::vector<TBatch> batches = StorageStream(1, 0, 600, ms);
  TMessageTextFrame stream, whole;
  SetUpView(stream, GetParam());
  SetUpView(whole, GetParam());
  for (const TBatch& b : batches) stream.PutText(b.New, b.Old);
  ASSERT_LT(stream.Model().Lines().size(), 100u);  // no line dropped
  ASSERT_GT(stream.Model().Lines().size(), 10u);
  whole.PutText(TCharInfoArray(ms.Chars().begin(), ms.Chars().begin() + ms.HiChar() + 1), {});
  ExpectSameText(stream.Model(), whole.Model());
  ExpectEditorFollowsModel(stream);
  ExpectEditorFollowsModel(whole);
}

void MoveMouse(TMessageTextFrame& f, QPoint pos) {
  QMouseEvent e(QEvent::MouseMove, pos, f.Syn()->viewport()->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                Qt::NoModifier);
  QApplication::sendEvent(f.Syn()->viewport(), &e);
}

TEST_P(MessageTextFrameViews, PausedThenFlushedEqualsNeverPaused) {
  // One channel; a channel change: the bar and the new channel's latest
  // text; then the new channel's batches.
  TMessageStorage a, b;
  std::vector<TBatch> calls = StorageStream(2, 0, 300, a);
  const std::size_t change = calls.size();
  StorageStream(3, 0, 200, b);
  TCharInfoArray latest;
  b.GetLatest(latest);
  calls.push_back({latest, {}});
  for (TBatch& x : StorageStream(4, 200, 400, b)) calls.push_back(std::move(x));

  TMessageTextFrame plain, paused;
  SetUpView(plain, GetParam());
  SetUpView(paused, GetParam());
  std::mt19937 rng(4);
  int held = 0, x = 10;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    // Paused with batches held back when the bar comes.
    if (i + 3 == change) paused.SetFreezeState(fsOn);
    if (i == change) {
      plain.PutQsxBar(2295);
      paused.PutQsxBar(2295);
    }
    const auto dice = i + 3 >= change && i <= change ? 99 : rng() % 20;
    if (dice == 0) MoveMouse(paused, QPoint(x++ % 300, 20));
    if (dice == 1) QTest::mouseRelease(paused.Syn()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    if (dice == 2) {
      QEvent leave(QEvent::Leave);
      QApplication::sendEvent(&paused, &leave);
    }
    plain.PutText(calls[i].New, calls[i].Old);
    paused.PutText(calls[i].New, calls[i].Old);
    held += paused.FreezeState() == fsOn;
  }
  QTest::mouseRelease(paused.Syn()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(paused.FreezeState(), fsOff);
  EXPECT_GT(held, 20);
  ExpectSameText(plain.Model(), paused.Model());
  ExpectEditorFollowsModel(paused);
}

TCharInfo Rec(uint8_t ch, TCharFlags flags, TWordType type = ctLetter, TDateTime utc = kNoon, int32_t sampleNo = 0) {
  TCharInfo r;
  r.RawCh = r.CorrCh = ch;
  r.RawFlags = r.CorrFlags = flags;
  r.ChType = type;
  r.Utc = utc;
  r.SampleNo = sampleNo;
  return r;
}

TEST(MessageTextFrame, LineLimitDropsTheFirstLineOfTheEditorToo) {
  for (const int lines : {100, 101}) {
    TMessageTextFrame f;
    SetUpView(f, kViews[0]);
    // One minute stamp, on the first line; the new first line gets its own.
    for (int i = 0; i < lines; ++i) f.PutText({Rec(static_cast<uint8_t>('A' + i % 26), {cfVisible, cfVisNewLine})}, {});
    f.PutText({Rec('Z', {cfVisible})}, {});
    EXPECT_EQ(f.Model().Lines().size(), 100u) << lines;
    EXPECT_EQ(f.Model().Lines()[0], lines == 100 ? "A" : "B");
    EXPECT_EQ(f.Model().GutterText(0), "12:00");
    ExpectEditorFollowsModel(f);
  }
}

TEST(MessageTextFrame, WordAndSampleUnderTheMouse) {
  TMessageTextFrame f;
  SetUpView(f, kViews[0]);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  const std::string text = "CQ_DE_DL1ABC_K";
  const TWordType kinds[] = {ctCQ, ctCQ, ctWhiteSpace, ctDe, ctDe, ctWhiteSpace, ctCall, ctCall,
                             ctCall, ctCall, ctCall, ctCall, ctWhiteSpace, ctLetter};
  for (std::size_t i = 0; i < text.size(); ++i)
    f.PutText({Rec(static_cast<uint8_t>(text[i]), {cfVisible}, kinds[i], kNoon, 100 + static_cast<int32_t>(i))}, {});
  f.PutQsxBar(2295);
  f.PutText({Rec('C', {cfVisible}, ctCQ)}, {});  // on the bar's line
  ExpectEditorFollowsModel(f);
  struct TCase {
    QPoint Pos;
    std::string Word;
    TStateType Kind;
    int32_t ClickPos, SampleNo;
  } const cases[] = {
      {PointOf(f, 0, 8), "DL1ABC", ctCall, 2, 108},  // the third character of the call sign
      {PointOf(f, 0, 1), "CQ", ctWord, 1, 101},
      {PointOf(f, 0, 12), " K", ctWord, 0, 112},
      {PointOf(f, 1, 3), " QSX 2295 Hz", ctWord, 3, TMessageTextModel::kBarSampleNo},
      {PointOf(f, 1, 12), "C", ctWord, 0, 0},  // text after the bar is no part of it
      {PointOf(f, 0, 13) + QPoint(60, 0), "", ctNone, 0, -1},  // right of the line's end
  };
  for (const TCase& c : cases) {
    const TWordPick pick = f.WordAt(c.Pos);
    EXPECT_EQ(pick.Word, c.Word);
    EXPECT_EQ(pick.Kind, c.Kind) << c.Word;
    EXPECT_EQ(pick.ClickPos, c.ClickPos) << c.Word;
    EXPECT_EQ(f.SampleNoAt(c.Pos), c.SampleNo) << c.Word;
  }
  // A click: the handler asks about the character under the mouse.
  std::string clicked;
  f.OnMouseDown = [&](const QMouseEvent&) { clicked = f.WordUnderMouse(); };
  QTest::mouseClick(f.Syn()->viewport(), Qt::LeftButton, {}, cases[0].Pos);
  EXPECT_EQ(clicked, "DL1ABC");
}

// Every format as drawn: a character's cell holds its foreground colour,
// and only the channel-change bar's cells its light sky-blue background.
TEST(MessageTextFrame, ColoursAsDrawn) {
  TMessageTextFrame f;
  SetUpView(f, kViews[2]);  // corrected, squelched text shown
  f.resize(800, 300);
  f.SetFontSize(40);  // strokes wider than the edges smoothing blends
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  const TWordType kinds[] = {ctLetter, ctCall, ctCQ, ctExchange, ctLetter};
  for (int format = 0; format < 10; ++format) {  // 0 .. 4 weak, 5 .. 9 confident
    TCharFlags flags{cfVisible};
    if (format < 5) flags.Include(cfWeak);
    if (format % 5 == 4) flags.Include(cfSquelch);
    f.PutText({Rec('H', flags, kinds[format % 5])}, {});
  }
  f.PutQsxBar(2295);
  ASSERT_EQ(f.Model().Lines(), (std::vector<std::string>{"HHHHHHHHHH", " QSX 2295 Hz"}));
  const QImage img = f.Syn()->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const qreal dpr = f.Syn()->viewport()->devicePixelRatioF();
  // Pixels of colour c in the cell of character ch of line.
  const int w = PointOf(f, 0, 1).x() - PointOf(f, 0, 0).x();
  const int h = static_cast<int>(f.Syn()->SendScintilla(Sci::SCI_TEXTHEIGHT, 0UL));
  const auto count = [&](int line, int ch, QRgb c) {
    const QPoint centre = PointOf(f, line, ch);
    int n = 0;
    for (int x = centre.x() - w / 2; x < centre.x() + w / 2; ++x)
      for (int y = centre.y() - h / 2; y < centre.y() + h / 2; ++y) n += img.pixel(QPoint(x, y) * dpr) == c;
    return n;
  };
  const QRgb foreground[] = {0x888888, 0xFF8888, 0x88FF88, 0x8888FF, 0xFF88FF,
                             0x000000, 0xFF0000, 0x008000, 0x0000FF, 0xFF00FF};
  const QRgb bar = qRgb(0xA6, 0xCA, 0xF0);
  for (int format = 0; format < 10; ++format) {
    EXPECT_GT(count(0, format, foreground[format] | 0xFF000000), 0) << format;
    EXPECT_EQ(count(0, format, bar), 0) << format;
  }
  EXPECT_GT(count(1, 2, qRgb(0x00, 0x00, 0xFF)), 0);  // "Q" of the bar
  EXPECT_GT(count(1, 2, bar), 0);
}

TEST(MessageTextFrame, FollowsTheEndOnlyWhileItIsInSight) {
  TMessageTextFrame f;
  SetUpView(f, kViews[0]);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  const auto addLine = [&f] {
    f.PutText({Rec('L', {cfVisible, cfVisNewLine})}, {});
    for (int i = 0; i < 80; ++i) f.PutText({Rec(i % 6 ? 'W' : '_', {cfVisible})}, {});  // wraps
  };
  for (int i = 0; i < 20; ++i) addLine();
  ASSERT_GT(f.DisplayLineCount(), 20 + f.LinesInWindow());
  EXPECT_GT(f.TopLine(), 0);
  EXPECT_EQ(f.DisplayLineCount() - f.TopLine(), f.LinesInWindow());
  f.SetTopLine(3);
  addLine();
  EXPECT_EQ(f.TopLine(), 3);
}

// A resize is no scroll: the last row stays in sight when it was, and a view
// scrolled back keeps its top line, whether it grows or shrinks, in height
// or in width (its wrapped lines then take fewer or more rows).
TEST(MessageTextFrame, ResizesKeepTheEndInSightOrThePlace) {
  for (const QSize size : {QSize(400, 90), QSize(400, 260), QSize(250, 160), QSize(600, 160)})
    for (const bool back : {false, true}) {
      SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height() << (back ? " back" : " end"));
      QWidget window;
      window.resize(640, 320);
      auto* f = new TMessageTextFrame(&window);
      SetUpView(*f, kViews[0]);
      window.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
      const auto addLine = [f] {
        f->PutText({Rec('L', {cfVisible, cfVisNewLine})}, {});
        for (int i = 0; i < 80; ++i) f->PutText({Rec(i % 6 ? 'W' : '_', {cfVisible})}, {});
      };
      const auto topDocLine = [f] { return f->Syn()->SendScintilla(Sci::SCI_DOCLINEFROMVISIBLE, f->TopLine()); };
      for (int i = 0; i < 20; ++i) addLine();
      if (back) f->SetTopLine(f->Syn()->SendScintilla(Sci::SCI_VISIBLEFROMDOCLINE, 2UL));
      const long top = topDocLine();
      const auto expectKept = [&](const char* when) {
        if (back) {
          EXPECT_EQ(topDocLine(), top) << when;
        } else {
          EXPECT_EQ(f->DisplayLineCount() - f->TopLine(), f->LinesInWindow()) << when;
        }
      };
      f->resize(size);
      expectKept("resized");
      addLine();
      expectKept("then a line");
    }
}

// The status fits its width, the default window's and the least one:
// wrapped at its spaces, a path wider than a line shortened in its middle,
// the reason after it whole.
TEST(MessageTextFrame, StatusFitsItsWidth) {
  const std::string reason = " exited with status 1";
  const std::string exes[] = {"/opt/engines/rtty/minimodem_rtty_engine_wrapp.sh", "/opt/" + std::string(90, 'x') + "/e.sh"};
  for (const int width : {478, 277})
    for (const std::string& exe : exes) {
      SCOPED_TRACE(testing::Message() << width << " " << exe);
      TMessageTextFrame f;
      f.resize(width, 145);
      f.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
      const std::string text = "Not Connected: " + exe + reason;
      f.ShowStatus(text);
      EXPECT_TRUE(QTest::qWaitFor([&] { return StatusFits(f); }, 2000));
      EXPECT_EQ(f.StatusText().toStdString(), text);
      const QString shown = f.StatusLabel()->text();
      EXPECT_TRUE(shown.startsWith("Not Connected: ") && shown.endsWith(QString::fromStdString(reason)))
          << shown.toStdString();
    }
}

TEST(MessageTextFrame, PauseRim) {
  TMessageTextFrame f;
  SetUpView(f, kViews[0]);
  const QColor off = f.RimColor();
  MoveMouse(f, QPoint(30, 10));
  EXPECT_EQ(f.FreezeState(), fsFreezing);
  EXPECT_EQ(f.RimColor(), QColor(0x00, 0xFF, 0xFF));
  EXPECT_TRUE(f.FreezeTimer().isActive());
  EXPECT_EQ(f.FreezeTimer().interval(), 500);
  f.PutText({Rec('A', {cfVisible})}, {});  // no line start: drawn
  f.PutText({Rec('B', {cfVisible, cfVisNewLine})}, {});
  EXPECT_EQ(f.FreezeState(), fsOn);
  EXPECT_EQ(f.RimColor(), QColor(0xFF, 0x00, 0x00));
  MoveMouse(f, QPoint(31, 10));
  EXPECT_EQ(f.FreezeState(), fsFreezing);
  f.PutText({Rec('C', {cfVisible})}, {});  // still held back
  EXPECT_EQ(f.Model().Lines(), std::vector<std::string>{"A"});
  QTRY_COMPARE_WITH_TIMEOUT(f.FreezeState(), fsOff, 5000);
  EXPECT_EQ(f.RimColor(), off);
  EXPECT_EQ(f.Model().Lines(), (std::vector<std::string>{"A", "BC"}));
  // Clearing drops what is held back; the pause stays until the mouse leaves.
  f.SetFreezeState(fsOn);
  f.PutText({Rec('D', {cfVisible})}, {});
  f.Clear();
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&f, &leave);
  EXPECT_EQ(f.FreezeState(), fsOff);
  EXPECT_TRUE(f.Model().Lines().empty());
  ExpectEditorFollowsModel(f);
}

}  // namespace
}  // namespace brenvo
