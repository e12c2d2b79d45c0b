#include "ui/marker_strip.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <cmath>
#include <limits>
#include <vector>

#include "receiver/receiver_test_env.h"
#include "receiver/rtty_channels.h"

namespace brenvo {
namespace {

QImage Painted(const TMarkerStrip& s) {
  QImage img(100, 256, QImage::Format_RGB32);
  QPainter p(&img);
  s.Paint(p, img.size(), QApplication::palette());
  return img;
}

// Bounding box of the pixels that differ between two pictures, within `area`
// and, when `colour` is valid, of that colour in `a`.
QRect Changed(const QImage& a, const QImage& b, QRect area, QColor colour = {}) {
  QRect box;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if (a.pixel(x, y) != b.pixel(x, y) && (!colour.isValid() || a.pixel(x, y) == colour.rgb()))
        box |= QRect(x, y, 1, 1);
  return box;
}

// The channel's circle takes columns 0 to 6, the tracked tones' boxes
// columns 9 to 14, each seven rows about its bin's row.
TEST(MarkerStrip, CircleAndBoxes) {
  testing::EnsureDecoderGlobals();
  TRttyChannels chans;
  chans.SelectDefault();
  const TRttyChannel& sel = *chans.Selected();
  TMarkerStrip s;
  s.WaterfallTop = 0;
  s.DefaultMarkBin = 0;  // the dotted lines out of the way
  s.DefaultSpaceBin = 0;
  const QImage bare = Painted(s);
  s.Chans = &chans;
  s.ExpertMode = true;
  const QImage img = Painted(s);
  const int m = s.Row(sel.Rx.Afc.BinM), sp = s.Row(sel.Rx.Afc.BinS);
  const QRect all(0, 0, 100, 256);
  EXPECT_EQ(Changed(img, bare, QRect(0, 0, 8, 256)), QRect(QPoint(0, m - 3), QPoint(6, m + 3)));
  EXPECT_EQ(img.pixel(3, m), QColor(0x00, 0xFF, 0x00).rgb());
  EXPECT_EQ(Changed(img, bare, all, Qt::red), QRect(QPoint(9, m - 3), QPoint(14, m + 3)));
  EXPECT_EQ(Changed(img, bare, all, Qt::blue), QRect(QPoint(9, sp - 3), QPoint(14, sp + 3)));
}

// Contrasts that are not finite numbers draw no bar; huge ones stop at the edge.
TEST(MarkerStrip, BarsOfAnyContrast) {
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    float Contrast;
    int Length;  // pixels of bar right of the scale
  } cases[] = {{0.0f, 8}, {50.0f, 13}, {-200.0f, 0}, {std::nanf(""), 0},
               {inf, 0},  {-inf, 0},   {1e30f, 100 - 8}, {-1e30f, 0}};
  std::vector<float> peaks(256, 0.0f);
  for (std::size_t i = 0; i < std::size(cases); ++i) peaks[100 + i] = cases[i].Contrast;
  TMarkerStrip s;
  s.PeakData = peaks;
  const QImage img = Painted(s);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const int y = s.Row(100 + static_cast<int>(i));
    int n = 0;
    while (TMarkerStrip::kScaleWidth + n < img.width() &&
           img.pixel(TMarkerStrip::kScaleWidth + n, y) == TMarkerStrip::kPeakBar.rgb())
      ++n;
    EXPECT_EQ(n, cases[i].Length) << cases[i].Contrast;
  }
}

}  // namespace
}  // namespace brenvo
