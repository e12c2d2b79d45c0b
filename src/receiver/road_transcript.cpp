#include "receiver/road_transcript.h"

namespace brenvo {

namespace {

// The channel's bins as it goes (or at the end), and its last spectrum.
void NoteEnd(TChannelTranscript& t, const TRttyChannel& ch, const TRttyChannels& chans) {
  t.MarkBin = ch.Rx.Afc.BinM;
  t.SpaceBin = ch.Rx.Afc.BinS;
  t.LastSpectrum = chans.SpectrumCnt() - 1;
  const TCallEstimate* best = ch.Rx.Cx.BestCall();
  t.BestCall = best ? Cp1252ToUtf8(best->Txt) : std::string();
}

}  // namespace

TRoadTranscript::TRoadTranscript(TRttyChannels& chans) : FChans(chans) {
  FChans.CharSpy = [this](TRttyReceiver& rx) { CharArrived(rx); };
  FChans.OnChannelAdded = [this](TRttyChannel& ch) { Attach(ch); };
  FChans.OnChannelDeleted = [this](TRttyChannel& ch) { Close(ch); };
  for (int32_t i = 0; i < FChans.Count(); ++i) Attach(FChans.Item(i));
}

TRoadTranscript::~TRoadTranscript() {
  FChans.CharSpy = nullptr;
  FChans.OnChannelAdded = nullptr;
  FChans.OnChannelDeleted = nullptr;
  for (int32_t i = 0; i < FChans.Count(); ++i) FChans.Item(i).Rx.OnCharSpy = nullptr;
}

void TRoadTranscript::Attach(TRttyChannel& ch) {
  ch.Rx.OnCharSpy = [this](TRttyReceiver& rx) { CharArrived(rx); };
  TChannelTranscript t;
  t.Id = ch.Id();
  t.FirstMarkBin = t.MarkBin = ch.Rx.Afc.BinM;
  t.FirstSpaceBin = t.SpaceBin = ch.Rx.Afc.BinS;
  t.FirstSpectrum = ch.FirstSpectrum;
  for (TMessageTextModel* m : {&t.Corrected, &t.Raw}) {
    m->ShowCtrlChars = false;
    m->ShowSquelched = false;
    m->MaxLines = 0;
  }
  t.Corrected.ShowCorrected = true;
  t.Raw.ShowCorrected = false;
  FLive[&ch.Rx] = FChannels.size();
  FChannels.push_back(std::move(t));
}

void TRoadTranscript::Close(const TRttyChannel& ch) {
  const auto it = FLive.find(&ch.Rx);
  if (it == FLive.end()) return;
  TChannelTranscript& t = FChannels[it->second];
  NoteEnd(t, ch, FChans);
  t.Alive = false;
  FLive.erase(it);
}

void TRoadTranscript::Finish() {
  for (int32_t i = 0; i < FChans.Count(); ++i) {
    const TRttyChannel& ch = FChans.Item(i);
    const auto it = FLive.find(&ch.Rx);
    if (it == FLive.end()) continue;
    NoteEnd(FChannels[it->second], ch, FChans);
  }
}

const TChannelTranscript* TRoadTranscript::Find(int64_t id) const {
  for (const TChannelTranscript& t : FChannels)
    if (t.Id == id) return &t;
  return nullptr;
}

void TRoadTranscript::CharArrived(TRttyReceiver& rx) {
  const auto it = FLive.find(&rx);
  if (it == FLive.end()) return;
  TChannelTranscript& t = FChannels[it->second];
  const TCharBatch& b = rx.CharBatch();
  t.Corrected.PutText(b.NewChars, b.OldChars);
  t.Raw.PutText(b.NewChars, b.OldChars);
}

}  // namespace brenvo
