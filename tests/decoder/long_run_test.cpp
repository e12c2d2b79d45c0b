// Path metrics must not drift: after millions of steps a message decodes
// exactly as it does at the start.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "bit_decoder_harness.h"
#include "support/tone_level_synth.h"

namespace brenvo {
namespace {

using testing::EncodeText;
using testing::TBitDecoderHarness;
using testing::TToneLevelSettings;

TEST(LongRun, SameMessageDecodesAfterFiveMillionStepsOfNoise) {
  TToneLevelSettings s;
  s.SnrDb = 9;  // errors are possible, so any drift would show
  s.Seed = 77;
  const auto levels = testing::RenderMessage(s, EncodeText("CQ_CQ_DE_DL0ABC_DL0ABC_PSE_K_599_0123_TU"));

  // Reference: the message through a fresh decoder.
  TBitDecoderHarness fresh;
  fresh.Run(levels);

  // The same decoder state after a long stretch of random emissions, ending
  // aligned to the 32-step decode grid so that the message meets the same
  // decode schedule.
  TBitDecoderHarness aged;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> u(-12.0f, 0.0f);
  std::vector<TRttyBitViterbi::TEmissions> table(4096);
  for (auto& em : table)
    for (std::size_t i = 1; i < em.size(); ++i) em[i] = u(rng);
  const int64_t steps = 128 * 39'063;  // 5,000,064: a whole number of windows
  float worst = 0;
  for (int64_t k = 0; k < steps; ++k) {
    aged.V.Step(table[static_cast<std::size_t>((k * 2654435761u) % 4096)], 0.5f);
    if (k % 100'000 == 0)
      for (int32_t st = 0; st < BitHmm().StateCount(); ++st) worst = std::min(worst, aged.V.Metric(st));
  }
  ASSERT_EQ(aged.V.SampleCnt() % 128, 0);
  // Relative metrics stay small: the best is always 0.
  EXPECT_GT(worst, -5000.0f);
  aged.Run(levels);

  // The message part of both outputs must match character for character.
  auto message = [](const TBitDecoderHarness& h, int64_t offset) {
    std::vector<TCharInfo> out;
    for (const TCharInfo& c : h.Chars) {
      const int64_t n = int64_t{c.SampleNo} - offset;
      if (n >= 375) out.push_back(c);
    }
    // From the message's letters shift on: the noise before it may leave a
    // different stray character at the boundary.
    while (!out.empty() && out.front().RawCh != kChLetters) out.erase(out.begin());
    return out;
  };
  const auto a = message(fresh, 0);
  const auto b = message(aged, steps);
  ASSERT_FALSE(a.empty());
  ASSERT_EQ(a.size(), b.size());
  std::string text;
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].RawCh, b[i].RawCh) << i;
    EXPECT_EQ(int64_t{a[i].SampleNo}, int64_t{b[i].SampleNo} - steps) << i;
    EXPECT_EQ(a[i].BitProbs, b[i].BitProbs) << i;
    text.push_back(static_cast<char>(a[i].RawCh));
  }
  EXPECT_EQ(text.rfind("\xBB" "CQ_CQ_DE_DL", 0), 0u) << text;
}

}  // namespace
}  // namespace brenvo
