// Finds the callsigns in one signal's decoded text: cuts the corrected text of
// a message storage into words by the word type the corrector gave each
// character, turns every call word into a candidate, merges candidates that
// are the same call heard again or read with bit errors, rates them with the
// callsign validator, notes their CQ / DE context, scores them and picks the
// best call.
//
// Positions ("running numbers") count the records put into the storage since
// it was last cleared: a record's window index is its running number less the
// storage's DumpCount(). They are 64-bit so that a session of any length
// cannot wrap them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "callsigns/callsign_validator.h"
#include "callsigns/vald_result.h"
#include "decoder/char_info.h"
#include "decoder/message_storage.h"

namespace brenvo {

// Context of a candidate; ordered as listed.
enum TCqDe : uint8_t {
  cdNone = 0,  // no context
  cdDe = 1,    // the call followed "DE"
  cdCQ = 2,    // the call belongs to a CQ call
};

// The context as the JSON server's call list carries it: "" for cdNone,
// "DE", "CQ"; "" for any other value.
std::string_view CqDeName(TCqDe v);

class TCallEstimate;

// One word of the decoded text: a run of records of one word type.
class TWordEntry {
 public:
  int64_t Start = 0;  // running number of the word's first record
  int32_t Len = 0;    // number of records, >= 1
  // Product of the character probabilities; only for call and CQ words and
  // words reading "DE", else 0.
  float Prob = 0.0f;
  TWordType Kind = ctSquelch;  // the ChType of its records
  // The candidate this word belongs to, or null; not owned. Valid after an
  // Update (candidates are rebuilt whenever the words change).
  TCallEstimate* UsedIn = nullptr;
  std::string Txt;  // corrected characters without shifts; empty for squelch words
  bool NewLine = false;  // a line break lies between the previous word and this one
};

// One callsign candidate.
class TCallEstimate {
 public:
  static constexpr std::size_t kMaxTxtLen = 16;

  std::string Txt;         // at most kMaxTxtLen characters
  float Cnt = 0.0f;        // 1.0 per hearing; a merged similar reading adds 0.35 of its count
  int64_t LastSeen = 0;    // Start of the latest word of the call
  float Prob = 0.0f;       // probability (0..1) that it is a real call
  TCharInfoArray Chars;    // the call's records, bits fused over all merged words
  // Per record of Chars: its CorrCh is already the character its bits give
  // for its meta character (as the storage resolved it, or EstimateText
  // since the last fusion), so EstimateText keeps it. Records past the end
  // count as not resolved.
  std::vector<bool> Resolved;
  std::vector<const TWordEntry*> CallWords;  // the words it was heard in; not owned
  TValdResult Vald = vrUnknown;
  TCqDe CqDe = cdNone;
  int32_t Score = -1;      // -1: not a usable call; else ScoreEstimate

  // Copies every field; the word references are copied, not the words.
  void Assign(const TCallEstimate& Source);
  std::unique_ptr<TCallEstimate> Clone() const;
  // Same Txt, CqDe and Cnt; false for null.
  bool IsSame(const TCallEstimate* Other) const;
  // The Txt of each call word followed by one blank.
  std::string ListWords() const;
};

// A receiver's callsign extractor. Headless and single-threaded: the owner
// calls Update after every character it put into the storage.
class TCallExtractor {
 public:
  // Alignments of two readings (AlignMode).
  static constexpr int kNotSimilar = 0;
  static constexpr int kAlignStart = 1;     // both aligned at their first record
  static constexpr int kSkipLongerFirst = 2;  // the longer one's first record skipped
  // A non-CQ call must start this many characters after a CQ call's last
  // word before it can displace it as the best call.
  static constexpr int64_t kCqHoldChars = 240;

  // Msg: the storage to read (not owned; may be set later with SetMsg).
  // Validator: rates the candidates (not owned, must outlive the extractor);
  // by default the process's CallValidator, which must then be built.
  // Throws EBrenvoError when Validator is null.
  explicit TCallExtractor(const TMessageStorage* Msg = nullptr,
                          const TCallsignValidator* Validator = CallValidator.get());
  TCallExtractor(const TCallExtractor&) = delete;
  TCallExtractor& operator=(const TCallExtractor&) = delete;

  // Forgets all words and candidates (the owner clears the storage with it).
  // Changed() is left for the reader to take.
  void Reset();
  // Reads another storage from now on (not owned; null allowed until the
  // next Update); resets.
  void SetMsg(const TMessageStorage* Msg);
  const TMessageStorage* Msg() const { return FMsg; }

  // Brings words and candidates up to date after the storage's last NewCount
  // records were written or rewritten (the length of its ChangedChars() after
  // PutCorrChars). Returns whether the words changed; when they did, the
  // candidates were re-estimated and Changed() is set. A NewCount outside
  // 0 .. HiChar() + 1 raises EAssertionFailure; no storage, EBrenvoError.
  bool Update(int NewCount);

  // Set whenever the candidates were re-estimated; stays set until a reader
  // takes it, so no re-estimation goes unreported.
  bool Changed() const { return FChanged; }
  // Returns Changed() and clears it.
  bool TakeChanged() {
    const bool c = FChanged;
    FChanged = false;
    return c;
  }
  // Set when a re-estimation chose a best call that is not IsSame as the one
  // before; cleared only by Reset.
  bool CallChanged() const { return FCallChanged; }

  // The candidates, newest first (LastSeen descending).
  int CallCount() const { return static_cast<int>(FCalls.size()); }
  // Candidate i, 0 <= i < CallCount(); ERangeError otherwise.
  const TCallEstimate& Calls(int i) const;
  // The chosen call (one of Calls) or null.
  const TCallEstimate* BestCall() const { return FBestCall; }
  // A copy of BestCall() as it was before the last re-estimation, or null.
  // It keeps no word references (those words may be gone).
  const TCallEstimate* OldBestCall() const { return FHasOldBest ? &FOldBestCall : nullptr; }
  // The best call's score capped at vlParanoid (kept while there is none).
  TValdLevel ValdLevel() const { return FValdLevel; }

  // The words of the window, in text order.
  int WordCount() const { return FWordCount; }
  // Word i, 0 <= i < WordCount(); ERangeError otherwise.
  const TWordEntry& Words(int i) const;

  // Called once per re-estimation, after the candidates are rated and before
  // readings of different lengths are merged.
  std::function<void(TCallExtractor&)> OnDebug;

 private:
  TWordEntry& Word(int i) { return FWordRing[static_cast<std::size_t>(PosMod<int64_t>(FWordHead + i, RingSize()))]; }
  const TWordEntry& Word(int i) const {
    return FWordRing[static_cast<std::size_t>(PosMod<int64_t>(FWordHead + i, RingSize()))];
  }
  int64_t RingSize() const { return static_cast<int64_t>(FWordRing.size()); }
  void DropLeadingWords(int n);
  void DropTrailingWords(int n);
  void ClearWords();

  void SegmentWords(int i);
  void MakeWordEntry(int Index, int Count, bool NewLine);
  void EstimateCalls();
  void MergeSimilar(bool EqualLength);
  void EvaluateEstimate(TCallEstimate& E) const;
  void MarkCqDe(int i);
  const TCallEstimate* FindBestEstimate(bool WithCq) const;
  void SelectBestCall();

  TCallEstimate* NewEstimate();
  void DeleteCall(std::size_t i);

  const TMessageStorage* FMsg = nullptr;
  const TCallsignValidator* FValidator = nullptr;

  // Words live in a ring of fixed size (more than a full window can hold),
  // so their addresses stay put for the candidates that refer to them.
  std::vector<TWordEntry> FWordRing;
  int64_t FWordHead = 0;
  int FWordCount = 0;
  int64_t FLastCharCnt = -1;  // the storage's CharCnt() at the last Update

  // Candidates are recycled so that a re-estimation allocates nothing once
  // the pool has grown to the window's needs.
  std::vector<std::unique_ptr<TCallEstimate>> FPool;
  std::vector<TCallEstimate*> FFree;
  std::vector<TCallEstimate*> FCalls;

  TCallEstimate* FBestCall = nullptr;
  TCallEstimate FOldBestCall;
  bool FHasOldBest = false;
  TValdLevel FValdLevel = vlMinimal;
  bool FChanged = false;
  bool FCallChanged = false;
};

// Building blocks of the extractor, public for tests.

// Product of CharProb over the records whose CorrCh is no shift character (1 for none).
float WordCharsProb(const TCharInfo* Chars, std::size_t Count);
float WordCharsProb(const TCharInfoArray& Chars);
// The records copied, a shift that does not change the shift state (starting
// in letters) left out.
void CopyWordChars(const TCharInfo* Chars, std::size_t Count, TCharInfoArray& Out);
// The estimate's text (all of it, not cut to 16): CorrCh of every non-shift
// record, a meta character first resolved from the record's bits (written
// back into Chars) unless E.Resolved says it is; all of them are afterwards.
std::string EstimateText(TCallEstimate& E);
// The same into Out (its buffer reused).
void EstimateText(TCallEstimate& E, std::string& Out);
// Dissimilarity of two readings aligned by Mode (kAlignStart, or
// kSkipLongerFirst: the longer one's first record skipped, A's on equal
// lengths): the sum of differing code bits over the aligned positions, or
// 99 as soon as a shift stands against a non-shift or the meta characters
// differ. A character without a code counts as the all-ones code.
float CharDistance(const TCharInfoArray& A, const TCharInfoArray& B, int Mode);
// kNotSimilar, kAlignStart or kSkipLongerFirst (see CharDistance): similar
// when the lengths differ by at most one and the smaller of the two
// distances is at most A's length less 2; a shift or meta mismatch is never
// similar, however long the readings.
int AlignMode(const TCharInfoArray& A, const TCharInfoArray& B);
// Bitwise Bayesian fusion of b into a: a[k] := a b / (a b + (1-a)(1-b)), 0.5
// when that denominator is exactly 0.
void FuseBitProbs(TBitProbArray& a, const TBitProbArray& b);
// FuseBitProbs over the records aligned as in CharDistance, written into A.
void FuseChars(TCharInfoArray& A, const TCharInfoArray& B, int Mode);
// Posterior that E is a real call given its Prob and its rating Vald.
float ValidityPosterior(const TCallEstimate& E);
// -1 for a rating below vrWarning or Prob below 0.7; else round(Cnt) (half
// to even) + ordinal of Vald - 6, one less for a 3-character text and one
// less for Prob below 0.9. Thresholds compared in double.
int32_t ScoreEstimate(const TCallEstimate& E);

}  // namespace brenvo
