#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <random>
#include <vector>

#include "dsp/delay_line.h"
#include "dsp/errors.h"
#include "dsp/quick_average.h"
#include "dsp/sliding_min_max.h"

namespace brenvo {
namespace {

template <typename Filter>
std::vector<float> Feed(Filter& f, const std::vector<float>& in) {
  std::vector<float> out;
  for (float x : in) out.push_back(f.Process(x));
  return out;
}

TEST(SlidingMinMax, WorkedExamples) {
  TSlidingMax mx(3);
  EXPECT_EQ(Feed(mx, {1, 5, 2, 0, 0, 0}), (std::vector<float>{1, 5, 5, 5, 2, 0}));
  TSlidingMin mn(3);
  EXPECT_EQ(Feed(mn, {4, 2, 3, 5, 6}), (std::vector<float>{4, 2, 2, 2, 3}));
}

TEST(SlidingMinMax, ValueAndResetAndLenOne) {
  TSlidingMin mn(5);
  EXPECT_EQ(mn.Value(), 0.0f);
  EXPECT_EQ(mn.Process(7), 7.0f);
  EXPECT_EQ(mn.Value(), 7.0f);
  mn.Process(3);
  mn.Reset();
  EXPECT_EQ(mn.Value(), 0.0f);
  EXPECT_EQ(mn.Process(9), 9.0f);  // history is copies of the first value
  EXPECT_EQ(mn.Delay(), 2);
  TSlidingMax one(1);
  for (float x : {3.0f, -1.0f, 8.0f, 2.0f}) EXPECT_EQ(one.Process(x), x);
}

TEST(SlidingMinMax, SettingLenRestartsOnlyWhenChanged) {
  TSlidingMax mx(4);
  mx.Process(10);
  mx.Process(1);
  mx.SetLen(4);  // unchanged: keeps its history
  EXPECT_EQ(mx.Process(2), 10.0f);
  mx.SetLen(2);
  EXPECT_EQ(mx.Process(1), 1.0f);
}

TEST(SlidingMinMax, RejectsEmptyWindow) {
  EXPECT_THROW(TSlidingMin(0), ERangeError);
  EXPECT_THROW(TSlidingMax(-3), ERangeError);
  TSlidingMax mx(3);
  EXPECT_THROW(mx.SetLen(0), ERangeError);
}

// Against a brute-force window, with many ties and the first value repeated
// as the history.
TEST(SlidingMinMax, MatchBruteForceOnRandomData) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<int> level(0, 6);
  for (int len : {1, 2, 3, 7, 18, 36, 50}) {
    TSlidingMin mn(len);
    TSlidingMax mx(len);
    std::vector<float> in(600);
    for (float& v : in) v = static_cast<float>(level(rng));
    std::deque<float> win(static_cast<std::size_t>(len - 1), in[0]);
    for (std::size_t i = 0; i < in.size(); ++i) {
      win.push_back(in[i]);
      if (win.size() > static_cast<std::size_t>(len)) win.pop_front();
      const float lo = *std::min_element(win.begin(), win.end());
      const float hi = *std::max_element(win.begin(), win.end());
      ASSERT_EQ(mn.Process(in[i]), lo) << "len " << len << " i " << i;
      ASSERT_EQ(mx.Process(in[i]), hi) << "len " << len << " i " << i;
    }
  }
}

TEST(QuickAverage, WorkedExamples) {
  TQuickAverage a(1, 4);
  std::vector<float> out;
  for (int i = 0; i < 5; ++i) out.push_back(a.Filter(4.0f));
  EXPECT_EQ(out, (std::vector<float>{1, 2, 3, 4, 4}));
  TQuickAverage b(2, 2);
  EXPECT_EQ(b.Filter(4.0f), 1.0f);
  EXPECT_EQ(b.Filter(4.0f), 3.0f);
  EXPECT_EQ(b.Filter(4.0f), 4.0f);
}

TEST(QuickAverage, ClampsParameters) {
  TQuickAverage a;
  EXPECT_EQ(a.Passes(), 4);
  EXPECT_EQ(a.Points(), 128);
  a.SetPasses(0);
  EXPECT_EQ(a.Passes(), 1);
  a.SetPasses(9);
  EXPECT_EQ(a.Passes(), 8);
  a.SetPoints(-5);
  EXPECT_EQ(a.Points(), 1);
  for (float x : {3.5f, -2.0f, 100.0f}) EXPECT_EQ(a.Filter(x), x);
  TQuickAverage b(0, 0);
  EXPECT_EQ(b.Passes(), 1);
  EXPECT_EQ(b.Points(), 1);
}

// A cascade of plain moving averages in double precision, zero history.
std::vector<double> ReferenceCascade(const std::vector<double>& in, int passes, int points) {
  std::vector<double> cur = in;
  for (int p = 0; p < passes; ++p) {
    std::vector<double> next(cur.size());
    for (std::size_t i = 0; i < cur.size(); ++i) {
      double s = 0;
      for (int k = 0; k < points && k <= static_cast<int>(i); ++k) s += cur[i - static_cast<std::size_t>(k)];
      next[i] = s / points;
    }
    cur = next;
  }
  return cur;
}

TEST(QuickAverage, MatchesPlainCascadeAndComplexSharesRing) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const int passes = 3, points = 9;
  std::vector<double> re(400), im(400);
  for (std::size_t i = 0; i < re.size(); ++i) {
    re[i] = static_cast<float>(u(rng));
    im[i] = static_cast<float>(u(rng));
  }
  const auto refRe = ReferenceCascade(re, passes, points);
  const auto refIm = ReferenceCascade(im, passes, points);
  TQuickAverage real(passes, points), cplx(passes, points);
  for (std::size_t i = 0; i < re.size(); ++i) {
    EXPECT_NEAR(real.Filter(static_cast<float>(re[i])), refRe[i], 1e-5) << i;
    const TComplex c = cplx.Filter(TComplex{static_cast<float>(re[i]), static_cast<float>(im[i])});
    EXPECT_NEAR(c.Re, refRe[i], 1e-5) << i;
    EXPECT_NEAR(c.Im, refIm[i], 1e-5) << i;
  }
}

TEST(QuickAverage, FilteredModuleIsModulusOfFilter) {
  TQuickAverage a(1, 2), b(1, 2);
  for (int i = 0; i < 5; ++i) {
    const float m = a.FilteredModule(3.0f, -4.0f);
    const TComplex c = b.Filter(3.0f, -4.0f);
    EXPECT_FLOAT_EQ(m, ComplexModulus(c));
  }
  EXPECT_FLOAT_EQ(a.FilteredModule(3.0f, -4.0f), 5.0f);
}

TEST(DelayLine, WorkedExampleAndComplex) {
  TDelayLine d(3);
  EXPECT_EQ(Feed(d, {1, 2, 3, 4, 5}), (std::vector<float>{0, 0, 0, 1, 2}));
  TDelayLine c(2);
  EXPECT_EQ(c.Process(TComplex{1, 2}).Re, 0.0f);
  c.Process(TComplex{3, 4});
  const TComplex out = c.Process(TComplex{5, 6});
  EXPECT_EQ(out.Re, 1.0f);
  EXPECT_EQ(out.Im, 2.0f);
  TDelayLine one;
  EXPECT_EQ(one.Delay(), 1);
  EXPECT_EQ(one.Process(4.0f), 0.0f);
  EXPECT_EQ(one.Process(5.0f), 4.0f);
}

TEST(DelayLine, SettingDelayAlwaysRestarts) {
  TDelayLine d(2);
  d.Process(1.0f);
  d.Process(2.0f);
  d.SetDelay(2);
  EXPECT_EQ(d.Process(9.0f), 0.0f);
  EXPECT_THROW(d.SetDelay(0), ERangeError);
  EXPECT_THROW(TDelayLine(0), ERangeError);
}

// The real Process leaves the imaginary parts of the ring alone.
TEST(DelayLine, RealProcessKeepsImaginaryPart) {
  TDelayLine d(1);
  d.Process(TComplex{1, 7});
  EXPECT_EQ(d.Process(2.0f), 1.0f);
  const TComplex c = d.Process(TComplex{0, 0});
  EXPECT_EQ(c.Re, 2.0f);
  EXPECT_EQ(c.Im, 7.0f);
}

}  // namespace
}  // namespace brenvo
