// The road of one audio block and of one decoded character, without any
// toolkit: channel pick, ring recorder, real-to-complex converter, eight
// spectra per block through the channel list, one waterfall column, channel
// following (Automatic QSX and the AFC rule), meter and callsign-list
// cadences; the selected channel's characters go to the text views and the
// JSON server. The main window owns one; decode_wav drives one with
// recordings, blocks in batches (AudioBlocksArrived).
//
// Audio: blocks of 128 frames at 6000 Hz (21.33 ms), samples on the scale of
// a 32-bit integer. Time: the spectrum engine's Age (8 spectra per block).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "dsp/dsp_engine.h"
#include "dsp/re_to_complex_converter.h"
#include "dsp/types.h"
#include "receiver/display_column.h"
#include "receiver/road_links.h"
#include "receiver/rtty_channels.h"
#include "receiver/thread_pool.h"

namespace brenvo {

class TDecodingRoad {
 public:
  static constexpr int32_t kBlockFrames = 128;
  static constexpr int32_t kInputLength = 8;  // complex samples per spectrum
  static constexpr float kExactRate = 3000.0f;
  static constexpr int32_t kCallsPeriod = 64;     // spectra between callsign-list refreshes
  static constexpr int32_t kNearOnly = 17;  // moves over smaller distances are quiet (AFC rule)
  static constexpr int32_t kFollowDist = 9;
  static constexpr int32_t kAnyDist = 2147483647;

  // Builds the converter, the spectrum engine and the channel list (256
  // bins, lower sideband, AFC on), selects the default channel and binds
  // CharArrived to its receiver. The decoding globals must exist
  // (StartDecoderGlobals).
  TDecodingRoad();
  TDecodingRoad(const TDecodingRoad&) = delete;
  TDecodingRoad& operator=(const TDecodingRoad&) = delete;

  // One audio block: InBuffer holds one array of 128 samples per audio
  // channel (at least one channel; ERangeError otherwise). An exception from
  // any stage leaves the block unfinished; the next block starts afresh.
  void AudioDataArrived(const TDataBufferF& InBuffer);
  // Several blocks, one after another: the same as AudioDataArrived for each
  // in turn (every block is checked first), but an exception ends the call
  // and the blocks it had not finished are lost. Where nothing but the text
  // views and the server is linked and the selection cannot move, the
  // channels take the spectra of several blocks in one run; with several
  // threads the front end works out the next run's spectra while they
  // decode. For recordings.
  void AudioBlocksArrived(std::span<const TDataBufferF> Blocks);
  // Selects the nearest active channel other than the selected one within
  // MaxDist bins of Bin; a move over MaxDist >= 17 (a click, Automatic QSX)
  // writes the QSX bar and the new channel's latest text into the views.
  bool SelectChannel(int32_t Bin, int32_t MaxDist);
  // The default channel (made when there is none at the default tones),
  // announced as a click is: the QSX bar and its latest text. False when it
  // was selected already.
  bool SelectDefault();
  // The selected receiver's character event. The views and the server get
  // only records the views were given before or that are new: after a
  // selection that showed no text (the AFC rule, the default channel) the
  // new channel's corrections never delete another channel's text.
  void CharArrived(TRttyReceiver& Sender);
  // Posts one character event's records to the server (works on copies).
  // The delete count of replaced characters travels with the next corrected
  // character posted, across a channel change too: the clients still show
  // them. After a channel change with the QSX bar, or once the views were
  // emptied, the next raw and the next corrected character start a line.
  void PostCharsToServer(const TCharInfoArray& NewChars, const TCharInfoArray& OldChars);
  // The views were emptied (clear, contest change, play-back), after any
  // receiver reset: they and the clients get the selected channel's text
  // from its next record on.
  void ViewsCleared();

  // Threads that decode the channels, 1 .. 256 (ERangeError otherwise; 1,
  // the default, decodes on the caller's thread). The decoded text and
  // every event are the same whatever the number.
  void SetJobs(int32_t Threads);
  int32_t Jobs() const { return FPool ? FPool->Threads() : 1; }

  // Mark tone of a bin in Hz, rounded half to even (bin 196: 2297).
  int32_t BinToHz(int32_t Bin) const;

  TRoadLinks Links;
  bool HoppingEnabled = false;  // Automatic QSX
  bool DebugMode = false;       // the raw view is fed too
  bool RightChannel = false;
  // The selection or a selected channel's tones changed: the marker strip
  // repaints.
  std::function<void()> OnScaleChanged;

  TReToComplexConverter Cnv;
  TDspEngine Dsp;
  TRttyChannels Chans;

  // The display accumulator of the latest block (FftSize values); built
  // only while a waterfall is linked.
  const TSingleArray& LogPwr() const { return FDisplay.LogPwr(); }
  // The latest waterfall column (bins 16 .. 239).
  const TSingleArray& Column() const { return FDisplay.Column(); }
  int32_t PendingDeleteCount() const { return FPendingDeleteCount; }
  int64_t BlockCount() const { return FBlockCount; }

 private:
  // Two runs between peak maps (the engine offers one with every 16th
  // spectrum) and the first spectrum of the next.
  static constexpr int32_t kQueueSpectra = 33;
  static_assert(kQueueSpectra <= TRttyChannels::kRoomLength);
  // The queue's storage: its head moves on through it, back to the start
  // once in a while rather than after every run.
  static constexpr int32_t kQueueRoom = 4 * kQueueSpectra;

  // A spectrum of the queue, with where it came from.
  struct TQueued {
    int32_t Block;  // index in FBlocks
    int32_t K;      // number in its block
    int64_t Age;    // the engine's Age after it
    bool Peaks;     // a peak map came with it (kept in FQueuedPeaks)
  };

  int32_t SpectraPerBlock() const { return static_cast<int32_t>(FIq.size()) / kInputLength; }
  const TSingleArray& PickChannel(const TDataBufferF& In) const { return RightChannel && In.size() >= 2 ? In[1] : In[0]; }
  // Whether a block's end can fall inside a run: nothing is linked there
  // but what the character events feed, and the selection cannot move.
  bool BlockEndsQuiet() const;
  // The front end: the next spectrum of the blocks into the queue; false
  // when all are in. With Publish the links get it (and those before it
  // they have not had) at once, unless it came with a peak map: that one
  // they get after the map has reached the channels.
  bool Produce(bool Publish);
  // Length of the run the queue starts with, the spectra produced as far as
  // needed: up to the next peak map, to a block end unless it is quiet, or
  // as far as the queue holds.
  int32_t RunLength();
  // While the channels decode the run: the spectra after it, up to the
  // peak map that ends the next run.
  void RunAhead();
  // The links' share of the queue's first N spectra, those not yet given,
  // in order: the recorder the blocks, the spectrum dialog and the
  // waterfall column the spectra. As block after block: each spectrum after
  // the channels had the runs before it, and before they have it.
  void Publish(int32_t N);
  void BlockEnd(int64_t Age);
  // Drops the first N spectra of the queue.
  void Consume(int32_t N);
  // The queue's I-th spectrum from its head, what came with it, and its peak map.
  TQueued& Queued(int32_t I) { return FQueued[static_cast<std::size_t>(FQueueHead + I)]; }
  // The spectra wait where the channels will keep them.
  std::span<float> QueuedSpectrum(int32_t I) { return Chans.Room(I); }
  std::span<int32_t> QueuedPeaks(int32_t I) {
    return std::span<int32_t>(FQueuedPeaks).subspan(static_cast<std::size_t>(FQueueHead + I) * FSpec.size(), FSpec.size());
  }
  // Whether the channel following may move the selection at a block end
  // (the channels' states change only with peak maps).
  bool FollowMayAct() const;
  void FollowChannel();
  // After any change of the selection: the marker strip, with Announce the
  // QSX bar and the channel's latest text, and the callsign list anew.
  void SelectionMoved(bool Announce);
  void ShowSelected();
  // The callsign list shows the selected channel's calls, or none, as soon
  // as the selection changed: never those of the channel before.
  void ListSelectedCalls();
  bool ViewsPaused() const;
  void ScaleChanged() {
    if (OnScaleChanged) OnScaleChanged();
  }

  TComplexArray FIq;
  TSingleArray FSpec;
  TDisplayColumn FDisplay;
  // The blocks of the current call; the front end's next block and spectrum.
  std::span<const TDataBufferF> FBlocks;
  std::size_t FFrontBlock = 0;
  int32_t FFrontK = 0;
  // Spectra the front end made that the channels have not yet had, oldest
  // first: the current run and, while it decodes, the next.
  std::vector<TQueued> FQueued;
  std::vector<int32_t> FQueuedPeaks;
  int32_t FQueueHead = 0;
  int32_t FQueueCount = 0;
  int32_t FPublished = 0;  // of them, those the links had
  int32_t FRunLength = 0;  // of the run on its way through the channels
  std::function<void()> FRunAhead;
  std::unique_ptr<TThreadPool> FPool;
  TCharInfoArray FNewChars;
  TCharInfoArray FOldChars;
  TCharInfoArray FLatest;
  // The channel whose text the views and the clients have, and the running
  // number (TMessageStorage::CharCnt) of its first record they were given.
  int64_t FShownChannel = 0;
  int64_t FShownFrom = 0;
  bool FRawLineDue = false;  // the next raw post starts a line
  // Corrected characters the clients have on the line the views started on
  // their own (under the QSX bar, after a clear); 0: the next one starts it;
  // -1: no such line.
  int64_t FCorrOnLine = -1;
  int32_t FPendingDeleteCount = 0;
  int64_t FCallsBucket = 0;
  int64_t FCallsChannel = 0;  // whose calls the list was last built from
  int64_t FBlockCount = 0;
};

}  // namespace brenvo
