#include "decoder/message_corrector.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

#include "decoder/baudot_table.h"
#include "decoder/char_prob.h"
#include "dsp/cpu_features.h"
#include "dsp/errors.h"
#include "dsp/first_max.h"
#include "dsp/lane_math.h"

// The vector code is always inlined: an eight-lane value never crosses a
// call boundary, so the ABI note about it (given where the templates are
// instantiated, at the end of the file) does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace brenvo {

namespace {

constexpr float kMarkerEmission = -10000.0f;  // any character but "~" on a tone / silence / incomplete record

// "+" and "=" have no code in this Baudot table and would score as the
// letters shift: the class is scored over the members that have a code,
// still divided by the size of the whole class.
constexpr std::string_view kCodedPunctuation = "-'$*,!:()#?&./";
static_assert(kCodedPunctuation.size() == 14);

bool IsMarker(uint8_t rawCh) { return rawCh == kChSteadyTone || rawCh == kChIncomplete || rawCh == kChSilence; }

bool IsMeta(uint8_t ch) {
  return ch == kChAnyLetter || ch == kChAnyDigit || ch == kChAnyPunct || ch == kChSeparator;
}

float ClassLn(std::string_view members, std::size_t classSize, const float (&codeProb)[32]) {
  float best = codeProb[CodeTable[static_cast<uint8_t>(members[0])]];
  for (std::size_t k = 1; k < members.size(); ++k) {
    const float v = codeProb[CodeTable[static_cast<uint8_t>(members[k])]];
    if (v > best) best = v;
  }
  return SafeLn(best / static_cast<float>(classSize));
}

}  // namespace

TRttyMessageCorrector::TRttyMessageCorrector() { Reset(); }

TRttyMessageCorrector::TRttyMessageCorrector(std::shared_ptr<const TRttyMessageHmm> model, TKernel kernel)
    : FKernel(kernel) {
  if (!KernelRuns(kernel))
    throw EBrenvoError("TRttyMessageCorrector: this processor cannot run the kernel asked for");
  Reset(std::move(model));
}

TRttyMessageCorrector::TKernel TRttyMessageCorrector::Fastest() {
  return KernelRuns(TKernel::Avx2) ? TKernel::Avx2 : TKernel::Runs;
}

bool TRttyMessageCorrector::KernelRuns(TKernel kernel) {
  static const bool hasAvx2 = CpuHasAvx2();
  return kernel != TKernel::Avx2 || hasAvx2;
}

void TRttyMessageCorrector::Reset() { Reset(MessageHmm()); }

void TRttyMessageCorrector::Reset(std::shared_ptr<const TRttyMessageHmm> model) {
  if (!model) throw EBrenvoError("TRttyMessageCorrector needs a message model");
  FModel = std::move(model);
  const std::size_t n = static_cast<std::size_t>(FModel->StateCount());
  const std::size_t kept = FModel->Compiled().HistorySize;
  FAge = 0;
  FHistIdx = 0;
  FProb.assign(n, 0.0f);
  FHistory16.clear();
  FHistory32.clear();
  if (n <= 65536) {
    FHistory16.assign(kept * kHistoryLength, 0);
    FHistory16.shrink_to_fit();
    FHistory32.shrink_to_fit();
  } else {
    FHistory32.assign(kept * kHistoryLength, 0);
    FHistory32.shrink_to_fit();
    FHistory16.shrink_to_fit();
  }
  FBestPath.fill(0);
  FEmissionProbs.fill(0.0f);
  FMsg.clear();
  FMsg.reserve(kHistoryLength);
}

float TRttyMessageCorrector::Score(int state) const {
  CheckIndex(state, static_cast<long long>(FProb.size()));
  return FProb[static_cast<std::size_t>(
      FModel->Compiled().Position[static_cast<std::size_t>(state)])];
}

int32_t TRttyMessageCorrector::PathState(int k) const {
  CheckIndex(k, std::min<int64_t>(FAge, kHistoryLength));
  // Slots further back than this step's trace still hold the earlier trace,
  // which the new best path joined.
  return FModel->Compiled().Order[static_cast<std::size_t>(
      FBestPath[static_cast<std::size_t>(PosMod(FHistIdx - 1 - k, kHistoryLength))])];
}

std::size_t TRttyMessageCorrector::MemoryBytes() const {
  return sizeof(*this) + FProb.capacity() * sizeof(float) + FHistory16.capacity() * sizeof(uint16_t) +
         FHistory32.capacity() * sizeof(int32_t) + FMsg.capacity() * sizeof(TCharInfo);
}

void TRttyMessageCorrector::ComputeEmissions(const TCharInfo& ch) {
  const std::vector<uint8_t>& used = FModel->Compiled().UsedCharList;
  if (IsMarker(ch.RawCh)) {
    for (uint8_t c : used) FEmissionProbs[c] = c == kChSeparator ? 0.0f : kMarkerEmission;
    return;
  }
  float codeProb[32];
  CodeProbs(ch.BitProbs, codeProb);
  for (uint8_t c : used) {
    float e;
    switch (c) {
      case kChAnyLetter:
        e = ClassLn(kLetters, kLetters.size(), codeProb);
        break;
      case kChAnyDigit:
        e = ClassLn(kDigits, kDigits.size(), codeProb);
        break;
      case kChAnyPunct:
        e = ClassLn(kCodedPunctuation, kPunctuation.size(), codeProb);
        break;
      case kChSeparator:
        e = SafeLn(NoCharProb(ch.BitProbs));
        break;
      default: {
        const uint8_t code = CodeTable[c];
        e = SafeLn(codeProb[code == kNoCode ? 31 : code]);
      }
    }
    FEmissionProbs[c] = e;
  }
  FEmissionProbs[0] = 0.0f;  // silent states add nothing
}

namespace {

// One state at position k, link j at from[j * stride] / ln[j * stride]: the
// comparisons of the list-order version, in the same order. Its back-pointer
// goes to *hist (none for one link).
template <typename THist>
[[gnu::always_inline]] inline void UpdateOne(uint32_t k, uint32_t links, const int32_t* from,
                                             const float* ln, uint32_t stride, const int32_t* chars,
                                             const float* emission, float* prob, THist* hist) {
  int32_t bestPred = from[0];
  float best = prob[bestPred] + ln[0];
  for (uint32_t j = 1; j < links; ++j) {
    const int32_t p = from[j * stride];
    const float v = prob[p] + ln[j * stride];
    bestPred = v > best ? p : bestPred;  // ties keep the earlier link
    best = v > best ? v : best;
  }
  prob[k] = best + emission[chars[k]];
  if (links > 1) *hist = static_cast<THist>(bestPred);
}

// One run, its whole groups of kRunLanes states a vector at a time (Vector)
// or a state at a time, then the rest a state at a time; the scores by
// position, the back-pointers from the run's place in the step's on.
// Without AVX2's blends, and with gathers of single loads, vectors would not
// pay. Links, when not 0, is the run's number of links as a constant.
template <bool Vector, uint32_t Links, typename THist>
[[gnu::always_inline]] inline void UpdateRun(const TStateRun& run, const TCompiledHmm& c,
                                             const float* emission, float* prob, THist* hist) {
  constexpr uint32_t N = TStateRun::kRunLanes;
  using V = TLanes<N>::F;
  using VI = TLanes<N>::I;
  const int32_t* chars = c.OrderChar.data();
  const uint32_t links = Links > 0 ? Links : run.Links;
  const int32_t* from = c.RunFrom.data() + run.LinkBegin;
  const float* ln = c.RunLn.data() + run.LinkBegin;
  hist += run.HistoryBegin;
  uint32_t k = run.Begin;
  const uint32_t* sideBySide = c.RunSideBySide.data() + run.GroupBegin;
  for (; k + N <= run.End; k += N, from += N * links, ln += N * links, hist += N, ++sideBySide) {
    if constexpr (!Vector) {
      for (uint32_t lane = 0; lane < N; ++lane)
        UpdateOne(k + lane, links, from + lane, ln + lane, N, chars, emission, prob, hist + lane);
    } else {
      // Link j's predecessors' scores (into pred: a lambda that returned a
      // vector would pass it by another convention without AVX).
      const uint32_t inOrder = *sideBySide;
      V pred;
      auto read = [&](uint32_t j) {
        pred = j < TCompiledHmm::kOneChar && (inOrder >> j & 1u) ? LaneLoad<V>(prob + from[j * N])
                                                                 : LaneGather<V>(prob, from + j * N);
      };
      VI bestFrom = LaneLoad<VI>(from);
      read(0);
      V best = pred + LaneLoad<V>(ln);
      for (uint32_t j = 1; j < links; ++j) {
        read(j);
        const V v = pred + LaneLoad<V>(ln + j * N);
        const VI better = v > best;  // ties keep the earlier link
        best = better ? v : best;
        bestFrom = better ? LaneLoad<VI>(from + j * N) : bestFrom;
      }
      // A silent state's emission is +0, which changes no score (a score is
      // never -0: no link's logarithm is).
      if (run.Chars)
        best += inOrder >> TCompiledHmm::kOneChar ? V{} + emission[chars[k]] : LaneGather<V>(emission, chars + k);
      LaneStore(prob + k, best);
      if (links == 1) continue;
      if constexpr (sizeof(THist) == sizeof(int32_t))
        LaneStore(hist, bestFrom);
      else
        LaneStore(hist, __builtin_convertvector(bestFrom, TLanes<N>::U16));
    }
  }
  for (; k < run.End; ++k, from += links, ln += links, ++hist)
    UpdateOne(k, links, from, ln, 1, chars, emission, prob, hist);
}

// The runs of a step, with a fixed inner loop for the common counts of
// links (no loop left to run), a counted one for the rare long ones.
template <bool Vector, typename THist>
[[gnu::always_inline]] inline void UpdateRuns(const TCompiledHmm& c, const float* emission,
                                              float* prob, THist* hist) {
  for (const TStateRun& run : c.Runs) {
    switch (run.Links) {
      case 1:
        UpdateRun<Vector, 1>(run, c, emission, prob, hist);
        break;
      case 2:
        UpdateRun<Vector, 2>(run, c, emission, prob, hist);
        break;
      case 3:
        UpdateRun<Vector, 3>(run, c, emission, prob, hist);
        break;
      default:
        UpdateRun<Vector, 0>(run, c, emission, prob, hist);
    }
  }
}

#if BRENVO_AVX2_DISPATCH
template <typename THist>
[[gnu::target("avx2")]] void UpdateRunsAvx2(const TCompiledHmm& c, const float* emission,
                                            float* prob, THist* hist) {
  UpdateRuns<true>(c, emission, prob, hist);
}
#endif

}  // namespace

template <typename THist>
void TRttyMessageCorrector::UpdateStates(THist* history) {
  const TCompiledHmm& c = FModel->Compiled();
  THist* hist = history + static_cast<std::size_t>(FHistIdx) * c.HistorySize;
#if BRENVO_AVX2_DISPATCH
  if (FKernel == TKernel::Avx2) return UpdateRunsAvx2(c, FEmissionProbs.data(), FProb.data(), hist);
#endif
  UpdateRuns<false>(c, FEmissionProbs.data(), FProb.data(), hist);
}

template <typename THist>
void TRttyMessageCorrector::UpdateStatesReference(THist* history) {
  // In place, in list order: silent states see their predecessors' scores of
  // this step, character states those of the previous step (the model's order).
  const TCompiledHmm& c = FModel->Compiled();
  const std::size_t n = c.StateChar.size();
  const uint32_t* start = c.PrevStart.data();
  const TPrevLink* links = c.PrevLinks.data();
  const int32_t* position = c.Position.data();
  const uint8_t* chars = c.StateChar.data();
  const float* emission = FEmissionProbs.data();
  float* prob = FProb.data();
  THist* hist = history + static_cast<std::size_t>(FHistIdx) * c.HistorySize;
  for (std::size_t i = 0; i < n; ++i) {
    uint32_t j = start[i];
    const uint32_t end = start[i + 1];
    int32_t bestPred = position[links[j].State];
    float best = prob[bestPred] + links[j].LnProb;
    for (++j; j < end; ++j) {
      const int32_t p = position[links[j].State];
      const float v = prob[p] + links[j].LnProb;
      if (v > best) {  // ties keep the earlier link
        best = v;
        bestPred = p;
      }
    }
    prob[position[i]] = best + emission[chars[i]];
    const int32_t at = c.HistoryAt[static_cast<std::size_t>(position[i])];
    if (at >= 0) hist[at] = static_cast<THist>(bestPred);
  }
}

template <typename THist>
BRENVO_AVX2_CLONES int TRttyMessageCorrector::BestPathToMsg(const THist* history) {
  const TCompiledHmm& c = FModel->Compiled();
  const std::size_t n = c.StateChar.size();
  // The best character state, the first in list order on ties (scores are
  // never NaN: emissions and transitions are finite): run by run, a run
  // keeping list order, and between runs on a tie the state earlier in the
  // list.
  int32_t state = -1;
  float best = 0.0f;
  for (const TStateRun& r : c.Runs) {
    if (!r.Chars) continue;
    const float* score = FProb.data() + r.Begin;
    float top = score[0];
    const int32_t at =
        static_cast<int32_t>(r.Begin) +
        std::max(FirstAbove<8>(score, static_cast<int32_t>(r.End - r.Begin), top), 0);
    if (state < 0 || top > best ||
        (top == best &&
         c.Order[static_cast<std::size_t>(at)] < c.Order[static_cast<std::size_t>(state)])) {
      state = at;
      best = top;
    }
  }
  const int end = state;

  FMsg.assign(kHistoryLength, TCharInfo{});
  int first = kHistoryLength - 1;
  const int kMax = static_cast<int>(std::min<int64_t>(FAge, kHistoryLength - 1));
  for (int k = 0; k <= kMax; ++k) {
    const int slot = PosMod(FHistIdx - k, kHistoryLength);
    // From here back the path is the one already reported.
    if (k > 0 && FBestPath[static_cast<std::size_t>(slot)] == state) break;
    FBestPath[static_cast<std::size_t>(slot)] = state;
    TCharInfo& rec = FMsg[static_cast<std::size_t>(kHistoryLength - 1 - k)];
    const auto listed = static_cast<std::size_t>(c.Order[static_cast<std::size_t>(state)]);
    const uint8_t ch = c.StateChar[listed];
    rec.ChType = c.StateWordType[listed];
    if (IsMeta(ch))
      rec.MetaCh = ch;
    else
      rec.CorrCh = ch;
    first = kHistoryLength - 1 - k;
    // Over this step's silent states to the character state of the step
    // before; the model has no silent cycle, so n steps always suffice.
    const THist* hist = history + static_cast<std::size_t>(slot) * c.HistorySize;
    std::size_t guard = 0;
    do {
      const int32_t at = c.HistoryAt[static_cast<std::size_t>(state)];
      state = at >= 0 ? hist[at] : c.OnlyFrom[static_cast<std::size_t>(state)];
      BRENVO_ASSERT(++guard <= n);
    } while (c.OrderChar[static_cast<std::size_t>(state)] == 0);
  }
  FMsg.erase(FMsg.begin(), FMsg.begin() + first);
  return end;
}

BRENVO_AVX2_CLONES void TRttyMessageCorrector::ProcessChar(const TCharInfo& ch) {
  ComputeEmissions(ch);
  auto step = [this](auto* history) {
    if (FKernel == TKernel::Reference)
      UpdateStatesReference(history);
    else
      UpdateStates(history);
    return BestPathToMsg(history);
  };
  const int end = FHistory16.empty() ? step(FHistory32.data()) : step(FHistory16.data());
  // Keep the scores near 0: unscaled they would drift down without bound and
  // lose their precision over a long run.
  const float top = FProb[static_cast<std::size_t>(end)];
  if (std::isfinite(top))
    for (float& p : FProb) p -= top;
  ++FAge;
  if (++FHistIdx == kHistoryLength) FHistIdx = 0;
}

uint8_t TRttyMessageCorrector::FindBestMetaMatch(const TCharInfo& ch) {
  CheckMetaChar(ch.MetaCh);
  switch (ch.MetaCh) {
    case kChAnyLetter:
      return BestCharOfClass(kLetters, ch.BitProbs);
    case kChAnyDigit:
      return BestCharOfClass(kDigits, ch.BitProbs);
    case kChAnyPunct:
      return BestCharOfClass(kCodedPunctuation, ch.BitProbs);
    default:
      return kChSeparator;
  }
}

void TRttyMessageCorrector::CheckMetaChar(uint8_t metaCh) {
  if (!IsMeta(metaCh)) throw EBrenvoError("Unknown meta char");
}

}  // namespace brenvo
