#include "receiver/decoding_road.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <utility>

#include "dsp/errors.h"

namespace brenvo {

namespace {

bool PostableCorr(TCharFlags f) { return f.Has(cfVisible) && !f.Has(cfPreSquelch) && !f.Has(cfSquelch); }

}  // namespace

TDecodingRoad::TDecodingRoad() : Cnv(kBlockFrames), Dsp(kInputLength, kExactRate), FDisplay(Dsp.FftSize()) {
  Chans.SetThrottle(1.0f);
  Chans.SetFftSize(Dsp.FftSize());
  Chans.SetUsb(false);
  Chans.SetAfcEnabled(true);
  FIq.resize(static_cast<std::size_t>(kBlockFrames / 2));
  FSpec.resize(static_cast<std::size_t>(Dsp.FftSize()));
  FQueued.resize(kQueueRoom);
  FQueuedPeaks.resize(kQueueRoom * FSpec.size());
  Chans.SelectDefault();
  Chans.Selected()->Rx.OnChar = [this](TRttyReceiver& rx) { CharArrived(rx); };
  FCallsChannel = Chans.Selected()->Id();
}

void TDecodingRoad::SetJobs(int32_t threads) {
  if (threads < 1) throw ERangeError();
  if (threads == Jobs()) return;
  FPool = threads > 1 ? std::make_unique<TThreadPool>(threads) : nullptr;
  // Work for the caller's thread while the pool decodes.
  FRunAhead = FPool ? std::function<void()>([this] { RunAhead(); }) : nullptr;
}

int32_t TDecodingRoad::BinToHz(int32_t bin) const {
  return static_cast<int32_t>(
      std::nearbyint(static_cast<double>(bin) / Dsp.FftSize() * static_cast<double>(Dsp.ExactRate())));
}

void TDecodingRoad::AudioDataArrived(const TDataBufferF& in) {
  AudioBlocksArrived(std::span<const TDataBufferF>(&in, 1));
}

void TDecodingRoad::AudioBlocksArrived(std::span<const TDataBufferF> blocks) {
  for (const TDataBufferF& b : blocks)
    if (b.empty()) throw ERangeError();
  FBlocks = blocks;
  FFrontBlock = 0;
  FFrontK = 0;
  try {
    while (FQueueCount > 0 || Produce(true)) {
      if (Queued(0).Peaks) Chans.ProcessPeaks(QueuedPeaks(0));
      Publish(1);  // the spectrum that came with the map waited for it
      FRunLength = RunLength();
      Publish(FRunLength);
      Chans.RoomArrived(FRunLength, FPool.get(), FRunAhead);
      // Block ends inside the run come after it: nothing there reads the
      // channels (BlockEndsQuiet).
      for (int32_t i = 0; i < FRunLength; ++i) {
        const TQueued& q = Queued(i);
        if (q.K == SpectraPerBlock() - 1) BlockEnd(q.Age);
      }
      Consume(FRunLength);
    }
  } catch (...) {
    // What the front end made of the failed block is dropped with it.
    FQueueHead = FQueueCount = FPublished = 0;
    FBlocks = {};
    throw;
  }
  FBlocks = {};
}

bool TDecodingRoad::Produce(bool publish) {
  if (FFrontBlock == FBlocks.size()) return false;
  BRENVO_ASSERT(FQueueCount < kQueueSpectra);
  if (FFrontK == 0) Cnv.Convert(PickChannel(FBlocks[FFrontBlock]), FIq);
  const int32_t i = FQueueCount;
  Dsp.ProcessIqBlock(std::span<const TComplex>(FIq.data() + FFrontK * kInputLength, kInputLength),
                     QueuedSpectrum(i));
  ++FQueueCount;
  TQueued& q = Queued(i);
  q = {static_cast<int32_t>(FFrontBlock), FFrontK, Dsp.Age(), Dsp.PeaksAvailable()};
  if (q.Peaks) std::copy(Dsp.Peaks().begin(), Dsp.Peaks().end(), QueuedPeaks(i).begin());
  if (++FFrontK == SpectraPerBlock()) {
    FFrontK = 0;
    ++FFrontBlock;
  }
  // A spectrum with a peak map waits for the map to reach the channels.
  if (publish && !q.Peaks) Publish(FQueueCount);
  return true;
}

int32_t TDecodingRoad::RunLength() {
  const bool quiet = BlockEndsQuiet();
  int32_t n = 1;
  for (;; ++n) {
    if (Queued(n - 1).K == SpectraPerBlock() - 1 && !quiet) return n;
    if (n == kQueueSpectra || (n == FQueueCount && !Produce(true))) return n;
    if (Queued(n).Peaks) return n;
  }
}

void TDecodingRoad::RunAhead() {
  for (int32_t i = FRunLength;; ++i) {
    if (i == FQueueCount && (i == kQueueSpectra || !Produce(false))) return;
    if (i > FRunLength && Queued(i).Peaks) return;
  }
}

void TDecodingRoad::Publish(int32_t n) {
  for (; FPublished < n; ++FPublished) {
    const TQueued& q = Queued(FPublished);
    if (q.K == 0) {
      if (Links.Recorder) Links.Recorder->AddToRingBuf(PickChannel(FBlocks[static_cast<std::size_t>(q.Block)]));
      ++FBlockCount;
    }
    const std::span<const float> s = QueuedSpectrum(FPublished);
    if (Links.SpectrumDialog && Links.SpectrumDialog->Visible()) {
      std::copy(s.begin(), s.end(), FSpec.begin());
      Links.SpectrumDialog->UpdateDisplay(FSpec);
    }
    // The column only feeds the waterfall: without one (decode_wav) its
    // sliding medians would cost a fifth of the decoding time.
    if (Links.Waterfall) FDisplay.Add(s, q.K == 0);
  }
}

void TDecodingRoad::Consume(int32_t n) {
  FQueueHead += n;
  FQueueCount -= n;
  FPublished -= n;
  if (FQueueHead + kQueueSpectra <= kQueueRoom) return;
  // Back to the start of the room, with what is left.
  const std::size_t size = FSpec.size(), from = static_cast<std::size_t>(FQueueHead);
  const auto rest = static_cast<std::size_t>(FQueueCount);
  std::copy_n(FQueued.begin() + static_cast<std::ptrdiff_t>(from), rest, FQueued.begin());
  std::copy_n(FQueuedPeaks.begin() + static_cast<std::ptrdiff_t>(from * size), rest * size, FQueuedPeaks.begin());
  FQueueHead = 0;
}

void TDecodingRoad::BlockEnd(int64_t age) {
  TRttyChannel* sel = Chans.Selected();
  if (Links.Waterfall) {
    FDisplay.Finish(sel ? sel->Rx.SigM.Nfl : 0.0f);
    Links.Waterfall->PushSpectrum(FDisplay.Column());
  }

  FollowChannel();
  ScaleChanged();

  sel = Chans.Selected();
  if (Links.Meter && sel) {
    const float v = sel->Rx.FastSnrDb;
    Links.Meter->Refresh(std::isfinite(v) ? v : 0.0f);
  }
  // Every 64 spectra, counted from the engine's start. A block that
  // crossed the mark but failed before it got here is made up for by the
  // next one, so the list never stops refreshing.
  // A selection made elsewhere (at start) lists its calls here.
  ListSelectedCalls();
  const int64_t bucket = age / kCallsPeriod;
  if (bucket != FCallsBucket) {
    FCallsBucket = bucket;
    if (Links.Calls && sel) Links.Calls->ShowCalls(sel->Rx, false);
  }
}

bool TDecodingRoad::ViewsPaused() const {
  auto paused = [](const IMessageView* v) { return v && v->FreezeState() != fsOff; };
  return paused(Links.MainView) || paused(Links.RawView);
}

bool TDecodingRoad::BlockEndsQuiet() const {
  const TRoadLinks& l = Links;
  return !l.Recorder && !l.Waterfall && !l.Meter && !l.Calls && !l.SpectrumDialog && !OnScaleChanged && !FollowMayAct();
}

bool TDecodingRoad::FollowMayAct() const {
  const TRttyChannel* sel = Chans.Selected();
  if (!sel || sel->State() == csActive || !(HoppingEnabled || Chans.AfcEnabled())) return false;
  for (int32_t i = 0; i < Chans.Count(); ++i)
    if (&Chans.Item(i) != sel && Chans.Item(i).State() == csActive) return true;
  return false;
}

void TDecodingRoad::FollowChannel() {
  if (!FollowMayAct() || ViewsPaused()) return;
  TRttyChannel* sel = Chans.Selected();
  if (HoppingEnabled) {
    SelectChannel(sel->MarkBin(), kAnyDist);
  } else if (Chans.AfcEnabled()) {
    const int32_t d = std::abs(sel->MarkBin() - Chans.DefaultMarkBin());
    if (d < kNearOnly)
      SelectChannel(Chans.DefaultMarkBin(), kFollowDist);
    else
      SelectChannel(sel->MarkBin(), kFollowDist);
  }
}

bool TDecodingRoad::SelectChannel(int32_t bin, int32_t maxDist) {
  if (!Chans.SelectNear(bin, maxDist)) return false;
  SelectionMoved(maxDist >= kNearOnly);
  return true;
}

bool TDecodingRoad::SelectDefault() {
  const TRttyChannel* before = Chans.Selected();
  const int64_t id = before ? before->Id() : -1;
  Chans.SelectDefault();
  if (Chans.Selected()->Id() == id) return false;
  SelectionMoved(true);
  return true;
}

void TDecodingRoad::SelectionMoved(bool announce) {
  ScaleChanged();
  if (announce) ShowSelected();
  ListSelectedCalls();
}

void TDecodingRoad::ListSelectedCalls() {
  TRttyChannel* sel = Chans.Selected();
  if (!Links.Calls || !sel || sel->Id() == FCallsChannel) return;
  FCallsChannel = sel->Id();
  Links.Calls->ShowCalls(sel->Rx, true);
}

void TDecodingRoad::ShowSelected() {
  TRttyChannel& sel = *Chans.Selected();
  const int32_t f = BinToHz(sel.MarkBin());
  sel.Rx.Ms.GetLatest(FLatest);
  FOldChars.clear();
  FShownChannel = sel.Id();
  FShownFrom = sel.Rx.Ms.CharCnt() + 1 - std::ssize(FLatest);
  // Under the bar: the clients too get the text the views show, on a line
  // of its own.
  FRawLineDue = true;
  FCorrOnLine = 0;
  if (Links.MainView) {
    Links.MainView->PutQsxBar(f);
    Links.MainView->PutText(FLatest, FOldChars);
  }
  if (DebugMode && Links.RawView) {
    Links.RawView->PutQsxBar(f);
    Links.RawView->PutText(FLatest, FOldChars);
  }
  PostCharsToServer(FLatest, FOldChars);
}

void TDecodingRoad::ViewsCleared() {
  const TRttyChannel* sel = Chans.Selected();
  if (!sel) return;
  FShownChannel = sel->Id();
  FShownFrom = sel->Rx.Ms.CharCnt() + 1;
  FRawLineDue = true;
  FCorrOnLine = 0;
}

void TDecodingRoad::CharArrived(TRttyReceiver& sender) {
  const TCharBatch& batch = sender.CharBatch();
  const TRttyChannel* sel = Chans.Selected();
  if (sel && sel->Id() != FShownChannel) {
    // Selected without its text being shown: it is shown from this record on.
    FShownChannel = sel->Id();
    FShownFrom = batch.Newest;
  }
  // Records before the first shown are not on screen (other text is where
  // they would be): neither their old versions nor their new ones count.
  const int64_t first = batch.Newest + 1 - std::ssize(batch.NewChars);
  const auto drop = static_cast<std::ptrdiff_t>(std::clamp<int64_t>(FShownFrom - first, 0, std::ssize(batch.OldChars)));
  FNewChars.assign(batch.NewChars.begin() + drop, batch.NewChars.end());
  FOldChars.assign(batch.OldChars.begin() + drop, batch.OldChars.end());

  if (Links.MainView) Links.MainView->PutText(FNewChars, FOldChars);
  if (DebugMode && Links.RawView) Links.RawView->PutText(FNewChars, FOldChars);
  PostCharsToServer(FNewChars, FOldChars);
  if (!FNewChars.empty() && Links.SpectrumDialog && Links.SpectrumDialog->Visible()) {
    const TCharInfo& last = FNewChars.back();
    const TCharFlags f = last.RawFlags;
    if (!f.Has(cfPreSquelch) && !f.Has(cfSquelch)) Links.SpectrumDialog->UpdateHisto(int32_t{last.StopLen});
  }
  ScaleChanged();
}

void TDecodingRoad::PostCharsToServer(const TCharInfoArray& newChars, const TCharInfoArray& oldChars) {
  for (std::size_t i = oldChars.size(); i < newChars.size(); ++i) {
    TCharInfo r = newChars[i];
    const TCharFlags f = r.RawFlags;
    if (f.Has(cfVisible) && !f.Has(cfSquelch)) {
      // posted as it is
    } else if (f.Has(cfNewLine) || FRawLineDue) {
      r.RawCh = '*';  // a line start the client cannot see still tells it a line began
    } else {
      continue;
    }
    if (r.RawCh == '_') r.RawCh = ' ';
    if (std::exchange(FRawLineDue, false)) r.RawFlags.Include(cfNewLine);
    if (Links.Server) Links.Server->PostRawChar(r);
  }
  for (const TCharInfo& r : oldChars)
    if (PostableCorr(r.CorrFlags)) ++FPendingDeleteCount;
  for (const TCharInfo& rec : newChars) {
    if (!PostableCorr(rec.CorrFlags)) continue;
    TCharInfo r = rec;
    if (r.CorrCh == '_') r.CorrCh = ' ';
    // The line the views started on their own stays on screen when its
    // first character goes: the next character starts it again.
    if (FCorrOnLine >= 0) {
      if (FPendingDeleteCount >= FCorrOnLine) {
        r.CorrFlags.Include(cfVisNewLine);
        FCorrOnLine = 0;
      } else {
        FCorrOnLine -= FPendingDeleteCount;
      }
      ++FCorrOnLine;
    }
    if (Links.Server) Links.Server->PostCorrChar(r, FPendingDeleteCount);
    FPendingDeleteCount = 0;
  }
}

}  // namespace brenvo
