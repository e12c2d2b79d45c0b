// What a logging program builds from the road's character posts, applied
// line by line as it would (append, first deleting DeleteCount characters;
// NewLine starts a line), against what the text views show: over a long band
// of signals that come and go, with clicks on other signals, Automatic QSX
// and AFC switched on and off, the default channel, clears, contest changes
// and smart decoding's re-draw.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "decoder/message_hmm.h"
#include "receiver/decoding_road.h"
#include "receiver/message_text_model.h"
#include "receiver_test_env.h"
#include "support/band_synth.h"

namespace brenvo {
namespace {

using TLines = std::vector<std::string>;

const std::string kShippedContests = std::string(BRENVO_SOURCE_DIR) + "/data/Contests.ini";

// The client's text: one entry per character it shows.
struct TClientText {
  struct TItem {
    uint8_t Ch;
    bool NewLine;
  };
  std::vector<TItem> Items;
  std::size_t From = 0;  // the first character compared with the views

  void Apply(uint8_t ch, bool newLine, int32_t deleteCount) {
    ASSERT_GE(deleteCount, 0);
    ASSERT_LE(static_cast<std::size_t>(deleteCount), Items.size());
    Items.resize(Items.size() - static_cast<std::size_t>(deleteCount));
    From = std::min(From, Items.size());
    Items.push_back({ch, newLine});
  }
  // Less the last `pending` characters, which the next post deletes.
  TLines Lines(int32_t pending = 0) const {
    TLines lines;
    const std::size_t end = Items.size() - std::min<std::size_t>(static_cast<std::size_t>(pending), Items.size());
    for (std::size_t i = From; i < end; ++i) {
      if (Items[i].NewLine || lines.empty()) lines.emplace_back();
      // Text that goes on the line of what came before.
      if (i == From && From > 0 && !Items[i].NewLine) lines.back() = "(continued)";
      lines.back().push_back(static_cast<char>(Items[i].Ch));
    }
    return lines;
  }
};

struct TClients : ICharPoster {
  void PostRawChar(const TCharInfo& i) override { Raw.Apply(i.RawCh, TCharFlags(i.RawFlags).Has(cfNewLine), 0); }
  void PostCorrChar(const TCharInfo& i, int32_t deleteCount) override {
    Corr.Apply(i.CorrCh, TCharFlags(i.CorrFlags).Has(cfVisNewLine), deleteCount);
    ++CorrPosts;
    Deleted += deleteCount;
  }
  TClientText Raw, Corr;
  int64_t CorrPosts = 0, Deleted = 0;
};

struct TModelView : IMessageView {
  void PutText(const TCharInfoArray& n, const TCharInfoArray& o) override { Model.PutText(n, o); }
  void PutQsxBar(int32_t hz) override {
    BeforeBar = Text();
    ++Bars;
    Model.PutQsxBar(hz);
  }
  std::string Text() const {
    std::string t;
    for (const std::string& l : Model.Lines()) t += (t.empty() ? "" : "\n") + l;
    return t;
  }
  TFreezeState FreezeState() const override { return fsOff; }
  TMessageTextModel Model;
  std::string BeforeBar;  // the text when the latest bar came
  int Bars = 0;
};

// A view's lines as a client gets them: the QSX bars taken out, empty lines
// dropped; in the raw view only the characters posted, one that starts a
// line (or follows a bar) and is not posted as itself as "*" (Format: 0 or
// 5 visible and not squelched).
TLines AsPosted(const TMessageTextModel& m) {
  TLines out;
  for (std::size_t l = 0; l < m.Lines().size(); ++l) {
    std::string line;
    for (std::size_t c = 0; c < m.Lines()[l].size(); ++c) {
      const uint8_t format = m.TextInfo()[l][c].Format;
      const char ch = m.Lines()[l][c];
      if (format == TMessageTextModel::kBarFormat) continue;
      if (m.ShowCorrected || format % 5 == 0)
        line.push_back(ch == '_' ? ' ' : ch);
      else if (c == 0 || m.TextInfo()[l][c - 1].Format == TMessageTextModel::kBarFormat)
        line.push_back('*');
    }
    if (!line.empty()) out.push_back(line);
  }
  return out;
}

TLines WithoutEmpty(TLines lines) {
  std::erase(lines, std::string());
  return lines;
}

// Signals that come and go at random, 17 bins apart and one 5 bins above
// the default mark bin (181), so that the AFC rule has a channel to move to.
TSingleArray ComingAndGoing(double seconds, std::mt19937& rng) {
  const int marks[] = {40, 70, 100, 130, 186, 215};
  const char* texts[] = {"CQ CQ DE DL1ABC DL1ABC PSE K ", "CQ TEST K1XYZ K1XYZ TEST ",
                         "UA3ABC DE G4XYZ UR 599 001 001 BK ", "TU 5NN 14 DE JA1ZZ TEST ",
                         "QRZ? DE VK2ABC/P 73 SK ", "CQ WW DE OH2BH OH2BH "};
  constexpr double kAmplitude = 3000.0 * 65536.0;
  TSingleArray band = testing::SynthesizeBand({}, seconds, testing::NoiseSigmaFor(kAmplitude, 12.0), 5);
  std::uniform_real_distribution<double> burst(3.0, 10.0), gap(0.5, 5.0), drift(-0.3, 0.3);
  for (std::size_t s = 0; s < std::size(marks); ++s) {
    for (double t = gap(rng); t < seconds;) {
      const double len = std::min(burst(rng), seconds - t);
      testing::RttySynthParams p;
      p.MarkHz = marks[s] * 3000.0 / 256;
      p.SpaceHz = (marks[s] + 15) * 3000.0 / 256;
      p.Amplitude = kAmplitude;
      p.DriftHzPerSec = drift(rng);
      p.IdleBeforeSec = 0.2;
      std::string text;
      while (text.size() * 0.165 < len) text += texts[s];
      const TSingleArray sig = testing::SynthesizeText(p, text).Samples;
      const auto first = static_cast<std::size_t>(t * 6000);
      for (std::size_t k = 0; k < sig.size() && k < static_cast<std::size_t>(len * 6000) && first + k < band.size(); ++k)
        band[first + k] += sig[k];
      t += len + gap(rng);
    }
  }
  return band;
}

TEST(RoadClients, TheClientsTextIsTheViewsText) {
  testing::EnsureDecoderGlobals();
  std::mt19937 rng(19);
  const TSingleArray band = ComingAndGoing(240.0, rng);
  TDecodingRoad road;
  TModelView main, raw;
  TClients clients;
  main.Model.ShowCorrected = true;
  main.Model.ShowSquelched = false;
  raw.Model.ShowCtrlChars = true;
  for (TModelView* v : {&main, &raw}) v->Model.MaxLines = 0;  // all text, compared whole
  road.Links.MainView = &main;
  road.Links.RawView = &raw;
  road.Links.Server = &clients;
  road.DebugMode = true;

  // The text the main view showed when the selection last changed, which
  // stays as it is; empty after the views start afresh.
  std::string kept;
  // The views start afresh (as the window's clear, contest switch and
  // play-back do): so do the comparisons.
  auto viewsCleared = [&] {
    main.Model.Clear();
    raw.Model.Clear();
    road.ViewsCleared();
    clients.Corr.From = clients.Corr.Items.size();
    clients.Raw.From = clients.Raw.Items.size();
    kept.clear();
  };
  const char* contests[] = {"CQ WW RTTY DX", "DX"};
  struct TRestore {
    ~TRestore() { SetMessageContestFromFile("DX", kShippedContests); }
  } restore;
  int64_t changes = 0, contestChanges = 0, redraws = 0;
  std::uniform_int_distribution<int> action(0, 99), blocks(10, 60);
  int64_t selected = road.Chans.Selected()->Id();
  int bars = 0;
  int wait = blocks(rng);
  for (std::size_t i = 0; i + 128 <= band.size(); i += 128) {
    road.AudioDataArrived(TDataBufferF(1, TSingleArray(band.begin() + i, band.begin() + i + 128)));
    if (--wait == 0) {
      wait = blocks(rng);
      const int a = action(rng);
      TRttyChannels& chans = road.Chans;
      if (a < 60 && chans.Count() > 1) {  // a click on another channel's row
        road.SelectChannel(chans.Item(std::uniform_int_distribution<int>(0, chans.Count() - 1)(rng)).MarkBin() + 3, 17);
      } else if (a < 70) {
        road.HoppingEnabled = !road.HoppingEnabled;
      } else if (a < 76) {
        chans.SetAfcEnabled(!chans.AfcEnabled());
      } else if (a < 82) {  // the marker strip
        road.SelectDefault();
      } else if (a < 85) {  // clear
        chans.Selected()->Rx.Reset();
        viewsCleared();
      } else if (a < 87) {  // a play-back starts: the receivers go on
        viewsCleared();
      } else if (a < 89) {
        SetMessageContestFromFile(contests[contestChanges++ % 2], kShippedContests);
        chans.Reset();
        viewsCleared();
      } else if (a < 95 && road.PendingDeleteCount() == 0) {
        // Smart decoding twice: the main view re-drawn from the whole store.
        // The client's text goes on from what it shows now.
        const TMessageStorage& ms = chans.Selected()->Rx.Ms;
        main.Model.Clear();
        main.Model.PutText(TCharInfoArray(ms.Chars().begin(), ms.Chars().begin() + (ms.HiChar() + 1)), {});
        clients.Corr.Items.clear();
        for (const std::string& line : WithoutEmpty(main.Model.Lines()))
          for (std::size_t c = 0; c < line.size(); ++c) clients.Corr.Items.push_back({uint8_t(line[c]), c == 0});
        clients.Corr.From = 0;
        kept.clear();
        ++redraws;
      }
    }
    if (road.Chans.Selected()->Id() != selected) {
      selected = road.Chans.Selected()->Id();
      ++changes;
      kept = main.Bars != bars ? main.BeforeBar : main.Text();
    }
    bars = main.Bars;
    ASSERT_TRUE(main.Text().starts_with(kept)) << i / 6000.0 << " s";
    if (i % (128 * 16) == 0 || i + 256 > band.size()) {
      ASSERT_EQ(WithoutEmpty(clients.Corr.Lines(road.PendingDeleteCount())), AsPosted(main.Model)) << i / 6000.0 << " s";
      ASSERT_EQ(WithoutEmpty(clients.Raw.Lines()), AsPosted(raw.Model)) << i / 6000.0 << " s";
    }
  }
  EXPECT_GE(changes, 200);
  EXPECT_GE(contestChanges, 2);
  EXPECT_GE(redraws, 5);
  EXPECT_GT(clients.CorrPosts, 1000);
  EXPECT_GT(clients.Deleted, 100);
}

}  // namespace
}  // namespace brenvo
