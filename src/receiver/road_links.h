// What the decoding road hands data to. The main window's views, waterfall,
// meter, callsign list, spectrum dialog, JSON server and ring recorder
// implement these; the road decodes and builds its waterfall column without
// any of them (a null pointer simply receives nothing).
#pragma once

#include <cstdint>

#include "decoder/char_info.h"
#include "dsp/types.h"

namespace brenvo {

class TRttyReceiver;

// Pause state of a text view: the road moves the selection only while both
// the main and the raw view are fsOff.
enum TFreezeState : uint8_t { fsOff, fsFreezing, fsOn };

class IMessageView {
 public:
  virtual ~IMessageView() = default;
  // One batch: NewChars the newest records of the selected storage, OldChars
  // the versions shown before of all of NewChars but the newest (empty for
  // a channel change, which sends the channel's latest text).
  virtual void PutText(const TCharInfoArray& NewChars, const TCharInfoArray& OldChars) = 0;
  // The channel-change bar with the new channel's mark tone in Hz.
  virtual void PutQsxBar(int32_t FreqHz) = 0;
  virtual TFreezeState FreezeState() const = 0;
};

class IWaterfall {
 public:
  virtual ~IWaterfall() = default;
  // One column per audio block: bins 16 .. 239 of the display spectrum
  // (224 values, all finite), bin 16 first.
  virtual void PushSpectrum(const TSingleArray& Column) = 0;
};

class IMeter {
 public:
  virtual ~IMeter() = default;
  // Once per audio block with the selected receiver's FastSnrDb (a value
  // that is not a finite number arrives as 0).
  virtual void Refresh(float FastSnrDb) = 0;
};

class ICallsList {
 public:
  virtual ~ICallsList() = default;
  // Every 64 spectra with the selected channel's receiver: rebuild and post
  // the list when its callsign extractor (Selected.Cx) reports a change
  // (TakeCallsToShow of calls_list.h gives the lines). Anew, once the
  // selection changed: rebuilt and posted whatever the extractor reports,
  // with none of its calls rated well enough an empty list.
  virtual void ShowCalls(TRttyReceiver& Selected, bool Anew) = 0;
};

class ISpectrumDialog {
 public:
  virtual ~ISpectrumDialog() = default;
  // Fed only while visible.
  virtual bool Visible() const = 0;
  // Every spectrum, before the display scaling.
  virtual void UpdateDisplay(const TSingleArray& Spectrum) = 0;
  // The stop length of the newest record of a character batch whose raw
  // flags hold neither cfPreSquelch nor cfSquelch.
  virtual void UpdateHisto(int32_t StopLen) = 0;
};

// The JSON server's character posts.
class ICharPoster {
 public:
  virtual ~ICharPoster() = default;
  virtual void PostRawChar(const TCharInfo& Info) = 0;
  virtual void PostCorrChar(const TCharInfo& Info, int32_t DeleteCount) = 0;
};

class IBlockRecorder {
 public:
  virtual ~IBlockRecorder() = default;
  // Every audio block of the decoded channel, 128 samples.
  virtual void AddToRingBuf(const TSingleArray& Block) = 0;
};

// Not owned; each may be null.
struct TRoadLinks {
  IBlockRecorder* Recorder = nullptr;
  IMessageView* MainView = nullptr;
  IMessageView* RawView = nullptr;  // fed in debug mode only
  IWaterfall* Waterfall = nullptr;
  IMeter* Meter = nullptr;
  ICallsList* Calls = nullptr;
  ISpectrumDialog* SpectrumDialog = nullptr;
  ICharPoster* Server = nullptr;
};

}  // namespace brenvo
