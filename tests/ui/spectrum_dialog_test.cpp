#include <QTest>
#include <gtest/gtest.h>

#include "ui/paint_area.h"
#include "ui/spectrum_dialog.h"

namespace brenvo {
namespace {

struct TPeakCase {
  std::vector<std::pair<int32_t, int>> Counts;  // (stop length, how many)
  double PeakMs;
};

TEST(StopHisto, PeakLength) {
  const TPeakCase cases[] = {
      {{{11, 10}, {12, 20}, {13, 10}}, 12.0 / 0.375},
      // 7 and 34 are counted but never the peak.
      {{{7, 50}, {34, 50}, {20, 1}}, 20.0 / 0.375},
      // Equal maxima: the last one is the peak.
      {{{10, 5}, {20, 5}}, 20.0 / 0.375},
      // A lopsided peak: the parabola's vertex.
      {{{19, 2}, {20, 6}, {21, 4}}, (20.0 + 0.5 * 2.0 / 6.0) / 0.375},
  };
  for (const TPeakCase& c : cases) {
    TStopHisto h;
    for (auto [len, n] : c.Counts)
      for (int i = 0; i < n; ++i) h.Add(len);
    EXPECT_NEAR(h.PeakLength(), c.PeakMs, 1e-5);
  }
}

TEST(StopHisto, OnlySevenToThirtyFourCount) {
  TStopHisto h;
  for (int32_t len : {6, 35, -1, 7, 34}) h.Add(len);
  EXPECT_EQ(h.HistoCnt(), 2);
  EXPECT_EQ(h.Count(7), 1);
  EXPECT_EQ(h.Count(34), 1);
  EXPECT_EQ(h.Count(6), 0);
}

TEST(SpectrumDialog, ReadoutFromTheEleventhLengthAndClearedByAClick) {
  TSpectrumDialog d;
  d.show();
  for (int i = 0; i < 10; ++i) d.UpdateHisto(12);
  d.UpdateHisto(35);  // ignored: still ten
  EXPECT_EQ(d.Readout(), "____");
  d.UpdateHisto(12);
  EXPECT_EQ(d.Readout(), "32.0 ms");
  for (int32_t len : {13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 13, 14})
    d.UpdateHisto(len);  // 12 and 13 both 11, 14 lower: 12.5 frames
  EXPECT_EQ(d.Readout(), "33.3 ms");

  QTest::mouseClick(d.Bars(), Qt::LeftButton, {}, QPoint(50, 50));
  EXPECT_EQ(d.Readout(), "");
  EXPECT_EQ(d.StopHisto().HistoCnt(), 0);
}

TEST(SpectrumDialog, BarsAndGrid) {
  TSpectrumDialog d;  // 204 x 168: bars stand on row 164
  for (int i = 0; i < 200; ++i) d.UpdateHisto(12);
  d.UpdateHisto(13);
  const QImage img = d.Bars()->grab().toImage();
  ASSERT_EQ(img.height(), 168);
  const QRgb green = qRgb(0x00, 0x80, 0x00), silver = qRgb(0xC0, 0xC0, 0xC0), white = qRgb(255, 255, 255);
  // Scale 161 * 0.9 / 200 = 0.7245: 200 counts are 145 pixels, 1 count 1.
  const int x12 = (12 - 7) * 6 + 7, x13 = x12 + 6;
  EXPECT_EQ(img.pixel(x12, 164 - 145), green);
  EXPECT_EQ(img.pixel(x12 + 3, 164), green);
  EXPECT_EQ(img.pixel(x12, 164 - 146), white);
  EXPECT_EQ(img.pixel(x13, 163), green);
  EXPECT_EQ(img.pixel(x13, 162), white);
  EXPECT_EQ(img.pixel(7, 164), silver);  // no count at 7: a segment on the base row
  EXPECT_EQ(img.pixel(7, 163), white);
  EXPECT_EQ(img.pixel(27, 0), silver);
  EXPECT_EQ(img.pixel(27, 165), white);
}

}  // namespace
}  // namespace brenvo
