#include "ui/meter_frame.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <cmath>
#include <vector>

#include "ui/paint_area.h"

namespace brenvo {
namespace {

// Posts with blocks 20, 40, 60 ..., each the largest of exactly the last 20
// values; collapsed, the meter still posts. The printed value is not limited
// and a value rounding to zero shows no sign.
TEST(MeterFrame, PostsAndPrintsTheMaxOfTheLastTwentyBlocks) {
  TMeterFrame m;
  std::vector<float> posts;
  m.OnPostSMeter = [&](float db) { posts.push_back(db); };
  for (int block = 1; block <= 40; ++block)
    m.Refresh(block == 3 ? 99.0f : block == 20 ? 77.0f : block == 21 ? 50.0f : block % 7);
  EXPECT_EQ(posts, (std::vector<float>{99.0f, 50.0f}));
  m.ShowMeter(false);
  const struct {
    float Db;
    const char* Text;
  } cases[] = {{-7.4f, "-7 dB"}, {123.6f, "124 dB"}, {2.5f, "2 dB"}, {-0.4f, "0 dB"}};
  for (const auto& c : cases) {
    for (int k = 0; k < TMeterFrame::kPeriod; ++k) m.Refresh(c.Db);
    EXPECT_EQ(posts.back(), c.Db);
    EXPECT_EQ(m.DisplayText(), c.Text) << c.Db;
  }
  EXPECT_EQ(posts.size(), 6u);
}

TEST(MeterFrame, NeedleGeometry) {
  const struct {
    float Db;
    QPoint End;
  } cases[] = {{-10.0f, {12, 26}}, {0.0f, {12, 26}},    {50.0f, {61, 5}},
               {100.0f, {110, 26}}, {250.0f, {110, 26}}, {std::nanf(""), {12, 26}}};  // no number: the left stop
  for (const auto& c : cases) EXPECT_EQ(TMeterFrame::NeedleEnd(c.Db), c.End) << c.Db;

  TMeterFrame m;  // the needle follows every block
  m.resize(TMeterFrame::kOpenWidth, TMeterFrame::kOpenHeight);
  m.Refresh(50.0f);
  const QImage img = m.HistoBox()->grab().toImage();
  EXPECT_EQ(img.pixelColor(61, 8), QColor(Qt::red));
  EXPECT_EQ(img.pixelColor(61, 30), QColor(Qt::red));
  // Opaque: beside the dial the box is filled, not left as it was.
  EXPECT_EQ(img.pixelColor(img.width() - 1, img.height() - 1), m.palette().color(QPalette::Window));
}

// A click on the dial collapses the meter to its strip; one on the strip
// opens it again.
TEST(MeterFrame, ClickTogglesTheDial) {
  QWidget host;
  TMeterFrame m(&host);
  m.resize(TMeterFrame::kOpenWidth, m.height());
  host.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
  QTest::mouseClick(m.HistoBox(), Qt::LeftButton, {}, QPoint(60, 20));
  EXPECT_FALSE(m.IsMeterShowing());
  EXPECT_EQ(m.height(), TMeterFrame::kCollapsedHeight);
  QTest::mouseClick(&m, Qt::LeftButton, {}, QPoint(30, 2));
  EXPECT_TRUE(m.IsMeterShowing());
  EXPECT_EQ(m.height(), TMeterFrame::kOpenHeight);
  // A double click is one click, on the dial as on its border.
  for (QWidget* w : {static_cast<QWidget*>(m.HistoBox()), static_cast<QWidget*>(&m)}) {
    const bool before = m.IsMeterShowing();
    for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                           QEvent::MouseButtonRelease}) {
      QMouseEvent e(t, QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)), Qt::LeftButton,
                    t == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(w, &e);
    }
    EXPECT_NE(m.IsMeterShowing(), before) << w->metaObject()->className();
  }
}

}  // namespace
}  // namespace brenvo
