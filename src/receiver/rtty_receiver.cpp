#include "receiver/rtty_receiver.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "dsp/errors.h"
#include "dsp/lane_math.h"

namespace brenvo {

namespace {

// The least noise floor the signal-to-noise ratios divide by. On digital
// silence the floors decay towards zero while the envelopes keep their
// rounding residue, and a tone that starts after silence was divided by
// almost nothing: the meter read hundreds of dB. Real floors stay far above
// this (noise reads about 1, a noise-free tone's leakage about 0.015, the
// silent spectra before the first audio leave about 0.007), and with the
// spectrum holding a tone at most 55 dB above its noise reading (an
// envelope of at most 545) the figure stays below the meter's 100 dB.
constexpr float kMinSnrNoiseFloor = 0.0026f;

}  // namespace

TRttyReceiver::TRttyReceiver(int32_t markBin, int32_t spaceBin)
    : Afc(markBin, spaceBin), Cx(&Ms), Created(UtcNow()), FHist(std::allocator<THistoryEntry>().allocate(kHistLength)) {
  Afc.Enabled = true;
}

TRttyReceiver::~TRttyReceiver() { std::allocator<THistoryEntry>().deallocate(FHist, kHistLength); }

THistoryEntry& TRttyReceiver::Entry(int32_t pos) const {
  for (; FHistMade <= pos; ++FHistMade) new (FHist + FHistMade) THistoryEntry();
  return FHist[pos];
}

void TRttyReceiver::Reset() {
  Bx.Reset();
  Ms.Clear();
  Mc.Reset();
  Cx.Reset();
  FHistCnt = 0;
  FHistIdx = 0;
}

const THistoryEntry& TRttyReceiver::GetHist(int64_t index) const {
  return Entry(static_cast<int32_t>(PosMod<int64_t>(index, kHistLength)));
}

std::size_t TRttyReceiver::MemoryBytes() const {
  return sizeof(*this) + kHistLength * sizeof(THistoryEntry) + Mc.MemoryBytes() +
         Ms.Chars().capacity() * sizeof(TCharInfo);
}

void TRttyReceiver::CharEvent() {
  if (!OnChar && !OnCharSpy) return;
  if (FDeferring) {
    if (FKeptBatchCount == FKeptBatches.size()) FKeptBatches.emplace_back();
    TCharBatch& b = FKeptBatches[FKeptBatchCount++];
    GetCharBatch(Ms, b);
    FKept.push_back({true, 0.0f, 0.0f});
    return;
  }
  GetCharBatch(Ms, FBatch);
  FEventBatch = &FBatch;
  if (OnChar) OnChar(*this);
  if (OnCharSpy) OnCharSpy(*this);
}

void TRttyReceiver::Hist2dEvent(float amp, float env) {
  if (FDeferring)
    FKept.push_back({false, amp, env});
  else
    Hist2d->AddSample(amp, env);
}

void TRttyReceiver::BeginDeferring() {
  FDeferring = true;
  FKept.clear();
  FKeptBatchCount = 0;
}

void TRttyReceiver::RaiseDeferredEvents() {
  FDeferring = false;
  std::size_t batch = 0;
  for (const TKeptEvent& e : FKept) {
    if (!e.IsChar) {
      if (Hist2d) Hist2d->AddSample(e.Amp, e.Env);
      continue;
    }
    FEventBatch = &FKeptBatches[batch++];
    if (OnChar) OnChar(*this);
    if (OnCharSpy) OnCharSpy(*this);
  }
  FEventBatch = &FBatch;
  FKept.clear();
  FKeptBatchCount = 0;
}

void TRttyReceiver::SpectrumArrived(std::span<const float> spectrum) {
  Afc.Process(spectrum);
  CheckIndex(Afc.BinM, static_cast<long long>(spectrum.size()));
  CheckIndex(Afc.BinS, static_cast<long long>(spectrum.size()));
  TSignalExtractor::ProcessPair(SigM, spectrum[static_cast<std::size_t>(Afc.BinM)], SigS,
                                spectrum[static_cast<std::size_t>(Afc.BinS)]);

  const double rM = static_cast<double>(SigM.Env) / std::max(SigM.Nfl, kMinSnrNoiseFloor);
  const double rS = static_cast<double>(SigS.Env) / std::max(SigS.Nfl, kMinSnrNoiseFloor);
  // The two figures' logarithms together, in single precision.
  const TLanes<4>::F ln = LaneLn<4>(TLanes<4>::F{static_cast<float>(std::max(1.0, (rM * rM + rS * rS) / 9.0)),
                                                 static_cast<float>(std::max(1.0, (static_cast<double>(SigM.Snr) + SigS.Snr) / 2.0)),
                                                 1.0f, 1.0f});
  constexpr float kDbPerNeper = 4.34294482f;  // 10 / ln 10
  InstantSnrDb = kDbPerNeper * ln[0];
  FastSnrDb = 0.97f * FastSnrDb + 0.03f * InstantSnrDb;
  SlowSnrDb = kDbPerNeper * ln[1] - 10.0f + 11.0f;
  // A NaN would stay in the smoothed figure for good (the meter reads it).
  if (!std::isfinite(FastSnrDb)) FastSnrDb = 0.0f;

  // The combined mark probability of the step, as the decoder works it out.
  const float p = Bx.ProcessSample(SigM, SigS);

  for (const TCharInfo& ch : Bx.Chars()) {
    Ms.PutRawChar(ch);
    Mc.ProcessChar(ch);
    Ms.PutCorrChars(Mc.Msg());
    Cx.Update(static_cast<int>(Ms.ChangedChars().size()));
    CharEvent();
  }

  THistoryEntry& cur = Entry(FHistIdx);
  cur.AmpM = SigM.Amp;
  cur.EnvM = SigM.Env;
  cur.NflM = SigM.Nfl;
  cur.ProbM = static_cast<float>(SigM.Prob);
  cur.AmpS = SigS.Amp;
  cur.EnvS = SigS.Env;
  cur.NflS = SigS.Nfl;
  cur.ProbS = static_cast<float>(SigS.Prob);
  cur.Prob = p;

  const auto& settled = Bx.DebugStates();
  for (std::size_t k = 0; k < settled.size(); ++k) {
    THistoryEntry& h =
        Entry(static_cast<int32_t>(PosMod<int64_t>(int64_t{FHistIdx} - kSettleLag + static_cast<int64_t>(k), kHistLength)));
    const TStateKind kind = settled[k].Kind;
    h.Bit = kind;
    h.Shp = settled[k].Shape;
    // The amplitude of whichever tone the decoded path says is off feeds
    // both noise floors.
    if (kind == skMark || kind == skStop || kind == skTone || kind == skSilence || kind == sk11) {
      SigS.UpdateNfl(h.AmpS);
      SigM.UpdateNfl(h.AmpS);
    }
    if (kind == skSpace || kind == skStart || kind == skSilence || kind == sk00 || kind == skXX) {
      SigM.UpdateNfl(h.AmpM);
      SigS.UpdateNfl(h.AmpM);
    }
    if (Hist2d) {
      Hist2dEvent(h.AmpM, 1.0f + (h.EnvM - 1.0f) * h.Shp);
      Hist2dEvent(h.AmpS, 1.0f + (1.0f - h.Shp) * (h.EnvS - 1.0f));
    }
  }

  for (const TCharInfo& ch : Bx.Chars()) {
    const int32_t sampleNo = ch.SampleNo;  // packed field: by value
    Entry(static_cast<int32_t>(PosMod<int64_t>(sampleNo, kHistLength))).Ch = ch.RawCh;
  }

  ++FHistCnt;
  FHistIdx = static_cast<int32_t>(PosMod<int64_t>(int64_t{FHistIdx} + 1, kHistLength));
}

}  // namespace brenvo
