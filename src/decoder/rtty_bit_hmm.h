// The fixed bit-level hidden Markov model of one RTTY signal: 24 sections
// (start bit, five data bits split by their value and the value before,
// two stop sections, steady tone, silence, tone after silence), 346 real
// states of one spectrum each plus one zero-duration exit state per section.
// Built once; shared read-only by the bit decoders of all receivers.
//
// At run time the model is flat arrays in an order that lets the decoder
// update all path metrics in place in one pass: the 24 exit states first
// (indices 0..23 = sections 0..23), then each section's real states from its
// last one down to its first.
#pragma once

#include <cstdint>
#include <vector>

namespace brenvo {

// Ordinals 0..11. The first six are meanings (carried by one labelled state
// per section); sk00..sk11 the shape of a bit given the previous and the
// current level (0 space, 1 mark); skXX silence; skVirtual an exit state.
enum TStateKind : uint8_t {
  skMark,
  skSpace,
  skStart,
  skStop,
  skTone,
  skSilence,
  sk00,
  sk01,
  sk10,
  sk11,
  skXX,
  skVirtual,
};

// ln x for x > 0, floored at -60 (also for 0, negatives and NaN).
double BoundedLn(double x);

// One state of the flat model.
struct TBitHmmState {
  TStateKind Kind = skVirtual;
  // Emission used in this state: 0..8 a tone shape (8 mark on and space off,
  // 0 the reverse, between a transition), -1 silence, -2 none (exit state).
  int8_t ShapeIdx = -2;
  int32_t PrevBegin = 0;  // first incoming transition in PrevState / PrevLn
  int32_t PrevCount = 0;  // number of incoming transitions (>= 1)
  // Slot of the state's back-pointer history, or -1 when it has one
  // predecessor only (then the predecessor is always the first one).
  int32_t HistorySlot = -1;
  int8_t Section = 0;  // the section (row of the section table) it belongs to
};

class TRttyBitHmm {
 public:
  static constexpr int32_t kSectionCount = 24;
  static constexpr int32_t kMinStopLen = 7;
  static constexpr int32_t kMaxStopLen = 34;
  // The two stop sections (after a 0 and after a 1 data bit).
  static constexpr int32_t kStopSection0 = 19;
  static constexpr int32_t kStopSection1 = 20;
  static constexpr bool IsStopSection(int32_t section) {
    return section == kStopSection0 || section == kStopSection1;
  }

  // Builds the whole model (see rtty_bit_hmm.cpp for the section table).
  TRttyBitHmm();

  int32_t StateCount() const { return static_cast<int32_t>(FStates.size()); }
  const TBitHmmState& State(int32_t s) const { return FStates[static_cast<std::size_t>(s)]; }
  const std::vector<TBitHmmState>& States() const { return FStates; }
  // Incoming transitions of all states, in creation order per state: the
  // predecessor's index and the natural log of the normalised probability.
  const std::vector<int32_t>& PrevState() const { return FPrevState; }
  const std::vector<float>& PrevLn() const { return FPrevLn; }
  int32_t TransitionCount() const { return static_cast<int32_t>(FPrevState.size()); }
  // States with more than one predecessor (they keep back-pointers).
  int32_t HistoryStateCount() const { return FHistoryStates; }

  // Flat index of the state at position pos (0..count) of a section;
  // pos == SectionStateCount(section) is the section's exit state.
  int32_t StateIndexOf(int32_t section, int32_t pos) const;
  int32_t SectionStateCount(int32_t section) const;
  // Whether a path in real state `from` can be in real state `to` one step
  // later by leaving `from`'s section through its exit state.
  bool LeavesThroughExit(int32_t from, int32_t to) const;

  // The table of stop lengths the stop sections reproduce: the probability
  // that a stop element lasts len spectra, len = 7..34 (34 = 34 or more).
  static float StopLengthProb(int32_t len);

 private:
  std::vector<TBitHmmState> FStates;
  std::vector<int32_t> FPrevState;
  std::vector<float> FPrevLn;
  std::vector<int32_t> FSectionFirst;  // flat index of each section's last real state
  std::vector<int32_t> FSectionCount;  // real states per section
  int32_t FHistoryStates = 0;
};

// The model shared by all decoders, built on first use (thread-safe).
const TRttyBitHmm& BitHmm();

}  // namespace brenvo
