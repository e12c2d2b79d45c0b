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

namespace brenvo {

// The model's flat order makes one in-place pass equal to a step with
// separate old and new metrics: exit states read the previous step's values
// of their section, real states their predecessor's previous value, entry
// states the exit states' values of this step. Most real states have one
// predecessor, the next state in flat order (a chain): they go in one pass
// over the array. The others (exits, section entries, states with a
// self-loop: the joins) are worked out first, from the old values; the real
// ones are written after the chain pass.
struct TRttyBitAcs::TLayout {
  static constexpr int kLanes = 4;  // joins per block
  using TLaneInts = std::array<int32_t, kLanes>;
  using TLaneFloats = std::array<float, kLanes>;

  // A join as the model lists its predecessors.
  struct TJoin {
    int32_t State = 0;
    int32_t PrevBegin = 0;  // in the model's PrevState / PrevLn
    int32_t PrevCount = 0;
    int32_t History = 0;  // HistorySlot, or the spare slot
    int32_t Em = 0;       // ShapeIdx + 2
  };
  // kLanes joins side by side, their predecessors in rows. A lane's rows past
  // its own predecessors have ln -infinity and are never the best; spare
  // lanes repeat the block's last join, which then writes the same twice.
  struct TBlock {
    int32_t Rows = 0;
    int32_t Row = 0;  // the first, in From / Ln
    TLaneInts State{}, Em{}, History{};
  };

  // An exit with many predecessors that lie side by side in flat order (a
  // stop section's): its candidates are compared a vector at a time.
  static constexpr int kWideLanes = 8;
  static constexpr int kMaxWide = 64;
  struct TWide {
    TJoin Join;
    int32_t LnBegin = 0;  // in WideLn: the ln of its predecessors, padded with -inf
  };

  explicit TLayout(const TRttyBitHmm& hmm);
  bool IsWide(const TJoin& j) const;
  std::vector<TBlock> MakeBlocks(std::vector<TJoin> joins);

  const TRttyBitHmm& Hmm;
  int32_t StateCount = 0;
  int32_t FirstReal = 0;         // the chain pass covers FirstReal .. StateCount - 2
  std::vector<float> ChainLn;    // per state: ln of the step from the next state; -inf for joins
  std::vector<int32_t> ChainEm;  // per state: ShapeIdx + 2
  std::vector<TJoin> Exits, Reals;
  std::vector<TWide> Wides;  // of the exits
  std::vector<float> WideLn;
  std::vector<TBlock> ExitBlocks, RealBlocks;
  std::vector<TLaneInts> From;
  std::vector<TLaneFloats> Ln;
  std::vector<TLaneInts> Old;  // -1 where From is a real state (last step's value), 0 for an exit
};

TRttyBitAcs::TLayout::TLayout(const TRttyBitHmm& hmm) : Hmm(hmm), StateCount(hmm.StateCount()) {
  const auto n = static_cast<std::size_t>(StateCount);
  const auto& prevState = hmm.PrevState();
  const auto& prevLn = hmm.PrevLn();
  ChainLn.assign(n, -std::numeric_limits<float>::infinity());
  ChainEm.assign(n, 0);
  FirstReal = StateCount;
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
    // States without back-pointers write theirs to the spare slot: no branch.
    const int32_t history = st.HistorySlot >= 0 ? st.HistorySlot : hmm.HistoryStateCount();
    (st.Kind == skVirtual ? Exits : Reals).push_back({s, st.PrevBegin, st.PrevCount, history, em});
  }
  // The passes rely on the flat order: exit states first, and every real
  // state reads only old real values, or (entries) this step's exit values.
  for (const TJoin& j : Exits) BRENVO_ASSERT(j.State < FirstReal);
  for (const TJoin& j : Reals)
    for (int32_t k = 0; k < j.PrevCount; ++k) {
      const int32_t from = prevState[static_cast<std::size_t>(j.PrevBegin + k)];
      BRENVO_ASSERT(from < FirstReal || from >= j.State);
    }
  BRENVO_ASSERT(FirstReal < StateCount);
  std::vector<TJoin> narrow;
  for (const TJoin& j : Exits) {
    if (!IsWide(j)) {
      narrow.push_back(j);
      continue;
    }
    Wides.push_back({j, static_cast<int32_t>(WideLn.size())});
    const auto ln = prevLn.begin() + j.PrevBegin;
    WideLn.insert(WideLn.end(), ln, ln + j.PrevCount);
    WideLn.resize((WideLn.size() + kWideLanes - 1) / kWideLanes * kWideLanes, -std::numeric_limits<float>::infinity());
  }
  ExitBlocks = MakeBlocks(narrow);
  RealBlocks = MakeBlocks(Reals);
}

bool TRttyBitAcs::TLayout::IsWide(const TJoin& j) const {
  // The padded reads must stay inside the metrics.
  if (j.PrevCount < kWideLanes || j.PrevCount > kMaxWide || j.State >= FirstReal) return false;
  const int32_t* from = Hmm.PrevState().data() + j.PrevBegin;
  for (int32_t k = 1; k < j.PrevCount; ++k)
    if (from[k] != from[0] + k) return false;
  return from[0] + (j.PrevCount + kWideLanes - 1) / kWideLanes * kWideLanes <= StateCount;
}

std::vector<TRttyBitAcs::TLayout::TBlock> TRttyBitAcs::TLayout::MakeBlocks(std::vector<TJoin> joins) {
  // Joins with equally many predecessors side by side: the fewest spare rows.
  std::stable_sort(joins.begin(), joins.end(), [](const TJoin& a, const TJoin& b) { return a.PrevCount > b.PrevCount; });
  std::vector<TBlock> blocks;
  for (std::size_t first = 0; first < joins.size(); first += kLanes) {
    TBlock block;
    block.Row = static_cast<int32_t>(From.size());
    block.Rows = joins[first].PrevCount;
    From.resize(From.size() + static_cast<std::size_t>(block.Rows));
    Ln.resize(Ln.size() + static_cast<std::size_t>(block.Rows));
    Old.resize(Old.size() + static_cast<std::size_t>(block.Rows));
    for (int lane = 0; lane < kLanes; ++lane) {
      const TJoin& j = joins[std::min(first + static_cast<std::size_t>(lane), joins.size() - 1)];
      block.State[lane] = j.State;
      block.Em[lane] = j.Em;
      block.History[lane] = j.History;
      for (int32_t r = 0; r < block.Rows; ++r) {
        const auto row = static_cast<std::size_t>(block.Row + r);
        const auto k = static_cast<std::size_t>(j.PrevBegin + std::min(r, j.PrevCount - 1));
        From[row][lane] = Hmm.PrevState()[k];
        Ln[row][lane] = r < j.PrevCount ? Hmm.PrevLn()[k] : -std::numeric_limits<float>::infinity();
        Old[row][lane] = From[row][lane] >= FirstReal ? -1 : 0;
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
void StepReference(const TLayout& l, const TEmissions& em, float* metric, float& offset, int32_t* history,
                   float* joinValue) {
  const int32_t* prevState = l.Hmm.PrevState().data();
  const float* prevLn = l.Hmm.PrevLn().data();
  // A real state's value is the last step's; an exit's (read by the
  // section entries) this step's.
  const float off = offset;
  auto value = [&](int32_t s) { return s >= l.FirstReal ? metric[s] - off : metric[s]; };
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
    history[j.History] = bestFrom;
    return cand + em[static_cast<std::size_t>(j.Em)];
  };
  float best = kNone;
  auto keep = [&best](float v) { best = v > best ? v : best; };
  for (const TLayout::TJoin& j : l.Exits) keep(metric[j.State] = bestOf(j));
  for (std::size_t k = 0; k < l.Reals.size(); ++k) keep(joinValue[k] = bestOf(l.Reals[k]));
  for (int32_t s = l.FirstReal; s < l.StateCount - 1; ++s)
    keep(metric[s] = (value(s + 1) + l.ChainLn[static_cast<std::size_t>(s)]) +
                     em[static_cast<std::size_t>(l.ChainEm[static_cast<std::size_t>(s)])]);
  for (std::size_t k = 0; k < l.Reals.size(); ++k) metric[l.Reals[k].State] = joinValue[k];
  offset = best;
}

using V4 = TLanes<4>::F;
using V4i = TLanes<4>::I;

// The vector code is always inlined: an eight-lane value never crosses a
// call boundary, so the ABI note about it does not apply.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"

template <typename V, typename T>
[[gnu::always_inline]] inline V Load(const T* p) {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename V>
[[gnu::always_inline]] inline void Store(float* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

// table[index[k]] in lane k (as one initialiser: independent inserts).
template <typename V, std::size_t... K>
[[gnu::always_inline]] inline V Gather(const float* table, const int32_t* index, std::index_sequence<K...>) {
  return V{table[index[K]]...};
}

template <typename V>
[[gnu::always_inline]] inline V Gather(const float* table, const int32_t* index) {
  return Gather<V>(table, index, std::make_index_sequence<sizeof(V) / sizeof(float)>());
}

// One block of joins: lane by lane the same comparisons as the reference.
[[gnu::always_inline]] inline V4 BlockBest(const TLayout& l, const TLayout::TBlock& b, const float* metric,
                                           float offset, const float* em, int32_t* history) {
  const int32_t* from = l.From[static_cast<std::size_t>(b.Row)].data();
  const float* ln = l.Ln[static_cast<std::size_t>(b.Row)].data();
  const int32_t* old = l.Old[static_cast<std::size_t>(b.Row)].data();
  const V4 off = V4{} + offset, zero = {};
  // An exit's value less 0: the same value.
  auto value = [&] { return Gather<V4>(metric, from) - (Load<V4i>(old) ? off : zero); };
  V4i bestFrom = Load<V4i>(from);
  V4 best = value() + Load<V4>(ln);
  for (int32_t r = 1; r < b.Rows; ++r) {
    from += TLayout::kLanes;
    ln += TLayout::kLanes;
    old += TLayout::kLanes;
    const V4 c = value() + Load<V4>(ln);
    const V4i better = c > best;
    best = better ? c : best;
    bestFrom = better ? Load<V4i>(from) : bestFrom;
  }
  for (int k = 0; k < TLayout::kLanes; ++k) history[b.History[k]] = bestFrom[k];
  return best + Gather<V4>(em, b.Em.data());
}

// A wide exit's best predecessor and its value: the candidates a vector at
// a time, then the plain scan's choice among them.
template <int N>
[[gnu::always_inline]] inline float WideBest(const TLayout& l, const TLayout::TWide& w, const float* metric,
                                             float offset, const float* em, int32_t* history) {
  using V = typename TLanes<N>::F;
  const int32_t from = l.Hmm.PrevState()[static_cast<std::size_t>(w.Join.PrevBegin)];
  const float* ln = l.WideLn.data() + w.LnBegin;
  // All padded rows: theirs are -infinity, never above anything.
  float cand[TLayout::kMaxWide];
  int32_t r = 0;
  do {  // a wide exit has at least kWideLanes rows
    Store(cand + r, (Load<V>(metric + from + r) - offset) + Load<V>(ln + r));
    r += N;
  } while (r < w.Join.PrevCount);
  float best = cand[0];
  const int32_t at = std::max(FirstAbove<N>(cand, r, best), 0);
  history[w.Join.History] = from + at;
  return best + em[w.Join.Em];
}

// The vector version, N lanes in the chain pass. With eight lanes the
// emission lookup is a shuffle of the 16-entry table; with four a gather.
template <int N>
[[gnu::always_inline]] inline void StepVector(const TLayout& l, const TEmissions& emissions, float* metric,
                                              float& offset, int32_t* history, float* joinValue) {
  using V = typename TLanes<N>::F;
  using VI = typename TLanes<N>::I;
  const float* em = emissions.data();
  const float off = offset;
  float best = kNone;
  for (const TLayout::TWide& w : l.Wides) {
    const float v = WideBest<N>(l, w, metric, off, em, history);
    metric[w.Join.State] = v;
    best = v > best ? v : best;
  }
  V4 best4 = {kNone, kNone, kNone, kNone};
  for (const TLayout::TBlock& b : l.ExitBlocks) {
    const V4 v = BlockBest(l, b, metric, off, em, history);
    for (int k = 0; k < TLayout::kLanes; ++k) metric[b.State[k]] = v[k];
    best4 = v > best4 ? v : best4;
  }
  float* jv = joinValue;
  for (const TLayout::TBlock& b : l.RealBlocks) {
    const V4 v = BlockBest(l, b, metric, off, em, history);
    Store(jv, v);
    jv += TLayout::kLanes;
    best4 = v > best4 ? v : best4;
  }

  // Joins get -infinity here (their ln is -infinity): no effect on the best,
  // and overwritten below.
  const float* chainLn = l.ChainLn.data();
  const int32_t* chainEm = l.ChainEm.data();
  const int32_t n = l.StateCount;
  V bestN = V{} + kNone;
  int32_t s = l.FirstReal;
  for (; s + N < n; s += N) {
    V e;
    if constexpr (N == 8)
      e = __builtin_shuffle(Load<V>(em), Load<V>(em + 8), Load<VI>(chainEm + s));
    else
      e = Gather<V>(em, chainEm + s);
    const V v = ((Load<V>(metric + s + 1) - off) + Load<V>(chainLn + s)) + e;
    Store(metric + s, v);
    bestN = v > bestN ? v : bestN;
  }
  for (; s < n - 1; ++s) {
    const float v = ((metric[s + 1] - off) + chainLn[s]) + em[chainEm[s]];
    metric[s] = v;
    best = v > best ? v : best;
  }
  jv = joinValue;
  for (const TLayout::TBlock& b : l.RealBlocks) {
    const V4 v = Load<V4>(jv);
    for (int k = 0; k < TLayout::kLanes; ++k) metric[b.State[k]] = v[k];
    jv += TLayout::kLanes;
  }
  for (int k = 0; k < N; ++k) best = bestN[k] > best ? bestN[k] : best;
  for (int k = 0; k < TLayout::kLanes; ++k) best = best4[k] > best ? best4[k] : best;
  offset = best;
}

#pragma GCC diagnostic pop

#if BRENVO_AVX2_DISPATCH
[[gnu::target("avx2")]] void StepAvx2(const TLayout& l, const TEmissions& em, float* metric, float& offset,
                                      int32_t* history, float* joinValue) {
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

int32_t TRttyBitAcs::HistorySize() const { return FLayout->Hmm.HistoryStateCount() + 1; }

int32_t TRttyBitAcs::JoinValueCount() const {
  return static_cast<int32_t>(FLayout->RealBlocks.size()) * TLayout::kLanes;
}

void TRttyBitAcs::Step(TKernel kernel, const TEmissions& em, float* metric, float& offset, int32_t* history,
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
