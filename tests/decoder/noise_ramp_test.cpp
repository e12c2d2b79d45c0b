// Character error rate of the bit decoder against the signal-to-noise ratio
// of the tone bins, with a lower and an upper bound at each step.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "bit_decoder_harness.h"
#include "support/tone_level_synth.h"

namespace brenvo {
namespace {

using testing::EncodeText;
using testing::TBitDecoderHarness;
using testing::TToneLevelSettings;

double MeasureCer(double snrDb, uint32_t seed, const std::string& text) {
  TToneLevelSettings s;
  s.SnrDb = snrDb;
  s.Seed = seed;
  const double lead = 1.0;
  const auto codes = EncodeText(text);
  const auto levels = testing::RenderMessage(s, codes, lead, 1.0);
  TBitDecoderHarness h;
  h.Run(levels);
  const double endStep = static_cast<double>(levels.Mark.size()) - 1.0 * 375;
  return testing::MessageCer(h.Chars, lead * 375, endStep + 40, codes);
}

TEST(NoiseRamp, CharacterErrorRateWithinBounds) {
  struct Step {
    double snrDb, minCer, maxCer;
  } steps[] = {
      {-3, 0.70, 1.50}, {0, 0.60, 1.30}, {3, 0.50, 1.00}, {6, 0.25, 0.80},
      {9, 0.05, 0.35},  {12, 0.0, 0.08}, {15, 0.0, 0.02}, {20, 0.0, 0.0},
  };
  const std::string text = testing::RandomText(160, 99);
  for (const Step& st : steps) {
    double sum = 0;
    const int seeds = 3;
    for (int k = 0; k < seeds; ++k) sum += MeasureCer(st.snrDb, 1000u + static_cast<uint32_t>(k), text);
    const double cer = sum / seeds;
    std::printf("noise ramp: SNR %5.1f dB in the tone bin  CER %.4f\n", st.snrDb, cer);
    EXPECT_GE(cer, st.minCer) << st.snrDb;
    EXPECT_LE(cer, st.maxCer) << st.snrDb;
  }
}

}  // namespace
}  // namespace brenvo
