#include "decoder/rtty_bit_acs.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "dsp/cpu_features.h"
#include "dsp/errors.h"
#include "dsp/first_max.h"
#include "dsp/lane_math.h"

// The vector code is always inlined: an eight-lane value never crosses a
// call boundary, so the ABI note about it (given where the templates are
// instantiated, at the end of the file) does not apply.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace brenvo {

// The model's flat order makes one in-place pass equal to a step with
// separate old and new metrics: exit states read the previous step's values
// of their section, real states their predecessor's previous value, entry
// states the exit states' values of this step. Most real states have one
// predecessor, the next state in flat order (a chain): they go in one pass
// over the array. The others (exits, section entries, states with a
// self-loop: the joins) go in blocks of kLanes real joins, their
// predecessors in rows, and their values are written after the chain pass.
// The exits, which lie side by side at the start of the array, go first, in
// one pass of their own (those of the stop sections, with many predecessors
// side by side, a vector of them at a time); then the joins that read last
// step's real values, which the chain pass overwrites; then the chain pass;
// then the section entries, which read this step's exits: by then those are
// long written, not waited for. The history of a step holds the real joins'
// best predecessors in the blocks' lane order (a block's back-pointers are
// one store), then those of the wide exits.
struct TRttyBitAcs::TLayout {
  static constexpr int kLanes = 8;  // joins per block; four-lane vectors take a block in two halves
  using TLaneInts = std::array<int32_t, kLanes>;
  using TLaneFloats = std::array<float, kLanes>;

  // A join as the model lists its predecessors.
  struct TJoin {
    int32_t State = 0;
    int32_t PrevBegin = 0;  // in the model's PrevState / PrevLn
    int32_t PrevCount = 0;
    int32_t Em = 0;  // ShapeIdx + 2
  };
  // kLanes real joins side by side, their predecessors in rows: all of them
  // real states (last step's values) or all exits (this step's). A lane's
  // rows past its own predecessors have ln -infinity and are never the best;
  // the last block's spare lanes repeat its last join, which then writes the
  // same twice.
  struct TBlock {
    int32_t Rows = 0;
    int32_t Row = 0;  // the first, in From / Ln
    int32_t Lane = 0;  // the first, in Lanes, the history and joinValue
  };

  // An exit with many predecessors that lie side by side in flat order (a
  // stop section's): its candidates are compared a vector at a time, always
  // kMaxWide of them (a count the compiler knows: no loops to run).
  static constexpr int kWideLanes = 8;
  static constexpr int kMaxWide = 32;
  struct TWide {
    TJoin Join;
    int32_t LnBegin = 0;  // in WideLn: the ln of its predecessors, padded with -inf
    int32_t History = 0;
  };

  explicit TLayout(const TRttyBitHmm& hmm);
  bool IsWide(const TJoin& j) const;
  std::vector<TBlock> MakeBlocks(std::vector<TJoin> joins);

  const TRttyBitHmm& Hmm;
  int32_t StateCount = 0;
  int32_t FirstReal = 0;         // the exits are 0 .. FirstReal - 1; the chain pass covers FirstReal .. StateCount - 2
  std::vector<float> ChainLn;    // per state: ln of the step from the next state; -inf for joins
  std::vector<int32_t> ChainEm;  // per state: ShapeIdx + 2
  std::vector<int32_t> ChainEmHalf;  // the same as EmHalf gives it
  std::vector<TJoin> Exits;      // all of them, in flat order
  // The exit pass, one lane per exit: its predecessor and ln (a wide exit's
  // ln is -infinity: its value comes from the wide pass).
  std::vector<int32_t> ExitFrom;
  std::vector<float> ExitLn;
  std::vector<TWide> Wides;
  std::vector<float> WideLn;
  std::vector<TJoin> Lanes;  // the real join of each lane of the blocks
  std::vector<int32_t> LaneState, LaneEm, LaneEmHalf;
  std::vector<TBlock> OldBlocks, EntryBlocks;  // reading real states, reading exits
  std::vector<TLaneInts> From;
  std::vector<TLaneFloats> Ln;
  std::vector<int32_t> HistoryIndex;  // per state, -1 for one predecessor
  int32_t HistorySize = 0;
};

namespace {

// An index 0 .. 15 into the emissions as the eight-lane lookup takes it: its
// place in the half of the table (the low three bits) and, in the sign bit,
// which half.
int32_t EmHalf(int32_t em) { return em < 8 ? em : static_cast<int32_t>(static_cast<uint32_t>(em - 8) | 0x80000000u); }

}  // namespace

TRttyBitAcs::TLayout::TLayout(const TRttyBitHmm& hmm) : Hmm(hmm), StateCount(hmm.StateCount()) {
  const auto n = static_cast<std::size_t>(StateCount);
  const auto& prevState = hmm.PrevState();
  const auto& prevLn = hmm.PrevLn();
  // Back-pointers are 16-bit.
  BRENVO_ASSERT(StateCount <= std::numeric_limits<int16_t>::max());
  ChainLn.assign(n, -std::numeric_limits<float>::infinity());
  ChainEm.assign(n, 0);
  FirstReal = StateCount;
  std::vector<TJoin> reals;
  for (int32_t s = 0; s < StateCount; ++s) {
    const TBitHmmState& st = hmm.State(s);
    const auto b = static_cast<std::size_t>(st.PrevBegin);
    if (st.Kind != skVirtual) FirstReal = std::min(FirstReal, s);
    const int32_t em = st.ShapeIdx + 2;
    if (st.Kind != skVirtual && st.PrevCount == 1 && prevState[b] == s + 1) {
      ChainLn[static_cast<std::size_t>(s)] = prevLn[b];
      ChainEm[static_cast<std::size_t>(s)] = em;
      continue;
    }
    (st.Kind == skVirtual ? Exits : reals).push_back({s, st.PrevBegin, st.PrevCount, em});
  }
  // The passes rely on the flat order: exit states first, reading real
  // states only and emitting nothing, and every real state reads only old
  // real values, or (entries) this step's exit values.
  BRENVO_ASSERT(FirstReal < StateCount && FirstReal == static_cast<int32_t>(Exits.size()));
  // One exit per section; the eight-lane entries find every exit in three
  // vectors.
  BRENVO_ASSERT(FirstReal == TRttyBitHmm::kSectionCount && FirstReal <= 3 * kLanes);
  for (const TJoin& j : Exits) {
    BRENVO_ASSERT(j.Em == 0);
    for (int32_t k = 0; k < j.PrevCount; ++k) BRENVO_ASSERT(prevState[static_cast<std::size_t>(j.PrevBegin + k)] >= FirstReal);
  }
  for (const TJoin& j : reals)
    for (int32_t k = 0; k < j.PrevCount; ++k) {
      const int32_t from = prevState[static_cast<std::size_t>(j.PrevBegin + k)];
      BRENVO_ASSERT(from < FirstReal || from >= j.State);
    }
  std::vector<TJoin> old, entries;
  for (const TJoin& j : reals) {
    const int32_t* from = prevState.data() + j.PrevBegin;
    const bool readsExit = *std::min_element(from, from + j.PrevCount) < FirstReal;
    BRENVO_ASSERT(!readsExit || *std::max_element(from, from + j.PrevCount) < FirstReal);
    (readsExit ? entries : old).push_back(j);
  }
  OldBlocks = MakeBlocks(old);
  EntryBlocks = MakeBlocks(entries);
  for (const int32_t em : ChainEm) ChainEmHalf.push_back(EmHalf(em));
  // The states the model keeps back-pointers for: at their (first) lane.
  HistoryIndex.assign(n, -1);
  for (std::size_t lane = Lanes.size(); lane-- > 0;)
    if (hmm.State(Lanes[lane].State).HistorySlot >= 0)
      HistoryIndex[static_cast<std::size_t>(Lanes[lane].State)] = static_cast<int32_t>(lane);
  HistorySize = static_cast<int32_t>(Lanes.size());
  for (const TJoin& j : Exits) {
    const auto b = static_cast<std::size_t>(j.PrevBegin);
    ExitFrom.push_back(prevState[b]);
    if (!IsWide(j)) {
      BRENVO_ASSERT(j.PrevCount == 1);
      ExitLn.push_back(prevLn[b]);
      continue;
    }
    ExitLn.push_back(-std::numeric_limits<float>::infinity());
    BRENVO_ASSERT(hmm.State(j.State).HistorySlot >= 0);
    HistoryIndex[static_cast<std::size_t>(j.State)] = HistorySize;
    Wides.push_back({j, static_cast<int32_t>(WideLn.size()), HistorySize++});
    WideLn.insert(WideLn.end(), prevLn.begin() + j.PrevBegin, prevLn.begin() + j.PrevBegin + j.PrevCount);
    WideLn.resize(static_cast<std::size_t>(Wides.back().LnBegin + kMaxWide), -std::numeric_limits<float>::infinity());
  }
}

bool TRttyBitAcs::TLayout::IsWide(const TJoin& j) const {
  // The padded reads must stay inside the metrics.
  if (j.PrevCount < kWideLanes || j.PrevCount > kMaxWide) return false;
  const int32_t* from = Hmm.PrevState().data() + j.PrevBegin;
  for (int32_t k = 1; k < j.PrevCount; ++k)
    if (from[k] != from[0] + k) return false;
  return from[0] + kMaxWide <= StateCount;
}

std::vector<TRttyBitAcs::TLayout::TBlock> TRttyBitAcs::TLayout::MakeBlocks(std::vector<TJoin> joins) {
  // Joins with equally many predecessors side by side: the fewest spare rows.
  std::stable_sort(joins.begin(), joins.end(), [](const TJoin& a, const TJoin& b) { return a.PrevCount > b.PrevCount; });
  std::vector<TBlock> blocks;
  for (std::size_t first = 0; first < joins.size(); first += kLanes) {
    TBlock block;
    block.Row = static_cast<int32_t>(From.size());
    block.Rows = joins[first].PrevCount;
    block.Lane = static_cast<int32_t>(Lanes.size());
    From.resize(From.size() + static_cast<std::size_t>(block.Rows));
    Ln.resize(Ln.size() + static_cast<std::size_t>(block.Rows));
    for (int lane = 0; lane < kLanes; ++lane) {
      const TJoin& j = joins[std::min(first + static_cast<std::size_t>(lane), joins.size() - 1)];
      Lanes.push_back(j);
      LaneState.push_back(j.State);
      LaneEm.push_back(j.Em);
      LaneEmHalf.push_back(EmHalf(j.Em));
      for (int32_t r = 0; r < block.Rows; ++r) {
        const auto row = static_cast<std::size_t>(block.Row + r);
        const auto k = static_cast<std::size_t>(j.PrevBegin + std::min(r, j.PrevCount - 1));
        From[row][lane] = Hmm.PrevState()[k];
        Ln[row][lane] = r < j.PrevCount ? Hmm.PrevLn()[k] : -std::numeric_limits<float>::infinity();
      }
    }
    blocks.push_back(block);
  }
  return blocks;
}

namespace {

using TLayout = TRttyBitAcs::TLayout;
using TEmissions = TRttyBitAcs::TEmissions;
constexpr float kNone = -std::numeric_limits<float>::infinity();

// The plain version: a join's predecessors one by one, the best replaced only
// by a strictly greater candidate; then the chain state by state.
void StepReference(const TLayout& l, const TEmissions& em, float* metric, float& offset, int16_t* history,
                   float* joinValue) {
  const int32_t* prevState = l.Hmm.PrevState().data();
  const float* prevLn = l.Hmm.PrevLn().data();
  // A real state's value is the last step's; an exit's (read by the
  // section entries) this step's.
  const float off = offset;
  auto value = [&](int32_t s) { return s >= l.FirstReal ? metric[s] - off : metric[s]; };
  // The best candidate plus the emission, and the predecessor it came from.
  auto bestOf = [&](const TLayout::TJoin& j) {
    const int32_t* from = prevState + j.PrevBegin;
    const float* ln = prevLn + j.PrevBegin;
    int32_t bestFrom = from[0];
    float cand = value(bestFrom) + ln[0];
    for (int32_t k = 1; k < j.PrevCount; ++k) {
      const float c = value(from[k]) + ln[k];
      if (c > cand) {
        cand = c;
        bestFrom = from[k];
      }
    }
    return std::pair(cand + em[static_cast<std::size_t>(j.Em)], static_cast<int16_t>(bestFrom));
  };
  float best = kNone;
  auto keep = [&best](float v) { best = v > best ? v : best; };
  for (const TLayout::TJoin& j : l.Exits) {
    const auto [v, from] = bestOf(j);
    keep(metric[j.State] = v);
    const int32_t at = l.HistoryIndex[static_cast<std::size_t>(j.State)];
    if (at >= 0) history[at] = from;
  }
  for (std::size_t k = 0; k < l.Lanes.size(); ++k) {
    const auto [v, from] = bestOf(l.Lanes[k]);
    keep(joinValue[k] = v);
    history[k] = from;
  }
  for (int32_t s = l.FirstReal; s < l.StateCount - 1; ++s)
    keep(metric[s] = (value(s + 1) + l.ChainLn[static_cast<std::size_t>(s)]) +
                     em[static_cast<std::size_t>(l.ChainEm[static_cast<std::size_t>(s)])]);
  for (std::size_t k = 0; k < l.Lanes.size(); ++k) metric[l.Lanes[k].State] = joinValue[k];
  offset = best;
}

// The emissions of the states whose ShapeIdx + 2 are index[0 .. N) (for
// eight lanes half[0 .. N), the same as EmHalf gives them): with eight lanes
// a lookup in each half of the 16-entry table and a choice by the sign, with
// four a gather.
template <int N>
[[gnu::always_inline]] inline typename TLanes<N>::F Emissions(const float* em, const int32_t* index,
                                                             const int32_t* half) {
  using V = typename TLanes<N>::F;
  using VI = typename TLanes<N>::I;
  if constexpr (N == 8) {
    const VI h = LaneLoad<VI>(half);
    return h < 0 ? __builtin_shuffle(LaneLoad<V>(em + 8), h)
                 : __builtin_shuffle(LaneLoad<V>(em), h);
  } else {
    return LaneGather<V>(em, index);
  }
}

// A wide exit's best predecessor and its value: the candidates a vector at
// a time, then the plain scan's choice among them.
template <int N>
[[gnu::always_inline]] inline float WideBest(const TLayout& l, const TLayout::TWide& w, const float* metric,
                                             float offset, const float* em, int16_t* history) {
  using V = typename TLanes<N>::F;
  const int32_t from = l.Hmm.PrevState()[static_cast<std::size_t>(w.Join.PrevBegin)];
  const float* ln = l.WideLn.data() + w.LnBegin;
  // All padded rows: theirs are -infinity, never above anything.
  float cand[TLayout::kMaxWide];
  for (int32_t r = 0; r < TLayout::kMaxWide; r += N)
    LaneStore(cand + r, (LaneLoad<V>(metric + from + r) - offset) + LaneLoad<V>(ln + r));
  float best = cand[0];
  const int32_t at = std::max(FirstAbove<N>(cand, TLayout::kMaxWide, best), 0);
  history[w.History] = static_cast<int16_t>(from + at);
  return best + em[w.Join.Em];
}

// The vector version, N lanes at a time.
template <int N>
[[gnu::always_inline]] inline void StepVector(const TLayout& l, const TEmissions& emissions, float* metric,
                                              float& offset, int16_t* history, float* joinValue) {
  using V = typename TLanes<N>::F;
  using VI = typename TLanes<N>::I;
  const float* em = emissions.data();
  const float off = offset;
  const V offN = V{} + off;
  V bestN = V{} + kNone;
  auto keep = [&bestN](const V& v) { bestN = v > bestN ? v : bestN; };

  // The exits, side by side at the start of the array, one per section (a
  // count the compiler knows).
  constexpr int32_t kExits = TRttyBitHmm::kSectionCount;
  const V em0 = V{} + em[0];
  int32_t e = 0;
  for (; e + N <= kExits; e += N) {
    const V v =
        ((LaneGather<V>(metric, l.ExitFrom.data() + e) - off) + LaneLoad<V>(l.ExitLn.data() + e)) +
        em0;
    LaneStore(metric + e, v);
    keep(v);
  }
  float best = kNone;
  for (; e < kExits; ++e) {
    const float v = ((metric[l.ExitFrom[static_cast<std::size_t>(e)]] - off) + l.ExitLn[static_cast<std::size_t>(e)]) + em[0];
    metric[e] = v;
    best = v > best ? v : best;
  }
  for (const TLayout::TWide& w : l.Wides) {
    const float v = WideBest<N>(l, w, metric, off, em, history);
    metric[w.Join.State] = v;
    best = v > best ? v : best;
  }

  // The real joins, a block at a time: lane by lane the same comparisons as
  // the reference. A real state's value less the offset; an exit's as it is,
  // with eight lanes taken from the exits' values in three vectors (loaded
  // once all exits are written) by a permutation of each and a choice by
  // the index, instead of a load per lane. The value goes into out: a
  // lambda that returned a vector would pass it by another convention
  // without AVX.
  V exits[3]{};
  auto value = [&](const int32_t* from, bool old, V& out) {
    if (old) {
      out = LaneGather<V>(metric, from) - offN;
    } else if constexpr (N != 8) {
      out = LaneGather<V>(metric, from);
    } else {
      const VI at = LaneLoad<VI>(from);
      V in[3];
      ForEachOf<3>([&](int k) { LanePermute(exits[k], at, in[k]); });
      out = at < N ? in[0] : (at < 2 * N ? in[1] : in[2]);
    }
  };
  const int32_t* laneState = l.LaneState.data();
  auto joins = [&](const TLayout::TBlock& block, bool old) {
    for (int part = 0; part < TLayout::kLanes; part += N) {
      const int32_t* from = l.From[static_cast<std::size_t>(block.Row)].data() + part;
      const float* ln = l.Ln[static_cast<std::size_t>(block.Row)].data() + part;
      VI bestFrom = LaneLoad<VI>(from);
      V v, c;
      value(from, old, v);
      v += LaneLoad<V>(ln);
      for (int32_t r = 1; r < block.Rows; ++r) {
        from += TLayout::kLanes;
        ln += TLayout::kLanes;
        value(from, old, c);
        c += LaneLoad<V>(ln);
        const VI better = c > v;
        v = better ? c : v;
        bestFrom = better ? LaneLoad<VI>(from) : bestFrom;
      }
      const std::size_t lane = static_cast<std::size_t>(block.Lane + part);
      LaneStore(history + lane, __builtin_convertvector(bestFrom, typename TLanes<N>::I16));
      v += Emissions<N>(em, l.LaneEm.data() + lane, l.LaneEmHalf.data() + lane);
      // Past the chain pass (the entries) a join's value goes straight in.
      if (old)
        LaneStore(joinValue + lane, v);
      else
        ForEachOf<N>([&](int j) { metric[laneState[lane + static_cast<std::size_t>(j)]] = v[j]; });
      keep(v);
    }
  };
  for (const TLayout::TBlock& block : l.OldBlocks) joins(block, true);

  // Joins get -infinity here (their ln is -infinity): no effect on the best,
  // and overwritten below.
  const float* chainLn = l.ChainLn.data();
  const int32_t* chainEm = l.ChainEm.data();
  const int32_t* chainEmHalf = l.ChainEmHalf.data();
  const int32_t n = l.StateCount;
  int32_t s = l.FirstReal;
#pragma GCC unroll 2
  for (; s + N < n; s += N) {
    const V v = ((LaneLoad<V>(metric + s + 1) - off) + LaneLoad<V>(chainLn + s)) +
                Emissions<N>(em, chainEm + s, chainEmHalf + s);
    LaneStore(metric + s, v);
    keep(v);
  }
  for (; s < n - 1; ++s) {
    const float v = ((metric[s + 1] - off) + chainLn[s]) + em[chainEm[s]];
    metric[s] = v;
    best = v > best ? v : best;
  }
  if constexpr (N == 8) ForEachOf<3>([&](int k) { exits[k] = LaneLoad<V>(metric + k * N); });
  for (const TLayout::TBlock& block : l.EntryBlocks) joins(block, false);

  // The old blocks' lanes come first.
  for (std::size_t k = 0; k < l.OldBlocks.size() * TLayout::kLanes; k += TLayout::kLanes)
    for (int j = 0; j < TLayout::kLanes; ++j) metric[laneState[k + j]] = joinValue[k + j];
  for (int k = 0; k < N; ++k) best = bestN[k] > best ? bestN[k] : best;
  offset = best;
}

#if BRENVO_AVX2_DISPATCH
[[gnu::target("avx2")]] void StepAvx2(const TLayout& l, const TEmissions& em, float* metric, float& offset,
                                      int16_t* history, float* joinValue) {
  StepVector<8>(l, em, metric, offset, history, joinValue);
}
#endif

}  // namespace

TRttyBitAcs::TKernel TRttyBitAcs::Fastest() { return Runs(TKernel::Avx2) ? TKernel::Avx2 : TKernel::Vector; }

bool TRttyBitAcs::Runs(TKernel kernel) {
  static const bool hasAvx2 = CpuHasAvx2();
  return kernel != TKernel::Avx2 || hasAvx2;
}

TRttyBitAcs::TRttyBitAcs(const TRttyBitHmm& hmm) : FLayout(std::make_unique<const TLayout>(hmm)) {}

TRttyBitAcs::~TRttyBitAcs() = default;

int32_t TRttyBitAcs::StateCount() const { return FLayout->StateCount; }

int32_t TRttyBitAcs::HistorySize() const { return FLayout->HistorySize; }

int32_t TRttyBitAcs::JoinValueCount() const { return static_cast<int32_t>(FLayout->Lanes.size()); }

int32_t TRttyBitAcs::HistoryIndex(int32_t state) const {
  CheckIndex(state, FLayout->StateCount);
  return FLayout->HistoryIndex[static_cast<std::size_t>(state)];
}

void TRttyBitAcs::Step(TKernel kernel, const TEmissions& em, float* metric, float& offset, int16_t* history,
                       float* joinValue) const {
  const TLayout& l = *FLayout;
  switch (kernel) {
    case TKernel::Reference:
      StepReference(l, em, metric, offset, history, joinValue);
      return;
    case TKernel::Vector:
      StepVector<4>(l, em, metric, offset, history, joinValue);
      return;
    case TKernel::Avx2:
#if BRENVO_AVX2_DISPATCH
      if (Runs(kernel)) {
        StepAvx2(l, em, metric, offset, history, joinValue);
        return;
      }
#endif
      break;
  }
  throw EBrenvoError("TRttyBitAcs: this processor cannot run the kernel asked for");
}

const TRttyBitAcs& SharedBitAcs() {
  static const TRttyBitAcs acs(BitHmm());
  return acs;
}

}  // namespace brenvo
