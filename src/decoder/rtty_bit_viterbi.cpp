#include "decoder/rtty_bit_viterbi.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>

#include "decoder/baudot_table.h"
#include "decoder/char_prob.h"
#include "decoder/utc_clock.h"
#include "dsp/cpu_features.h"
#include "dsp/first_max.h"

namespace brenvo {
namespace {

// Label slots: the start, data bits 1..5, the stop, steady tone, silence,
// steady tone after silence.
constexpr int8_t kSlotStart = 0;
constexpr int8_t kSlotStop = 6;
constexpr int8_t kSlotTone = 7;
constexpr int8_t kSlotSilence = 8;
constexpr int8_t kSlotToneAfterSilence = 9;
constexpr int8_t kSectionSlot[TRttyBitHmm::kSectionCount] = {
    kSlotStart, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, kSlotStop, kSlotStop,
    kSlotTone,  kSlotSilence, kSlotToneAfterSilence};

}  // namespace

// What the traceback and the rejoin read of the model, the same for every
// decoder.
struct TRttyBitViterbi::TPathTables {
  TPathTables(const TRttyBitHmm& hmm, const TRttyBitAcs& acs);
  // Real successors of a real state, through the exit states.
  std::span<const int32_t> Next(int32_t state) const {
    const auto s = static_cast<std::size_t>(state);
    return std::span<const int32_t>(NextList).subspan(static_cast<std::size_t>(NextBegin[s]),
                                                      static_cast<std::size_t>(NextBegin[s + 1] - NextBegin[s]));
  }
  std::vector<int32_t> NextBegin, NextList;
  // Label slot of each state: start 0, data bits 1..5, stop 6, the tone
  // and silence sections 7..9; -1 for an unlabelled state.
  std::vector<int8_t> Slot;
  std::vector<uint32_t> Reach;  // per state: bit r for section r within kMaxRejoin steps
  // Per state: where a step's history keeps its best predecessor (-1 for
  // none), its first predecessor, and whether its one predecessor is the
  // next state in flat order (inside a section).
  std::vector<int32_t> BackAt, BackFixed;
  std::vector<uint8_t> FromNext;
};

TRttyBitViterbi::TPathTables::TPathTables(const TRttyBitHmm& hmm, const TRttyBitAcs& acs) {
  const int32_t n = hmm.StateCount();
  const auto& prevState = hmm.PrevState();
  for (int32_t t = 0; t < n; ++t) {
    const TBitHmmState& st = hmm.State(t);
    BackAt.push_back(acs.HistoryIndex(t));
    BackFixed.push_back(prevState[static_cast<std::size_t>(st.PrevBegin)]);
    FromNext.push_back(st.PrevCount == 1 && BackFixed.back() == t + 1 && st.Kind != skVirtual);
  }
  std::vector<std::vector<int32_t>> next(static_cast<std::size_t>(n));
  for (int32_t t = 0; t < n; ++t) {
    const TBitHmmState& st = hmm.State(t);
    if (st.Kind == skVirtual) continue;
    for (int32_t k = 0; k < st.PrevCount; ++k) {
      const int32_t q = prevState[static_cast<std::size_t>(st.PrevBegin + k)];
      const TBitHmmState& qs = hmm.State(q);
      if (qs.Kind != skVirtual) {
        next[static_cast<std::size_t>(q)].push_back(t);
        continue;
      }
      for (int32_t j = 0; j < qs.PrevCount; ++j)
        next[static_cast<std::size_t>(prevState[static_cast<std::size_t>(qs.PrevBegin + j)])].push_back(t);
    }
  }
  for (const auto& succ : next) {
    NextBegin.push_back(static_cast<int32_t>(NextList.size()));
    NextList.insert(NextList.end(), succ.begin(), succ.end());
  }
  NextBegin.push_back(static_cast<int32_t>(NextList.size()));
  Slot.assign(static_cast<std::size_t>(n), -1);
  for (int32_t t = 0; t < n; ++t) {
    const TBitHmmState& st = hmm.State(t);
    if (st.Kind <= skSilence) Slot[static_cast<std::size_t>(t)] = kSectionSlot[st.Section];
  }
  // Sections within kMaxRejoin steps of each state: most rejoins in noise
  // lie further apart and need no search.
  Reach.assign(static_cast<std::size_t>(n), 0u);
  for (int32_t step = 0; step < kMaxRejoin; ++step) {
    std::vector<uint32_t> reach = Reach;
    for (int32_t a = 0; a < n; ++a)
      for (const int32_t b : Next(a))
        reach[static_cast<std::size_t>(a)] |= (1u << hmm.State(b).Section) | Reach[static_cast<std::size_t>(b)];
    Reach = std::move(reach);
  }
}

const TRttyBitViterbi::TPathTables& TRttyBitViterbi::SharedPathTables() {
  static const TPathTables tables(BitHmm(), SharedBitAcs());
  return tables;
}

TRttyBitViterbi::TRttyBitViterbi()
    : FHmm(&BitHmm()), FAcs(&SharedBitAcs()), FAcsKernel(TRttyBitAcs::Fastest()), FPaths(&SharedPathTables()) {
  std::copy(TSignalExtractor::ToneShapes().begin(), TSignalExtractor::ToneShapes().end(), FShp.begin() + 2);
  FShortStopState = {FHmm->StateIndexOf(TRttyBitHmm::kStopSection0, TRttyBitHmm::kMinStopLen - 1),
                     FHmm->StateIndexOf(TRttyBitHmm::kStopSection1, TRttyBitHmm::kMinStopLen - 1)};
  FDebugStates.reserve(kSettle);
  FChars.reserve(8);
  FJoinValue.assign(static_cast<std::size_t>(FAcs->JoinValueCount()), 0.0f);
  const auto n = static_cast<std::size_t>(FHmm->StateCount());
  FDescending.assign(n - TRttyBitHmm::kSectionCount, 0.0f);
  FRouteFrom.assign(n, -1);
  FRouteSeen.assign(n, 0u);
  FRoute.reserve(kMaxRejoin);  // the rejoin allocates nothing
  FQueue.assign(n, 0);
  Reset();
}

void TRttyBitViterbi::Reset() {
  FSampleCnt = 0;
  FHistIdx = 0;
  FBitCount = 0;
  FChars.clear();
  FDebugStates.clear();
  FStopHisto.fill(0);
  FPrevPathState = -1;
  FRepeatCount = 0;
  FBitProbs = TBitProbArray();
  FProbHistory.assign(kWindow, 0.0f);
  FBestPath.assign(kWindow, 0);
  FMetric.assign(static_cast<std::size_t>(FHmm->StateCount()), 0.0f);
  FMetricOffset = 0.0f;
  FHistory.assign(static_cast<std::size_t>(FAcs->HistorySize()) * kWindow, 0);
  FEmissionProbs.fill(0.0f);
}

float TRttyBitViterbi::ProcessSample(const TSignalExtractor& mark, const TSignalExtractor& space) {
  // Shape i expects the mark at its level i and the space at the
  // complementary level 8 - i; silence expects both off and costs 20 more.
  // The logarithm of each product of densities, bounded at -60 (also
  // for 0 and NaN).
  const auto& lm = mark.ShapeDensities().Ln;
  const auto& ls = space.ShapeDensities().Ln;
  const auto bounded = [](float v) { return v > -60.0f ? v : -60.0f; };
  TEmissions em{};
  em[1] = bounded(lm[0] + ls[0]) - 20.0f;
  for (std::size_t i = 0; i <= 8; ++i) em[i + 2] = bounded(lm[i] + ls[8 - i]);

  const double a = (1.0 - space.Prob) * mark.Prob;
  const double b = (1.0 - mark.Prob) * space.Prob;
  const double sum = a + b;
  const float p = (sum > 0.0 && std::isfinite(sum)) ? static_cast<float>(a / sum) : 0.499f;
  Step(em, p);
  return p;
}

void TRttyBitViterbi::Step(const TEmissions& emissions, float markProb) {
  FChars.clear();
  FDebugStates.clear();
  ++FSampleCnt;
  // [0]: exit states, 0. Of a size the compiler knows: moves in place, not a library call.
  std::memcpy(FEmissionProbs.data() + 1, emissions.data() + 1, sizeof emissions - sizeof emissions[0]);
  FProbHistory[static_cast<std::size_t>(FHistIdx)] = markProb;
  FAcs->Step(FAcsKernel, FEmissionProbs, FMetric.data(), FMetricOffset, FHistory.data() + HistoryAt(FHistIdx),
             FJoinValue.data());

  if (FSampleCnt >= kWindow && FSampleCnt % kSettle == 0) {
    Traceback();
    Decode();
  }
  FHistIdx = (FHistIdx + 1) % kWindow;
}

BRENVO_AVX2_CLONES void TRttyBitViterbi::Traceback() {
  // Best real state, on ties the higher index: the first strictly greater
  // one in a scan from the last state down, as FirstAbove sees the metrics
  // in reverse order.
  const int32_t n = FHmm->StateCount();
  const int32_t count = n - TRttyBitHmm::kSectionCount;
  for (int32_t k = 0; k < count; ++k) FDescending[static_cast<std::size_t>(k)] = Metric(n - 1 - k);
  float best = FDescending[0];
  int32_t cur = n - 1 - std::max(FirstAbove<8>(FDescending.data(), count, best), 0);
  const int32_t* backAt = FPaths->BackAt.data();
  const int32_t* backFixed = FPaths->BackFixed.data();
  for (int32_t step = 0; step < kWindow; ++step) {
    const int32_t idx = PosMod(FHistIdx - step, kWindow);
    // Joined the path of the last traceback: the rest is the same.
    if (step > kSettle && FBestPath[static_cast<std::size_t>(idx)] == cur) break;
    FBestPath[static_cast<std::size_t>(idx)] = cur;
    // To the predecessor, over exit states (the first ones in flat order) to
    // a real one.
    const int16_t* back = FHistory.data() + HistoryAt(idx);
    do {
      const int32_t at = backAt[cur];
      cur = at >= 0 ? back[at] : backFixed[cur];
    } while (cur < TRttyBitHmm::kSectionCount);
  }
}

void TRttyBitViterbi::AddChar(uint8_t ch, int64_t n, bool withBits) {
  TCharInfo info;
  info.RawCh = ch;
  info.SampleNo = static_cast<int32_t>(n);  // wraps after 2^32 spectra (about 4.5 months)
  info.Utc = UtcNow();
  info.StopLen = static_cast<int32_t>(std::clamp<int64_t>(FLastStopLen, std::numeric_limits<int32_t>::min(),
                                                          std::numeric_limits<int32_t>::max()));
  if (withBits) info.BitProbs = FBitProbs;
  FChars.push_back(info);
}

void TRttyBitViterbi::StopPassed(int64_t n) {
  FLastStop = n;
  if (FBitCount == 5) {
    const int code = ProbsToCode(FBitProbs);
    if (code == 27)
      FFigs = true;
    else if (code == 31 || code == 8 || code == 2 || code == 4)
      FFigs = false;
    AddChar(BaudotTable[FFigs ? 1 : 0][code], n, true);
  } else {
    AddChar(kChIncomplete, n, false);
  }
}

bool TRttyBitViterbi::IsShortStopExit(int32_t from, int32_t to) const {
  return (from == FShortStopState[0] || from == FShortStopState[1]) && FHmm->LeavesThroughExit(from, to);
}

bool TRttyBitViterbi::Follows(int32_t from, int32_t to) const {
  // Mostly one step on inside a section.
  if (to + 1 == from && FPaths->FromNext[static_cast<std::size_t>(to)]) return true;
  const std::span<const int32_t> next = FPaths->Next(from);
  return std::find(next.begin(), next.end(), to) != next.end();
}

int8_t TRttyBitViterbi::SlotOf(int32_t from, int32_t to) const {
  // A stop of 7 spectra leaves its section from the state before the
  // labelled one. With one stop bit (8.25 spectra at 45.45 Bd) every fourth
  // character needs one, so that exit counts as the stop, numbered as if the
  // label were the step after the stop (StopLen 7). The entry state it
  // reaches carries no label of its own (labels lie at position 7).
  if (IsShortStopExit(from, to)) return kSlotStop;
  return FPaths->Slot[static_cast<std::size_t>(to)];
}

void TRttyBitViterbi::Event(int8_t slot, int64_t n, int32_t idx) {
  switch (slot) {
    case kSlotStart: {
      FBitCount = 0;
      FLastStopLen = n - FLastStop;
      const int64_t len = std::clamp<int64_t>(FLastStopLen, TRttyBitHmm::kMinStopLen, TRttyBitHmm::kMaxStopLen);
      ++FStopHisto[static_cast<std::size_t>(len - TRttyBitHmm::kMinStopLen)];
      break;
    }
    case kSlotStop:
      StopPassed(n);
      break;
    case kSlotTone:
    case kSlotToneAfterSilence:
      AddChar(kChSteadyTone, n, false);
      break;
    case kSlotSilence:
      AddChar(kChSilence, n, false);
      break;
    default:
      // A data bit: the combined mark probability at its labelled state.
      if (FBitCount < 5) FBitProbs[FBitCount++] = FProbHistory[static_cast<std::size_t>(idx)];
  }
}

void TRttyBitViterbi::Pass(int32_t from, int32_t to, int64_t n, int32_t idx) {
  const int8_t slot = SlotOf(from, to);
  if (slot < 0) return;
  // Past the step where the earlier path stood, a label is new in any case.
  if (n > FRepeatUntil) FRepeatCount = 0;
  if (FRepeatCount > 0) {
    if (FRepeat[static_cast<std::size_t>(FRepeatHead)] == slot) {
      ++FRepeatHead;
      --FRepeatCount;
      return;
    }
    FRepeatCount = 0;  // the path went elsewhere
  }
  Event(slot, n, idx);
}

bool TRttyBitViterbi::FindRoute(int32_t from, int32_t to) {
  FRoute.clear();
  if (from == to) return true;
  if (!((FPaths->Reach[static_cast<std::size_t>(from)] >> FHmm->State(to).Section) & 1u)) return false;
  // A state is reached in this search when its stamp is the search's own.
  if (++FRouteStamp == 0) {
    std::fill(FRouteSeen.begin(), FRouteSeen.end(), 0u);
    FRouteStamp = 1;
  }
  FRouteSeen[static_cast<std::size_t>(from)] = FRouteStamp;
  std::size_t head = 0, tail = 0;
  FQueue[tail++] = from;
  for (int32_t depth = 0; depth < kMaxRejoin && head < tail; ++depth) {
    for (const std::size_t end = tail; head < end; ++head) {
      const int32_t a = FQueue[head];
      for (const int32_t b : FPaths->Next(a)) {
        if (FRouteSeen[static_cast<std::size_t>(b)] == FRouteStamp) continue;
        FRouteSeen[static_cast<std::size_t>(b)] = FRouteStamp;
        FRouteFrom[static_cast<std::size_t>(b)] = a;
        if (b == to) {
          for (int32_t c = to; c != from; c = FRouteFrom[static_cast<std::size_t>(c)]) FRoute.push_back(c);
          std::reverse(FRoute.begin(), FRoute.end());
          return true;
        }
        FQueue[tail++] = b;
      }
    }
  }
  return false;
}

void TRttyBitViterbi::Rejoin(int32_t from, int32_t to, int64_t n, int32_t idx) {
  FRepeatCount = 0;
  if (from != to && FindRoute(from, to)) {
    // Ahead: the labels jumped over count now.
    int32_t a = from;
    for (int32_t b : FRoute) {
      Pass(a, b, n, idx);
      a = b;
    }
    return;
  }
  if (FindRoute(to, from)) {
    // Behind (or standing still): the labels up to `from` counted already.
    FRepeatHead = 0;
    auto repeat = [this](int8_t slot) {
      if (slot >= 0 && FRepeatCount < static_cast<int32_t>(FRepeat.size())) FRepeat[static_cast<std::size_t>(FRepeatCount++)] = slot;
    };
    FRepeatUntil = n + static_cast<int64_t>(FRoute.size());
    repeat(FPaths->Slot[static_cast<std::size_t>(to)]);
    int32_t a = to;
    for (int32_t b : FRoute) {
      repeat(SlotOf(a, b));
      a = b;
    }
    Pass(-1, to, n, idx);
    return;
  }
  // Far apart: a path inside a character that did not pass its start label
  // collects that character's bits afresh.
  const int8_t section = FHmm->State(to).Section;
  if (section > 0 && section <= TRttyBitHmm::kStopSection1) FBitCount = 0;
  Pass(-1, to, n, idx);
}

void TRttyBitViterbi::Decode() {
  for (int32_t k = 0; k < kSettle; ++k) {
    const int32_t idx = (FHistIdx + 1 + k) % kWindow;
    const int64_t n = FSampleCnt - kWindow + k;
    const int32_t s = FBestPath[static_cast<std::size_t>(idx)];
    const TBitHmmState& state = FHmm->State(s);
    TDebugState dbg;
    dbg.Kind = state.Kind;
    switch (state.Kind) {
      case skMark:
      case skStop:
      case skTone:
      case sk11:
        dbg.Shape = 1.0f;
        break;
      case sk01:
      case sk10:
        dbg.Shape = Shp(state.ShapeIdx);
        break;
      default:
        dbg.Shape = 0.0f;
    }
    FDebugStates.push_back(dbg);

    try {
      const int32_t prev = FPrevPathState;
      FPrevPathState = s;
      if (prev < 0 || Follows(prev, s))
        Pass(prev, s, n, idx);
      else
        Rejoin(prev, s, n, idx);
    } catch (const std::exception&) {
      // One bad step must not stop the channel: go on with the next.
    }
  }
}

}  // namespace brenvo
