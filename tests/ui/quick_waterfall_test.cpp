#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QtTest/QTest>
#include <cmath>
#include <limits>
#include <vector>

#include "ui/quick_waterfall.h"

namespace brenvo {
namespace {

// The main window's settings, in its order.
void MainWindowSettings(TQuickWaterFall& W) {
  W.SetFirstColor(Qt::white);
  W.SetLastColor(QColor(0x80, 0x00, 0x80));
  W.SetGamma(1.0f);
  W.SetContrast(20.0f);
  W.SetBrightness(-15.0f);
  W.SetHistoryLength(3000);
  W.SetHistoryHeight(256);
  W.SetPseudoColors(true);
}

struct TPaletteCase {
  bool Pseudo;
  float Gamma;
  int Index;
  QRgb Expected;
};

TEST(QuickWaterFall, PaletteEntries) {
  const TPaletteCase Cases[] = {
      {true, 1.0f, 0, qRgb(0x00, 0x00, 0x00)},    {true, 1.0f, 9, qRgb(0xA6, 0xCA, 0xF0)},
      {true, 1.0f, 246, qRgb(0xFF, 0xFB, 0xF0)},  {true, 1.0f, 249, qRgb(0xFF, 0x00, 0x00)},
      {true, 1.0f, 10, qRgb(0x00, 0x23, 0x2F)},   {true, 1.0f, 11, qRgb(1, 36, 49)},
      {true, 1.0f, 57, qRgb(0x30, 0x40, 0x80)},   {true, 1.0f, 104, qRgb(0x00, 0xFF, 0xFF)},
      {true, 1.0f, 151, qRgb(0xFF, 0xFF, 0x00)},  {true, 1.0f, 198, qRgb(0xFF, 0x00, 0x00)},
      {true, 1.0f, 245, qRgb(0xFF, 0xFF, 0xFF)},  {false, 1.0f, 10, qRgb(0x00, 0x00, 0x00)},
      {false, 1.0f, 128, qRgb(128, 128, 128)},    {false, 2.0f, 128, qRgb(64, 64, 64)},
      {false, 2.0f, 245, qRgb(0xFF, 0xFF, 0xFF)},
  };
  TQuickWaterFall W;
  W.SetFirstColor(Qt::black);
  W.SetLastColor(Qt::white);
  for (const auto& C : Cases) {
    W.SetPseudoColors(C.Pseudo);
    W.SetGamma(C.Gamma);
    EXPECT_EQ(W.Bitmap().color(C.Index), C.Expected) << "index " << C.Index << " gamma " << C.Gamma;
  }
}

TEST(QuickWaterFall, StopsRoundHalfToEven) {
  // 95 stops are 2.5 entries apart: the second lands on 12, not 13.
  std::vector<QColor> Stops(95, Qt::black);
  Stops[1] = Qt::white;
  TQuickWaterFall W;
  W.BuildCustomPalette(Stops);
  EXPECT_EQ(W.Bitmap().color(12), qRgb(255, 255, 255));
  EXPECT_EQ(W.Bitmap().color(13), qRgb(170, 170, 170));
  EXPECT_THROW(W.BuildCustomPalette(std::span<const QColor>(Stops.data(), 1)), std::invalid_argument);
}

struct TPixelCase {
  float Value;
  bool RawWriter;
  int Index;
};

TEST(QuickWaterFall, PushedValuesBecomeIndices) {
  const float Inf = std::numeric_limits<float>::infinity(), NaN = std::numeric_limits<float>::quiet_NaN();
  const TPixelCase Cases[] = {
      {0.0f, false, 10},  {1.0f, false, 15},  {13.0f, false, 245}, {999.0f, false, 249}, {998.0f, false, 247},
      {0.824999988f, false, 11},  // 20 v - 15 = 1.4999998: no half to round up
      {NaN, false, 10},   {Inf, false, 10},   {-Inf, false, 10},   {1e30f, false, 245},  {1.0f, true, 10},
      {13.0f, true, 245}, {999.0f, true, 245}, {NaN, true, 10},    {Inf, true, 10},
  };
  TQuickWaterFall W;
  MainWindowSettings(W);
  for (const auto& C : Cases) {
    const int Col = W.Offset();
    // Three values; the fourth row must stay as it was.
    const std::vector<float> Column = {C.Value, C.Value, C.Value, 13.0f};
    if (C.RawWriter)
      W.PushSpectrum(Column.data(), 3);
    else
      W.PushSpectrum(TSingleArray(Column.begin(), Column.begin() + 3));
    for (int K = 0; K < 3; ++K) EXPECT_EQ(W.Bitmap().pixelIndex(Col, 255 - K), C.Index) << C.Value;
    EXPECT_EQ(W.Bitmap().pixelIndex(Col, 252), TQuickWaterFall::IdxB);
  }
}

TEST(QuickWaterFall, ColumnLengthAgainstHeight) {
  TQuickWaterFall W;
  MainWindowSettings(W);
  W.show();  // a later resize would widen the history again
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&W));
  W.SetHistoryLength(2);
  W.PushSpectrum(TSingleArray(300, 13.0f));  // cut to 256 rows
  W.PushSpectrum(TSingleArray(3, 0.0f));
  W.PushSpectrum(TSingleArray(3, 1.0f));  // back on column 0
  EXPECT_EQ(W.Bitmap().pixelIndex(0, 0), 245);
  EXPECT_EQ(W.Bitmap().pixelIndex(0, 252), 245);
  EXPECT_EQ(W.Bitmap().pixelIndex(0, 253), 15);
  // The 256 pixels wide view reaches back past the two-column ring.
  const QImage Shot = W.grab().toImage();
  EXPECT_EQ(Shot.pixel(255, 255), W.Bitmap().color(15));
  EXPECT_EQ(Shot.pixel(0, 255), W.BgColor().rgb());
}

// 3100 pushes wrap the ring: the view of the newest columns reads across
// column 0 and shows rows 32..255 at the main window's height.
TEST(QuickWaterFall, RingWrapsWithoutASeam) {
  TQuickWaterFall W;
  MainWindowSettings(W);
  W.SetContrast(1.0f);
  W.SetBrightness(0.0f);
  W.resize(400, 224);
  const int Pushes = 3100;
  TSingleArray Column(224);
  for (int J = 0; J < Pushes; ++J) {
    for (int K = 0; K < 224; ++K) Column[size_t(K)] = float((J + K) % 236);
    W.PushSpectrum(Column);
    if (J == 2999) {
      EXPECT_EQ(W.Offset(), 0);
    }
  }
  const QImage Shot = W.grab().toImage();
  int Wrong = 0;
  for (int X = 0; X < 400; ++X)
    for (int Y = 0; Y < 224; Y += 37) {
      const int J = Pushes - 400 + X, K = 223 - Y;
      Wrong += Shot.pixel(X, Y) != W.Bitmap().color(10 + (J + K) % 236);
    }
  EXPECT_EQ(Wrong, 0);
}

TEST(QuickWaterFall, PushRepaintsOnlyTheNewColumn) {
  TQuickWaterFall W;
  W.resize(300, 224);
  W.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&W));
  QApplication::processEvents();
  W.PushSpectrum(TSingleArray(224, 5.0f));
  QApplication::processEvents();
  EXPECT_EQ(W.PaintRect(), QRect(299, 0, 1, 224));
}

TEST(QuickWaterFall, VertMoveKeepsTheFraction) {
  TQuickWaterFall W;
  W.PushSpectrum(TSingleArray(1, 13.0f));  // bottom row of column 0
  const int Bg = W.Bitmap().pixelIndex(1, 255);
  W.VertMove(0.6f);  // one row up, -0.4 kept
  EXPECT_EQ(W.Bitmap().pixelIndex(0, 254), 62);
  EXPECT_EQ(W.Bitmap().pixelIndex(0, 255), Bg);
  W.VertMove(0.6f);  // 0.2: stays
  EXPECT_EQ(W.Bitmap().pixelIndex(0, 254), 62);
  W.VertMove(-1.4f);  // -1.2: one row down
  EXPECT_EQ(W.Bitmap().pixelIndex(0, 255), 62);
  EXPECT_THROW(W.VertMove(std::nanf("")), std::invalid_argument);
}

void SendMouse(QWidget& W, QEvent::Type Type, int X, Qt::MouseButton Button, Qt::MouseButtons Held) {
  QMouseEvent E(Type, QPointF(X, 10), W.mapToGlobal(QPointF(X, 10)), Button, Held, Qt::NoModifier);
  QApplication::sendEvent(&W, &E);
}

TEST(QuickWaterFall, DragMovesThroughTheHistory) {
  for (const bool Allowed : {false, true}) {
    TQuickWaterFall W;
    W.resize(400, 224);
    W.SetDragAllowed(Allowed);
    int Downs = 0, Ups = 0;
    W.OnMouseDown = [&](QMouseEvent*) { ++Downs; };
    W.OnMouseUp = [&](QMouseEvent*) { ++Ups; };
    SendMouse(W, QEvent::MouseButtonPress, 300, Qt::LeftButton, Qt::LeftButton);
    SendMouse(W, QEvent::MouseMove, 320, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(W.DragPos(), 0);  // not past the threshold yet
    SendMouse(W, QEvent::MouseMove, 350, Qt::NoButton, Qt::LeftButton);
    SendMouse(W, QEvent::MouseButtonRelease, 350, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(W.DragPos(), Allowed ? 50 : 0);
    EXPECT_EQ(Downs, 1);
    EXPECT_EQ(Ups, Allowed ? 0 : 1);  // the end of a drag is no click
  }
}

TEST(QuickWaterFall, WidenedControlClearsTheHistory) {
  TQuickWaterFall W;
  W.PushSpectrum(TSingleArray(3, 13.0f));
  W.resize(3100, 224);
  W.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&W));
  EXPECT_EQ(W.HistoryLength(), 3100);
  EXPECT_EQ(W.Offset(), 0);
  EXPECT_EQ(W.Bitmap().pixelIndex(0, 255), TQuickWaterFall::IdxB);
}

}  // namespace
}  // namespace brenvo
