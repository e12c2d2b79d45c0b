#include "receiver/afc_processor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dsp/errors.h"

namespace brenvo {
namespace {

TSingleArray Flat(float v = 1.0f) { return TSingleArray(256, v); }

TEST(AfcProcessor, CreateShiftAndSideband) {
  TAfcProcessor a(181, 196);
  EXPECT_FALSE(a.Enabled);
  EXPECT_FALSE(a.IsUsb());
  EXPECT_EQ(a.AfcM, 181.0f);
  EXPECT_EQ(a.GetShift(), -15.0f);
  a.SetUsb(false);  // already lower sideband: nothing changes
  EXPECT_EQ(a.BinM, 181);
  a.SetUsb(true);
  EXPECT_EQ(a.BinM, 196);
  EXPECT_EQ(a.BinS, 181);
  EXPECT_EQ(a.AfcM, 196.0f);
  EXPECT_TRUE(a.IsUsb());
  a.ShiftBins(-10);
  EXPECT_EQ(a.BinM, 186);
  EXPECT_EQ(a.BinS, 171);
  EXPECT_EQ(a.AfcS, 171.0f);
  EXPECT_THROW(TAfcProcessor(-1, 10), ERangeError);
  EXPECT_THROW(TAfcProcessor(10, 65536), ERangeError);
}

TEST(AfcProcessor, DisabledOrWeakMovesNothing) {
  TAfcProcessor a(100, 85);
  TSingleArray s = Flat(0.0f);
  s[101] = 1000.0f;
  a.Process(s);  // not enabled
  EXPECT_EQ(a.AfcM, 100.0f);
  a.Enabled = true;
  TSingleArray zero = Flat(0.0f);  // seven zero bins: offset 0, levels 0
  a.Process(zero);
  EXPECT_EQ(a.AfcM, 100.0f);
  EXPECT_EQ(a.AfcS, 85.0f);
  TSingleArray weak = Flat(1.0f);
  weak[101] = 29.0f;
  a.Process(weak);  // both levels below 30
  EXPECT_EQ(a.AfcM, 100.0f);
}

TEST(AfcProcessor, HalfBinCentroidMovesSlowlyThenTheBin) {
  TAfcProcessor a(100, 85);
  a.Enabled = true;
  TSingleArray s = Flat(0.0f);
  s[100] = 100.0f;
  s[101] = 100.0f;
  a.Process(s);
  EXPECT_FLOAT_EQ(a.AfcM, 100.0015f);
  EXPECT_FLOAT_EQ(a.AfcS, 85.00015f);
  EXPECT_EQ(a.BinM, 100);
  int steps = 1;
  while (a.BinM == 100 && steps < 2000) {
    a.Process(s);
    ++steps;
  }
  // 0.75 / 0.0015 = 500 steps, give or take single-precision sums.
  EXPECT_GE(steps, 495);
  EXPECT_LE(steps, 505);
  EXPECT_EQ(a.BinM, 101);
}

TEST(AfcProcessor, EqualLevelsTakeTheSpaceBranch) {
  TAfcProcessor a(100, 85);
  a.Enabled = true;
  TSingleArray s = Flat(0.0f);
  s[100] = 50.0f;  // mark: centroid 0
  s[85] = 50.0f;   // space: centroid +0.5
  s[86] = 50.0f;
  a.Process(s);
  EXPECT_FLOAT_EQ(a.AfcS, 85.0015f);
  EXPECT_FLOAT_EQ(a.AfcM, 100.00015f);
}

// The stronger tone (no offset) stays; the other is held 13 to 16 bins away.
TEST(AfcProcessor, ShiftHeldBetween13And16Bins) {
  struct Case {
    bool usb, spaceStronger;
    float other;  // tracked position of the weaker tone
  } cases[] = {{true, false, 80.0f},  {true, false, 90.0f},  {true, false, 85.0f}, {false, false, 120.0f},
               {false, false, 110.0f}, {true, true, 95.0f},  {true, true, 105.0f}, {false, true, 90.0f},
               {false, true, 110.0f}};
  for (const Case& c : cases) {
    const int spaceBin = c.usb ? 85 : 115;
    TAfcProcessor a(100, spaceBin);
    a.Enabled = true;
    (c.spaceStronger ? a.AfcM : a.AfcS) = c.other;
    TSingleArray s = Flat(0.0f);
    s[c.spaceStronger ? spaceBin : 100] = 1000.0f;
    a.Process(s);
    EXPECT_EQ(c.spaceStronger ? a.AfcS : a.AfcM, static_cast<float>(c.spaceStronger ? spaceBin : 100));
    const float shift = std::fabs(a.AfcS - a.AfcM);
    EXPECT_GE(shift, 13.0f) << c.other;
    EXPECT_LE(shift, 16.0f) << c.other;
    if (c.usb) {
      EXPECT_LT(a.AfcS, a.AfcM);
    } else {
      EXPECT_GT(a.AfcS, a.AfcM);
    }
  }
}

// A strong tone two bins beyond the clamp (3 .. 252) for 5000 spectra.
void RunAgainstEdge(TAfcProcessor a, int toneBin, int edgeBin) {
  a.Enabled = true;
  TSingleArray s = Flat(1.0f);
  s[static_cast<std::size_t>(toneBin)] = 5000.0f;
  s[static_cast<std::size_t>(toneBin + (toneBin > edgeBin ? 1 : -1))] = 5000.0f;
  for (int i = 0; i < 5000; ++i) {
    ASSERT_NO_THROW(a.Process(s));
    ASSERT_TRUE(a.BinM >= 3 && a.BinM <= 252 && a.BinS >= 3 && a.BinS <= 252) << a.BinM << " " << a.BinS;
    ASSERT_TRUE(a.AfcM >= 3.0f && a.AfcM <= 252.0f) << a.AfcM;
  }
  EXPECT_EQ(a.BinM, edgeBin);
}

TEST(AfcProcessor, StrongToneBeyondTheClampStaysInBounds) {
  RunAgainstEdge(TAfcProcessor(251, 236), 254, 252);  // upper end, upper sideband
  RunAgainstEdge(TAfcProcessor(4, 19), 1, 3);         // lower end, lower sideband
}

TEST(AfcProcessor, BinsOutsideTheSpectrumAreBroughtIn) {
  TAfcProcessor a(300, 285);
  a.Enabled = true;
  TSingleArray s = Flat(1.0f);
  ASSERT_NO_THROW(a.Process(s));
  EXPECT_LE(a.BinM, 252);
  EXPECT_LE(a.BinS, 252);
  EXPECT_THROW(a.Process(TSingleArray(6, 1.0f)), ERangeError);
}

TEST(AfcProcessor, NonFiniteValuesSkipTheStep) {
  for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
    TAfcProcessor a(100, 85);
    a.Enabled = true;
    TSingleArray s = Flat(0.0f);
    s[100] = 100.0f;
    s[101] = bad;
    a.Process(s);
    EXPECT_EQ(a.AfcM, 100.0f);
    EXPECT_EQ(a.AfcS, 85.0f);
    EXPECT_EQ(a.BinM, 100);
  }
}

}  // namespace
}  // namespace brenvo
