// The channels of the passband: one per RTTY signal. With every peak map of
// the spectrum engine (every 16th spectrum) the list updates each channel's
// activity, kills channels that left the usable range, duplicates and
// channels silent for 30 s, and creates a channel at every unclaimed peak
// with a partner peak 13 to 16 bins below it. With every spectrum it feeds
// each channel's receiver; a new channel first replays the 63 spectra before
// its creation from a ring of 64, two per call, so that it decodes the start
// of the transmission that created it.
//
// Time: channel time-outs count peak maps (23.4375 per second).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "dsp/types.h"
#include "receiver/rtty_receiver.h"
#include "receiver/thread_pool.h"

namespace brenvo {

enum TChannelStatus : uint8_t { csActive, csInactive, csDead };

// Peak map cells, one per spectrum bin.
inline constexpr int32_t kPeakNone = 0;
inline constexpr int32_t kPeakUnclaimed = -1;  // FFFFFFFF
inline constexpr int32_t kPeakClaimed = 1;

class TRttyChannel {
 public:
  static constexpr double kPeakMapsPerSecond = 23.4375;
  static constexpr int32_t kBackLogSpectra = 63;

  // Bins 0 .. 65535 (ERangeError otherwise). Id: a number the owner gives
  // (unique per list; 0 for channels made outside a list).
  TRttyChannel(int32_t MarkBin, int32_t SpaceBin, int64_t Id = 0);

  TChannelStatus State() const { return FState; }
  // The receiver's mark bin after the latest spectrum (the creation bin before it).
  int32_t MarkBin() const { return FMarkBin; }
  void MarkAsDead() { FState = csDead; }
  // Spectra in a row (the receiver takes them together).
  void SpectraArrived(std::span<const std::span<const float>> Spectra);
  // Activity from a peak map (all cells around the receiver's bins must
  // exist, ERangeError otherwise) and the claim of the cells around the
  // higher tone.
  void PeaksArrived(std::span<int32_t> Peaks);

  int64_t Id() const { return FId; }

  TRttyReceiver Rx;
  int32_t BackLogCnt = kBackLogSpectra;  // spectra still to replay
  int64_t NoActivityAge = 0;  // peak maps since a tone last showed a peak
  float InactiveTimeOut = 1.5f;  // seconds
  float DeadTimeOut = 30.0f;     // seconds
  // Spectra the list had handed on when the channel was made: the number of
  // the first spectrum that reaches it live.
  int64_t FirstSpectrum = 0;

 private:
  TChannelStatus FState = csActive;
  int32_t FMarkBin;
  int64_t FId;
};

class TRttyChannels {
 public:
  static constexpr int32_t kBackLogLength = 64;
  // Spectra that can wait, written but not yet handed on, after the latest.
  static constexpr int32_t kRoomLength = 64;
  static constexpr int32_t kFirstNewBin = 32;  // new channels are sought from here up
  static constexpr int32_t kMinMarkBin = 16;   // live channels keep their mark bin in
                                               // kMinMarkBin .. FftSize - 17
  static constexpr int32_t kMinShift = 13;
  static constexpr int32_t kMaxShift = 16;
  static constexpr int32_t kDuplicateDist = 2;

  using TChannelEvent = std::function<void(TRttyChannel& Channel)>;

  TRttyChannels();
  TRttyChannels(const TRttyChannels&) = delete;
  TRttyChannels& operator=(const TRttyChannels&) = delete;

  // Spectrum length, 48 .. 65536 (ERangeError otherwise); the program's is 256.
  int32_t FftSize() const { return FFftSize; }
  void SetFftSize(int32_t Value);
  // Share of the list that duplicate removal examines, 0 .. 1 (ERangeError otherwise).
  float Throttle() const { return FThrottle; }
  void SetThrottle(float Value);
  bool Usb() const { return FUsb; }
  void SetUsb(bool Value);
  bool AfcEnabled() const { return FAfcEnabled; }
  void SetAfcEnabled(bool Value);
  // The 2-D histogram every receiver feeds, now and later (not owned, may
  // be null).
  IHist2dSink* Hist2d() const { return FHist2d; }
  void SetHist2d(IHist2dSink* Value);

  // With each new peak map (FftSize cells, ERangeError otherwise), before
  // that spectrum's SpectrumArrived. Writes claims into the map.
  void ProcessPeaks(std::span<int32_t> Peaks);
  // With every spectrum (FftSize values, else "Assertion failure" with
  // nothing changed).
  void SpectrumArrived(std::span<const float> Spectrum);
  // With a run of spectra that no peak map falls into (a whole number of
  // spectra of FftSize values one after another, else "Assertion failure"
  // with nothing changed): as SpectrumArrived for each in turn, but each
  // channel takes the whole run (up to kRoomLength spectra; a longer one
  // goes kRoomLength at a time) before the next channel starts. With a Pool
  // the channels run on its threads, their events kept and raised
  // afterwards in list order: the handlers see the same, in the same order,
  // whatever the number of threads. Meanwhile, when given, runs on the
  // caller's thread while the channels decode (after them without a pool):
  // work that touches no channel. Its exception comes back as theirs do.
  void SpectraArrived(std::span<const float> Spectra, TThreadPool* Pool = nullptr,
                      const std::function<void()>& Meanwhile = nullptr);
  // Where the I-th spectrum after the latest the channels had will be kept
  // (I in 0 .. kRoomLength - 1, else "Assertion failure"): a producer writes
  // the spectra there and hands them on with RoomArrived, without another
  // copy. While the channels take a run, the room past it may be written
  // (Meanwhile). Valid until the spectrum length changes.
  std::span<float> Room(int32_t I);
  // The room's first N spectra (1 .. kRoomLength, else "Assertion failure")
  // as a run: the same as SpectraArrived with them.
  void RoomArrived(int32_t N, TThreadPool* Pool = nullptr,
                   const std::function<void()>& Meanwhile = nullptr);
  // Every receiver's Reset (contest change).
  void Reset();

  // Selects the nearest active channel other than the selected one within
  // MaxDist bins of Bin (the first in list order on ties); moves the
  // selected receiver's OnChar to it. False, with nothing changed, when there
  // is none.
  bool SelectNear(int32_t Bin, int32_t MaxDist);
  // Selects an active channel at the default bins, adding one when needed.
  void SelectDefault();

  int32_t DefaultMarkBin() const;
  int32_t DefaultSpaceBin() const;

  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  TRttyChannel& Item(int32_t i);
  const TRttyChannel& Item(int32_t i) const;
  TRttyChannel* Selected() const { return FSelected; }
  int64_t Age() const { return FAge; }
  bool Changed() const { return FChanged; }
  int32_t StopAt() const { return FStopAt; }
  int32_t BackLogIdx() const { return FRingIdx < 0 ? -1 : FRingIdx % kBackLogLength; }
  // Spectra handed on since creation.
  int64_t SpectrumCnt() const { return FSpectrumCnt; }

  int32_t DefaultHighTone = 2295;  // Hz
  // Handler given to the receivers of channels made from peaks.
  TRttyReceiver::TCharEvent DebugOnChar;
  // Given to every new channel's receiver as its OnCharSpy.
  TRttyReceiver::TCharEvent CharSpy;
  // Observers: a channel was added (after its set-up), or is about to be
  // deleted and freed.
  TChannelEvent OnChannelAdded;
  TChannelEvent OnChannelDeleted;

 private:
  void KillOutOfRange();
  void KillDuplicates();
  void DeleteDead();
  void AddNewChannels();
  TRttyChannel& AddChannel(int32_t MarkBin, int32_t SpaceBin);
  // Where in the ring the spectrum I after the latest lies (negative: before it).
  std::size_t Slot(int32_t I) const;
  // The ring for the spectrum length, all zeros: before the first spectrum,
  // new channels replay zero spectra.
  void MakeRing();
  // Hands the room's first N spectra to one channel, replaying its backlog first.
  void StepChannel(TRttyChannel& Ch, int32_t N) const;
  void SortByMarkBin();
  void UpdateStopAt();

  std::vector<std::unique_ptr<TRttyChannel>> Items;
  std::span<int32_t> FPeaks;
  int64_t FAge = 0;
  bool FUsb = false;
  bool FAfcEnabled = false;
  // The latest kBackLogLength spectra, for new channels to replay, then the
  // room: the spectra follow each other around the ring.
  static constexpr int32_t kRingLength = kBackLogLength + kRoomLength;
  TSingleArray FRing;
  int32_t FRingIdx = -1;  // of the latest spectrum
  int32_t FFftSize = 256;
  float FThrottle = 1.0f;
  bool FChanged = false;
  int32_t FStopAt = 0;
  TRttyChannel* FSelected = nullptr;
  IHist2dSink* FHist2d = nullptr;
  int64_t FNextId = 1;
  int64_t FSpectrumCnt = 0;
};

}  // namespace brenvo
