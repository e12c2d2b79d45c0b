#include "dsp/first_max.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace brenvo {
namespace {

// The plain scan.
int32_t ScanAbove(const std::vector<float>& v, float& top) {
  int32_t at = -1;
  for (std::size_t i = 0; i < v.size(); ++i)
    if (v[i] > top) {
      top = v[i];
      at = static_cast<int32_t>(i);
    }
  return at;
}

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Every length up to a few vectors, values from a small set (ties, both
// zeros, -infinity, NaN), starting from one of them.
TEST(FirstAbove, SameIndexAndValueAsThePlainScan) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const float set[] = {-1.0f, 2.0f, 2.0f, 0.0f, -0.0f, -inf, nan, 3.0f};
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> pick(0, 7);
  for (int trial = 0; trial < 4000; ++trial) {
    std::vector<float> v(static_cast<std::size_t>(trial % 40 + 1));
    for (float& x : v) x = set[pick(rng)];
    const float start = trial % 3 == 0 ? v[0] : set[pick(rng)];
    float want = start, got4 = start, got8 = start;
    const int32_t at = ScanAbove(v, want);
    ASSERT_EQ(FirstAbove<4>(v.data(), static_cast<int32_t>(v.size()), got4), at) << trial;
    ASSERT_EQ(FirstAbove<8>(v.data(), static_cast<int32_t>(v.size()), got8), at) << trial;
    ASSERT_TRUE(SameBits(got4, want) && SameBits(got8, want)) << trial;
  }
}

}  // namespace
}  // namespace brenvo
