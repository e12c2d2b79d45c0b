// The complete decoder of one signal. For every spectrum: frequency control,
// mark and space signal extractors, signal-to-noise figures and the bit
// decoder; for every character the decoder emits: storage, message
// corrector, callsign extractor and the character event. Settled decoder
// decisions feed the extractors' noise floors and the 2-D histogram, and a
// ring of 65,536 entries keeps every spectrum's levels and decisions (about
// 175 s at 375 spectra per second) for the plot dialog.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <type_traits>
#include <vector>

#include "callsigns/call_extractor.h"
#include "decoder/message_corrector.h"
#include "decoder/message_storage.h"
#include "decoder/rtty_bit_viterbi.h"
#include "decoder/signal_extractor.h"
#include "decoder/utc_clock.h"
#include "receiver/afc_processor.h"
#include "receiver/char_batch.h"

namespace brenvo {

// One spectrum of a receiver's history (44 bytes).
struct THistoryEntry {
  float AmpM = 0.0f;   // mark extractor's Amp
  float EnvM = 0.0f;   // mark extractor's Env
  float NflM = 0.0f;   // mark extractor's Nfl
  float ProbM = 0.0f;  // mark extractor's Prob
  float AmpS = 0.0f;
  float EnvS = 0.0f;
  float NflS = 0.0f;
  float ProbS = 0.0f;
  // Expected mark level (0..1) of the settled decoder state; filled 127
  // spectra later, like Bit.
  float Shp = 0.0f;
  float Prob = 0.0f;  // combined mark probability of the step
  // Kind of the settled decoder state: skVirtual on the first pass through
  // the ring until settled, later the previous pass's value until settled.
  TStateKind Bit = skVirtual;
  // RawCh of a character whose SampleNo falls on this spectrum, else what the
  // previous pass left (0 on the first pass).
  uint8_t Ch = 0;
};
static_assert(sizeof(THistoryEntry) == 44);
// The ring makes its entries in place as they are reached and frees the
// storage without destroying them.
static_assert(std::is_trivially_destructible_v<THistoryEntry>);

// Receives the receivers' settled steps: (observed amplitude, expected level)
// pairs, twice per settled step (mark, then space). The 2-D histogram
// dialog implements it; nothing in the receiver depends on what it does.
class IHist2dSink {
 public:
  virtual ~IHist2dSink() = default;
  virtual void AddSample(float Amp, float Env) = 0;
};

class TRttyReceiver {
 public:
  static constexpr int32_t kHistLength = 65536;
  // Settled step k of a decode call is the spectrum kSettleLag - k before the current one.
  static constexpr int32_t kSettleLag = 127;

  using TCharEvent = std::function<void(TRttyReceiver& Sender)>;

  // Bins of the mark and space tones, 0 .. 65535 (ERangeError otherwise).
  // The frequency control is enabled at once. Uses the process's message
  // model (MessageHmm), bit model (BitHmm) and callsign validator
  // (CallValidator): build them first (StartDecoderGlobals).
  TRttyReceiver(int32_t MarkBin, int32_t SpaceBin);
  ~TRttyReceiver();
  TRttyReceiver(const TRttyReceiver&) = delete;
  TRttyReceiver& operator=(const TRttyReceiver&) = delete;

  // Bit decoder, storage, corrector (with the current message model) and
  // callsign extractor back to the start; HistCnt and HistIdx to 0. The
  // extractors, the frequency control, the SNR figures and the history
  // entries stay.
  void Reset();

  // One spectrum (its length at least 7 values; the tone bins are held
  // inside it by the frequency control).
  void SpectrumArrived(std::span<const float> Spectrum);
  // Several spectra in a row, the same as SpectrumArrived for each in turn.
  // Up to a step that feeds the noise floors back, the steps' filters and
  // densities go first, all together. When a step fails, the steps taken
  // that far are finished and the first exception is raised.
  void SpectraArrived(std::span<const std::span<const float>> Spectra);

  // The history entry of spectrum number Index (taken modulo 65536, also
  // for negative numbers).
  const THistoryEntry& GetHist(int64_t Index) const;

  // Raised once per new character, after the storage, the corrector and the
  // callsign extractor have taken it. Only the selected channel's receiver
  // carries the main window's handler; the channel list moves it.
  TCharEvent OnChar;
  // Raised after OnChar for every character whatever the selection: for
  // observers that follow every channel (the WAV decoding bench, tests).
  // The channel list gives each new channel's receiver its CharSpy.
  TCharEvent OnCharSpy;
  // Receives the settled steps; not owned, may be null.
  IHist2dSink* Hist2d = nullptr;

  // The records of the character event being raised (GetCharBatch of the
  // storage when the character was stored). Handlers read them here: when
  // events are raised late the storage has moved on.
  const TCharBatch& CharBatch() const { return *FEventBatch; }

  // From BeginDeferring to RaiseDeferredEvents the character events and the
  // histogram samples are kept, in order, rather than raised: the channel
  // list steps receivers on several threads so (nothing shared is touched
  // meanwhile) and raises their events one receiver after another.
  void BeginDeferring();
  void RaiseDeferredEvents();

  TAfcProcessor Afc;
  TSignalExtractor SigM;
  TSignalExtractor SigS;
  TRttyBitViterbi Bx;
  TMessageStorage Ms;
  TRttyMessageCorrector Mc;
  // Reads Ms; updated per character between the corrector and OnChar.
  TCallExtractor Cx;

  TDateTime Created;
  float SlowSnrDb = 0.0f;     // long-term signal-to-noise ratio, dB
  float FastSnrDb = 0.0f;     // smoothed, dB (the meter shows it)
  float InstantSnrDb = 0.0f;  // this spectrum's, dB

  int64_t HistCnt() const { return FHistCnt; }  // spectra since the last reset
  int32_t HistIdx() const { return FHistIdx; }  // ring position of the current spectrum
  // Bytes held by this receiver and the objects it owns (measurement).
  std::size_t MemoryBytes() const;

 private:
  // The entry at ring position pos, made (default values) when first reached.
  THistoryEntry& Entry(int32_t pos) const;
  // Makes the entries up to pos and the rest of its stretch of
  // kEntriesMadeTogether (44 KB).
  void MakeEntries(int32_t pos) const;
  static constexpr int32_t kEntriesMadeTogether = 1024;
  // The signal-to-noise figures of steps that FilterPairs took, but the
  // long-term one (it follows the tone-on powers that each step moves).
  void SignalToNoise(const TSignalExtractor::TPairSteps& steps);
  // The rest of a spectrum's work once its filters and densities are done.
  void FinishStep(const TSignalExtractor::TPairSteps& steps, std::size_t t);
  void CharEvent();
  void Hist2dEvent(float Amp, float Env);

  // A kept event: a histogram sample, or the next kept character batch.
  struct TKeptEvent {
    bool IsChar;
    float Amp;
    float Env;
  };
  bool FDeferring = false;
  std::vector<TKeptEvent> FKept;
  // Reused from one deferral to the next; the first FKeptBatchCount are kept.
  std::vector<TCharBatch> FKeptBatches;
  std::size_t FKeptBatchCount = 0;
  TCharBatch FBatch;
  const TCharBatch* FEventBatch = &FBatch;

  // The ring's storage, its entries made as they are first reached rather
  // than all at creation: a channel that lives for a minute then never
  // touches two thirds of its pages (the program makes and drops channels
  // all the time). Entries 0 .. FHistMade - 1 exist; the ring is filled in
  // order, and every entry the receiver writes lies at or before the current
  // position on the first pass. A stretch's pages come in one call, not a
  // fault each: 5,100 faults down to 1,660 on the 10-signal recording.
  THistoryEntry* FHist = nullptr;
  mutable int32_t FHistMade = 0;
  int64_t FHistCnt = 0;
  int32_t FHistIdx = 0;
};

}  // namespace brenvo
