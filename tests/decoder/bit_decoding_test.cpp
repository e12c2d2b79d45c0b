// The bit decoder on synthesised tone levels: exact text, timing of the
// output, events, noise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "bit_decoder_harness.h"
#include "support/tone_level_synth.h"

namespace brenvo {
namespace {

using testing::EncodeText;
using testing::TBitDecoderHarness;
using testing::TToneLevelSettings;

const std::string kText = "CQ_CQ_DE_K1ABC/P_599_001_RST?";

std::string Decode(const TToneLevelSettings& s, const std::vector<int>& codes, double leadMark = 1.0,
                   double tailMark = 1.0, TBitDecoderHarness* out = nullptr) {
  TBitDecoderHarness h;
  h.Run(testing::RenderMessage(s, codes, leadMark, tailMark));
  if (out) *out = h;
  return h.Raw;
}

TEST(BitDecoding, EncodeTextShifts) {
  EXPECT_EQ(EncodeText("A1_2B"), (std::vector<int>{31, 3, 27, 23, 4, 27, 19, 31, 25}));
}

// The raw text of the message, shifts included: as sent, with the figures
// shift again after each space.
const std::string kExpectedRaw =
    "\xBB" "CQ_CQ_DE_K\xAB" "1\xBB" "ABC\xAB/\xBBP_\xAB" "599_\xAB" "001_RST\xAB?";

TEST(BitDecoding, ExactTextAtHighSnrWithEachStopLength) {
  ASSERT_EQ(std::string(kExpectedRaw.size(), ' ').size(), EncodeText(kText).size());
  for (double stop : {1.0, 1.5, 2.0}) {
    TToneLevelSettings s;
    s.StopBits = stop;
    s.SnrDb = 30;
    const std::string raw = Decode(s, EncodeText(kText));
    EXPECT_NE(raw.find(kExpectedRaw), std::string::npos) << "stop " << stop << ": " << raw;
  }
}

TEST(BitDecoding, ExactTextWithBaudRateOffByOnePercent) {
  for (double baud : {45.45 * 0.99, 45.45 * 1.01}) {
    TToneLevelSettings s;
    s.Baud = baud;
    s.SnrDb = 30;
    s.Seed = 5;
    const std::string raw = Decode(s, EncodeText(kText));
    EXPECT_NE(raw.find(kExpectedRaw), std::string::npos) << "baud " << baud << ": " << raw;
  }
}

TEST(BitDecoding, CharactersOnlyAtDecodeStepsWithTheirSampleNumbers) {
  TToneLevelSettings s;
  TBitDecoderHarness h;
  Decode(s, EncodeText(kText), 1.0, 1.0, &h);
  ASSERT_FALSE(h.Chars.empty());
  for (std::size_t i = 0; i < h.Chars.size(); ++i) {
    const int64_t at = h.EmitSteps[i];
    EXPECT_GE(at, 128);
    EXPECT_EQ((at - 128) % 32, 0) << at;
    // Settled 96 to 127 spectra after the element.
    const int64_t lag = at - 1 - int32_t{h.Chars[i].SampleNo};
    EXPECT_GE(lag, 96);
    EXPECT_LE(lag, 127);
    EXPECT_GT(double{h.Chars[i].Utc}, 40000.0);
    // Fresh from the decoder: nothing of the later stages set.
    EXPECT_EQ(h.Chars[i].CorrCh, 0);
    EXPECT_EQ(h.Chars[i].MetaCh, 0);
    EXPECT_EQ(h.Chars[i].ChType, ctSquelch);
    EXPECT_TRUE(h.Chars[i].RawFlags.Empty() && h.Chars[i].CorrFlags.Empty());
  }
}

TEST(BitDecoding, SoftBitsAndStopLengths) {
  TToneLevelSettings s;
  s.StopBits = 1.5;
  TBitDecoderHarness h;
  Decode(s, EncodeText("RYRYRY"), 1.0, 1.0, &h);
  const double bitSpectra = 375 / 45.45;
  int seen = 0;
  for (const TCharInfo& c : h.Chars) {
    if (c.RawCh != 'R' && c.RawCh != 'Y') continue;
    const TBitProbArray p = c.BitProbs;
    const int code = CodeTable[c.RawCh];
    for (int i = 0; i < 5; ++i) {
      if ((code >> i) & 1)
        EXPECT_GT(p[i], 0.99f);
      else
        EXPECT_LT(p[i], 0.01f);
    }
    if (seen++ > 0) {
      EXPECT_NEAR(int32_t{c.StopLen}, 1.5 * bitSpectra, 2.0);
    }
  }
  EXPECT_GE(seen, 6);
}

// A steady mark after the text: the path passes the steady-tone section.
// (Silence is covered on emissions in rtty_bit_viterbi_test: from tone levels
// the envelope falls with the tones, and noise then fits a tone shape better
// than the penalised silence shape.)
TEST(BitDecoding, SteadyMarkGivesA9) {
  TBitDecoderHarness h;
  h.Run(testing::RenderMessage(TToneLevelSettings(), EncodeText("TEST"), 0.5, 3.0));
  const auto test = h.Raw.find("\xBBTEST");
  ASSERT_NE(test, std::string::npos) << h.Raw;
  EXPECT_EQ(h.Raw.substr(test + 5), "\xA9");
  EXPECT_EQ(h.Chars.back().BitProbs, TBitProbArray());
}

TEST(BitDecoding, FiguresShiftPersistsUntilUnshift) {
  // Sent without the letters shift after the space: the decoder's
  // unshift-on-space must bring the letters back by itself.
  std::vector<int> codes{31, 27, 23, 19, 4, 3, 25, 27, 1, 8, 16};  // LTRS FIGS 1 2 _ A B FIGS 3 CR T
  TToneLevelSettings s;
  const std::string raw = Decode(s, codes);
  EXPECT_NE(raw.find("\xBB\xAB" "12_AB\xAB" "3\xA6T"), std::string::npos) << raw;
}

TEST(BitDecoding, ResetKeepsShiftAndCountsFromZero) {
  TToneLevelSettings s;
  TBitDecoderHarness h;
  Decode(s, std::vector<int>{31, 27, 23}, 1.0, 1.0, &h);
  EXPECT_TRUE(h.V.Figs());
  h.V.Reset();
  EXPECT_EQ(h.V.SampleCnt(), 0);
  EXPECT_TRUE(h.V.Figs());
  EXPECT_TRUE(h.V.Chars().empty());
}

}  // namespace
}  // namespace brenvo

namespace brenvo {
namespace {

// In noise and in a weak signal the settled path often rejoins the previous
// traceback somewhere else than where it left off. Away from such rejoins
// every character is a labelled state or a 7-spectra stop on the path; at a
// rejoin the labels the new path jumped over count, and the labels it
// reaches again within the next few steps do not count a second time.
TEST(BitDecoding, CharactersFromTheLabelsOfTheSettledPathCountedOnce) {
  struct Case {
    double SnrDb;
    double StopBits;
    uint32_t Seed;
  } cases[] = {{-100, 1.5, 31}, {-100, 1.5, 32}, {-100, 1.5, 33}, {3, 1.0, 34}, {6, 1.0, 35}};
  int shortStops = 0;
  std::size_t passed = 0, repeated = 0;
  for (const Case& c : cases) {
    TToneLevelSettings s;
    s.SnrDb = c.SnrDb;
    s.StopBits = c.StopBits;
    s.Seed = c.Seed;
    testing::TToneLevelSynth synth(s);
    std::vector<int> codes;
    for (int i = 0; i < 350; ++i) codes.push_back((i * 7 + 3) % 32);
    synth.AddCodes(codes);
    std::vector<float> mark, space;
    synth.Render(mark, space);
    TBitDecoderHarness h;
    for (std::size_t i = 0; i < mark.size(); ++i) h.Step(mark[i], space[i]);
    std::vector<int64_t> got, extra, missing;
    for (const TCharInfo& ch : h.Chars) got.push_back(int32_t{ch.SampleNo});
    const auto& path = h.Path;
    std::set_difference(got.begin(), got.end(), path.Events.begin(), path.Events.end(), std::back_inserter(extra));
    std::set_difference(path.Events.begin(), path.Events.end(), got.begin(), got.end(), std::back_inserter(missing));
    for (int64_t n : extra)
      EXPECT_TRUE(std::binary_search(path.Rejoins.begin(), path.Rejoins.end(), n)) << "seed " << c.Seed << " at " << n;
    for (int64_t n : missing) {
      const auto r = std::upper_bound(path.Rejoins.begin(), path.Rejoins.end(), n);
      EXPECT_TRUE(r != path.Rejoins.begin() && n - *(r - 1) <= TRttyBitViterbi::kMaxRejoin) << "seed " << c.Seed << " at " << n;
    }
    shortStops += path.ShortStops;
    passed += extra.size();
    repeated += missing.size();
  }
  // The 1-stop-bit signals do use the short exit; both kinds of rejoin occur.
  EXPECT_GT(shortStops, 0);
  EXPECT_GT(passed, 0u);
  EXPECT_GT(repeated, 0u);
}

}  // namespace
}  // namespace brenvo
