#include "ui/calls_frame.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextBlock>

#include "decoder/message_test_util.h"

namespace brenvo {
namespace {

TCallEstimate Call(const char* txt, float prob, TCqDe cqDe = cdNone) {
  TCallEstimate e;
  e.Txt = txt, e.Prob = prob, e.CqDe = cqDe;
  return e;
}

QTextCharFormat LineFormat(const TCallsFrame& f, int line) {
  return f.ListEdit()->document()->findBlockByNumber(line).begin().fragment().charFormat();
}

// Grey at Prob <= 0.3 compared in double (0.3f is black); the best call bold
// whatever its probability. Any button, left or right of the text, takes the
// whole call of its line; the empty last line beeps and posts nothing.
TEST(CallsFrame, LinesAndClicks) {
  const TCallEstimate c[] = {Call("K1ABC", 0.9f, cdCQ), Call("DL1ABC", 0.2f), Call("G4XYZ", 0.3f),
                             Call("F5ABC", 0.29999998f), Call("OK1XYZ", 0.9f, cdDe)};
  TCallsFrame f;
  f.ShowLines({&c[0], &c[1], &c[2], &c[3], &c[4]}, &c[1]);
  QPlainTextEdit* edit = f.ListEdit();
  EXPECT_EQ(edit->toPlainText(), "CQ K1ABC\n   DL1ABC\n   G4XYZ\n   F5ABC\nDE OK1XYZ\n");
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(LineFormat(f, i).fontWeight() == QFont::Bold, i == 1) << i;
    EXPECT_EQ(LineFormat(f, i).foreground().color(), QColor(i == 1 || i == 3 ? 0x808080 : 0)) << i;
  }

  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  std::string log;
  f.OnUserClick = [&](const std::string& w, Qt::KeyboardModifiers m, Qt::MouseButtons b, bool,
                      int32_t pos, TStateType kind) {
    log += w + (m == Qt::ControlModifier ? "^" : "") + (b == Qt::RightButton ? "R" : "L");
    log += pos == 0 && kind == ctCall ? " " : "? ";
  };
  f.OnBeep = [&] { log += "beep"; };
  auto click = [&](int line, int x, Qt::MouseButton b, Qt::KeyboardModifiers m = {}) {
    const QTextCursor at(edit->document()->findBlockByNumber(line));
    QTest::mouseClick(edit->viewport(), b, m, QPoint(x, edit->cursorRect(at).center().y()));
  };
  click(0, 2, Qt::LeftButton);
  click(4, edit->viewport()->width() - 3, Qt::RightButton, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "OK1XYZ");
  click(5, 20, Qt::LeftButton);
  EXPECT_EQ(log, "K1ABCL OK1XYZ^R beep");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "OK1XYZ");
}

// A storage and its extractor, fed as a receiver feeds them. Without data
// files every well-formed call rates vrWarning.
struct TCallsRig {
  TMessageStorage Ms;
  TCallsignValidator Validator{"/nonexistent", "/nonexistent"};
  TCallExtractor Cx{&Ms, &Validator};

  void Put(uint8_t ch, TWordType type, float sure) {
    TCharInfo r = testing::CodeRecord(CodeTable[ch], sure);
    r.RawCh = r.CorrCh = ch;
    r.ChType = type;
    Ms.PutRawChar(r);
    TCharInfoArray msg{r};
    Ms.PutCorrChars(msg);
    Cx.Update(static_cast<int>(Ms.ChangedChars().size()));
  }
  void Say(std::string_view call, float sure) {  // between blanks
    Put(kChSpace, ctWhiteSpace, 0.99f);
    for (const auto& c : testing::EncodeBaudot(call)) Put(c.Ch, ctCall, sure);
    Put(kChSpace, ctWhiteSpace, 0.99f);
  }
};

// Nothing rated vrWarning or better: the list stays and nothing is posted;
// only calls below 0.01: the list empties and the stack is posted. The
// change is taken either way, so an unchanged extractor does nothing.
TEST(CallsFrame, ShowCallsFollowsTheExtractor) {
  TCallsFrame f;
  int posts = 0;
  bool emptyToo = false;
  f.OnPostCallStack = [&](const TCallExtractor&, bool e) {
    ++posts;
    emptyToo = e;
  };
  TCallsRig bad, faint, good;
  bad.Say("ABCDEF", 0.99f);
  ASSERT_LT(bad.Cx.Calls(0).Vald, vrWarning);
  faint.Say("K1ABC", 0.6f);
  ASSERT_GE(faint.Cx.Calls(0).Vald, vrWarning);
  ASSERT_LT(faint.Cx.Calls(0).Prob, 0.01f);
  for (int k = 0; k < 4; ++k) good.Say("K1ABC", 0.99f);  // four hearings make it the best
  good.Say("G4XYZ", 0.99f);
  ASSERT_EQ(good.Cx.BestCall(), &good.Cx.Calls(1));

  f.ShowCalls(good.Cx);
  EXPECT_EQ(f.ListEdit()->toPlainText(), "   G4XYZ\n   K1ABC\n");
  EXPECT_EQ(LineFormat(f, 1).fontWeight(), QFont::Bold);
  f.ShowCalls(good.Cx);
  f.ShowCalls(bad.Cx);
  EXPECT_FALSE(bad.Cx.Changed());
  EXPECT_EQ(posts, 1);
  EXPECT_EQ(f.ListEdit()->toPlainText(), "   G4XYZ\n   K1ABC\n");
  f.ShowCalls(faint.Cx);
  EXPECT_EQ(posts, 2);
  EXPECT_EQ(f.ListEdit()->toPlainText(), "");
  EXPECT_FALSE(emptyToo);
  // Anew (another channel selected): that channel's calls whatever its flag
  // says, or none, posted either way.
  f.ShowCalls(good.Cx, true);
  EXPECT_EQ(f.ListEdit()->toPlainText(), "   G4XYZ\n   K1ABC\n");
  f.ShowCalls(bad.Cx, true);
  EXPECT_EQ(f.ListEdit()->toPlainText(), "");
  EXPECT_EQ(posts, 4);
  EXPECT_TRUE(emptyToo);
}

// The border lights on a move to a new position and goes out on release or
// leave; a move message with the unchanged position does not light it again.
TEST(CallsFrame, BorderLight) {
  TCallsFrame f;
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  QWidget* vp = f.ListEdit()->viewport();
  auto send = [&](QEvent::Type t, QPoint p) {
    const Qt::MouseButton b = t == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(t, p, vp->mapToGlobal(p), b, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(vp, &e);
  };
  send(QEvent::MouseMove, {5, 5});
  EXPECT_EQ(f.grab().toImage().pixelColor(0, 0), QColor(0x00, 0xFF, 0xFF));
  EXPECT_EQ(f.FreezeTimer().interval(), 500);
  send(QEvent::MouseButtonRelease, {5, 5});
  EXPECT_FALSE(f.BorderLit());
  send(QEvent::MouseMove, {5, 5});
  EXPECT_FALSE(f.BorderLit());
  send(QEvent::MouseMove, {6, 5});
  EXPECT_TRUE(f.BorderLit());
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&f, &leave);
  EXPECT_FALSE(f.BorderLit());
}

}  // namespace
}  // namespace brenvo
