#include "decoder/rtty_bit_acs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace brenvo {
namespace {

using TKernel = TRttyBitAcs::TKernel;

// Every kernel this processor runs gives the reference's metrics and
// back-pointers exactly, step after step: on continuous values, on values
// from a small set (ties everywhere) with whole sections at -infinity
// (unreachable), and with NaNs where a section's exit looks first.
TEST(RttyBitAcs, KernelsEqualTheReferenceOnRandomInput) {
  const TRttyBitAcs& acs = SharedBitAcs();
  const auto n = static_cast<std::size_t>(acs.StateCount());
  const auto h = static_cast<std::size_t>(acs.HistorySize());
  const float inf = std::numeric_limits<float>::infinity();
  const float coarse[] = {0.0f, -0.5f, -1.0f, -4.0f, -inf};
  int checked = 0;
  for (TKernel kernel : {TKernel::Vector, TKernel::Avx2}) {
    if (!TRttyBitAcs::Runs(kernel)) continue;
    ++checked;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-30.0f, 0.0f);
    std::uniform_int_distribution<int> pick(0, 4);
    std::vector<float> ref(n), got(n), jRef(static_cast<std::size_t>(acs.JoinValueCount())), jGot(jRef);
    std::vector<int16_t> hRef(h), hGot(h);
    float offRef = 0.0f, offGot = 0.0f;
    const TRttyBitHmm& hmm = BitHmm();
    auto state = [&hmm](int32_t section, int32_t pos) { return static_cast<std::size_t>(hmm.StateIndexOf(section, pos)); };
    for (int step = 0; step < 3600; ++step) {
      const int phase = (step / 300) % 3;
      const bool ties = phase == 1;
      if (step % 300 == 0) {
        offRef = offGot = ties ? 0.0f : u(rng);
        for (float& m : ref) m = ties ? coarse[pick(rng)] : u(rng);
        for (int32_t r = 0; r < TRttyBitHmm::kSectionCount; ++r) {
          const int32_t count = hmm.SectionStateCount(r);
          if (ties && r % 4 == step / 900)
            for (int32_t pos = 0; pos < count; ++pos) ref[state(r, pos)] = -inf;
          if (phase == 2) ref[state(r, count - 1)] = std::numeric_limits<float>::quiet_NaN();
        }
        got = ref;
      }
      TRttyBitAcs::TEmissions em{};  // emissions are finite
      for (std::size_t i = 1; i <= 10; ++i) em[i] = ties ? coarse[pick(rng) % 4] : u(rng);
      acs.Step(TKernel::Reference, em, ref.data(), offRef, hRef.data(), jRef.data());
      acs.Step(kernel, em, got.data(), offGot, hGot.data(), jGot.data());
      ASSERT_TRUE(offGot == offRef || (std::isnan(offGot) && std::isnan(offRef))) << step;
      for (std::size_t s = 0; s < n; ++s)
        ASSERT_TRUE(got[s] == ref[s] || (std::isnan(got[s]) && std::isnan(ref[s])))
            << "kernel " << static_cast<int>(kernel) << " step " << step << " state " << s;
      for (std::size_t k = 0; k < h; ++k)
        ASSERT_EQ(hGot[k], hRef[k]) << "kernel " << static_cast<int>(kernel) << " step " << step << " slot " << k;
    }
  }
  EXPECT_GE(checked, 1);
}

}  // namespace
}  // namespace brenvo
