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

// A fixed pseudo-random message of letters, figures and spaces.
std::string RandomText(int length, uint32_t seed) {
  std::mt19937 rng(seed);
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/?-.____";
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::string s;
  for (int i = 0; i < length; ++i) s.push_back(alphabet[pick(rng)]);
  return s;
}

// Raw text of the codes as the decoder reports them (shift characters included).
std::string RawOf(const std::vector<int>& codes) {
  std::string s;
  bool figs = false;
  for (int code : codes) {
    if (code == 27) figs = true;
    if (code == 31 || code == 8 || code == 2 || code == 4) figs = false;
    s.push_back(static_cast<char>(BaudotTable[figs ? 1 : 0][code]));
  }
  return s;
}

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
  std::string decoded;
  for (const TCharInfo& c : h.Chars) {
    const int32_t n = c.SampleNo;
    if (n >= lead * 375 && n <= endStep + 40) decoded.push_back(static_cast<char>(c.RawCh));
  }
  // The steady tone after the message is no error.
  while (!decoded.empty() && static_cast<uint8_t>(decoded.back()) == kChSteadyTone) decoded.pop_back();
  const std::string expected = RawOf(codes);
  return static_cast<double>(testing::EditDistance(decoded, expected)) / static_cast<double>(expected.size());
}

TEST(NoiseRamp, CharacterErrorRateWithinBounds) {
  struct Step {
    double snrDb, minCer, maxCer;
  } steps[] = {
      {-3, 0.70, 1.50}, {0, 0.60, 1.30}, {3, 0.50, 1.00}, {6, 0.25, 0.80},
      {9, 0.05, 0.35},  {12, 0.0, 0.08}, {15, 0.0, 0.02}, {20, 0.0, 0.0},
  };
  const std::string text = RandomText(160, 99);
  for (const Step& st : steps) {
    double sum = 0;
    const int seeds = 3;
    for (int k = 0; k < seeds; ++k) sum += MeasureCer(st.snrDb, 1000u + static_cast<uint32_t>(k), text);
    const double cer = sum / seeds;
    std::printf("noise ramp: SNR %5.1f dB  CER %.4f\n", st.snrDb, cer);
    EXPECT_GE(cer, st.minCer) << st.snrDb;
    EXPECT_LE(cer, st.maxCer) << st.snrDb;
  }
}

}  // namespace
}  // namespace brenvo
