// The whole front end on synthesised RTTY audio: converter, spectrum engine and
// peak map must find the signal's tone pair at the bins its audio tones map to.
#include <gtest/gtest.h>

#include <cmath>
#include <span>
#include <vector>

#include "dsp/dsp_engine.h"
#include "dsp/re_to_complex_converter.h"
#include "support/heap_counter.h"
#include "support/rtty_synth.h"

namespace brenvo {
namespace {

using testing::RttySynthParams;
using testing::SynthesizeText;

constexpr uint32_t kUnclaimed = 0xFFFFFFFFu;

int ToneBin(double hz) { return static_cast<int>(std::nearbyint(hz * 256.0 / 3000.0)); }

// Feeds the audio in 128-sample blocks as the soundcard does and counts, per
// bin, the offered peak maps (from the 80th spectrum on) that flag the bin.
struct FrontEndRun {
  std::vector<int> PeakHits = std::vector<int>(256, 0);
  int Maps = 0;
  std::vector<float> MeanPwr = std::vector<float>(256, 0.0f);
  int Spectra = 0;
};

FrontEndRun RunFrontEnd(const TSingleArray& audio) {
  TReToComplexConverter cnv(128);
  TDspEngine dsp(8, 3000.0f);
  FrontEndRun run;
  TSingleArray block(128);
  TComplexArray iq;
  for (std::size_t start = 0; start + 128 <= audio.size(); start += 128) {
    std::copy(audio.begin() + start, audio.begin() + start + 128, block.begin());
    cnv.Convert(block, iq);
    for (int k = 0; k < 8; ++k) {
      dsp.ProcessIqBlock(std::span<const TComplex>(iq.data() + 8 * k, 8));
      ++run.Spectra;
      for (int b = 0; b < 256; ++b) run.MeanPwr[b] += dsp.FastPwr()[b];
      if (dsp.PeaksAvailable() && dsp.Age() >= 80) {
        ++run.Maps;
        for (int b = 0; b < 256; ++b)
          if (static_cast<uint32_t>(dsp.Peaks()[b]) == kUnclaimed) ++run.PeakHits[b];
      }
    }
  }
  for (float& v : run.MeanPwr) v /= static_cast<float>(run.Spectra);
  return run;
}

// Share of offered maps with a peak within one bin of b.
double HitRate(const FrontEndRun& run, int b) {
  int hits = 0;
  for (int d = -1; d <= 1; ++d) hits = std::max(hits, run.PeakHits[b + d]);
  return static_cast<double>(hits) / run.Maps;
}

struct PairCase {
  double MarkHz, SpaceHz, SnrDb;
};

class FrontEndPeaks : public ::testing::TestWithParam<PairCase> {};

TEST_P(FrontEndPeaks, PeakMapFindsTheTonePair) {
  const PairCase c = GetParam();
  RttySynthParams p;
  p.MarkHz = c.MarkHz;
  p.SpaceHz = c.SpaceHz;
  p.SnrDb = c.SnrDb;
  p.Seed = 7;
  const auto sig = SynthesizeText(p, "CQ CQ TEST DE DL1ABC DL1ABC K RYRYRYRY 599 001 599 001");
  const FrontEndRun run = RunFrontEnd(sig.Samples);
  ASSERT_GT(run.Maps, 50);

  const int mark = ToneBin(c.MarkHz), space = ToneBin(c.SpaceHz);
  EXPECT_GT(HitRate(run, mark), 0.8) << "mark bin " << mark;
  EXPECT_GT(HitRate(run, space), 0.8) << "space bin " << space;
  // The two tones stand far above the noise floor of 1 in the mean spectrum.
  EXPECT_GT(run.MeanPwr[mark], 10.0f);
  EXPECT_GT(run.MeanPwr[space], 10.0f);
  // Far from both tones there are hardly any peaks.
  for (int b = 16; b < 240; ++b) {
    if (std::abs(b - mark) <= 3 || std::abs(b - space) <= 3) continue;
    EXPECT_LT(static_cast<double>(run.PeakHits[b]) / run.Maps, 0.1) << "bin " << b;
  }
}

INSTANTIATE_TEST_SUITE_P(Pairs, FrontEndPeaks,
                         ::testing::Values(PairCase{2125, 2295, 30},   // 181 / 196
                                           PairCase{2295, 2125, 20},   // mark above space
                                           PairCase{1000, 1170, 15},   // low in the passband
                                           PairCase{600, 770, 25}));

TEST(FrontEnd, NoisePeaksStayRare) {
  RttySynthParams p;
  p.SnrDb = -60;  // the tone is buried: practically noise only
  p.Seed = 11;
  const auto sig = SynthesizeText(p, "RYRYRYRYRYRYRYRYRYRY");
  const FrontEndRun run = RunFrontEnd(sig.Samples);
  int total = 0;
  for (int b = 0; b < 256; ++b) total += run.PeakHits[b];
  EXPECT_LT(static_cast<double>(total) / run.Maps, 0.2) << "peaks per map in pure noise";
  // The median scaling puts the noise floor at about 1.
  double mean = 0;
  for (int b = 16; b < 240; ++b) mean += run.MeanPwr[b];
  EXPECT_NEAR(mean / 224, 1.4, 0.5);
}

TEST(FrontEnd, SteadyStateAllocatesNothingPerBlock) {
  if (!testing::HeapCountingAvailable()) GTEST_SKIP() << "allocation counting not available here";
  RttySynthParams p;
  p.SnrDb = 10;
  const auto sig = SynthesizeText(p, "RYRYRYRYRYRYRYRYRYRY");
  TReToComplexConverter cnv(128);
  TDspEngine dsp(8, 3000.0f);
  TSingleArray block(128);
  TComplexArray iq;
  auto run = [&](std::size_t from, std::size_t to) {
    for (std::size_t start = from; start + 128 <= to; start += 128) {
      std::copy(sig.Samples.begin() + start, sig.Samples.begin() + start + 128, block.begin());
      cnv.Convert(block, iq);
      for (int k = 0; k < 8; ++k) dsp.ProcessIqBlock(std::span<const TComplex>(iq.data() + 8 * k, 8));
    }
  };
  run(0, 128 * 20);  // warm-up: buffers reach their sizes
  const long long before = testing::HeapAllocations();
  run(128 * 20, sig.Samples.size());
  EXPECT_EQ(testing::HeapAllocations(), before);
}

}  // namespace
}  // namespace brenvo
