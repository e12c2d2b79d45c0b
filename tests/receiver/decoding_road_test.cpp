#include "receiver/decoding_road.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "receiver/display_column.h"
#include "receiver_test_env.h"

namespace brenvo {
namespace {

struct TFakeView : IMessageView {
  void PutText(const TCharInfoArray& n, const TCharInfoArray& o) override {
    ++Batches;
    LastNew = n;
    LastOld = o;
  }
  void PutQsxBar(int32_t hz) override { Bars.push_back(hz); }
  TFreezeState FreezeState() const override { return Freeze; }
  int Batches = 0;
  TCharInfoArray LastNew, LastOld;
  std::vector<int32_t> Bars;
  TFreezeState Freeze = fsOff;
};

struct TFakeWaterfall : IWaterfall {
  void PushSpectrum(const TSingleArray& c) override {
    ++Columns;
    Last = c;
  }
  int Columns = 0;
  TSingleArray Last;
};

struct TFakeMeter : IMeter {
  void Refresh(float v) override {
    ++Calls;
    AllFinite = AllFinite && std::isfinite(v);
    Min = std::min(Min, v);
    Max = std::max(Max, v);
  }
  int Calls = 0;
  bool AllFinite = true;
  float Min = INFINITY, Max = -INFINITY;
};

struct TFakeCalls : ICallsList {
  explicit TFakeCalls(const TDecodingRoad& r) : Road(r) {}
  void ShowCalls(TRttyReceiver& rx, bool anew) override {
    if (anew)
      Anew.push_back(&rx);
    else
      Blocks.push_back(Road.BlockCount());
  }
  const TDecodingRoad& Road;
  std::vector<int64_t> Blocks;
  std::vector<const TRttyReceiver*> Anew;  // lists built anew, for these receivers
};

struct TFakeSpectrumDialog : ISpectrumDialog {
  explicit TFakeSpectrumDialog(const TDecodingRoad& r) : Road(r) {}
  bool Visible() const override { return true; }
  void UpdateDisplay(const TSingleArray&) override {
    if (Road.Dsp.Age() == ThrowAtAge) throw std::runtime_error("view failed");
  }
  void UpdateHisto(int32_t len) override { Histo.push_back(len); }
  const TDecodingRoad& Road;
  int64_t ThrowAtAge = -1;
  std::vector<int32_t> Histo;
};

struct TFakeServer : ICharPoster {
  void PostRawChar(const TCharInfo& i) override { Raw.push_back(i); }
  void PostCorrChar(const TCharInfo& i, int32_t del) override {
    Corr.push_back(i);
    Deletes.push_back(del);
  }
  TCharInfoArray Raw, Corr;
  std::vector<int32_t> Deletes;
};

struct TFakeRecorder : IBlockRecorder {
  void AddToRingBuf(const TSingleArray& b) override { Last = b; }
  TSingleArray Last;
};

TDataBufferF Silence(int channels = 1) { return TDataBufferF(static_cast<std::size_t>(channels), TSingleArray(128, 0.0f)); }

class DecodingRoadTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::EnsureDecoderGlobals(); }
};

// Each spectrum is divided by its own floor (here 2) before the sum.
TEST(DisplayColumn, AllTwosWithNoiseFloor8GiveLn2) {
  TDisplayColumn d(256);
  const TSingleArray twos(256, 2.0f);
  for (int k = 0; k < 8; ++k) d.Add(twos, k == 0);
  d.Finish(8.0f);
  ASSERT_EQ(d.Column().size(), 224u);
  for (float v : d.Column()) ASSERT_FLOAT_EQ(v, std::log(2.0f));
  // A new block starts from nothing.
  d.Add(twos, true);
  d.Finish(1.0f);
  EXPECT_FLOAT_EQ(d.Column()[0], std::log(2.0f));
}

TEST(DisplayColumn, SilenceAndAZeroNoiseFloorGiveZero) {
  TDisplayColumn d(256);
  d.Add(TSingleArray(256, 0.0f), true);  // 90 % value 0: factor 0
  d.Finish(0.0f);                         // 0 / 0
  for (float v : d.Column()) ASSERT_EQ(v, 0.0f);
  TSingleArray s(256, 1.0f);
  s[100] = 50.0f;
  d.Add(s, true);
  d.Finish(0.0f);  // s / 0: infinite
  for (float v : d.LogPwr()) ASSERT_TRUE(std::isfinite(v));
  EXPECT_EQ(TDisplayColumn::DisplayValue(1.0f, 0.0f), 0.0f);
  EXPECT_EQ(TDisplayColumn::DisplayValue(-2.0f, 1.0f), 0.0f);
  EXPECT_THROW(d.Add(TSingleArray(255, 1.0f), false), ERangeError);
}

TEST_F(DecodingRoadTest, StartsWithTheDefaultChannelSelected) {
  TDecodingRoad road;
  ASSERT_NE(road.Chans.Selected(), nullptr);
  EXPECT_EQ(road.Chans.Selected()->MarkBin(), 181);
  EXPECT_FALSE(road.Chans.Usb());
  EXPECT_TRUE(road.Chans.AfcEnabled());
  EXPECT_TRUE(road.Chans.Selected()->Rx.OnChar);
  EXPECT_EQ(road.BinToHz(196), 2297);
  EXPECT_EQ(road.BinToHz(48), 562);
}

TEST_F(DecodingRoadTest, OneFiniteColumnPerBlockInDigitalSilence) {
  TDecodingRoad road;
  TFakeWaterfall wf;
  TFakeMeter meter;
  road.Links.Waterfall = &wf;
  road.Links.Meter = &meter;
  for (int b = 0; b < 300; ++b) road.AudioDataArrived(Silence());
  EXPECT_EQ(wf.Columns, 300);
  EXPECT_EQ(meter.Calls, 300);
  EXPECT_TRUE(meter.AllFinite);
  ASSERT_EQ(wf.Last.size(), 224u);
  for (float v : wf.Last) ASSERT_TRUE(std::isfinite(v));
  EXPECT_EQ(road.Dsp.Age(), 2400);
  EXPECT_THROW(road.AudioDataArrived(TDataBufferF{}), ERangeError);
}

// Inputs without noise: the meter and every receiver's figure stay on the
// dial (0 .. 100 dB); a floor that collapses on zeros used to give hundreds.
TEST_F(DecodingRoadTest, SignalToNoiseStaysOnTheDialWithoutNoise) {
  constexpr double kFull = 32767.0 * 65536.0, kRate = 6000.0;
  const auto tone = [](int64_t n) { return std::sin(2 * std::numbers::pi * 2125.0 * static_cast<double>(n) / kRate); };
  const auto noise = [](int64_t n) {  // a fixed sequence, 1 % of full scale
    uint64_t x = static_cast<uint64_t>(n) * 6364136223846793005u + 1442695040888963407u;
    x ^= x >> 33;
    return (static_cast<double>(x % 2001) / 1000.0 - 1.0) * 0.01 * kFull;
  };
  const int64_t later = 10 * static_cast<int64_t>(kRate);  // the second half
  const struct {
    const char* Name;
    std::function<double(int64_t)> Sample;
  } cases[] = {
      {"zeros", [](int64_t) { return 0.0; }},
      {"DC offset", [](int64_t) { return 0.3 * kFull; }},
      {"full-scale square wave", [&](int64_t n) { return tone(n) >= 0 ? kFull : -kFull; }},
      {"square wave after silence", [&](int64_t n) { return n < later ? 0.0 : tone(n) >= 0 ? kFull : -kFull; }},
      {"tone after silence", [&](int64_t n) { return n < later ? 0.0 : 0.5 * kFull * tone(n); }},
      {"noise, then zeros", [&](int64_t n) { return n < later ? noise(n) : 0.0; }},
  };
  for (const auto& c : cases) {
    TDecodingRoad road;
    TFakeMeter meter;
    road.Links.Meter = &meter;
    float lo = INFINITY, hi = -INFINITY;
    int64_t n = 0;
    for (int b = 0; b < 2 * later / 128; ++b) {
      TDataBufferF block = Silence();
      for (float& v : block[0]) v = static_cast<float>(c.Sample(n++));
      road.AudioDataArrived(block);
      for (int32_t i = 0; i < road.Chans.Count(); ++i) {
        lo = std::min(lo, road.Chans.Item(i).Rx.FastSnrDb);
        hi = std::max(hi, road.Chans.Item(i).Rx.FastSnrDb);
      }
    }
    EXPECT_GE(meter.Min, 0.0f) << c.Name;
    EXPECT_LE(meter.Max, 100.0f) << c.Name;
    EXPECT_GE(lo, 0.0f) << c.Name;
    EXPECT_LE(hi, 100.0f) << c.Name;
  }
}

// A block's waterfall column from its own eight spectra (as the channel list
// got them) over the selected channel's mark noise floor, not the space's.
TEST_F(DecodingRoadTest, WaterfallColumnOfTheBlocksSpectraOverTheMarkFloor) {
  struct TSpectra : ISpectrumDialog {
    bool Visible() const override { return true; }
    void UpdateDisplay(const TSingleArray& s) override { All.push_back(s); }
    void UpdateHisto(int32_t) override {}
    std::vector<TSingleArray> All;
  } spectra;
  TDecodingRoad road;
  TFakeWaterfall wf;
  road.Links.Waterfall = &wf;
  road.Links.SpectrumDialog = &spectra;
  TSignalExtractor& space = road.Chans.Selected()->Rx.SigS;
  uint32_t x = 1;
  for (int b = 0; b < 20; ++b) {
    TDataBufferF block = Silence();
    for (float& v : block[0]) v = static_cast<float>((x = x * 1664525u + 1013904223u) >> 8);
    space.Nfl *= 3.0f;  // the two floors apart
    spectra.All.clear();
    road.AudioDataArrived(block);
    ASSERT_EQ(spectra.All.size(), 8u);
    TDisplayColumn reference(256);
    for (std::size_t k = 0; k < 8; ++k) reference.Add(spectra.All[k], k == 0);
    reference.Finish(road.Chans.Selected()->Rx.SigM.Nfl);
    ASSERT_EQ(wf.Last, reference.Column()) << b;
  }
}

TEST_F(DecodingRoadTest, ChannelPick) {
  TDecodingRoad road;
  TFakeRecorder rec;
  road.Links.Recorder = &rec;
  road.RightChannel = true;
  TDataBufferF mono = Silence(1);
  mono[0][5] = 1.0f;
  road.AudioDataArrived(mono);  // one channel: the left
  EXPECT_EQ(rec.Last[5], 1.0f);
  TDataBufferF stereo = Silence(2);
  stereo[1][7] = 2.0f;
  road.AudioDataArrived(stereo);
  EXPECT_EQ(rec.Last[7], 2.0f);
  road.RightChannel = false;
  road.AudioDataArrived(stereo);
  EXPECT_EQ(rec.Last[7], 0.0f);
}

TEST_F(DecodingRoadTest, CallsListAfterBlocks8_16_24) {
  TDecodingRoad road;
  TFakeCalls calls(road);
  road.Links.Calls = &calls;
  for (int b = 0; b < 30; ++b) road.AudioDataArrived(Silence());
  EXPECT_EQ(calls.Blocks, (std::vector<int64_t>{8, 16, 24}));
}

TEST_F(DecodingRoadTest, CallsListSurvivesAnExceptionMidBlock) {
  TDecodingRoad road;
  TFakeCalls calls(road);
  TFakeSpectrumDialog dlg(road);
  road.Links.Calls = &calls;
  road.Links.SpectrumDialog = &dlg;
  dlg.ThrowAtAge = 60;  // block 8 stops after its fourth spectrum
  int failures = 0;
  for (int b = 0; b < 18; ++b) {
    try {
      road.AudioDataArrived(Silence());
    } catch (const std::runtime_error&) {
      ++failures;
    }
  }
  EXPECT_EQ(failures, 1);
  EXPECT_EQ(road.Dsp.Age(), 60 + 10 * 8);
  // Block 9 crosses spectrum 64 for the failed one; block 17 reaches 132.
  EXPECT_EQ(calls.Blocks, (std::vector<int64_t>{9, 17}));
}

// Channels at the given lower-sideband mark bins, made from peak maps.
void AddChannels(TDecodingRoad& road, std::initializer_list<int> marks) {
  const int32_t before = road.Chans.Count();
  for (int tries = 0; tries < 10 && road.Chans.Count() == before; ++tries) {
    std::vector<int32_t> m(256, kPeakNone);
    for (int b : marks) {
      m[static_cast<std::size_t>(b)] = kPeakUnclaimed;
      m[static_cast<std::size_t>(b + 15)] = kPeakUnclaimed;
    }
    road.Chans.ProcessPeaks(m);
  }
  ASSERT_EQ(road.Chans.Count(), before + static_cast<int32_t>(marks.size()));
  road.AudioDataArrived(Silence());  // their mark bins after a spectrum
}

struct TFollowCase {
  int shift;       // selected channel's distance from the default mark bin (181)
  bool hopping;
  bool afc;
  TFreezeState mainFreeze, rawFreeze;
  int expectMark;  // where the selection ends
  bool expectBar;
};

TEST_F(DecodingRoadTest, ChannelFollowing) {
  const TFollowCase cases[] = {
      {16, false, true, fsOff, fsOff, 172, false},  // near the default: nearest to 181 within 9
      {17, false, true, fsOff, fsOff, 207, false},  // farther: nearest to its own bin within 9
      {16, true, true, fsOff, fsOff, 207, true},    // Automatic QSX: nearest at any distance
      {16, false, false, fsOff, fsOff, 197, false}, // both off: stays
      {16, true, true, fsOn, fsOff, 197, false},    // paused main view
      {16, false, true, fsOff, fsFreezing, 197, false},  // raw view about to pause
  };
  for (const TFollowCase& c : cases) {
    TDecodingRoad road;
    TFakeView main, raw;
    TFakeCalls calls(road);
    road.Links.MainView = &main;
    road.Links.RawView = &raw;
    road.Links.Calls = &calls;
    road.HoppingEnabled = c.hopping;
    road.Chans.SetAfcEnabled(c.afc);
    TRttyChannel* sel = road.Chans.Selected();
    sel->Rx.Afc.ShiftBins(c.shift);
    road.AudioDataArrived(Silence());
    ASSERT_EQ(sel->MarkBin(), 181 + c.shift);
    AddChannels(road, {172, 207});
    ASSERT_EQ(road.Chans.Selected(), sel);
    main.Freeze = c.mainFreeze;
    raw.Freeze = c.rawFreeze;
    sel->MarkAsDead();
    road.AudioDataArrived(Silence());
    EXPECT_EQ(road.Chans.Selected()->MarkBin(), c.expectMark) << c.shift << " " << c.hopping;
    EXPECT_EQ(!main.Bars.empty(), c.expectBar);
    if (c.expectBar) {
      EXPECT_EQ(main.Bars, (std::vector<int32_t>{road.BinToHz(c.expectMark)}));
      EXPECT_EQ(main.Batches, 1);  // the new channel's latest text
      EXPECT_TRUE(main.LastOld.empty());
      EXPECT_TRUE(raw.Bars.empty());  // not in debug mode
    }
    // The character handler moved with the selection; the callsign list is
    // the new channel's at once, by a click or the AFC rule alike.
    if (road.Chans.Selected() != sel) {
      EXPECT_TRUE(road.Chans.Selected()->Rx.OnChar);
      EXPECT_FALSE(sel->Rx.OnChar);
      EXPECT_EQ(calls.Anew, (std::vector<const TRttyReceiver*>{&road.Chans.Selected()->Rx}));
    } else {
      EXPECT_TRUE(calls.Anew.empty());
    }
  }
}

// Automatic QSX with no other active channel: the silent selection stays,
// and the views get nothing.
TEST_F(DecodingRoadTest, AutomaticQsxWithoutAnotherActiveChannelKeepsTheSelection) {
  TDecodingRoad road;
  TFakeView main;
  road.Links.MainView = &main;
  road.HoppingEnabled = true;
  AddChannels(road, {60});
  TRttyChannel* sel = road.Chans.Selected();
  for (int32_t i = 0; i < road.Chans.Count(); ++i)
    if (&road.Chans.Item(i) != sel) road.Chans.Item(i).MarkAsDead();
  sel->MarkAsDead();
  road.AudioDataArrived(Silence());
  EXPECT_EQ(road.Chans.Selected(), sel);
  EXPECT_TRUE(sel->Rx.OnChar);
  EXPECT_TRUE(main.Bars.empty());
  EXPECT_EQ(main.Batches, 0);
}

TEST_F(DecodingRoadTest, ClickMoveInDebugModeWritesBothViews) {
  TDecodingRoad road;
  TFakeView main, raw;
  road.Links.MainView = &main;
  road.Links.RawView = &raw;
  road.DebugMode = true;
  AddChannels(road, {60});
  EXPECT_FALSE(road.SelectChannel(70, 5));
  ASSERT_TRUE(road.SelectChannel(70, 17));
  EXPECT_EQ(main.Bars, (std::vector<int32_t>{road.BinToHz(60)}));
  EXPECT_EQ(raw.Bars, main.Bars);
  EXPECT_EQ(raw.Batches, 1);
}

// The marker strip's default channel is announced as a click is: the bar
// with its tone, its latest text, and its calls in the list at once.
TEST_F(DecodingRoadTest, TheDefaultChannelIsAnnouncedAsAClick) {
  TDecodingRoad road;
  TFakeView main;
  TFakeCalls calls(road);
  road.Links.MainView = &main;
  road.Links.Calls = &calls;
  AddChannels(road, {60});
  ASSERT_TRUE(road.SelectChannel(60, 17));
  ASSERT_TRUE(road.SelectDefault());
  const TRttyChannel* def = road.Chans.Selected();
  EXPECT_EQ(def->MarkBin(), 181);
  EXPECT_EQ(main.Bars, (std::vector<int32_t>{road.BinToHz(60), road.BinToHz(181)}));
  EXPECT_EQ(main.Batches, 2);
  ASSERT_EQ(calls.Anew.size(), 2u);
  EXPECT_EQ(calls.Anew[1], &def->Rx);
  EXPECT_FALSE(road.SelectDefault());  // already there: nothing to announce
  EXPECT_EQ(main.Bars.size(), 2u);
  EXPECT_EQ(calls.Anew.size(), 2u);
}

TCharInfo Rec(uint8_t ch, TCharFlags raw, TCharFlags corr) {
  TCharInfo r;
  r.RawCh = ch;
  r.CorrCh = ch;
  r.RawFlags = raw;
  r.CorrFlags = corr;
  return r;
}

TEST_F(DecodingRoadTest, RawPostsAndTheStarForASquelchedLineStart) {
  TDecodingRoad road;
  TFakeServer srv;
  road.Links.Server = &srv;
  const TCharFlags none{};
  road.PostCharsToServer({Rec('A', {cfVisible}, none)}, {});
  road.PostCharsToServer({Rec('_', {cfVisible}, none)}, {});
  road.PostCharsToServer({Rec('B', {cfVisible, cfSquelch, cfNewLine}, none)}, {});
  road.PostCharsToServer({Rec('C', {cfVisible, cfSquelch}, none)}, {});
  road.PostCharsToServer({Rec(kChLineFeed, {cfNewLine}, none)}, {});
  road.PostCharsToServer({Rec(kChFigures, {}, none)}, {});
  // Only the record that is new in the batch.
  road.PostCharsToServer({Rec('X', {cfVisible}, none), Rec('Y', {cfVisible}, none)}, {Rec('X', {cfVisible}, none)});
  std::string posted;
  for (const TCharInfo& r : srv.Raw) posted.push_back(static_cast<char>(r.RawCh));
  EXPECT_EQ(posted, "A **Y");
  EXPECT_TRUE(TCharFlags(srv.Raw[2].RawFlags).Has(cfNewLine));
  EXPECT_TRUE(srv.Corr.empty());
}

TEST_F(DecodingRoadTest, DeleteCountCarriedToTheNextCorrectedPost) {
  TDecodingRoad road;
  TFakeServer srv;
  road.Links.Server = &srv;
  const TCharFlags vis{cfVisible}, none{};
  // Three visible corrected characters replaced; the new versions show nothing.
  road.PostCharsToServer({Rec('a', none, none), Rec('b', none, none), Rec('c', none, none), Rec('d', none, {cfVisible, cfSquelch})},
                         {Rec('A', none, vis), Rec('B', none, vis), Rec('C', none, vis)});
  EXPECT_TRUE(srv.Corr.empty());
  EXPECT_EQ(road.PendingDeleteCount(), 3);
  // The next event replaces one more and posts two: the first carries 4.
  road.PostCharsToServer({Rec('E', none, vis), Rec('_', none, vis)}, {Rec('D', none, {cfVisible, cfWeak})});
  ASSERT_EQ(srv.Corr.size(), 2u);
  EXPECT_EQ(srv.Deletes, (std::vector<int32_t>{4, 0}));
  EXPECT_EQ(srv.Corr[1].CorrCh, ' ');
  EXPECT_EQ(road.PendingDeleteCount(), 0);
  // Pre-squelched old versions are not counted.
  road.PostCharsToServer({Rec('F', none, none), Rec('G', none, none)}, {Rec('F', none, {cfVisible, cfPreSquelch})});
  EXPECT_EQ(road.PendingDeleteCount(), 0);
}

}  // namespace
}  // namespace brenvo
