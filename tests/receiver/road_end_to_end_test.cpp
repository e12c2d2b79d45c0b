// The whole road on synthesised audio: several signals at once, noise and
// drift, channels appearing and dying, Automatic QSX, and the character
// error rate against the signal-to-noise ratio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "decoder/bit_decoder_harness.h"
#include "receiver/decoding_road.h"
#include "receiver/road_transcript.h"
#include "receiver_test_env.h"
#include "support/rtty_synth.h"

namespace brenvo {
namespace {

using testing::RttySynthParams;

// The sanitizer builds run the heavy cases on fewer points.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSmall = true;
#else
constexpr bool kSmall = false;
#endif

struct TSignal {
  double MarkHz, SpaceHz;
  std::string Text;
  double LeadSec = 0.5;
  double IdleAfterSec = 1.0;
  double DriftHzPerSec = 0.0;
  double EdgeSec = 0.004;  // 0: hard keying
};

int BinOf(double hz) { return static_cast<int>(std::nearbyint(hz * 256.0 / 3000.0)); }

// Sum of the signals plus white noise at snrDb in 3 kHz relative to one
// signal of the given amplitude (+inf: none), and tailSec of room at the end.
TSingleArray Mix(const std::vector<TSignal>& sigs, double snrDb, uint64_t seed, double tailSec = 3.0) {
  const double amplitude = 4000.0 * 65536.0;
  TSingleArray out;
  for (const TSignal& s : sigs) {
    RttySynthParams p;
    p.MarkHz = s.MarkHz;
    p.SpaceHz = s.SpaceHz;
    p.Amplitude = amplitude;
    p.LeadSilenceSec = s.LeadSec;
    p.IdleBeforeSec = 1.0;
    p.IdleAfterSec = s.IdleAfterSec;
    p.DriftHzPerSec = s.DriftHzPerSec;
    p.EdgeSec = s.EdgeSec;
    const auto sig = testing::SynthesizeText(p, s.Text);
    if (out.size() < sig.Samples.size()) out.resize(sig.Samples.size(), 0.0f);
    for (std::size_t k = 0; k < sig.Samples.size(); ++k) out[k] += sig.Samples[k];
  }
  out.resize(out.size() + static_cast<std::size_t>(tailSec * 6000), 0.0f);
  if (std::isfinite(snrDb)) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> g(0.0, amplitude / std::sqrt(2.0) * std::pow(10.0, -snrDb / 20.0));
    for (float& v : out) v += static_cast<float>(g(rng));
  }
  return out;
}

void Play(TDecodingRoad& road, const TSingleArray& audio) {
  TDataBufferF block(1, TSingleArray(128));
  for (std::size_t at = 0; at + 128 <= audio.size(); at += 128) {
    std::copy_n(audio.begin() + static_cast<std::ptrdiff_t>(at), 128, block[0].begin());
    road.AudioDataArrived(block);
  }
}

// Text as the views show it: "_" a blank.
std::string Shown(std::string t) {
  for (char& c : t)
    if (c == '_') c = ' ';
  return t;
}

const TChannelTranscript* ChannelAt(const TRoadTranscript& tr, int mark, int space) {
  const TChannelTranscript* found = nullptr;
  for (const TChannelTranscript& t : tr.Channels())
    if (std::abs(t.MarkBin - mark) <= 1 && std::abs(t.SpaceBin - space) <= 1 && (!found || t.Raw.Utf8Text().size() > found->Raw.Utf8Text().size()))
      found = &t;
  return found;
}

class RoadEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { testing::EnsureDecoderGlobals(); }
};

TEST_F(RoadEndToEnd, ThreeSignalsAtOnceInBothSidebandsWithNoiseAndDrift) {
  for (bool usb : {false, true}) {
    std::vector<TSignal> sigs = {
        {900.0, 1070.0, "CQ CQ DE DL1ABC DL1ABC PSE K", 0.5, 1.0, 1.0},
        {1500.0, 1670.0, "RYRY TEST DE W1AW W1AW TEST", 1.3, 1.0, 1.0},
        {2125.0, 2295.0, "K1XYZ DE G4ABC 599 599 BK", 2.1, 1.0, 1.0},
    };
    if (usb)
      for (TSignal& s : sigs) std::swap(s.MarkHz, s.SpaceHz);
    const TSingleArray audio = Mix(sigs, 10.0, usb ? 7 : 8);
    TDecodingRoad road;
    road.Chans.SetUsb(usb);
    TRoadTranscript tr(road.Chans);
    Play(road, audio);
    tr.Finish();
    const double seconds = static_cast<double>(audio.size()) / 6000.0;
    for (const TSignal& s : sigs) {
      // The tones drift 1 Hz/s: the bins at the end lie up to a bin higher.
      const double drift = seconds - s.LeadSec;
      const TChannelTranscript* t = ChannelAt(tr, BinOf(s.MarkHz + drift * 0.8), BinOf(s.SpaceHz + drift * 0.8));
      ASSERT_NE(t, nullptr) << s.Text << (usb ? " USB" : " LSB");
      EXPECT_NE(t->Raw.Utf8Text().find(s.Text), std::string::npos) << t->Raw.Utf8Text();
      EXPECT_NE(t->Corrected.Utf8Text().find(s.Text), std::string::npos) << t->Corrected.Utf8Text();
      EXPECT_EQ(t->MarkBin > t->SpaceBin, usb);
    }
    // Nothing but the three signals and the default channel.
    EXPECT_LE(road.Chans.Count(), 4) << (usb ? "USB" : "LSB");
  }
}

// A view that keeps its text like the main view.
struct TModelView : IMessageView {
  TModelView() {
    Model.ShowCorrected = true;
    Model.ShowSquelched = false;
    Model.MaxLines = 0;
  }
  void PutText(const TCharInfoArray& n, const TCharInfoArray& o) override { Model.PutText(n, o); }
  void PutQsxBar(int32_t hz) override {
    Model.PutQsxBar(hz);
    Bars.push_back(hz);
  }
  TFreezeState FreezeState() const override { return fsOff; }
  TMessageTextModel Model;
  std::vector<int32_t> Bars;
};

TEST_F(RoadEndToEnd, StoppedSignalDiesAndAutomaticQsxMovesOn) {
  // A at the default bins stops after its message; B keeps its tone on.
  const std::vector<TSignal> sigs = {
      {2125.0, 2295.0, "CQ DE DL1ABC K", 0.5, 0.5},
      {1275.0, 1445.0, "QRZ DE W1AW W1AW K", 0.5, 36.0},
  };
  const TSingleArray audio = Mix(sigs, 15.0, 3, 0.0);
  TDecodingRoad road;
  TModelView view;
  road.Links.MainView = &view;
  road.HoppingEnabled = true;
  TRoadTranscript tr(road.Chans);
  const int64_t defaultId = road.Chans.Selected()->Id();
  Play(road, audio);
  tr.Finish();
  // The selection went to B with a QSX bar and B's text.
  ASSERT_NE(road.Chans.Selected(), nullptr);
  EXPECT_EQ(road.Chans.Selected()->MarkBin(), BinOf(1275.0));
  ASSERT_EQ(view.Bars.size(), 1u);
  EXPECT_EQ(view.Bars[0], road.BinToHz(road.Chans.Selected()->MarkBin()));
  const std::string shown = view.Model.Utf8Text();
  EXPECT_NE(shown.find("DL1ABC"), std::string::npos) << shown;
  EXPECT_NE(shown.find("QSX"), std::string::npos) << shown;
  EXPECT_NE(shown.find("W1AW K"), std::string::npos) << shown;
  // A's channels (the default one and the one its peaks made) died and were deleted.
  const TChannelTranscript* a = tr.Find(defaultId);
  ASSERT_NE(a, nullptr);
  EXPECT_FALSE(a->Alive);
  EXPECT_NE(a->Corrected.Utf8Text().find("CQ DE DL1ABC K"), std::string::npos) << a->Corrected.Utf8Text();
  for (int32_t i = 0; i < road.Chans.Count(); ++i)
    EXPECT_NE(std::abs(road.Chans.Item(i).MarkBin() - BinOf(2125.0)) <= 1, true) << road.Chans.Item(i).MarkBin();
}

// A strong station on a quiet band, or no noise at all: its keying splatter
// fills most of the spectrum, which must not pass for the noise.
TEST_F(RoadEndToEnd, StrongCleanSignalsDecodeExactly) {
  const std::string text = "RYRYRY CQ CQ DE DL1ABC DL1ABC K";
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> snrs = kSmall ? std::vector<double>{60, inf} : std::vector<double>{30, 40, 50, 60, 70, 80, 90, inf};
  for (double edgeSec : {0.0, 0.004})
    for (double snrDb : snrs) {
      TDecodingRoad road;
      TRoadTranscript tr(road.Chans);
      const int64_t id = road.Chans.Selected()->Id();
      TSignal sig{2125.0, 2295.0, text};
      sig.EdgeSec = edgeSec;
      Play(road, Mix({sig}, snrDb, 11, 1.0));
      const TChannelTranscript* t = tr.Find(id);
      ASSERT_NE(t, nullptr);
      EXPECT_NE(t->Raw.Utf8Text().find(text), std::string::npos) << snrDb << " dB, edge " << edgeSec << ": " << t->Raw.Utf8Text();
      EXPECT_NE(t->Corrected.Utf8Text().find(text), std::string::npos) << snrDb << " dB: " << t->Corrected.Utf8Text();
    }
}

// Every character event (its records' raw and corrected characters) and
// every histogram sample, in the order they arrive.
struct TEventLog : IHist2dSink {
  void AddSample(float amp, float env) override { Hist.push_back({amp, env}); }
  void Char(const TRttyReceiver& rx, char tag) {
    Chars += tag;
    for (const TCharInfo& r : rx.CharBatch().OldChars) Chars += {'-', static_cast<char>(r.CorrCh)};
    for (const TCharInfo& r : rx.CharBatch().NewChars) Chars += {static_cast<char>(r.RawCh), static_cast<char>(r.CorrCh)};
  }
  std::vector<std::pair<float, float>> Hist;
  std::string Chars;
};

TEST_F(RoadEndToEnd, ThreadsChangeNothingThatIsDecodedOrRaised) {
  std::vector<TSignal> sigs;
  const std::vector<std::string> texts = {"CQ CQ DE DL1ABC K", "TEST K1XYZ", "UR 599 001 BK", "QRZ DE G4ABC"};
  for (std::size_t i = 0; i < (kSmall ? 2u : 6u); ++i)
    sigs.push_back({500.0 + 330.0 * static_cast<double>(i), 670.0 + 330.0 * static_cast<double>(i), texts[i % texts.size()],
                    0.3 + 0.4 * static_cast<double>(i)});
  const TSingleArray audio = Mix(sigs, 6.0, 21);
  TEventLog first;
  std::string firstText;
  for (int32_t jobs : {1, 2, 8}) {
    TDecodingRoad road;
    road.SetJobs(jobs);
    ASSERT_EQ(road.Jobs(), jobs);
    road.HoppingEnabled = true;  // the selection moves while the channels run
    TModelView view;
    road.Links.MainView = &view;
    TEventLog log;
    road.Chans.SetHist2d(&log);
    road.Chans.CharSpy = [&](TRttyReceiver& rx) { log.Char(rx, '*'); };
    road.Chans.Selected()->Rx.OnCharSpy = road.Chans.CharSpy;
    Play(road, audio);
    if (jobs == 1) {
      EXPECT_GT(std::count(log.Chars.begin(), log.Chars.end(), '*'), 40) << log.Chars;
      EXPECT_FALSE(log.Hist.empty());
      EXPECT_FALSE(view.Model.Utf8Text().empty());
      first = log;
      firstText = view.Model.Utf8Text();
    } else {
      // Whole logs are too long for a readable difference: equality only.
      EXPECT_TRUE(log.Chars == first.Chars) << jobs << " threads";
      EXPECT_TRUE(log.Hist == first.Hist) << jobs << " threads";
      EXPECT_EQ(view.Model.Utf8Text(), firstText) << jobs << " threads";
    }
  }
}

// The clients' posts: raw characters with -1, corrected ones with their
// delete count.
struct TPostLog : ICharPoster {
  void PostRawChar(const TCharInfo& i) override { Posts.push_back({i.RawCh, -1}); }
  void PostCorrChar(const TCharInfo& i, int32_t del) override { Posts.push_back({i.CorrCh, del}); }
  std::vector<std::pair<uint8_t, int32_t>> Posts;
};

// Blocks handed on together let the channels run across block ends and the
// front end run ahead: still every channel raises the same events in the
// same order, and the views and the clients get the same, QSX moves
// included.
TEST_F(RoadEndToEnd, BlocksHandedOnTogetherChangeNothingThatIsDecodedOrRaised) {
  // The signal at the default tones stops first: Automatic QSX moves on.
  std::vector<TSignal> sigs = {{2125.0, 2295.0, "CQ DE DL1ABC K", 0.5, 0.5}};
  for (int i = 0; i < (kSmall ? 2 : 4); ++i)
    sigs.push_back({500.0 + 330.0 * i, 670.0 + 330.0 * i, "TEST K1XYZ UR 599 BK", 0.3 + 0.45 * i, 6.0});
  const TSingleArray audio = Mix(sigs, 10.0, 5);
  struct TRun {
    std::map<int64_t, std::string> Chars;  // per channel, every event
    std::vector<std::pair<float, float>> Hist;
    std::string Shown;
    std::vector<int32_t> Bars;
    std::vector<int64_t> MovedAfter;  // spectra the channels had at each QSX move
    std::vector<std::pair<uint8_t, int32_t>> Posts;
  };
  // Notes when the selection moves.
  struct TMoveView : TModelView {
    explicit TMoveView(const TDecodingRoad& r) : Road(r) {}
    void PutQsxBar(int32_t hz) override {
      TModelView::PutQsxBar(hz);
      MovedAfter.push_back(Road.Chans.SpectrumCnt());
    }
    const TDecodingRoad& Road;
    std::vector<int64_t> MovedAfter;
  };
  const auto decode = [&](int32_t jobs, std::size_t batch) {
    TRun run;
    TDecodingRoad road;
    road.SetJobs(jobs);
    road.HoppingEnabled = true;
    TMoveView view(road);
    TPostLog server;
    road.Links.MainView = &view;
    road.Links.Server = &server;
    TEventLog hist;
    road.Chans.SetHist2d(&hist);
    road.Chans.CharSpy = [&](TRttyReceiver& rx) {
      for (int32_t i = 0; i < road.Chans.Count(); ++i)
        if (&road.Chans.Item(i).Rx == &rx) {
          TEventLog one;
          one.Char(rx, '*');
          run.Chars[road.Chans.Item(i).Id()] += one.Chars;
        }
    };
    road.Chans.Selected()->Rx.OnCharSpy = road.Chans.CharSpy;
    std::vector<TDataBufferF> blocks;
    for (std::size_t at = 0; at + 128 <= audio.size(); at += 128) {
      blocks.push_back({TSingleArray(audio.begin() + static_cast<std::ptrdiff_t>(at),
                                     audio.begin() + static_cast<std::ptrdiff_t>(at + 128))});
      if (blocks.size() == batch) {
        road.AudioBlocksArrived(blocks);
        blocks.clear();
      }
    }
    road.AudioBlocksArrived(blocks);
    run.Hist = hist.Hist;
    run.Shown = view.Model.Utf8Text();
    run.Bars = view.Bars;
    run.MovedAfter = view.MovedAfter;
    run.Posts = server.Posts;
    return run;
  };
  const TRun single = decode(1, 1);
  ASSERT_EQ(single.Bars.size(), 1u);
  EXPECT_GT(single.Chars.size(), sigs.size());
  EXPECT_FALSE(single.Posts.empty());
  for (int32_t jobs : {1, 8}) {
    TRun together = decode(jobs, 37);
    EXPECT_TRUE(together.Chars == single.Chars) << jobs << " threads";
    EXPECT_EQ(together.Shown, single.Shown) << jobs << " threads";
    EXPECT_EQ(together.Bars, single.Bars) << jobs << " threads";
    EXPECT_EQ(together.MovedAfter, single.MovedAfter) << jobs << " threads";
    EXPECT_TRUE(together.Posts == single.Posts) << jobs << " threads";
    // The histogram may get the channels' samples in another order.
    std::sort(together.Hist.begin(), together.Hist.end());
    TRun sorted = single;
    std::sort(sorted.Hist.begin(), sorted.Hist.end());
    EXPECT_TRUE(together.Hist == sorted.Hist) << jobs << " threads";
  }
}

// Line breaks are layout, not characters: they are left out of the count.
double Cer(std::string decoded, const std::string& sent) {
  std::erase(decoded, '\n');
  return static_cast<double>(testing::EditDistance(decoded, sent)) / static_cast<double>(sent.size());
}

TEST_F(RoadEndToEnd, NoiseRampCharacterErrorRate) {
  struct Step {
    double snrDb, minCer, maxCer;
  };
  const std::vector<Step> steps = kSmall ? std::vector<Step>{{-12, 0.2, 1.0}, {0, 0.0, 0.03}}
                                         : std::vector<Step>{{-18, 0.5, 1.5}, {-15, 0.3, 1.2}, {-12, 0.2, 1.0},
                                                             {-9, 0.02, 0.5}, {-6, 0.0, 0.15}, {-3, 0.0, 0.05},
                                                             {0, 0.0, 0.03},  {10, 0.0, 0.02}};
  const std::string text = Shown(testing::RandomText(kSmall ? 60 : 120, 5));
  for (const Step& st : steps) {
    double rawCer = 0, corrCer = 0;
    const int seeds = 2;
    for (int seed = 0; seed < seeds; ++seed) {
      TDecodingRoad road;
      TRoadTranscript tr(road.Chans);
      const int64_t id = road.Chans.Selected()->Id();
      Play(road, Mix({{2125.0, 2295.0, text, 0.5, 1.0}}, st.snrDb, 100 + static_cast<uint64_t>(seed), 1.0));
      const TChannelTranscript* t = tr.Find(id);
      ASSERT_NE(t, nullptr);
      rawCer += Cer(t->Raw.Utf8Text(), text) / seeds;
      corrCer += Cer(t->Corrected.Utf8Text(), text) / seeds;
    }
    std::printf("road noise ramp: SNR %5.1f dB in 3 kHz  CER raw %.4f  corrected %.4f\n", st.snrDb, rawCer, corrCer);
    EXPECT_GE(rawCer, st.minCer) << st.snrDb;
    EXPECT_LE(rawCer, st.maxCer) << st.snrDb;
    EXPECT_LE(corrCer, st.maxCer + 0.05) << st.snrDb;
  }
}

}  // namespace
}  // namespace brenvo
