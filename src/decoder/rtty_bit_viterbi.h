// Bit-level Viterbi decoder of one RTTY signal: turns the mark and space
// tone trackers into Baudot character records with a soft value per bit.
// One step per spectrum over the shared model BitHmm(); every 32 steps (from
// the 128th on) the best path is traced back over a 128-step window and the
// 32 oldest steps are settled: characters therefore come in bursts every 32
// spectra, 96 to 127 spectra after their stop element.
//
// A character is emitted where the settled path passes the labelled state of
// a stop section, and also where a stop of 7 spectra (the shortest) leaves its
// section just before that state (one stop bit at 45.45 Bd needs one every
// fourth character); such a character is numbered at the step after the stop.
//
// The settled path of one traceback does not always continue the previous
// one: it may start a few steps ahead or behind. A label (start, data bit,
// stop, tone, silence) counts once, when the settled path first reaches or
// passes it: labels jumped over count at the first step of the new path, and
// labels it reaches again count no more. Where the two paths lie further
// apart than that, a path that is past a character's start label restarts
// the character.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "decoder/char_info.h"
#include "decoder/rtty_bit_acs.h"
#include "decoder/rtty_bit_hmm.h"
#include "decoder/signal_extractor.h"

namespace brenvo {

// One settled step of the best path.
struct TDebugState {
  TStateKind Kind = skVirtual;  // kind of the state on the path
  float Shape = 0.0f;           // mark level that state expects, 0..1
};

class TRttyBitViterbi {
 public:
  static constexpr int32_t kWindow = 128;  // traceback window, steps
  static constexpr int32_t kSettle = 32;   // steps settled per traceback
  // Two settled paths this many steps apart or fewer (one data bit) are
  // taken as the same path seen with a slightly different timing.
  static constexpr int32_t kMaxRejoin = 8;

  // Log-likelihood of one spectrum per shape index -2..8 (element i + 2);
  // entry -2 (exit states) must be 0.
  using TEmissions = std::array<float, 11>;

  TRttyBitViterbi();

  // Back to step 0. The shift state and the last stop (for StopLen) carry over.
  void Reset();

  // One spectrum; returns the step's combined mark probability (0..1).
  // Afterwards Chars() holds this step's new characters (usually none) and
  // DebugStates() the 32 settled steps or nothing; both are replaced by the
  // next call.
  float ProcessSample(const TSignalExtractor& mark, const TSignalExtractor& space);
  // The same from given emissions and combined mark probability (0..1).
  void Step(const TEmissions& emissions, float markProb);

  const TCharInfoArray& Chars() const { return FChars; }
  const std::vector<TDebugState>& DebugStates() const { return FDebugStates; }

  int64_t SampleCnt() const { return FSampleCnt; }  // steps since the reset
  // Steps from now to the next one that settles steps (1: the next one).
  int64_t StepsToSettle() const {
    return std::max<int64_t>(kWindow, (FSampleCnt / kSettle + 1) * kSettle) - FSampleCnt;
  }
  int32_t HistIdx() const { return FHistIdx; }      // ring position of the next step
  bool Figs() const { return FFigs; }
  int64_t LastStopLen() const { return FLastStopLen; }
  // Counts of decoded stop lengths, index 0 = 7 spectra (or fewer) .. 27 = 34 or more.
  const std::array<int32_t, 28>& StopHisto() const { return FStopHisto; }
  // Path metric of a state, relative to the best state of the step.
  float Metric(int32_t state) const { return FMetric[static_cast<std::size_t>(state)] - FMetricOffset; }
  // Ring of the state on the best path per step (position = step mod 128),
  // as left by the last traceback.
  const std::vector<int32_t>& BestPath() const { return FBestPath; }
  // Tone shape (1 - cos(i pi / 8)) / 2 for i = 0..8; 0 for -2 and -1.
  float Shp(int32_t shapeIdx) const { return FShp[static_cast<std::size_t>(shapeIdx + 2)]; }

 private:
  struct TPathTables;
  static const TPathTables& SharedPathTables();

  void Traceback();
  void Decode();
  // Start of the back-pointers of ring position idx in FHistory.
  std::size_t HistoryAt(int32_t idx) const {
    return static_cast<std::size_t>(idx) * static_cast<std::size_t>(FAcs->HistorySize());
  }
  void AddChar(uint8_t ch, int64_t n, bool withBits);
  void StopPassed(int64_t n);
  bool IsShortStopExit(int32_t from, int32_t to) const;
  // The labels of one settled step from state `from` (-1: unknown) to `to`:
  // a 7-spectra stop's exit, then the label of `to`.
  void Pass(int32_t from, int32_t to, int64_t n, int32_t idx);
  void Event(int8_t slot, int64_t n, int32_t idx);
  // The settled path went from `from` to `to`, which does not follow it.
  void Rejoin(int32_t from, int32_t to, int64_t n, int32_t idx);
  // Shortest path from -> to of at most kMaxRejoin steps into FRoute (from
  // excluded, to last; empty when they are the same); false when there is none.
  bool FindRoute(int32_t from, int32_t to);
  // Whether `to` can follow `from` one step later.
  bool Follows(int32_t from, int32_t to) const;
  int8_t SlotOf(int32_t from, int32_t to) const;

  const TRttyBitHmm* FHmm;  // the shared model (a pointer keeps the decoder copyable)
  // The step's add-compare-select, shared like the model, and the fastest
  // kernel of it this processor runs.
  const TRttyBitAcs* FAcs;
  TRttyBitAcs::TKernel FAcsKernel;
  std::vector<float> FJoinValue;   // scratch of the step
  std::vector<float> FMetric;      // per state, FMetricOffset above the path metric
  float FMetricOffset = 0.0f;
  std::vector<int16_t> FHistory;   // per ring position, the back-pointers of a step (FAcs->HistorySize())
  std::vector<float> FProbHistory; // ring: combined mark probability
  std::vector<int32_t> FBestPath;  // ring: state on the best path
  int64_t FSampleCnt = 0;          // 64-bit: a channel may run for months
  int32_t FHistIdx = 0;
  std::array<float, 11> FShp{};
  TRttyBitAcs::TEmissions FEmissionProbs{};
  int32_t FBitCount = 0;
  TBitProbArray FBitProbs;
  bool FFigs = false;
  std::vector<TDebugState> FDebugStates;
  TCharInfoArray FChars;
  std::array<int32_t, 28> FStopHisto{};
  // State of the last settled step (-1 after a reset), and the state of each
  // stop section from which a stop of kMinStopLen spectra leaves it.
  int32_t FPrevPathState = -1;
  std::array<int32_t, 2> FShortStopState{};
  // Predecessors, successors, label slots and reach of the model's states,
  // for the traceback and the rejoin: built once and shared, like the model.
  const TPathTables* FPaths;
  std::vector<float> FDescending;  // scratch of the traceback
  std::vector<int32_t> FRouteFrom, FRoute, FQueue;  // scratch of FindRoute
  std::vector<uint32_t> FRouteSeen;
  uint32_t FRouteStamp = 0;
  // Labels the settled path reaches again after it went back: skipped once,
  // in this order, until the step at which it is back where it was.
  std::array<int8_t, kMaxRejoin + 1> FRepeat{};
  int32_t FRepeatHead = 0, FRepeatCount = 0;
  int64_t FRepeatUntil = 0;
  int64_t FLastStop = 0;
  int64_t FLastStopLen = 0;
};

}  // namespace brenvo
