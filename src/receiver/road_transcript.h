// Follows every channel of a channel list, not only the selected one, and
// keeps for each the text the main view would show had that channel been
// selected all along: corrected and raw (the main view's switches: visible
// characters only, squelched ones left out, "_" as a blank), with no line
// limit. Used by decode_wav and the end-to-end tests.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "receiver/message_text_model.h"
#include "receiver/rtty_channels.h"

namespace brenvo {

struct TChannelTranscript {
  int64_t Id = 0;
  int32_t FirstMarkBin = 0;  // the receiver's tone bins when the channel was made
  int32_t FirstSpaceBin = 0;
  int32_t MarkBin = 0;  // the receiver's tone bins when the channel went or at Finish
  int32_t SpaceBin = 0;
  int64_t FirstSpectrum = 0;  // number of the spectrum at which the channel was made
  int64_t LastSpectrum = -1;  // number of the last spectrum it was handed
  bool Alive = true;
  TMessageTextModel Corrected;
  TMessageTextModel Raw;
  std::string BestCall;  // the callsign extractor's best call at the end, UTF-8
};

class TRoadTranscript {
 public:
  // Attaches to Chans: its channel events and the CharSpy of every existing
  // and future channel. Chans must outlive the transcript; one transcript
  // per list.
  explicit TRoadTranscript(TRttyChannels& Chans);
  ~TRoadTranscript();
  TRoadTranscript(const TRoadTranscript&) = delete;
  TRoadTranscript& operator=(const TRoadTranscript&) = delete;

  // Notes the bins and the last spectrum of the channels still alive.
  void Finish();

  // In the order the channels were made (or met, for those made before).
  const std::vector<TChannelTranscript>& Channels() const { return FChannels; }
  const TChannelTranscript* Find(int64_t Id) const;

 private:
  void Attach(TRttyChannel& Ch);
  void Close(const TRttyChannel& Ch);
  void CharArrived(TRttyReceiver& Rx);

  TRttyChannels& FChans;
  std::vector<TChannelTranscript> FChannels;
  std::unordered_map<const TRttyReceiver*, std::size_t> FLive;
};

}  // namespace brenvo
