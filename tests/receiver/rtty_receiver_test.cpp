#include "receiver/rtty_receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "decoder/bit_decoder_harness.h"
#include "dsp/errors.h"
#include "receiver/calls_list.h"
#include "receiver_test_env.h"

namespace brenvo {
namespace {

using testing::EncodeText;
using testing::TToneLevelSettings;

constexpr int kMark = 181, kSpace = 196;

// Spectra of 256 bins: noise floor 1 everywhere, the signal's levels at its
// two bins.
struct TSpectra {
  std::vector<float> Mark, Space;
  TSingleArray Spectrum = TSingleArray(256, 1.0f);
  const TSingleArray& At(std::size_t i) {
    Spectrum[kMark] = Mark[i];
    Spectrum[kSpace] = Space[i];
    return Spectrum;
  }
};

TSpectra Message(std::string_view text, double snrDb = 25.0, uint32_t seed = 3) {
  TToneLevelSettings s;
  s.SnrDb = snrDb;
  s.Seed = seed;
  const auto l = testing::RenderMessage(s, EncodeText(text), 1.0, 1.0);
  return {l.Mark, l.Space};
}

std::string RawText(const TMessageStorage& ms) {
  std::string s;
  for (int i = 0; i <= ms.HiChar(); ++i) s.push_back(static_cast<char>(ms.Char(i).RawCh));
  return s;
}

class RttyReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::EnsureDecoderGlobals(); }
};

TEST_F(RttyReceiverTest, FreshReceiver) {
  TRttyReceiver rx(kMark, kSpace);
  EXPECT_TRUE(rx.Afc.Enabled);
  EXPECT_EQ(rx.Afc.BinM, kMark);
  EXPECT_EQ(rx.HistCnt(), 0);
  for (int64_t i : {0, 1, 127, 65535, 65536, -1}) EXPECT_EQ(rx.GetHist(i).Bit, skVirtual) << i;
  EXPECT_EQ(&rx.GetHist(-1), &rx.GetHist(65535));
  EXPECT_EQ(&rx.GetHist(65536 * 3 + 5), &rx.GetHist(5));
  EXPECT_THROW(TRttyReceiver(-1, 3), ERangeError);
}

TEST_F(RttyReceiverTest, QuietSpectrumFillsOnlyTheCurrentEntry) {
  TRttyReceiver rx(kMark, kSpace);
  TSingleArray s(256, 1.0f);
  rx.SpectrumArrived(s);
  EXPECT_EQ(rx.HistCnt(), 1);
  EXPECT_EQ(rx.HistIdx(), 1);
  EXPECT_EQ(rx.GetHist(0).NflM, rx.SigM.Nfl);
  EXPECT_EQ(rx.GetHist(0).Bit, skVirtual);
  EXPECT_EQ(rx.GetHist(1).NflM, 0.0f);
  // Noise alone: the squared ratios stay far below 9.
  EXPECT_EQ(rx.InstantSnrDb, 0.0f);
  EXPECT_EQ(rx.FastSnrDb, 0.0f);
}

// Every entry's Prob is the combined mark probability of its step:
// (1 - PS) PM / ((1 - PS) PM + (1 - PM) PS), 0.499 when that is 0 / 0.
TEST_F(RttyReceiverTest, EntryHoldsTheCombinedMarkProbability) {
  TRttyReceiver rx(kMark, kSpace);
  TSpectra sp = Message("RYRY CQ TEST");
  for (std::size_t i = 0; i < sp.Mark.size(); ++i) {
    rx.SpectrumArrived(sp.At(i));
    const double a = (1.0 - rx.SigS.Prob) * rx.SigM.Prob, b = (1.0 - rx.SigM.Prob) * rx.SigS.Prob;
    const float want = a + b > 0.0 ? static_cast<float>(a / (a + b)) : 0.499f;
    ASSERT_EQ(rx.GetHist(rx.HistCnt() - 1).Prob, want) << i;
  }
}

// Runs of spectra of any length (across the steps that feed the noise
// floors back) leave the receiver as the same spectra one at a time: the
// history, the text, the figures and the extractors, to the bit.
TEST_F(RttyReceiverTest, RunsOfSpectraAsOneByOne) {
  TSpectra sp = Message("CQ CQ DE DL1ABC DL1ABC K RYRY", 12.0, 5);
  TRttyReceiver one(kMark, kSpace), runs(kMark, kSpace);
  int eventsOne = 0, eventsRuns = 0;
  one.OnChar = [&](TRttyReceiver&) { ++eventsOne; };
  runs.OnChar = [&](TRttyReceiver&) { ++eventsRuns; };
  std::mt19937 rng(4);
  std::vector<TSingleArray> kept;
  std::vector<std::span<const float>> run;
  for (std::size_t i = 0; i < sp.Mark.size();) {
    const std::size_t n = std::min<std::size_t>(1 + rng() % 40, sp.Mark.size() - i);
    kept.clear();
    for (std::size_t k = 0; k < n; ++k) kept.push_back(sp.At(i + k));
    run.assign(kept.begin(), kept.end());
    for (const TSingleArray& s : kept) one.SpectrumArrived(s);
    runs.SpectraArrived(run);
    i += n;
    ASSERT_EQ(runs.HistCnt(), one.HistCnt());
    for (const auto& [a, b] :
         {std::pair(&one.SigM, &runs.SigM), std::pair(&one.SigS, &runs.SigS)}) {
      ASSERT_EQ(b->Env, a->Env) << i;
      ASSERT_EQ(b->Amp, a->Amp) << i;
      ASSERT_EQ(b->Nfl, a->Nfl) << i;
      ASSERT_EQ(b->Prob, a->Prob) << i;
      ASSERT_EQ(b->Snr, a->Snr) << i;
    }
    ASSERT_EQ(runs.InstantSnrDb, one.InstantSnrDb) << i;
    ASSERT_EQ(runs.FastSnrDb, one.FastSnrDb) << i;
    ASSERT_EQ(runs.SlowSnrDb, one.SlowSnrDb) << i;
    ASSERT_EQ(runs.Afc.AfcM, one.Afc.AfcM) << i;
  }
  for (int64_t n = 0; n < one.HistCnt(); ++n) {
    const THistoryEntry &a = one.GetHist(n), &b = runs.GetHist(n);
    ASSERT_TRUE(a.AmpM == b.AmpM && a.EnvM == b.EnvM && a.NflM == b.NflM && a.ProbM == b.ProbM &&
                a.AmpS == b.AmpS && a.EnvS == b.EnvS && a.NflS == b.NflS && a.ProbS == b.ProbS &&
                a.Shp == b.Shp && a.Prob == b.Prob && a.Bit == b.Bit && a.Ch == b.Ch)
        << n;
  }
  EXPECT_EQ(RawText(runs.Ms), RawText(one.Ms));
  EXPECT_GT(eventsOne, 10);
  EXPECT_EQ(eventsRuns, eventsOne);
}

TEST_F(RttyReceiverTest, ShortSpectrumIsARangeError) {
  TRttyReceiver rx(kMark, kSpace);
  rx.Afc.Enabled = false;
  EXPECT_THROW(rx.SpectrumArrived(TSingleArray(100, 1.0f)), ERangeError);
}

struct TRecordingSink : IHist2dSink {
  void AddSample(float amp, float env) override { Samples.emplace_back(amp, env); }
  std::vector<std::pair<float, float>> Samples;
};

TEST_F(RttyReceiverTest, DecodesTextAndSettlesHistory127SpectraLate) {
  const std::string text = "CQ_CQ_DE_DL1ABC_DL1ABC_K";
  TSpectra sp = Message(text);
  TRttyReceiver rx(kMark, kSpace);
  rx.Afc.SetUsb(false);
  TRecordingSink sink;
  rx.Hist2d = &sink;
  int events = 0;
  rx.OnChar = [&](TRttyReceiver& r) {
    ++events;
    // The storage already holds the corrected record.
    EXPECT_EQ(r.Ms.HiChar() + 1, events);
    EXPECT_NE(r.Ms.Char(r.Ms.HiChar()).CorrCh, 0);
    EXPECT_FALSE(r.Ms.ChangedChars().empty());
    // ... and the callsign extractor has it: its words are those of a cut
    // from scratch (but for one at the window's first record, which it leaves
    // out as its run may have begun before).
    TCallExtractor fresh(&r.Ms);
    fresh.Update(r.Ms.HiChar() + 1);
    const auto later = [&](const TCallExtractor& x) {
      int n = 0;
      for (int w = 0; w < x.WordCount(); ++w) n += x.Words(w).Start > r.Ms.DumpCount();
      return n;
    };
    EXPECT_EQ(later(r.Cx), later(fresh)) << events;
  };
  // The extractors and the bit decoder fed by hand, with the same noise-floor
  // feedback from the settled steps.
  testing::TBitDecoderHarness h;
  int64_t decodeSteps = 0;
  for (std::size_t i = 0; i < sp.Mark.size(); ++i) {
    const double fast = rx.FastSnrDb;
    rx.SpectrumArrived(sp.At(i));
    h.Step(sp.Mark[i], sp.Space[i]);
    if (rx.Bx.DebugStates().empty()) {
      // The signal-to-noise figures, from the levels before any feedback.
      const double rM = static_cast<double>(rx.SigM.Env) / rx.SigM.Nfl, rS = static_cast<double>(rx.SigS.Env) / rx.SigS.Nfl;
      const double instant = 10 * std::log10(std::max(1.0, (rM * rM + rS * rS) / 9));
      ASSERT_NEAR(rx.InstantSnrDb, instant, 1e-4) << i;
      ASSERT_NEAR(rx.FastSnrDb, 0.97 * fast + 0.03 * instant, 1e-4) << i;
      const double slow = 10 * std::log10(std::max(1.0, (static_cast<double>(rx.SigM.Snr) + rx.SigS.Snr) / 2)) + 1;
      ASSERT_NEAR(rx.SlowSnrDb, slow, 1e-4) << i;
      continue;
    }
    ++decodeSteps;
    const int64_t cur = rx.HistCnt() - 1;
    // Settled: cur-127 .. cur-96; the newer ones are not yet (first pass).
    EXPECT_NE(rx.GetHist(cur - 96).Bit, skVirtual);
    EXPECT_NE(rx.GetHist(cur - 127).Bit, skVirtual);
    EXPECT_EQ(rx.GetHist(cur - 95).Bit, skVirtual);
    EXPECT_EQ(rx.GetHist(cur).Bit, skVirtual);
    // Each settled step's two histogram samples: amplitude against the level
    // its state expects, mark then space.
    ASSERT_GE(sink.Samples.size(), 64u);
    for (int k = 0; k < 32; ++k) {
      const THistoryEntry& e = rx.GetHist(cur - 127 + k);
      const auto& m = sink.Samples[sink.Samples.size() - 64 + 2 * static_cast<std::size_t>(k)];
      const auto& s = sink.Samples[sink.Samples.size() - 63 + 2 * static_cast<std::size_t>(k)];
      EXPECT_EQ(m, std::make_pair(e.AmpM, 1 + (e.EnvM - 1) * e.Shp)) << k;
      EXPECT_EQ(s, std::make_pair(e.AmpS, 1 + (1 - e.Shp) * (e.EnvS - 1))) << k;
    }
  }
  EXPECT_EQ(static_cast<int64_t>(sink.Samples.size()), decodeSteps * 32 * 2);
  EXPECT_NE(h.M.Nfl, 1.0f);
  EXPECT_EQ(rx.SigM.Nfl, h.M.Nfl);
  EXPECT_EQ(rx.SigS.Nfl, h.S.Nfl);
  EXPECT_GT(events, 0);
  const std::string raw = RawText(rx.Ms);
  EXPECT_NE(raw.find(testing::RawOf(EncodeText(text))), std::string::npos) << raw;
  // Characters sit in the history at their stop's spectrum.
  for (int i = 0; i <= rx.Ms.HiChar(); ++i) {
    const TCharInfo c = rx.Ms.Char(i);
    const int32_t n = c.SampleNo;
    EXPECT_EQ(rx.GetHist(n).Ch, c.RawCh);
  }
  EXPECT_GT(rx.FastSnrDb, 10.0f);
  EXPECT_GT(rx.SlowSnrDb, 10.0f);
}

TEST_F(RttyReceiverTest, ResetKeepsHistoryAndExtractors) {
  TSpectra sp = Message("RYRYRY");
  TRttyReceiver rx(kMark, kSpace);
  for (std::size_t i = 0; i < sp.Mark.size(); ++i) rx.SpectrumArrived(sp.At(i));
  ASSERT_GE(rx.Ms.HiChar(), 0);
  const float nfl = rx.SigM.Nfl;
  const float amp0 = rx.GetHist(0).AmpM;
  const TStateKind bit0 = rx.GetHist(0).Bit;
  rx.Reset();
  EXPECT_EQ(rx.HistCnt(), 0);
  EXPECT_EQ(rx.HistIdx(), 0);
  EXPECT_EQ(rx.Ms.HiChar(), -1);
  EXPECT_EQ(rx.Bx.SampleCnt(), 0);
  EXPECT_EQ(rx.SigM.Nfl, nfl);
  EXPECT_EQ(rx.GetHist(0).AmpM, amp0);
  EXPECT_EQ(rx.GetHist(0).Bit, bit0);
}

// The ring wraps after 65,536 spectra; SampleNo and ring position stay in step.
TEST_F(RttyReceiverTest, RunPast70000Spectra) {
  const std::string text = "RYRY_THE_QUICK_BROWN_FOX_73";
  TSpectra sp = Message(text, 25.0, 9);
  TRttyReceiver rx(kMark, kSpace);
  const int64_t total = 70000;
  int64_t chars = 0;
  rx.OnChar = [&](TRttyReceiver& r) {
    ++chars;
    const TCharInfo c = r.Ms.Char(r.Ms.HiChar());
    const int32_t n = c.SampleNo;
    EXPECT_LE(n, r.HistCnt());
  };
  for (int64_t i = 0; i < total; ++i) rx.SpectrumArrived(sp.At(static_cast<std::size_t>(i) % sp.Mark.size()));
  EXPECT_EQ(rx.HistCnt(), total);
  EXPECT_EQ(rx.HistIdx(), total % 65536);
  EXPECT_EQ(rx.Bx.SampleCnt(), total);
  EXPECT_GT(chars, 600);
  // Every character still in the ring's reach is at its spectrum.
  for (int i = 0; i <= rx.Ms.HiChar(); ++i) {
    const TCharInfo c = rx.Ms.Char(i);
    const int32_t n = c.SampleNo;
    if (total - n < 60000) {
      EXPECT_EQ(rx.GetHist(n).Ch, c.RawCh) << n;
    }
  }
  // Wrapped entries were settled on the second pass too.
  EXPECT_NE(rx.GetHist(total - 200).Bit, skVirtual);
}

TEST_F(RttyReceiverTest, MemoryPerReceiver) {
  TRttyReceiver rx(kMark, kSpace);
  const std::size_t bytes = rx.MemoryBytes();
  std::printf("receiver memory: %.2f MB\n", bytes / 1e6);
  EXPECT_GT(bytes, 65536u * 44u);
  EXPECT_LT(bytes, 4u * 1024u * 1024u);
}

}  // namespace
}  // namespace brenvo

namespace brenvo {
namespace {

// The callsign extractor follows every character: the call of a CQ heard
// twice becomes the best call, and the callsign list takes it once.
TEST_F(RttyReceiverTest, CallsignsOfTheDecodedText) {
  TSpectra sp = Message("CQ_CQ_DE_DL1ABC_DL1ABC_K__CQ_CQ_DE_DL1ABC_DL1ABC_K");
  TRttyReceiver rx(kMark, kSpace);
  int changes = 0;
  rx.OnChar = [&](TRttyReceiver& r) { changes += r.Cx.Changed() ? 1 : 0; };
  for (std::size_t i = 0; i < sp.Mark.size(); ++i) rx.SpectrumArrived(sp.At(i));
  EXPECT_GT(changes, 0);
  ASSERT_NE(rx.Cx.BestCall(), nullptr);
  EXPECT_EQ(rx.Cx.BestCall()->Txt, "DL1ABC");
  EXPECT_EQ(rx.Cx.BestCall()->CqDe, cdCQ);
  std::vector<const TCallEstimate*> lines;
  ASSERT_TRUE(TakeCallsToShow(rx.Cx, lines));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(CallLineText(*lines[0]), "CQ DL1ABC");
  EXPECT_FALSE(CallLineGrey(*lines[0]));
  EXPECT_FALSE(TakeCallsToShow(rx.Cx, lines));  // taken: nothing new
  rx.Reset();
  EXPECT_EQ(rx.Cx.CallCount(), 0);
  EXPECT_EQ(rx.Cx.BestCall(), nullptr);
}

}  // namespace
}  // namespace brenvo
