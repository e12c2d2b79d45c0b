#include "dsp/array_filters.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "dsp/errors.h"

namespace brenvo {

namespace {

// Work arrays kept between calls so that filtering one spectrum after another
// allocates nothing.
struct TFilterWork {
  TSingleArray Copy;  // Src, when the caller filters an array into itself
  TSingleArray T;     // backward block maxima of SlidingMax / SlidingMin
  TSingleArray Win;   // sorted window of SlidingMedian
};

TFilterWork& Work() {
  static thread_local TFilterWork w;
  return w;
}

// Checks the arguments and returns the values to read: Src itself, or a copy of
// it when Dst is the same array (the filters read values they have overwritten).
const TSingleArray& Prepare(const TSingleArray& Src, int32_t HalfWidth, std::size_t minLength,
                            TSingleArray& Dst) {
  if (HalfWidth < 0)
    throw ERangeError("HalfWidth must not be negative, got " + std::to_string(HalfWidth));
  if (Src.size() < minLength) throw ERangeError();
  if (&Src != &Dst) {
    Dst.resize(Src.size());
    return Src;
  }
  TSingleArray& copy = Work().Copy;
  copy.assign(Src.begin(), Src.end());
  return copy;
}

std::size_t WindowOf(int32_t HalfWidth) {
  return 2 * static_cast<std::size_t>(std::max(HalfWidth, 0)) + 1;
}

// SlidingMax with Better = strictly greater, SlidingMin with strictly smaller.
// Works in blocks of W values starting at multiples of W: within the window
// ending at i, M covers the part from the block start up to i and T[i - W] the
// part before it, so each value costs at most three comparisons.
template <typename Better>
void SlidingExtreme(const TSingleArray& SrcIn, int32_t HalfWidth, TSingleArray& Dst,
                    Better better) {
  const std::size_t w = WindowOf(HalfWidth);
  const TSingleArray& Src = Prepare(SrcIn, HalfWidth, w, Dst);
  const std::size_t hw = static_cast<std::size_t>(HalfWidth);
  const std::size_t high = Src.size() - 1;
  auto takeIn = [&](float& m, float v) {
    if (better(v, m)) m = v;
  };

  // Left edge: the window cut at index 0.
  float m = Src[0];
  for (std::size_t i = 1; i < hw; ++i) takeIn(m, Src[i]);
  for (std::size_t i = hw; i <= 2 * hw; ++i) {
    takeIn(m, Src[i]);
    Dst[i - hw] = m;
  }

  // Middle.
  TSingleArray& t = Work().T;
  if (t.size() < Src.size()) t.resize(Src.size());
  for (std::size_t i = w; i <= high; ++i) {
    if (i % w == 0) {
      m = Src[i];
      t[i] = Src[i];
      for (std::size_t p = i; p-- > i - w;) t[p] = better(Src[p + 1], t[p + 1]) ? Src[p + 1] : t[p + 1];
    } else {
      takeIn(m, Src[i]);
    }
    const float before = t[i - w];
    Dst[i - hw] = better(m, before) ? m : before;
  }

  // Right edge: the window cut at High.
  m = Src[high - hw];
  for (std::size_t i = high - hw + 1; i <= high; ++i) takeIn(m, Src[i]);
  for (std::size_t k = high; k + hw > high; --k) {
    takeIn(m, Src[k - hw]);
    Dst[k] = m;
  }
}

// First position in the sorted window whose value is not below v (W when all
// are below), NaN counting above every number: a NaN in the window is then
// always found again, and nothing is moved outside the window. In a sorted
// window that position is the number of values below v; counting them in one
// branch-free pass is cheaper than a binary search of 101 values, whose
// comparisons the processor cannot predict.
std::size_t Position(const float* win, std::size_t w, float v) {
  uint32_t below = 0;
  if (std::isnan(v)) {
    for (std::size_t i = 0; i < w; ++i) below += win[i] == win[i] ? 1u : 0u;
  } else {
    for (std::size_t i = 0; i < w; ++i) below += win[i] < v ? 1u : 0u;
  }
  return below;
}

// Replaces a value that is in the sorted window by another, keeping the order
// with one block move.
void Replace(float* win, std::size_t w, float oldValue, float newValue) {
  const std::size_t i = Position(win, w, oldValue);
  BRENVO_ASSERT(i < w);
  const std::size_t j = Position(win, w, newValue);
  if (i + 1 < j) {
    std::copy(win + i + 1, win + j, win + i);
    win[j - 1] = newValue;
  } else if (j < i) {
    std::copy_backward(win + j, win + i, win + i + 1);
    win[j] = newValue;
  } else {
    win[i] = newValue;
  }
}

}  // namespace

void SlidingMax(const TSingleArray& Src, int32_t HalfWidth, TSingleArray& Dst) {
  SlidingExtreme(Src, HalfWidth, Dst, [](float a, float b) { return a > b; });
}

void SlidingMin(const TSingleArray& Src, int32_t HalfWidth, TSingleArray& Dst) {
  SlidingExtreme(Src, HalfWidth, Dst, [](float a, float b) { return a < b; });
}

void SlidingMean(const TSingleArray& SrcIn, int32_t HalfWidth, TSingleArray& Dst) {
  const std::size_t w = WindowOf(HalfWidth);
  const TSingleArray& Src = Prepare(SrcIn, HalfWidth, w, Dst);
  const std::size_t hw = static_cast<std::size_t>(HalfWidth);
  const std::size_t high = Src.size() - 1;
  const float scale = static_cast<float>(1.0 / static_cast<double>(w));
  float sum = 0.0f;
  for (std::size_t i = 0; i <= 2 * hw; ++i) sum += Src[i];
  for (std::size_t k = hw; k + hw + 1 <= high; ++k) {
    Dst[k] = sum * scale;
    sum = static_cast<float>(static_cast<double>(sum) - Src[k - hw] + Src[k + hw + 1]);
  }
}

void SlidingMedian(const TSingleArray& SrcIn, int32_t HalfWidth, TSingleArray& Dst) {
  const std::size_t w = WindowOf(HalfWidth);
  // One value more than a window: with exactly W the edges would copy entries
  // that were never computed.
  const TSingleArray& Src = Prepare(SrcIn, HalfWidth, w + 1, Dst);
  const std::size_t hw = static_cast<std::size_t>(HalfWidth);
  const std::size_t high = Src.size() - 1;
  TSingleArray& winArray = Work().Win;
  winArray.assign(w, 0.0f);
  float* win = winArray.data();
  for (std::size_t i = 0; i <= 2 * hw; ++i) Replace(win, w, 0.0f, Src[i]);
  for (std::size_t i = w; i <= high; ++i) {
    Replace(win, w, Src[i - w], Src[i]);
    Dst[i - hw] = win[hw];
  }
  // In this order: with W + 1 values the right edge copies the left one.
  const float first = Dst[hw + 1];
  std::fill(Dst.begin(), Dst.begin() + static_cast<std::ptrdiff_t>(hw + 1), first);
  const float last = Dst[high - hw - 1];
  std::fill(Dst.begin() + static_cast<std::ptrdiff_t>(high - hw), Dst.end(), last);
}

}  // namespace brenvo
