#include "receiver/rtty_receiver.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

#include "dsp/cpu_features.h"
#include "dsp/errors.h"
#include "dsp/lane_math.h"

// The vector code is always inlined: an eight-lane value never crosses a
// call boundary, so the ABI note about it (given where the templates are
// instantiated, at the end of the file) does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

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
constexpr float kDbPerNeper = 4.34294482f;  // 10 / ln 10

}  // namespace

TRttyReceiver::TRttyReceiver(int32_t markBin, int32_t spaceBin)
    : Afc(markBin, spaceBin), Cx(&Ms), Created(UtcNow()), FHist(std::allocator<THistoryEntry>().allocate(kHistLength)) {
  Afc.Enabled = true;
}

TRttyReceiver::~TRttyReceiver() { std::allocator<THistoryEntry>().deallocate(FHist, kHistLength); }

THistoryEntry& TRttyReceiver::Entry(int32_t pos) const {
  if (pos >= FHistMade) MakeEntries(pos);
  return FHist[pos];
}

void TRttyReceiver::MakeEntries(int32_t pos) const {
  // A stretch of entries at a time, its pages faulted in by one call rather
  // than one fault each (no matter if the call fails: then they fault as
  // they are written).
  const int32_t made = std::min(kHistLength, (pos / kEntriesMadeTogether + 1) * kEntriesMadeTogether);
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto from = reinterpret_cast<uintptr_t>(FHist + FHistMade) / page * page;
  const auto to = reinterpret_cast<uintptr_t>(FHist + made);
  madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
  for (; FHistMade < made; ++FHistMade) new (FHist + FHistMade) THistoryEntry();
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
  SpectraArrived(std::span(&spectrum, 1));
}

void TRttyReceiver::SpectraArrived(std::span<const std::span<const float>> spectra) {
  using TPairSteps = TSignalExtractor::TPairSteps;
  std::exception_ptr failure;
  while (!spectra.empty() && !failure) {
    // Up to the next step that settles decoder steps: those move the noise
    // floors, which set the levels of the steps after it.
    const std::size_t count = static_cast<std::size_t>(std::min<int64_t>(
        {static_cast<int64_t>(spectra.size()), TPairSteps::kMaxSteps, Bx.StepsToSettle()}));
    float pm[TPairSteps::kMaxSteps], ps[TPairSteps::kMaxSteps];
    std::size_t ready = 0;
    try {
      for (; ready < count; ++ready) {
        const std::span<const float> s = spectra[ready];
        Afc.Process(s);
        CheckIndex(Afc.BinM, static_cast<long long>(s.size()));
        CheckIndex(Afc.BinS, static_cast<long long>(s.size()));
        pm[ready] = s[static_cast<std::size_t>(Afc.BinM)];
        ps[ready] = s[static_cast<std::size_t>(Afc.BinS)];
      }
    } catch (...) {
      failure = std::current_exception();
    }
    TPairSteps steps;
    TSignalExtractor::FilterPairs(SigM, pm, SigS, ps, ready, steps);
    SignalToNoise(steps);
    for (std::size_t t = 0; t < ready; ++t) {
      try {
        FinishStep(steps, t);
      } catch (...) {
        if (!failure) failure = std::current_exception();
      }
    }
    spectra = spectra.subspan(ready);
  }
  // The long-term figure of the tone-on powers as the last step left them.
  const TLanes<4>::F slow = LaneLn<4>(TLanes<4>::F{
      static_cast<float>(std::max(1.0, (static_cast<double>(SigM.Snr) + SigS.Snr) / 2.0)), 1.0f,
      1.0f, 1.0f});
  SlowSnrDb = kDbPerNeper * slow[0] - 10.0f + 11.0f;
  if (failure) std::rethrow_exception(failure);
}

BRENVO_AVX2_CLONES void TRttyReceiver::SignalToNoise(const TSignalExtractor::TPairSteps& steps) {
  // The steps' logarithms all together (the noise floors do not change
  // meanwhile); the unused lanes take ln 1.
  using TPairSteps = TSignalExtractor::TPairSteps;
  constexpr int kLanes = 8;
  // The ratios of every step at once, in vectors (their divisions side by
  // side): the steps past Count take envelope 0, ratio 1, and are not read.
  std::array<float, TPairSteps::kMaxSteps> envM{}, envS{}, ratio;
  for (std::size_t t = 0; t < steps.Count; ++t) {
    envM[t] = steps.Mark[t].Env;
    envS[t] = steps.Space[t].Env;
  }
  const float nflM = std::max(SigM.Nfl, kMinSnrNoiseFloor),
              nflS = std::max(SigS.Nfl, kMinSnrNoiseFloor);
  using TDoubles = double __attribute__((vector_size(32)));
  using TFloats = TLanes<4>::F;
  for (std::size_t t = 0; t < TPairSteps::kMaxSteps; t += 4) {
    const TDoubles rM = __builtin_convertvector(LaneLoad<TFloats>(envM.data() + t), TDoubles) / static_cast<double>(nflM);
    const TDoubles rS = __builtin_convertvector(LaneLoad<TFloats>(envS.data() + t), TDoubles) / static_cast<double>(nflS);
    const TDoubles r = (rM * rM + rS * rS) / 9.0;
    LaneStore(ratio.data() + t, __builtin_convertvector(1.0 < r ? r : TDoubles{} + 1.0, TFloats));  // std::max(1.0, r)
  }
  TLanes<kLanes>::F ln[TPairSteps::kMaxSteps / kLanes];
  std::memcpy(ln, ratio.data(), sizeof ln);
  LaneLn<kLanes>(ln);
  for (std::size_t t = 0; t < steps.Count; ++t) {
    InstantSnrDb = kDbPerNeper * ln[t / kLanes][t % kLanes];
    FastSnrDb = 0.97f * FastSnrDb + 0.03f * InstantSnrDb;
    // A NaN would stay in the smoothed figure for good (the meter reads it).
    if (!std::isfinite(FastSnrDb)) FastSnrDb = 0.0f;
  }
}

void TRttyReceiver::FinishStep(const TSignalExtractor::TPairSteps& steps, std::size_t t) {
  const std::size_t lane = t * TSignalExtractor::TPairSteps::kLanes;
  SigM.TakeStep(steps.Mark[t], steps.Density.data() + lane, steps.Ln.data() + lane);
  SigS.TakeStep(steps.Space[t], steps.Density.data() + lane + TSignalExtractor::kShapeCount,
                steps.Ln.data() + lane + TSignalExtractor::kShapeCount);

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
