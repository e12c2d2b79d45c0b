#include "receiver/rtty_channels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "dsp/errors.h"
#include "receiver_test_env.h"
#include "support/heap_counter.h"

namespace brenvo {
namespace {

using TPeakMap = std::vector<int32_t>;

TPeakMap Map(std::initializer_list<int> peaks) {
  TPeakMap m(256, kPeakNone);
  for (int b : peaks) m[static_cast<std::size_t>(b)] = kPeakUnclaimed;
  return m;
}

class RttyChannelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureDecoderGlobals();
    Chans.SetFftSize(256);
    Chans.SetThrottle(1.0f);
    Chans.SetAfcEnabled(true);
  }
  // The first seven maps are ignored while the engine settles.
  void Settle() {
    const int32_t count = Chans.Count();
    for (int i = 0; i < 7; ++i) {
      TPeakMap m = Map({40, 26});
      Chans.ProcessPeaks(m);
      EXPECT_EQ(Chans.Count(), count);
      EXPECT_EQ(m, Map({40, 26}));  // not even claimed
    }
  }
  void Peaks(TPeakMap m) { Chans.ProcessPeaks(m); }
  TRttyChannels Chans;
};

TEST_F(RttyChannelsTest, DefaultBinsInBothSidebands) {
  EXPECT_EQ(Chans.DefaultMarkBin(), 181);
  EXPECT_EQ(Chans.DefaultSpaceBin(), 196);
  Chans.SetUsb(true);
  EXPECT_EQ(Chans.DefaultMarkBin(), 196);
  EXPECT_EQ(Chans.DefaultSpaceBin(), 181);
  // Any tone gives its bins, without overflow: (tone - 170) x 256 / 3000 Hz.
  Chans.SetUsb(false);
  Chans.DefaultHighTone = INT32_MIN;
  EXPECT_EQ(std::pair(Chans.DefaultMarkBin(), Chans.DefaultSpaceBin()), std::pair(-183251952, -183251938));
  Chans.DefaultHighTone = INT32_MAX;
  EXPECT_EQ(std::pair(Chans.DefaultMarkBin(), Chans.DefaultSpaceBin()), std::pair(183251923, 183251938));
}

TEST_F(RttyChannelsTest, PeakPairCreatesOneChannelInEachSideband) {
  for (bool usb : {true, false}) {
    TRttyChannels c;
    c.SetUsb(usb);
    for (int i = 0; i < 7; ++i) {
      TPeakMap m = Map({40, 26});
      c.ProcessPeaks(m);
    }
    TPeakMap m = Map({40, 26, 38, 42, 43});  // 38, 42 and 43 have no partner
    c.ProcessPeaks(m);
    ASSERT_EQ(c.Count(), 1);
    const TRttyChannel& ch = c.Item(0);
    EXPECT_EQ(ch.Rx.Afc.BinM, usb ? 40 : 26);
    EXPECT_EQ(ch.Rx.Afc.BinS, usb ? 26 : 40);
    EXPECT_EQ(ch.MarkBin(), 40);  // the creation bin until its first spectrum
    EXPECT_EQ(ch.State(), csActive);
    EXPECT_EQ(ch.BackLogCnt, 63);
    // Cells 38 .. 42 claimed.
    for (int k : {38, 40, 42}) EXPECT_EQ(m[static_cast<std::size_t>(k)], kPeakClaimed) << k;
    EXPECT_EQ(m[43], kPeakUnclaimed);
    EXPECT_EQ(m[26], kPeakUnclaimed);
    // The same peaks again: claimed by the channel, nothing new.
    TPeakMap again = Map({40, 26});
    c.ProcessPeaks(again);
    EXPECT_EQ(c.Count(), 1);
    EXPECT_EQ(again[40], kPeakClaimed);
  }
}

TEST_F(RttyChannelsTest, SpacingAndRangeRules) {
  Settle();
  struct Case {
    std::initializer_list<int> peaks;
    int created;
  } cases[] = {
      {{40, 28}, 0},          // 12 bins apart
      {{60, 43}, 0},          // 17 bins apart
      {{60, 47}, 1},          // 13
      {{80, 64}, 1},          // 16
      {{31, 16}, 0},          // new channels from bin 32 up
      {{240, 225}, 0},        // and up to 239
      {{239, 225}, 1},
      {{32, 16}, 1},
      {{100, 86, 85}, 1},     // the first partner (13 before 14) counts once
  };
  for (const Case& cs : cases) {
    TRttyChannels c;
    c.SetUsb(true);
    for (int i = 0; i < 8; ++i) {
      TPeakMap m = Map(cs.peaks);
      c.ProcessPeaks(m);
    }
    EXPECT_EQ(c.Count(), cs.created) << *cs.peaks.begin();
  }
}

TEST_F(RttyChannelsTest, ListSortedByMarkBin) {
  Settle();
  Peaks(Map({200, 185, 100, 86, 60, 45}));
  ASSERT_EQ(Chans.Count(), 3);
  // Until their first spectrum channels show the peak they were made at.
  EXPECT_EQ(Chans.Item(0).MarkBin(), 60);
  EXPECT_EQ(Chans.Item(1).MarkBin(), 100);
  EXPECT_EQ(Chans.Item(2).MarkBin(), 200);
  Chans.SpectrumArrived(TSingleArray(256, 1.0f));
  // Lower sideband: the lower peak is the mark.
  EXPECT_EQ(Chans.Item(0).MarkBin(), 45);
  EXPECT_EQ(Chans.Item(1).MarkBin(), 86);
  EXPECT_EQ(Chans.Item(2).MarkBin(), 185);
  EXPECT_THROW(Chans.Item(3), ERangeError);
}

TEST_F(RttyChannelsTest, InactiveAt36thSilentMapDeadAt704th) {
  Settle();
  Peaks(Map({100, 86}));
  ASSERT_EQ(Chans.Count(), 1);
  const int64_t id = Chans.Item(0).Id();
  int64_t deleted = -1;
  Chans.OnChannelDeleted = [&](TRttyChannel& ch) { deleted = ch.Id(); };
  for (int n = 1; n <= 704; ++n) {
    Peaks(Map({}));
    ASSERT_EQ(Chans.Count(), 1) << n;
    const TChannelStatus want = n >= 704 ? csDead : n >= 36 ? csInactive : csActive;
    ASSERT_EQ(Chans.Item(0).State(), want) << n;
    EXPECT_FALSE(Chans.Changed());
  }
  Peaks(Map({}));
  EXPECT_EQ(Chans.Count(), 0);
  EXPECT_TRUE(Chans.Changed());
  EXPECT_EQ(deleted, id);
}

TEST_F(RttyChannelsTest, ActivityComesBackWithAPeakNearEitherTone) {
  Settle();
  Peaks(Map({100, 86}));
  for (int n = 0; n < 40; ++n) Peaks(Map({}));
  ASSERT_EQ(Chans.Item(0).State(), csInactive);
  TPeakMap m = Map({});
  m[85] = kPeakClaimed;  // claimed or not, a cell one bin from the space tone counts
  Peaks(m);
  EXPECT_EQ(Chans.Item(0).State(), csActive);
  EXPECT_EQ(Chans.Item(0).NoActivityAge, 0);
}

TEST_F(RttyChannelsTest, SelectedChannelIsNeverDeleted) {
  Settle();
  Peaks(Map({100, 86}));
  ASSERT_TRUE(Chans.SelectNear(100, 0));
  for (int n = 0; n < 800; ++n) Peaks(Map({}));
  ASSERT_EQ(Chans.Count(), 1);
  EXPECT_EQ(Chans.Item(0).State(), csDead);
  EXPECT_EQ(Chans.Selected(), &Chans.Item(0));
  Peaks(Map({100}));
  EXPECT_EQ(Chans.Item(0).State(), csActive);
}

// Two channels with mark bins 2 apart: made 5 apart (the first claims the
// cells around its tone), then the second moved down by 3 bins.
void MakeNeighbours(TRttyChannels& c) {
  c.SetUsb(true);
  c.SetAfcEnabled(false);
  for (int i = 0; i < 7; ++i) {
    TPeakMap m = Map({});
    c.ProcessPeaks(m);
  }
  TPeakMap m = Map({100, 86, 105, 91});
  c.ProcessPeaks(m);  // Age 8
  ASSERT_EQ(c.Count(), 2);
  c.Item(1).Rx.Afc.ShiftBins(-3);
  c.SpectrumArrived(TSingleArray(256, 1.0f));
  ASSERT_EQ(c.Item(0).MarkBin(), 100);
  ASSERT_EQ(c.Item(1).MarkBin(), 102);
}

TEST_F(RttyChannelsTest, DuplicatesKilledEvery16thMapTheLessRecentlyActiveGoes) {
  for (bool lowActive : {false, true}) {
    TRttyChannels c;
    MakeNeighbours(c);
    const int64_t survivor = c.Item(lowActive ? 0 : 1).Id();
    const TPeakMap keep = lowActive ? Map({100}) : Map({102 + 1});
    while (c.Age() % 16 != 15) {
      TPeakMap m = keep;
      c.ProcessPeaks(m);
      ASSERT_EQ(c.Count(), 2);
    }
    TPeakMap m = keep;
    c.ProcessPeaks(m);  // Age a multiple of 16
    ASSERT_EQ(c.Count(), 1);
    EXPECT_EQ(c.Item(0).Id(), survivor);
    EXPECT_TRUE(c.Changed());
  }
}

TEST_F(RttyChannelsTest, DuplicateTieKillsTheLowerIndexAndSparesTheSelected) {
  for (bool selectLow : {false, true}) {
    TRttyChannels c;
    MakeNeighbours(c);
    const int64_t lowId = c.Item(0).Id(), highId = c.Item(1).Id();
    if (selectLow) {
      ASSERT_TRUE(c.SelectNear(100, 0));
    }
    while (c.Age() % 16 != 15) {
      TPeakMap m = Map({101});  // one cell from both mark tones: equally active
      c.ProcessPeaks(m);
    }
    TPeakMap m = Map({101});
    c.ProcessPeaks(m);
    ASSERT_EQ(c.Count(), 1);
    EXPECT_EQ(c.Item(0).Id(), selectLow ? lowId : highId);
  }
}

TEST_F(RttyChannelsTest, OutOfRangeChannelKilledUnlessSelected) {
  Chans.SetUsb(true);
  Chans.DefaultHighTone = 2813;  // mark bin 240
  Chans.SelectDefault();
  ASSERT_EQ(Chans.Selected()->MarkBin(), 240);
  Chans.DefaultHighTone = 2295;
  Chans.SelectDefault();  // adds 196 and selects it
  ASSERT_EQ(Chans.Count(), 2);
  ASSERT_EQ(Chans.Selected()->MarkBin(), 196);
  Settle();
  Peaks(Map({}));
  ASSERT_EQ(Chans.Count(), 1);
  EXPECT_EQ(Chans.Item(0).MarkBin(), 196);
}

TEST_F(RttyChannelsTest, BacklogReplaysEachSpectrumOnceInOrder) {
  Chans.SetAfcEnabled(false);  // the bins stay where they were made
  TSingleArray s(256, 0.0f);
  int64_t g = 0;
  auto feed = [&] {
    s[100] = static_cast<float>((g + 1) * (g + 1));
    Chans.SpectrumArrived(s);
    ++g;
  };
  // 75 spectra: the ring's latest is at position 10.
  while (g < 75) feed();
  ASSERT_EQ(Chans.BackLogIdx(), 10);
  for (int i = 0; i < 7; ++i) Peaks(Map({}));
  Peaks(Map({100, 86}));
  ASSERT_EQ(Chans.Count(), 1);
  TRttyChannel& ch = Chans.Item(0);
  ASSERT_EQ(ch.Rx.Afc.BinM, 86);
  ch.Rx.Afc.SetUsb(true);  // read the test bin 100 as the mark
  EXPECT_EQ(ch.FirstSpectrum, 75);
  feed();  // stored at 11; the channel gets positions 12 and 13
  EXPECT_EQ(ch.Rx.HistCnt(), 2);
  EXPECT_EQ(ch.BackLogCnt, 62);
  for (int i = 0; i < 62; ++i) feed();
  EXPECT_EQ(ch.BackLogCnt, 0);
  EXPECT_EQ(ch.Rx.HistCnt(), 126);  // caught up: spectra 12 .. 137
  for (int i = 0; i < 100; ++i) feed();
  EXPECT_EQ(ch.Rx.HistCnt(), g - 12);
  // Amp lags its input by 43 steps: entry n holds the n-43rd spectrum the
  // channel processed, which must be spectrum 12 + n - 43.
  for (int64_t n = 43; n < ch.Rx.HistCnt(); ++n) {
    const double want = static_cast<double>(12 + n - 43 + 1);
    ASSERT_NEAR(ch.Rx.GetHist(n).AmpM, want, want * 1e-6) << n;
  }
}

TEST_F(RttyChannelsTest, RunsOfSpectraReplayTheBacklogAsSingleSpectraDo) {
  // Runs of every length up to a block's 8, and longer than the room, on one
  // thread and on a pool.
  TThreadPool pool(3);
  for (TThreadPool* onPool : {static_cast<TThreadPool*>(nullptr), &pool}) {
    for (int32_t run : {1, 3, 8, 100}) {
      TRttyChannels chans;
      chans.SetAfcEnabled(false);
      std::vector<float> spectra;
      int64_t g = 0;
      auto feed = [&](int32_t n) {
        spectra.assign(static_cast<std::size_t>(n) * 256, 0.0f);
        for (int32_t j = 0; j < n; ++j, ++g) spectra[static_cast<std::size_t>(j) * 256 + 100] = static_cast<float>((g + 1) * (g + 1));
        chans.SpectraArrived(spectra, onPool);
      };
      while (g < 75) feed(std::min<int32_t>(run, static_cast<int32_t>(75 - g)));
      for (int i = 0; i < 8; ++i) {
        TPeakMap m = i < 7 ? Map({}) : Map({100, 86, 200, 185});
        chans.ProcessPeaks(m);
      }
      ASSERT_EQ(chans.Count(), 2);
      for (int32_t c = 0; c < 2; ++c) chans.Item(c).Rx.Afc.SetUsb(true);
      while (g < 240) feed(run);
      // As with single spectra: the channels start at ring position 12,
      // spectrum 12, and take every spectrum once, in order (Amp lags 43 steps).
      const TRttyChannel& ch = chans.Item(0);
      ASSERT_EQ(ch.Rx.HistCnt(), g - 12) << run;
      for (int64_t n = 43; n < ch.Rx.HistCnt(); ++n) {
        const double want = static_cast<double>(12 + n - 43 + 1);
        ASSERT_NEAR(ch.Rx.GetHist(n).AmpM, want, want * 1e-6) << "run " << run << ", entry " << n;
      }
    }
  }
}

TEST_F(RttyChannelsTest, EarlyChannelReplaysZeroSpectraFirst) {
  Chans.SelectDefault();
  TSingleArray s(256, 5.0f);
  Chans.SpectrumArrived(s);
  const TRttyChannel& ch = *Chans.Selected();
  EXPECT_EQ(ch.Rx.HistCnt(), 2);
  EXPECT_EQ(ch.Rx.GetHist(0).NflM, ch.Rx.GetHist(1).NflM);
}

TEST_F(RttyChannelsTest, WrongSpectrumLengthChangesNothing) {
  Chans.SelectDefault();
  EXPECT_THROW(Chans.SpectrumArrived(TSingleArray(255, 1.0f)), EAssertionFailure);
  EXPECT_EQ(Chans.SpectrumCnt(), 0);
  EXPECT_EQ(Chans.Selected()->Rx.HistCnt(), 0);
  TPeakMap small(100, 0);
  EXPECT_THROW(Chans.ProcessPeaks(small), ERangeError);
  EXPECT_THROW(Chans.SetThrottle(1.5f), ERangeError);
  EXPECT_THROW(Chans.SetFftSize(16), ERangeError);
}

TEST_F(RttyChannelsTest, SelectNearMovesTheHandler) {
  Settle();
  Peaks(Map({60, 46, 100, 86, 150, 135}));
  ASSERT_EQ(Chans.Count(), 3);
  Chans.SpectrumArrived(TSingleArray(256, 1.0f));  // lower sideband marks: 46, 86, 135
  int calls = 0;
  ASSERT_TRUE(Chans.SelectNear(0, 100));
  EXPECT_EQ(Chans.Selected()->MarkBin(), 46);
  Chans.Selected()->Rx.OnChar = [&](TRttyReceiver&) { ++calls; };
  // Nearest other active channel; 86 is 40 away from 126, 135 is 9.
  EXPECT_FALSE(Chans.SelectNear(126, 8));
  EXPECT_EQ(Chans.Selected()->MarkBin(), 46);
  ASSERT_TRUE(Chans.SelectNear(126, 9));
  EXPECT_EQ(Chans.Selected()->MarkBin(), 135);
  EXPECT_FALSE(Chans.Item(0).Rx.OnChar);
  ASSERT_TRUE(Chans.Selected()->Rx.OnChar);
  Chans.Selected()->Rx.OnChar(Chans.Selected()->Rx);
  EXPECT_EQ(calls, 1);
  // Ties: the first in list order.
  ASSERT_TRUE(Chans.SelectNear(66, 100));
  EXPECT_EQ(Chans.Selected()->MarkBin(), 46);
}

TEST_F(RttyChannelsTest, SelectNearWithoutOtherActiveChannelKeepsEverything) {
  Chans.SelectDefault();
  TRttyChannel* sel = Chans.Selected();
  sel->Rx.OnChar = [](TRttyReceiver&) {};
  EXPECT_FALSE(Chans.SelectNear(0, 2147483647));
  EXPECT_EQ(Chans.Selected(), sel);
  EXPECT_TRUE(sel->Rx.OnChar);
}

TEST_F(RttyChannelsTest, SelectDefaultAddsOrReuses) {
  Chans.SetUsb(true);
  Chans.SelectDefault();
  ASSERT_EQ(Chans.Count(), 1);
  TRttyChannel* first = Chans.Selected();
  EXPECT_EQ(first->MarkBin(), 196);
  EXPECT_EQ(first->Rx.Afc.BinS, 181);
  EXPECT_TRUE(first->Rx.Afc.Enabled);
  // Again while the default channel is selected: a second channel at the
  // default bins; the selection goes to the first active one other than the
  // selected at that moment.
  Chans.SelectDefault();
  ASSERT_EQ(Chans.Count(), 2);
  EXPECT_NE(Chans.Selected(), first);
  EXPECT_EQ(Chans.Selected()->MarkBin(), 196);
  // From a channel elsewhere, an existing active channel at the default is reused.
  TRttyChannels c;
  c.SetUsb(true);
  for (int i = 0; i < 7; ++i) {
    TPeakMap m = Map({});
    c.ProcessPeaks(m);
  }
  TPeakMap m = Map({196, 181, 100, 86});
  c.ProcessPeaks(m);
  ASSERT_EQ(c.Count(), 2);
  c.SelectDefault();
  EXPECT_EQ(c.Count(), 2);
  EXPECT_EQ(c.Selected()->MarkBin(), 196);
}

struct TNullSink : IHist2dSink {
  void AddSample(float, float) override {}
};

TEST_F(RttyChannelsTest, SettingsReachEveryReceiver) {
  Settle();
  Peaks(Map({100, 86}));
  TNullSink sink;
  Chans.SetHist2d(&sink);
  Peaks(Map({100, 86, 150, 135}));
  ASSERT_EQ(Chans.Count(), 2);
  Chans.SetAfcEnabled(false);
  Chans.SetUsb(true);
  for (int i = 0; i < Chans.Count(); ++i) {
    EXPECT_FALSE(Chans.Item(i).Rx.Afc.Enabled);
    EXPECT_TRUE(Chans.Item(i).Rx.Afc.IsUsb());
    EXPECT_EQ(Chans.Item(i).Rx.Hist2d, &sink);
  }
  Chans.SpectrumArrived(TSingleArray(256, 1.0f));
  Chans.Reset();
  for (int i = 0; i < Chans.Count(); ++i) EXPECT_EQ(Chans.Item(i).Rx.HistCnt(), 0);
}

// Peak maps and spectra in steady state allocate nothing, the list's
// re-sort after every map included; a channel appended by SelectDefault out
// of order is sorted in by the next map.
TEST_F(RttyChannelsTest, SteadyStateAllocatesNothing) {
  if (!testing::HeapCountingAvailable()) GTEST_SKIP() << "no heap counting in this build";
  Settle();
  const TPeakMap peaks = Map({200, 185, 100, 86, 60, 45});
  TPeakMap m(256);
  const TSingleArray flat(256, 1.0f);
  auto feedMaps = [&](int maps) {
    for (int i = 0; i < maps; ++i) {
      std::copy(peaks.begin(), peaks.end(), m.begin());
      Chans.ProcessPeaks(m);
      for (int k = 0; k < 16; ++k) Chans.SpectrumArrived(flat);
    }
  };
  feedMaps(40);
  ASSERT_EQ(Chans.Count(), 3);
  // A channel appended out of order, as SelectDefault leaves it.
  Chans.SelectDefault();
  ASSERT_EQ(Chans.Item(Chans.Count() - 1).MarkBin(), Chans.DefaultMarkBin());
  feedMaps(40);
  const long long before = testing::HeapAllocations();
  feedMaps(48);
  EXPECT_EQ(testing::HeapAllocations() - before, 0);
  ASSERT_EQ(Chans.Count(), 4);
  for (int32_t i = 1; i < Chans.Count(); ++i) EXPECT_LE(Chans.Item(i - 1).MarkBin(), Chans.Item(i).MarkBin());
}

}  // namespace
}  // namespace brenvo
