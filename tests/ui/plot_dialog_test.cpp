#include <QSlider>
#include <gtest/gtest.h>

#include <vector>

#include "ui/paint_area.h"
#include "ui/plot_dialog.h"

namespace brenvo {
namespace {

struct TRangeCase {
  int64_t HistCnt;
  int32_t SampleNo;
  int Width;
  int64_t Centre, First, Last;
};

TEST(PlotDialog, FrameRange) {
  constexpr int64_t k31 = int64_t{1} << 31, k32 = int64_t{1} << 32;
  const TRangeCase cases[] = {
      {100000, 50000, 600, 50000, 49950, 50050},
      {100000, 50000, 606, 50000, 49949, 50051},  // 303 / 6 rounds up to 51
      // Older than the ring: from the oldest frame it holds.
      {100000, 34474, 600, 34474, 100000 - 65536, 34524},
      // Beyond the newest: up to the newest.
      {1000, 990, 600, 990, 940, 999},
      {0, 10, 600, 10, 0, -1},
      // Near the 32-bit maximum, and after the sample number has wrapped.
      {k31 + 100, INT32_MAX - 9, 600, k31 - 10, k31 - 60, k31 + 40},
      {k32 + 1000, 500, 600, k32 + 500, k32 + 450, k32 + 550},
      {k31 + 100, INT32_MIN + 50, 600, k31 + 50, k31, k31 + 99},
  };
  for (const TRangeCase& c : cases) {
    const TPlotFrames f = PlotFrameRange(c.HistCnt, c.SampleNo, c.Width);
    EXPECT_EQ(f.Centre, c.Centre) << c.HistCnt << " " << c.SampleNo;
    EXPECT_EQ(f.First, c.First) << c.HistCnt << " " << c.SampleNo;
    EXPECT_EQ(f.Last, c.Last) << c.HistCnt << " " << c.SampleNo;
  }
}

TEST(PlotDialog, ZoomScale) {
  EXPECT_DOUBLE_EQ(PlotScale(0), 50.0);
  EXPECT_DOUBLE_EQ(PlotScale(3), 25.0);
  EXPECT_DOUBLE_EQ(PlotScale(-3), 100.0);
}

TEST(PlotDialog, Layers) {
  std::vector<THistoryEntry> ring(1000);
  for (THistoryEntry& e : ring) e.AmpM = 2.0f;
  ring[500].Bit = skStop;
  ring[500].Ch = 'K';
  ring[501].Bit = skMark;
  ring[502].Bit = sk01;
  TPlotDialog d;
  d.History = [&] { return TPlotHistory{1000, [&](int64_t n) -> const THistoryEntry& { return ring[size_t(n)]; }}; };
  d.show();
  d.PlotAround(500);
  QImage img = d.PlotArea()->grab().toImage();
  const int c = img.width() / 2, y0 = img.height() - 40;
  const QRgb silver = qRgb(0xC0, 0xC0, 0xC0), white = qRgb(255, 255, 255), black = qRgb(0, 0, 0);
  EXPECT_EQ(img.pixel(c - 2, 100), silver);  // the centre band
  EXPECT_EQ(img.pixel(c + 2, 100), silver);
  EXPECT_EQ(img.pixel(c - 3, 100), white);
  EXPECT_EQ(img.pixel(c, 100), black);       // a stop: black column
  EXPECT_EQ(img.pixel(c + 6, 100), silver);  // a settled mark
  EXPECT_EQ(img.pixel(c + 12, 100), white);  // a pair state: nothing
  int textPixels = 0;  // the stop's character left of the band
  for (int x = c - 12; x < c - 3; ++x)
    for (int y = 3; y < 30; ++y) textPixels += img.pixel(x, y) != white;
  EXPECT_GT(textPixels, 0);
  EXPECT_EQ(img.pixel(c, y0 - 100), qRgb(255, 0, 0));  // AmpM 2 at 50 pixels per unit

  d.ZoomBar()->setValue(3);
  img = d.PlotArea()->grab().toImage();
  EXPECT_EQ(img.pixel(c, y0 - 50), qRgb(255, 0, 0));
  EXPECT_EQ(img.pixel(c, y0 - 100), black);
}

// The levels the decided state predicts and the probability strip, 36
// pixels high below the baseline, on frames without state columns.
TEST(PlotDialog, PredictedSpaceLevelAndProbabilities) {
  THistoryEntry e;
  e.EnvS = 4.0f;
  e.NflS = 1.0f;
  e.Shp = 0.25f;  // space predicted at 1 + 3 * 0.75 = 3.25
  e.ProbM = 1.0f;
  e.ProbS = 0.5f;
  e.Prob = 0.25f;
  TPlotDialog d;
  d.History = [&] { return TPlotHistory{1000, [&](int64_t) -> const THistoryEntry& { return e; }}; };
  d.show();
  d.PlotAround(500);
  const QImage img = d.PlotArea()->grab().toImage();
  const int h = img.height(), y0 = h - 40, x = img.width() / 2 + 30;
  const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255), green = qRgb(0, 0x80, 0);
  int dotted = 0;  // the blue dotted line at 162 pixels (3.25 at 50 per unit)
  for (int i = 0; i < 30; ++i) dotted += img.pixel(x + i, y0 - 162) == blue;
  EXPECT_GT(dotted, 5);
  EXPECT_EQ(img.pixel(x, h - 2 - 36), red);   // ProbM 1: the strip's top
  EXPECT_EQ(img.pixel(x, h - 2 - 18), blue);  // ProbS 0.5
  EXPECT_EQ(img.pixel(img.width() / 2, h - 2 - 9), green);  // Prob's dot
}

}  // namespace
}  // namespace brenvo
