// The message-level model: a hidden Markov model of RTTY text built as a tree
// of sub-models (one per word kind) from the message statistics, flattened
// into one ordered list of states, and compiled into index arrays for the
// corrector's per-character Viterbi step.
//
// A built model is immutable. The process-wide model (MessageHmm()) is shared
// by every corrector through shared_ptr: a rebuild makes a new model apart
// and swaps it in only when it succeeded, so a running corrector always keeps
// a whole model; correctors pick the new one up on their next Reset().
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decoder/message_statistics.h"
#include "decoder/state_type.h"
#include "dsp/errors.h"

namespace brenvo {

struct TState;

// In TState::Next: a forward link, TransProb the weight (normalised when the
// model is flattened). In TState::Prev: a link back to the predecessor,
// TransProb the natural log of the normalised weight.
struct TLink {
  TState* State = nullptr;
  float TransProb = 0.0f;
};

struct TState {
  TState(TStateType type, uint8_t ch) : FType(type), FChar(ch) {}
  int Index = -1;  // position in the flattened list; -1 before flattening and when pruned
  TStateType FType;
  uint8_t FChar;  // 0 for a silent state
  std::vector<TLink> Prev;
  std::vector<TLink> Next;
  int Source = -1;  // the exchange pattern (index into Exchanges) that built it, or -1
};

// A sub-model. A path enters through InLTR in letters mode, InDIG in figures
// mode, and leaves through OutLTR or OutDIG in the mode it ends in.
class THmm {
 public:
  THmm(TStateType type, std::string text);
  virtual ~THmm();
  THmm(const THmm&) = delete;
  THmm& operator=(const THmm&) = delete;
  virtual bool IsSimple() const = 0;

  TStateType FType;
  std::string Text;
  std::unique_ptr<TState> InLTR, InDIG, OutLTR, OutDIG;
};

// One character with its shift handling.
class TSimpleHmm : public THmm {
 public:
  TSimpleHmm(TStateType type, uint8_t ch, const TRttyMessageStatistics& stats);
  bool IsSimple() const override { return true; }
  TShiftKind Kind;
  std::unique_ptr<TState> Shift1, Shift2;
};

class TComplexHmm : public THmm {
 public:
  TComplexHmm(TStateType type, std::string text) : THmm(type, std::move(text)) {}
  bool IsSimple() const override { return false; }
  std::vector<std::unique_ptr<THmm>> NestedHmms;
};

// The shift class of a model character.
TShiftKind ShiftKindOf(uint8_t ch);

// One predecessor in the compiled model.
struct TPrevLink {
  int32_t State;
  float LnProb;
};

// States of one corrector step's order of work (positions Begin .. End - 1)
// that never read each other and have equally many predecessors, all with a
// character or all silent. Their links are RunFrom / RunLn from LinkBegin on,
// Links per state in TState::Prev order: for each whole group of
// kRunLanes states link j of the group's states side by side, for the states
// after the last whole group their links one state after the other.
struct TStateRun {
  static constexpr uint32_t kRunLanes = 8;
  uint32_t Begin = 0;
  uint32_t End = 0;
  uint32_t LinkBegin = 0;
  uint32_t Links = 0;
  bool Chars = false;
  // Where the back-pointers of its states start in a step's (with several
  // links; a state with one always comes from it and keeps none).
  uint32_t HistoryBegin = 0;
  // Its first whole group in RunSideBySide.
  uint32_t GroupBegin = 0;
};

// The flattened model as arrays: what the corrector's hot loop reads.
struct TCompiledHmm {
  std::vector<uint32_t> PrevStart;    // state i's links are PrevLinks[PrevStart[i] .. PrevStart[i + 1])
  std::vector<TPrevLink> PrevLinks;   // in TState::Prev order (ties go to the first)
  std::vector<uint8_t> StateChar;     // FChar per state, 0 silent
  std::vector<TWordType> StateWordType;  // word type of each state's FType
  std::vector<int32_t> CharStates;    // indices of the states with a character, in order
  std::vector<uint8_t> UsedCharList;  // the characters of CharStates, ascending
  // The step's order of work: each state after the predecessors below it
  // in list order (whose new values it reads) and before those above it
  // (whose old values it reads), so the in-place update gives the same
  // scores as in list order. The corrector keeps its scores and
  // back-pointers by position in this order, so that a run's states lie side
  // by side; inside a run they keep their list order.
  std::vector<TStateRun> Runs;
  std::vector<int32_t> Order;      // the state at each position
  std::vector<int32_t> Position;   // the position of each state
  std::vector<int32_t> OrderChar;  // FChar of the state at each position (0 silent)
  std::vector<int32_t> RunFrom;    // a link's predecessor, by position
  std::vector<float> RunLn;        // its log probability
  // Per whole group of a run: bit j < 31 set when link j's predecessors lie
  // side by side in position order (read by one load instead of one per
  // state), bit kOneChar when its states all carry the same character.
  static constexpr uint32_t kOneChar = 31;
  std::vector<uint32_t> RunSideBySide;
  // A step's back-pointers: HistorySize of them, one per state with several
  // links, at HistoryAt of its position (-1 for one link); a state with one
  // link comes from OnlyFrom (by position; -1 for several).
  uint32_t HistorySize = 0;
  std::vector<int32_t> HistoryAt;
  std::vector<int32_t> OnlyFrom;
};

// A pattern the model cannot be built from. Exchange is its index in the
// statistics' Exchanges, CqWord its index in CqWords (each -1 when that list
// is not to blame).
class EBadPattern : public EBrenvoError {
 public:
  EBadPattern(const std::string& msg, int32_t exchange, int32_t cqWord = -1)
      : EBrenvoError(msg), Exchange(exchange), CqWord(cqWord) {}
  int32_t Exchange;
  int32_t CqWord;
};

class TRttyMessageHmm {
 public:
  // Builds and flattens the model. Raises EBadPattern "Bad pattern: " plus
  // the pattern for an exchange pattern it cannot build (unmatched or empty
  // brackets, empty alternative, a skip into a part that nothing can enter,
  // nesting deeper than kMaxPatternDepth, a part that breaks the state order),
  // and for the exchange pattern or CQ word that goes beyond a limit below
  // (the message names the limit).
  explicit TRttyMessageHmm(const TRttyMessageStatistics& stats);
  ~TRttyMessageHmm();
  TRttyMessageHmm(const TRttyMessageHmm&) = delete;
  TRttyMessageHmm& operator=(const TRttyMessageHmm&) = delete;

  static constexpr int kMaxPatternDepth = 32;
  // What a contest may make the model build, so that no contest file takes
  // seconds or gigabytes to start: bytes of one exchange pattern or CQ word,
  // and the states and links made (pruned ones included) in all. The
  // shipped file's largest contest has 25-byte patterns and makes 8,726
  // states and 14,938 links; a model beyond 65,536 live states (a wider
  // corrector history) stays possible. Patterns make 1.6 to 2 links per
  // state, so that either limit can be the one reached.
  static constexpr int kMaxPatternBytes = 1024;
  static constexpr int kMaxStates = 150000;
  static constexpr int kMaxLinks = 270000;

  const TComplexHmm& Hmm() const { return *FHmm; }
  // Every live state in flattened order (Index = position).
  const std::vector<const TState*>& States() const { return FStates; }
  // The states with a character, in the same order.
  const std::vector<const TState*>& CharStates() const { return FCharStates; }
  const std::array<bool, 256>& UsedChars() const { return FUsedChars; }
  int StateCount() const { return static_cast<int>(FStates.size()); }
  int LinkCount() const { return static_cast<int>(FCompiled.PrevLinks.size()); }
  // States and links made, pruned ones included: what the limits bound.
  int MadeStates() const { return FMadeStates; }
  int MadeLinks() const { return FMadeLinks; }
  const TCompiledHmm& Compiled() const { return FCompiled; }
  // Listing of the tree, the counts and any link that breaks the order rule.
  // Made when asked: nothing in the program reads it, and making it costs
  // more than flattening the model.
  std::vector<std::string> DebugStrings() const;
  // The contest the model was built for.
  const std::string& ContestName() const { return FContestName; }

 private:
  void Flatten();
  void CheckOrder(const TRttyMessageStatistics& stats) const;
  void Compile();
  void CompileRuns();

  std::unique_ptr<TComplexHmm> FHmm;
  std::vector<const TState*> FStates;
  std::vector<const TState*> FCharStates;
  std::array<bool, 256> FUsedChars{};
  TCompiledHmm FCompiled;
  std::string FContestName;
  int FMadeStates = 0;
  int FMadeLinks = 0;
};

// The process-wide model. The first call without a published model builds one
// from MessageStatistics(). Never null.
std::shared_ptr<const TRttyMessageHmm> MessageHmm();
// Builds a model from the current MessageStatistics() and publishes it; on an
// exception nothing changes. Reset every corrector afterwards.
void RebuildMessageHmm();
// The contest change: loads the contest into a copy of the current statistics,
// builds the model from it, and only when both succeed publishes the two.
// On an exception (EConvertError, EBadPattern, both naming the file, the
// section and the key) the statistics and the model stay as they were. Reset
// every corrector afterwards.
void SetMessageContest(const std::string& name);
// The same with an explicit contest file (tests, tools).
void SetMessageContestFromFile(const std::string& name, const std::string& fileName);

}  // namespace brenvo
