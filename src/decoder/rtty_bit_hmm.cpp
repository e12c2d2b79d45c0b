#include "decoder/rtty_bit_hmm.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "dsp/errors.h"

namespace brenvo {

double BoundedLn(double x) {
  // max(ln x, -60): a tiny positive value must not score below an exact 0.
  if (!(x > 0.0)) return -60.0;
  return std::max(std::log(x), -60.0);
}

namespace {

// Stop lengths 7..34 spectra; the last entry is the mass left after 33.
constexpr float kStopLengthTable[28] = {
    0.000346f, 0.046972f, 0.015264f, 0.016565f, 0.11936f,  0.441992f, 0.11751f,
    0.043059f, 0.028039f, 0.019797f, 0.015305f, 0.008841f, 0.008587f, 0.026128f,
    0.016098f, 0.007043f, 0.004167f, 0.006006f, 0.01128f,  0.00435f,  0.003791f,
    0.005478f, 0.00628f,  0.004959f, 0.003161f, 0.004309f, 0.002744f, 0.012571f};

struct TSectionRow {
  TStateKind Shape;
  TStateKind Label;
  int32_t Count;
  const char* Successors;  // per section: '.' none, digit d: probability 1/d
};

//                                      0         1         2
//                                      012345678901234567890123
constexpr TSectionRow kSectionTable[TRttyBitHmm::kSectionCount] = {
    {sk10, skStart, 8, /*  0 start */ ".22....................."},
    {sk00, skSpace, 9, /*  1 bit1=0 */ "...22..................."},
    {sk01, skMark, 9, /*   2 bit1=1 */ ".....22................."},
    {sk00, skSpace, 8, /*  3 */ ".......22..............."},
    {sk01, skMark, 8, /*   4 */ ".........22............."},
    {sk10, skSpace, 8, /*  5 */ ".......22..............."},
    {sk11, skMark, 8, /*   6 */ ".........22............."},
    {sk00, skSpace, 8, /*  7 */ "...........22..........."},
    {sk01, skMark, 8, /*   8 */ ".............22........."},
    {sk10, skSpace, 8, /*  9 */ "...........22..........."},
    {sk11, skMark, 8, /*  10 */ ".............22........."},
    {sk00, skSpace, 8, /* 11 */ "...............22......."},
    {sk01, skMark, 8, /*  12 */ ".................22....."},
    {sk10, skSpace, 8, /* 13 */ "...............22......."},
    {sk11, skMark, 8, /*  14 */ ".................22....."},
    {sk00, skSpace, 9, /* 15 */ "...................1...."},
    {sk01, skMark, 9, /*  16 */ "....................1..."},
    {sk10, skSpace, 9, /* 17 */ "...................1...."},
    {sk11, skMark, 9, /*  18 */ "....................1..."},
    {sk01, skStop, 34, /* 19 stop after 0 */ "3....................33."},
    {sk11, skStop, 34, /* 20 stop after 1 */ "3....................33."},
    {sk11, skTone, 40, /* 21 steady tone */ "......................1."},
    {skXX, skSilence, 40, /* 22 silence */ "2......................2"},
    {sk11, skTone, 40, /* 23 tone after silence */ "3....................33."},
};

// Construction-time graph; only the flat arrays survive.
struct THmmState;

struct TTransitionTo {
  THmmState* Target;
  float Prob;  // a probability while the model is built
};

struct THmmState {
  explicit THmmState(TStateKind kind) : Kind(kind) {}
  void AddTransition(THmmState* target, float prob) { Next.push_back({target, prob}); }

  int32_t Index = -1;
  int32_t Section = -1;
  TStateKind Kind;
  int32_t ShapeIdx = -2;
  std::vector<std::pair<int32_t, float>> Prev;  // (predecessor index, ln prob)
  std::vector<TTransitionTo> Next;
};

int32_t ShapeIdxOf(TStateKind kind, int32_t pos) {
  switch (kind) {
    case skMark:
    case skStop:
    case skTone:
    case sk11:
      return 8;
    case skSpace:
    case skStart:
    case sk00:
      return 0;
    case skSilence:
    case skXX:
      return -1;
    case sk01:
      return std::min(pos + 1, 8);
    case sk10:
      return std::max(7 - pos, 0);
    case skVirtual:
      return -2;
  }
  BRENVO_ASSERT(false);
  return -2;
}

struct THmmSection {
  THmmSection(TStateKind shape, TStateKind label, int32_t count) : Kind(shape) {
    for (int32_t i = 0; i < count; ++i) States.push_back(std::make_unique<THmmState>(shape));
    // Only the state at position 7 carries the section's meaning.
    BRENVO_ASSERT(count > 7);
    States[7]->Kind = label;
    for (int32_t i = 0; i < count; ++i) States[static_cast<std::size_t>(i)]->ShapeIdx = ShapeIdxOf(States[static_cast<std::size_t>(i)]->Kind, i);
    InState = States.front().get();
    States.push_back(std::make_unique<THmmState>(skVirtual));
    OutState = States.back().get();
    OutState->ShapeIdx = -2;
    auto st = [this](int32_t i) { return States[static_cast<std::size_t>(i)].get(); };
    switch (label) {
      case skMark:
      case skSpace:
      case skStart:
        for (int32_t i = 1; i <= count; ++i) st(i - 1)->AddTransition(st(i), 1.0f);
        break;
      case skStop: {
        BRENVO_ASSERT(count == 34);
        long double r = 1.0L;  // stop mass not yet used up
        for (int32_t i = 1; i <= 6; ++i) st(i - 1)->AddTransition(st(i), 1.0f);
        for (int32_t i = 7; i <= 33; ++i) {
          const long double x = 1.0L - static_cast<long double>(TRttyBitHmm::StopLengthProb(i)) / r;
          if (x > 0) st(i - 1)->AddTransition(st(i), static_cast<float>(x));
          if (x < 1) st(i - 1)->AddTransition(OutState, static_cast<float>(1.0L - x));
          r *= x;
        }
        st(33)->AddTransition(OutState, 1.0f);
        st(33)->AddTransition(st(33), 0.001f);
        break;
      }
      case skTone:
      case skSilence:
        BRENVO_ASSERT(count == 40);
        for (int32_t i = 1; i <= 39; ++i) st(i - 1)->AddTransition(st(i), 1.0f);
        st(39)->AddTransition(OutState, 0.01f);
        st(39)->AddTransition(st(39), 0.99f);
        break;
      default:
        BRENVO_ASSERT(false);
    }
  }
  void LinkTo(THmmSection& other, float prob) { OutState->AddTransition(other.InState, prob); }

  TStateKind Kind;
  std::vector<std::unique_ptr<THmmState>> States;  // real states, then the exit state
  THmmState* InState = nullptr;
  THmmState* OutState = nullptr;
};

}  // namespace

float TRttyBitHmm::StopLengthProb(int32_t len) {
  if (len < kMinStopLen || len > kMaxStopLen) throw ERangeError();
  return kStopLengthTable[len - kMinStopLen];
}

TRttyBitHmm::TRttyBitHmm() {
  std::vector<THmmSection> sections;
  sections.reserve(kSectionCount);
  for (const TSectionRow& row : kSectionTable) sections.emplace_back(row.Shape, row.Label, row.Count);
  for (int32_t r = 0; r < kSectionCount; ++r) {
    for (int32_t j = 0; j < kSectionCount; ++j) {
      BRENVO_ASSERT(std::strlen(kSectionTable[r].Successors) == kSectionCount);
      const char c = kSectionTable[r].Successors[j];
      if (c == '.') continue;
      BRENVO_ASSERT(c >= '1' && c <= '9');
      sections[static_cast<std::size_t>(r)].LinkTo(sections[static_cast<std::size_t>(j)], 1.0f / static_cast<float>(c - '0'));
    }
  }

  // Flat order: exit states, then each section's real states backwards.
  std::vector<THmmState*> flat;
  for (std::size_t r = 0; r < sections.size(); ++r)
    for (auto& st : sections[r].States) st->Section = static_cast<int32_t>(r);
  for (auto& sec : sections) flat.push_back(sec.OutState);
  for (auto& sec : sections) {
    FSectionFirst.push_back(static_cast<int32_t>(flat.size()));
    FSectionCount.push_back(static_cast<int32_t>(sec.States.size()) - 1);
    for (auto i = static_cast<std::ptrdiff_t>(sec.States.size()) - 2; i >= 0; --i)
      flat.push_back(sec.States[static_cast<std::size_t>(i)].get());
  }
  for (std::size_t i = 0; i < flat.size(); ++i) flat[i]->Index = static_cast<int32_t>(i);

  for (THmmState* s : flat) {
    double sum = 0.0;
    for (const auto& t : s->Next) sum += t.Prob;
    BRENVO_ASSERT(sum > 0.0);
    for (const auto& t : s->Next)
      t.Target->Prev.emplace_back(s->Index, static_cast<float>(BoundedLn(t.Prob / sum)));
  }

  FStates.resize(flat.size());
  for (std::size_t i = 0; i < flat.size(); ++i) {
    const THmmState& src = *flat[i];
    BRENVO_ASSERT(!src.Prev.empty() && !src.Next.empty());
    TBitHmmState& dst = FStates[i];
    dst.Kind = src.Kind;
    dst.ShapeIdx = static_cast<int8_t>(src.ShapeIdx);
    dst.PrevBegin = static_cast<int32_t>(FPrevState.size());
    dst.PrevCount = static_cast<int32_t>(src.Prev.size());
    dst.HistorySlot = src.Prev.size() > 1 ? FHistoryStates++ : -1;
    dst.Section = static_cast<int8_t>(src.Section);
    for (const auto& [from, ln] : src.Prev) {
      FPrevState.push_back(from);
      FPrevLn.push_back(ln);
    }
  }
}

int32_t TRttyBitHmm::StateIndexOf(int32_t section, int32_t pos) const {
  CheckIndex(section, kSectionCount);
  const int32_t count = FSectionCount[static_cast<std::size_t>(section)];
  CheckIndex(pos, count + 1);
  if (pos == count) return section;
  return FSectionFirst[static_cast<std::size_t>(section)] + (count - 1 - pos);
}

int32_t TRttyBitHmm::SectionStateCount(int32_t section) const {
  CheckIndex(section, kSectionCount);
  return FSectionCount[static_cast<std::size_t>(section)];
}

bool TRttyBitHmm::LeavesThroughExit(int32_t from, int32_t to) const {
  CheckIndex(from, StateCount());
  CheckIndex(to, StateCount());
  auto hasPrev = [this](int32_t state, int32_t prev) {
    const TBitHmmState& s = FStates[static_cast<std::size_t>(state)];
    for (int32_t k = 0; k < s.PrevCount; ++k)
      if (FPrevState[static_cast<std::size_t>(s.PrevBegin + k)] == prev) return true;
    return false;
  };
  const int32_t exit = State(from).Section;  // exit states are indexed by section
  return hasPrev(exit, from) && hasPrev(to, exit);
}

const TRttyBitHmm& BitHmm() {
  static const TRttyBitHmm model;
  return model;
}

}  // namespace brenvo
