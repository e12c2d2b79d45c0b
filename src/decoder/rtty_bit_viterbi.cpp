#include "decoder/rtty_bit_viterbi.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "decoder/baudot_table.h"
#include "decoder/char_prob.h"
#include "decoder/utc_clock.h"

namespace brenvo {

TRttyBitViterbi::TRttyBitViterbi() : FHmm(&BitHmm()) {
  for (int32_t i = 0; i <= 8; ++i)
    FShp[static_cast<std::size_t>(i + 2)] =
        static_cast<float>((1.0L - std::cos(static_cast<long double>(i) * std::numbers::pi_v<long double> / 8)) / 2);
  FShortStopState = {FHmm->StateIndexOf(TRttyBitHmm::kStopSection0, TRttyBitHmm::kMinStopLen - 1),
                     FHmm->StateIndexOf(TRttyBitHmm::kStopSection1, TRttyBitHmm::kMinStopLen - 1)};
  FDebugStates.reserve(kSettle);
  FChars.reserve(8);
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
  FBitProbs = TBitProbArray();
  FProbHistory.assign(kWindow, 0.0f);
  FBestPath.assign(kWindow, 0);
  FMetric.assign(static_cast<std::size_t>(FHmm->StateCount()), 0.0f);
  FHistory.assign(static_cast<std::size_t>(FHmm->HistoryStateCount()) * kWindow, 0);
  FEmissionProbs.fill(0.0f);
}

void TRttyBitViterbi::ProcessSample(const TSignalExtractor& mark, const TSignalExtractor& space) {
  // Each tone's density at the nine shape levels; shape i expects the mark
  // at Shp[i] and the space at the complementary Shp[8 - i].
  double lm[9], ls[9];
  for (int32_t i = 0; i <= 8; ++i) {
    lm[i] = mark.Likelihood(Shp(i));
    ls[i] = space.Likelihood(Shp(i));
  }
  TEmissions em{};
  // Shp[0] = 0: both tones off; silence costs 20 more.
  em[1] = static_cast<float>(BoundedLn(lm[0] * ls[0]) - 20.0);
  for (int32_t i = 0; i <= 8; ++i) em[static_cast<std::size_t>(i + 2)] = static_cast<float>(BoundedLn(lm[i] * ls[8 - i]));

  const double a = (1.0 - space.Prob) * mark.Prob;
  const double b = (1.0 - mark.Prob) * space.Prob;
  const double sum = a + b;
  const float p = (sum > 0.0 && std::isfinite(sum)) ? static_cast<float>(a / sum) : 0.499f;
  Step(em, p);
}

void TRttyBitViterbi::Step(const TEmissions& emissions, float markProb) {
  FChars.clear();
  FDebugStates.clear();
  ++FSampleCnt;
  FEmissionProbs = emissions;
  FEmissionProbs[0] = 0.0f;
  FProbHistory[static_cast<std::size_t>(FHistIdx)] = markProb;

  // In place, in the model's flat order: exit states read the previous
  // step's values of their section, real states read their predecessor's
  // previous value (reverse order within a section), entry states read the
  // exit states' values of this step.
  const TBitHmmState* st = FHmm->States().data();
  const int32_t* prevState = FHmm->PrevState().data();
  const float* prevLn = FHmm->PrevLn().data();
  float* metric = FMetric.data();
  const int32_t n = FHmm->StateCount();
  float best = -std::numeric_limits<float>::infinity();
  for (int32_t s = 0; s < n; ++s) {
    const TBitHmmState& state = st[s];
    const int32_t b = state.PrevBegin;
    int32_t bestFrom = prevState[b];
    float cand = metric[bestFrom] + prevLn[b];
    for (int32_t k = 1; k < state.PrevCount; ++k) {
      const int32_t from = prevState[b + k];
      const float c = metric[from] + prevLn[b + k];
      if (c > cand) {
        cand = c;
        bestFrom = from;
      }
    }
    const float m = cand + FEmissionProbs[static_cast<std::size_t>(state.ShapeIdx + 2)];
    metric[s] = m;
    if (m > best) best = m;
    if (state.HistorySlot >= 0) FHistory[static_cast<std::size_t>(state.HistorySlot) * kWindow + static_cast<std::size_t>(FHistIdx)] = bestFrom;
  }
  // Keep the metrics near 0: otherwise they fall by a few units per step and
  // after an hour the transition terms are lost in the float spacing.
  for (int32_t s = 0; s < n; ++s) metric[s] -= best;

  if (FSampleCnt >= kWindow && FSampleCnt % kSettle == 0) {
    Traceback();
    Decode();
  }
  FHistIdx = (FHistIdx + 1) % kWindow;
}

int32_t TRttyBitViterbi::Predecessor(int32_t state, int32_t idx) const {
  const TBitHmmState& s = FHmm->State(state);
  if (s.HistorySlot >= 0) return FHistory[static_cast<std::size_t>(s.HistorySlot) * kWindow + static_cast<std::size_t>(idx)];
  return FHmm->PrevState()[static_cast<std::size_t>(s.PrevBegin)];
}

void TRttyBitViterbi::Traceback() {
  // Best real state; on ties the higher index wins.
  int32_t cur = FHmm->StateCount() - 1;
  float best = FMetric[static_cast<std::size_t>(cur)];
  for (int32_t s = cur - 1; s >= 0 && FHmm->State(s).Kind != skVirtual; --s) {
    if (FMetric[static_cast<std::size_t>(s)] > best) {
      best = FMetric[static_cast<std::size_t>(s)];
      cur = s;
    }
  }
  for (int32_t step = 0; step < kWindow; ++step) {
    const int32_t idx = PosMod(FHistIdx - step, kWindow);
    // Joined the path of the last traceback: the rest is the same.
    if (step > kSettle && FBestPath[static_cast<std::size_t>(idx)] == cur) break;
    FBestPath[static_cast<std::size_t>(idx)] = cur;
    do {
      cur = Predecessor(cur, idx);
    } while (FHmm->State(cur).Kind == skVirtual);
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
      // A stop of 7 spectra leaves its section from the state before the
      // labelled one. With one stop bit (8.25 spectra at 45.45 Bd) every
      // fourth character needs one, so the character is emitted on that exit
      // instead of lost, numbered as if the label were the step after the
      // stop (StopLen 7). Only that exit counts: where a new traceback joins
      // the settled path somewhere else, nothing is emitted (it would repeat
      // the last character or invent one).
      const int32_t prev = FPrevPathState;
      FPrevPathState = s;
      if (IsShortStopExit(prev, s)) StopPassed(n);
      switch (state.Kind) {
        case skMark:
        case skSpace:
          // The soft bit: combined mark probability at the bit's labelled state.
          if (FBitCount < 5) FBitProbs[FBitCount++] = FProbHistory[static_cast<std::size_t>(idx)];
          break;
        case skStart: {
          FBitCount = 0;
          FLastStopLen = n - FLastStop;
          const int64_t len = std::clamp<int64_t>(FLastStopLen, TRttyBitHmm::kMinStopLen, TRttyBitHmm::kMaxStopLen);
          ++FStopHisto[static_cast<std::size_t>(len - TRttyBitHmm::kMinStopLen)];
          break;
        }
        case skStop:
          StopPassed(n);
          break;
        case skTone:
          AddChar(kChSteadyTone, n, false);
          break;
        case skSilence:
          AddChar(kChSilence, n, false);
          break;
        default:
          break;
      }
    } catch (const std::exception&) {
      // One bad step must not stop the channel: go on with the next.
    }
  }
}

}  // namespace brenvo
