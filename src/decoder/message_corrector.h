// Corrects one signal's character stream against the message-level model:
// one Viterbi step per character record, then a traceback over the last 25
// steps that reports the part of the best path that changed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "decoder/char_info.h"
#include "decoder/message_hmm.h"

namespace brenvo {

class TRttyMessageCorrector {
 public:
  static constexpr int kHistoryLength = 25;  // steps the traceback reaches back

  // Character classes of the meta characters "p", "@" and "n".
  static constexpr std::string_view kPunctuation = "-'$*,!:(+)#?&./=";
  static constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  static constexpr std::string_view kDigits = "0123456789";

  // How a step goes through the states: in list order, one by one (the
  // plain version, kept to compare against), or in the model's runs of
  // states with equally many predecessors, a state at a time (any
  // processor) or eight at a time (only where the processor has AVX2); all
  // give the same scores and back-pointers.
  enum class TKernel { Reference, Runs, Avx2 };
  // The fastest kernel this processor runs.
  static TKernel Fastest();
  static bool KernelRuns(TKernel kernel);

  // With the process's current model (MessageHmm()).
  TRttyMessageCorrector();
  // With a given model (not null) and kernel (EBrenvoError for one this
  // processor cannot run).
  explicit TRttyMessageCorrector(std::shared_ptr<const TRttyMessageHmm> model,
                                 TKernel kernel = Fastest());

  // Back to the start with the process's current model: call after every
  // model rebuild (contest change) and on the owner's own reset.
  void Reset();
  // Back to the start with the given model (not null).
  void Reset(std::shared_ptr<const TRttyMessageHmm> model);

  // One step for the record ch. Afterwards Msg() holds the changed tail of the
  // best path: 1 to 25 records, the last for ch, each with CorrCh or MetaCh and
  // ChType set (nothing else).
  void ProcessChar(const TCharInfo& ch);

  // Output of the last step; the storage's PutCorrChars may shorten it.
  TCharInfoArray& Msg() { return FMsg; }
  const TCharInfoArray& Msg() const { return FMsg; }

  int64_t Age() const { return FAge; }  // steps since the last reset
  int HistIdx() const { return FHistIdx; }
  const std::shared_ptr<const TRttyMessageHmm>& Model() const { return FModel; }
  // Log score of the best path ending in state i (the best character state
  // scores 0 after every step).
  float Score(int state) const;
  // Log emission of each character for the last record (used characters only).
  float EmissionProb(uint8_t ch) const { return FEmissionProbs[ch]; }
  // The character state of the best path k steps back (0 = the last record),
  // 0 <= k < min(Age(), kHistoryLength); ERangeError otherwise.
  int32_t PathState(int k) const;
  // Bytes held for the model's state count (scores, history, output).
  std::size_t MemoryBytes() const;

  // The concrete character for the record's MetaCh: the best-matching letter
  // for "@", digit for "n", punctuation mark for "p" (first on ties), "~" for
  // "~". Any other MetaCh raises EBrenvoError "Unknown meta char".
  static uint8_t FindBestMetaMatch(const TCharInfo& ch);
  // Raises what FindBestMetaMatch raises for a MetaCh it does not know;
  // nothing for "@", "n", "p" and "~".
  static void CheckMetaChar(uint8_t metaCh);

 private:
  void ComputeEmissions(const TCharInfo& ch);
  template <typename THist>
  void UpdateStates(THist* hist);
  template <typename THist>
  void UpdateStatesReference(THist* hist);
  template <typename THist>
  int BestPathToMsg(const THist* history);

  std::shared_ptr<const TRttyMessageHmm> FModel;
  TKernel FKernel = Fastest();
  int64_t FAge = 0;
  int FHistIdx = 0;
  // Scores, back-pointers and the path by position in the model's order of
  // work (TCompiledHmm::Order), not by state index.
  std::vector<float> FProb;
  // Best predecessor (a position) per [slot * HistorySize + HistoryAt of the
  // state's position], for the states with several links only: 16-bit while
  // the model has at most 65536 states (half the memory), 32-bit beyond.
  std::vector<uint16_t> FHistory16;
  std::vector<int32_t> FHistory32;
  std::array<int32_t, kHistoryLength> FBestPath{};
  std::array<float, 256> FEmissionProbs{};
  TCharInfoArray FMsg;
};

}  // namespace brenvo
