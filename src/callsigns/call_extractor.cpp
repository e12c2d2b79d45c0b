#include "callsigns/call_extractor.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>

#include "decoder/baudot_table.h"
#include "decoder/char_prob.h"
#include "decoder/message_corrector.h"
#include "dsp/errors.h"

namespace brenvo {

namespace {

bool IsShift(uint8_t ch) { return ch == kChFigures || ch == kChLetters; }
bool IsLineBreak(uint8_t ch) { return ch == kChLineFeed || ch == kChCarriageReturn; }

// Likelihood of each rating for a real call (A) and for a false reading (B),
// indexed by TValdResult.
constexpr float kLikelyReal[7] = {0.0f, 0.0001f, 0.0394f, 0.0460f, 0.4957f, 0.4099f, 0.0088f};
constexpr float kLikelyFalse[7] = {0.0f, 0.3270f, 0.1941f, 0.0599f, 0.3892f, 0.0293f, 0.0004f};

// Weight of a similar reading when it is merged into another; the count is
// summed in double and then rounded, so 0.35 is not first rounded to a single.
constexpr double kSimilarWeight = 0.35;

// Prob thresholds, compared in double so that the single nearest a threshold
// (which lies just below it) counts as below.
constexpr double kMinScoreProb = 0.7;
constexpr double kFullScoreProb = 0.9;
constexpr double kMinContextProb = 0.01;

// Only these word types make words; punctuation and white space separate them.
bool MakesWord(TWordType t) {
  switch (t) {
    case ctSquelch:
    case ctLetter:
    case ctDigit:
    case ctExchange:
    case ctCall:
    case ctDe:
    case ctCQ:
      return true;
    default:
      return false;
  }
}

// Five-bit code of a corrected character; one without a code counts as the
// all-ones code, as the character probabilities score it.
int Code5(uint8_t ch) { return CodeTable[ch] & 0x1F; }

// The aligned positions of two readings: A[k + OffA] against B[k + OffB] for
// k < Count.
struct TAlignment {
  std::size_t OffA = 0, OffB = 0, Count = 0;
};

TAlignment Align(std::size_t LenA, std::size_t LenB, int Mode) {
  TAlignment r;
  if (Mode == TCallExtractor::kSkipLongerFirst) {
    if (LenA >= LenB) r.OffA = 1;
    else r.OffB = 1;
  } else {
    BRENVO_ASSERT(Mode == TCallExtractor::kAlignStart);
  }
  // Never past the end of either array, also when equal lengths skip one.
  const std::size_t a = LenA > r.OffA ? LenA - r.OffA : 0;
  const std::size_t b = LenB > r.OffB ? LenB - r.OffB : 0;
  r.Count = std::min(a, b);
  return r;
}

}  // namespace

std::string_view CqDeName(TCqDe v) {
  switch (v) {
    case cdNone: return "";
    case cdDe: return "DE";
    case cdCQ: return "CQ";
  }
  return "";
}

// ---------------------------------------------------------------- helpers

float WordCharsProb(const TCharInfo* Chars, std::size_t Count) {
  float p = 1.0f;
  for (std::size_t k = 0; k < Count; ++k)
    if (!IsShift(Chars[k].CorrCh)) p *= CharProb(Chars[k].CorrCh, Chars[k].BitProbs);
  return p;
}

float WordCharsProb(const TCharInfoArray& Chars) { return WordCharsProb(Chars.data(), Chars.size()); }

void CopyWordChars(const TCharInfo* Chars, std::size_t Count, TCharInfoArray& Out) {
  Out.clear();
  bool figures = false;
  for (std::size_t k = 0; k < Count; ++k) {
    const uint8_t c = Chars[k].CorrCh;
    if (c == kChFigures) {
      if (figures) continue;
      figures = true;
    } else if (c == kChLetters) {
      if (!figures) continue;
      figures = false;
    }
    Out.push_back(Chars[k]);
  }
}

void EstimateText(TCallEstimate& E, std::string& Out) {
  Out.clear();
  for (std::size_t k = 0; k < E.Chars.size(); ++k) {
    TCharInfo& r = E.Chars[k];
    if (IsShift(r.CorrCh)) continue;
    if (r.MetaCh != 0 && !(k < E.Resolved.size() && E.Resolved[k]))
      r.CorrCh = TRttyMessageCorrector::FindBestMetaMatch(r);
    Out += static_cast<char>(r.CorrCh);
  }
  E.Resolved.assign(E.Chars.size(), true);
}

std::string EstimateText(TCallEstimate& E) {
  std::string txt;
  EstimateText(E, txt);
  return txt;
}

namespace {

// Set bits of each five-bit value (a table: no popcount instruction assumed).
constexpr std::array<uint8_t, 32> kBitCount = [] {
  std::array<uint8_t, 32> t{};
  for (int v = 0; v < 32; ++v) t[static_cast<std::size_t>(v)] = static_cast<uint8_t>(std::popcount(static_cast<unsigned>(v)));
  return t;
}();

// What CharDistance reports for a shift or meta mismatch.
constexpr float kDissimilar = 99.0f;
// What the merge test takes it for: past any bound. A plain 99 would count
// as similar for readings of 101 records or more, whose bound reaches it.
constexpr int64_t kMismatch = std::numeric_limits<int64_t>::max();

// The distance, kMismatch for a mismatch; it may stop early with any value
// above Cap once the sum has passed it: the merge test only asks whether it
// stays within a bound.
int64_t CappedDistance(const TCharInfoArray& A, const TCharInfoArray& B, int Mode, int64_t Cap) {
  const TAlignment al = Align(A.size(), B.size(), Mode);
  int64_t d = 0;
  for (std::size_t k = 0; k < al.Count; ++k) {
    const TCharInfo& a = A[k + al.OffA];
    const TCharInfo& b = B[k + al.OffB];
    if (IsShift(a.CorrCh) != IsShift(b.CorrCh) || a.MetaCh != b.MetaCh) return kMismatch;
    d += kBitCount[static_cast<std::size_t>(Code5(a.CorrCh) ^ Code5(b.CorrCh))];
    if (d > Cap) break;
  }
  return d;
}

}  // namespace

float CharDistance(const TCharInfoArray& A, const TCharInfoArray& B, int Mode) {
  const int64_t d = CappedDistance(A, B, Mode, kMismatch);
  return d == kMismatch ? kDissimilar : static_cast<float>(d);
}

int AlignMode(const TCharInfoArray& A, const TCharInfoArray& B) {
  const int64_t lenA = static_cast<int64_t>(A.size());
  const int64_t d = lenA - static_cast<int64_t>(B.size());
  if (d > 1 || d < -1) return TCallExtractor::kNotSimilar;
  // Past the bound a distance only has to stay past it: when one of the two
  // stops early the other decides, and when both do the readings differ.
  const int64_t bound = lenA - 2;
  const int64_t d1 = CappedDistance(A, B, TCallExtractor::kAlignStart, bound);
  const int64_t d2 = d == 0 ? d1 : CappedDistance(A, B, TCallExtractor::kSkipLongerFirst, bound);
  if (std::min(d1, d2) > bound) return TCallExtractor::kNotSimilar;
  return d1 <= d2 ? TCallExtractor::kAlignStart : TCallExtractor::kSkipLongerFirst;
}

void FuseBitProbs(TBitProbArray& a, const TBitProbArray& b) {
  for (int k = 0; k < TBitProbArray::kCount; ++k) {
    const float x = a[k], y = b[k];
    const float both = x * y;
    const float p = both + (1.0f - x) * (1.0f - y);
    a[k] = p == 0.0f ? 0.5f : both / p;
  }
}

void FuseChars(TCharInfoArray& A, const TCharInfoArray& B, int Mode) {
  const TAlignment al = Align(A.size(), B.size(), Mode);
  for (std::size_t k = 0; k < al.Count; ++k) FuseBitProbs(A[k + al.OffA].BitProbs, B[k + al.OffB].BitProbs);
}

float ValidityPosterior(const TCallEstimate& E) {
  const int v = std::min<int>(E.Vald, vrWatch);
  const float p = E.Prob;
  const float a = p * kLikelyReal[v];
  const double den = (1.0 - static_cast<double>(p)) * kLikelyFalse[v] + a;
  // Only an unrated estimate (vrUnknown) could give 0 / 0.
  if (!(den > 0.0)) return 0.0f;
  return static_cast<float>(a / den);
}

int32_t ScoreEstimate(const TCallEstimate& E) {
  const double p = E.Prob;
  // Written so that a NaN probability is no usable call either.
  if (E.Vald < vrWarning || !(p >= kMinScoreProb)) return -1;
  int32_t s = static_cast<int32_t>(std::nearbyint(E.Cnt)) + static_cast<int32_t>(E.Vald) - 6;
  if (E.Txt.size() == 3) --s;
  if (p < kFullScoreProb) --s;
  return s;
}

// ---------------------------------------------------------------- TCallEstimate

void TCallEstimate::Assign(const TCallEstimate& Source) {
  if (&Source == this) return;
  Txt = Source.Txt;
  CqDe = Source.CqDe;
  Prob = Source.Prob;
  Cnt = Source.Cnt;
  Score = Source.Score;
  LastSeen = Source.LastSeen;
  Vald = Source.Vald;
  Chars = Source.Chars;
  Resolved = Source.Resolved;
  CallWords = Source.CallWords;
}

std::unique_ptr<TCallEstimate> TCallEstimate::Clone() const {
  auto e = std::make_unique<TCallEstimate>();
  e->Assign(*this);
  return e;
}

bool TCallEstimate::IsSame(const TCallEstimate* Other) const {
  return Other != nullptr && Txt == Other->Txt && CqDe == Other->CqDe && Cnt == Other->Cnt;
}

std::string TCallEstimate::ListWords() const {
  std::string s;
  for (const TWordEntry* w : CallWords) {
    s += w->Txt;
    s += ' ';
  }
  return s;
}

// ---------------------------------------------------------------- TCallExtractor

TCallExtractor::TCallExtractor(const TMessageStorage* Msg, const TCallsignValidator* Validator)
    : FMsg(Msg), FValidator(Validator) {
  if (FValidator == nullptr) throw EBrenvoError("Callsign extractor without a callsign validator");
  // Words are disjoint runs of at least one record inside the window.
  FWordRing.resize(TMessageStorage::kCapacity + 1);
  Reset();
}

void TCallExtractor::Reset() {
  ClearWords();
  for (TCallEstimate* e : FCalls) FFree.push_back(e);
  FCalls.clear();
  FHasOldBest = false;
  FOldBestCall.CallWords.clear();
  FBestCall = nullptr;
  FCallChanged = false;
  FLastCharCnt = -1;
}

void TCallExtractor::SetMsg(const TMessageStorage* Msg) {
  FMsg = Msg;
  Reset();
}

const TCallEstimate& TCallExtractor::Calls(int i) const {
  CheckIndex(i, CallCount());
  return *FCalls[static_cast<std::size_t>(i)];
}

const TWordEntry& TCallExtractor::Words(int i) const {
  CheckIndex(i, FWordCount);
  return Word(i);
}

void TCallExtractor::DropLeadingWords(int n) {
  FWordHead = PosMod<int64_t>(FWordHead + n, RingSize());
  FWordCount -= n;
}

void TCallExtractor::DropTrailingWords(int n) { FWordCount -= n; }

void TCallExtractor::ClearWords() {
  FWordHead = 0;
  FWordCount = 0;
}

bool TCallExtractor::Update(int NewCount) {
  if (FMsg == nullptr) throw EBrenvoError("Callsign extractor without a message storage");
  const TMessageStorage& msg = *FMsg;
  const int64_t dump = msg.DumpCount();
  // The first rewritten record; checked before anything changes.
  const int64_t firstNew64 = int64_t{msg.HiChar()} + 1 - NewCount;
  BRENVO_ASSERT(NewCount >= 0 && firstNew64 >= 0);
  const int firstNew = static_cast<int>(firstNew64);
  bool changed = false;

  // Running numbers only grow while the storage is not cleared: a step back
  // means it was, and the words refer to records that no longer exist.
  if (msg.CharCnt() < FLastCharCnt && FWordCount > 0) {
    ClearWords();
    changed = true;
  }
  FLastCharCnt = msg.CharCnt();

  // 1. Words that began in the dropped part, or at the window's first record
  //    (whose run may have begun before it), are gone.
  int lead = 0;
  while (lead < FWordCount && Word(lead).Start <= dump) ++lead;
  if (lead > 0) {
    DropLeadingWords(lead);
    changed = true;
  }

  // 2. Words touching the rewritten records, or ending just before them (the
  //    record that closed them may have changed), are cut again.
  int keep = FWordCount;
  while (keep > 0 && Word(keep - 1).Start + Word(keep - 1).Len >= dump + firstNew) --keep;
  if (keep < FWordCount) {
    DropTrailingWords(FWordCount - keep);
    changed = true;
  }

  // 3. Cut the rewritten tail into words.
  const int before = FWordCount;
  for (int i = firstNew; i <= msg.HiChar(); ++i) SegmentWords(i);
  if (FWordCount != before) changed = true;

  if (changed) {
    if (FBestCall != nullptr) {
      FOldBestCall.Assign(*FBestCall);
      FOldBestCall.CallWords.clear();
      FHasOldBest = true;
    } else {
      FHasOldBest = false;
    }
    EstimateCalls();
    SelectBestCall();
    FChanged = true;
  }
  return changed;
}

void TCallExtractor::SegmentWords(int i) {
  const TMessageStorage& msg = *FMsg;
  if (i < 1) return;
  const TCharInfoArray& chars = msg.Chars();
  const TWordType t = chars[static_cast<std::size_t>(i - 1)].ChType;
  if (t == chars[static_cast<std::size_t>(i)].ChType) return;
  if (!MakesWord(t)) return;

  int covered = 0;
  if (FWordCount > 0) {
    const TWordEntry& last = Word(FWordCount - 1);
    covered = static_cast<int>(last.Start - msg.DumpCount() + last.Len);
  }
  int runStart = i - 1;
  while (runStart > covered && chars[static_cast<std::size_t>(runStart - 1)].ChType == t) --runStart;
  // A run at the window's start may have begun in the dropped part.
  if (runStart == 0 && t != ctSquelch) return;

  bool newLine = false;
  for (int j = runStart - 1; j >= covered; --j)
    if (IsLineBreak(chars[static_cast<std::size_t>(j)].CorrCh)) {
      newLine = true;
      break;
    }
  MakeWordEntry(runStart, i - runStart, newLine);
}

void TCallExtractor::MakeWordEntry(int Index, int Count, bool NewLine) {
  const TMessageStorage& msg = *FMsg;
  const int64_t start = msg.DumpCount() + Index;
  if (FWordCount > 0) {
    const TWordEntry& last = Word(FWordCount - 1);
    BRENVO_ASSERT(last.Start + last.Len <= start);
  }
  BRENVO_ASSERT(FWordCount < static_cast<int>(RingSize()) && Count >= 1);
  ++FWordCount;
  TWordEntry& w = Word(FWordCount - 1);
  const TCharInfo* recs = msg.Chars().data() + Index;
  w.Start = start;
  w.Len = Count;
  w.Kind = recs[0].ChType;
  w.UsedIn = nullptr;
  w.NewLine = NewLine;
  w.Txt.clear();
  if (w.Kind != ctSquelch)
    for (int k = 0; k < Count; ++k)
      if (!IsShift(recs[k].CorrCh)) w.Txt += static_cast<char>(recs[k].CorrCh);
  w.Prob = (w.Kind == ctCall || w.Kind == ctCQ || w.Txt == "DE")
               ? WordCharsProb(recs, static_cast<std::size_t>(Count))
               : 0.0f;
}

TCallEstimate* TCallExtractor::NewEstimate() {
  TCallEstimate* e;
  if (FFree.empty()) {
    FPool.push_back(std::make_unique<TCallEstimate>());
    e = FPool.back().get();
  } else {
    e = FFree.back();
    FFree.pop_back();
  }
  e->Txt.clear();
  e->Cnt = 0.0f;
  e->LastSeen = 0;
  e->Prob = 0.0f;
  e->Chars.clear();
  e->Resolved.clear();
  e->CallWords.clear();
  e->Vald = vrUnknown;
  e->CqDe = cdNone;
  e->Score = -1;
  return e;
}

void TCallExtractor::DeleteCall(std::size_t i) {
  FFree.push_back(FCalls[i]);
  FCalls.erase(FCalls.begin() + static_cast<std::ptrdiff_t>(i));
}

void TCallExtractor::EvaluateEstimate(TCallEstimate& E) const {
  EstimateText(E, E.Txt);  // into the old text's buffer: reads only Chars
  if (E.Txt.size() > TCallEstimate::kMaxTxtLen) E.Txt.resize(TCallEstimate::kMaxTxtLen);
  E.Prob = WordCharsProb(E.Chars);
  E.Vald = FValidator->Validate(E.Txt);
  E.Prob = ValidityPosterior(E);
}

namespace {

// F's reading merged into E: the later sighting, the bits fused with F's
// aligned as Mode says (those records' meta characters then need resolving
// again), and F's words.
void MergeEstimate(TCallEstimate& E, const TCallEstimate& F, int Mode) {
  E.LastSeen = std::max(E.LastSeen, F.LastSeen);
  FuseChars(E.Chars, F.Chars, Mode);
  const TAlignment al = Align(E.Chars.size(), F.Chars.size(), Mode);
  for (std::size_t k = al.OffA; k < std::min(al.OffA + al.Count, E.Resolved.size()); ++k) E.Resolved[k] = false;
  E.CallWords.insert(E.CallWords.end(), F.CallWords.begin(), F.CallWords.end());
}

}  // namespace

// The more probable of two similar readings absorbs the other; the one at
// the lower index survives (taking over the other's content when that one
// was the more probable), the other is deleted.
void TCallExtractor::MergeSimilar(bool EqualLength) {
  for (int i = static_cast<int>(FCalls.size()) - 2; i >= 0; --i)
    for (int j = static_cast<int>(FCalls.size()) - 1; j > i; --j) {
      TCallEstimate& e = *FCalls[static_cast<std::size_t>(i)];
      TCallEstimate& f = *FCalls[static_cast<std::size_t>(j)];
      if ((e.Txt.size() == f.Txt.size()) != EqualLength) continue;
      TCallEstimate& winner = e.Prob < f.Prob ? f : e;
      TCallEstimate& loser = e.Prob < f.Prob ? e : f;
      const int mode = AlignMode(winner.Chars, loser.Chars);
      if (mode == kNotSimilar) continue;
      MergeEstimate(winner, loser, mode);
      winner.Cnt = static_cast<float>(static_cast<double>(winner.Cnt) +
                                      kSimilarWeight * static_cast<double>(loser.Cnt));
      if (&winner == &f) e.Assign(f);
      DeleteCall(static_cast<std::size_t>(j));
    }
}

void TCallExtractor::EstimateCalls() {
  for (TCallEstimate* e : FCalls) FFree.push_back(e);
  FCalls.clear();
  FBestCall = nullptr;
  for (int k = 0; k < FWordCount; ++k) Word(k).UsedIn = nullptr;

  // One candidate per call word, newest first.
  const TCharInfoArray& chars = FMsg->Chars();
  const int64_t dump = FMsg->DumpCount();
  for (int k = FWordCount - 1; k >= 0; --k) {
    const TWordEntry& w = Word(k);
    if (w.Kind != ctCall) continue;
    TCallEstimate* e = NewEstimate();
    e->CallWords.push_back(&w);
    e->Txt.assign(w.Txt, 0, std::min(w.Txt.size(), TCallEstimate::kMaxTxtLen));
    CopyWordChars(chars.data() + (w.Start - dump), static_cast<std::size_t>(w.Len), e->Chars);
    // The storage resolved their meta characters from these very bits.
    e->Resolved.assign(e->Chars.size(), true);
    e->Prob = w.Prob;
    e->Cnt = 1.0f;
    e->LastSeen = w.Start;
    FCalls.push_back(e);
  }
  if (FCalls.empty()) return;

  // Equal texts side by side; among them the newer first, as they were.
  std::sort(FCalls.begin(), FCalls.end(), [](const TCallEstimate* a, const TCallEstimate* b) {
    if (a->Txt != b->Txt) return a->Txt < b->Txt;
    return a->LastSeen > b->LastSeen;
  });

  // Equal texts are the same call heard again.
  for (std::size_t k = FCalls.size() - 1; k > 0; --k) {
    TCallEstimate& cur = *FCalls[k];
    TCallEstimate& prev = *FCalls[k - 1];
    if (prev.Txt != cur.Txt) continue;
    MergeEstimate(cur, prev, kAlignStart);
    cur.Cnt += prev.Cnt;
    DeleteCall(k - 1);
  }

  MergeSimilar(true);
  for (TCallEstimate* e : FCalls) EvaluateEstimate(*e);
  if (OnDebug) OnDebug(*this);
  MergeSimilar(false);

  for (TCallEstimate* e : FCalls)
    for (const TWordEntry* w : e->CallWords) const_cast<TWordEntry*>(w)->UsedIn = e;

  for (int k = FWordCount - 1; k >= 0; --k) {
    const TWordEntry& w = Word(k);
    if (w.Txt == "DE" || w.Kind == ctCQ) MarkCqDe(k);
  }

  for (TCallEstimate* e : FCalls) {
    EvaluateEstimate(*e);
    e->Score = ScoreEstimate(*e);
  }
  std::sort(FCalls.begin(), FCalls.end(),
            [](const TCallEstimate* a, const TCallEstimate* b) { return a->LastSeen > b->LastSeen; });
}

void TCallExtractor::MarkCqDe(int i) {
  const TWordEntry& w = Word(i);
  if (static_cast<double>(w.Prob) < kMinContextProb) return;

  if (w.Txt == "DE") {
    if (i + 1 >= FWordCount) return;
    const TWordEntry& next = Word(i + 1);
    if (!next.NewLine && next.UsedIn != nullptr && next.UsedIn->CqDe == cdNone) next.UsedIn->CqDe = cdDe;
    return;
  }

  TCallEstimate* prev = (i == 0 || w.NewLine) ? nullptr : Word(i - 1).UsedIn;
  TCallEstimate* next = nullptr;
  bool ended = false;
  int others = 0;
  for (int k = i + 1; k < FWordCount && !ended; ++k) {
    const TWordEntry& x = Word(k);
    if (x.NewLine || x.Kind == ctSquelch) {
      ended = true;
    } else if (x.Kind == ctCQ || x.Txt == "DE") {
      continue;
    } else if (x.Kind == ctCall) {
      next = x.UsedIn;
      ended = true;
    } else if (++others >= 2) {
      ended = true;
    }
  }
  if (!ended) {
    // The words ran out: the CQ call ends only when a line break follows.
    const TMessageStorage& msg = *FMsg;
    const TWordEntry& last = Word(FWordCount - 1);
    bool lineBreak = false;
    for (int64_t j = last.Start - msg.DumpCount() + last.Len; j <= msg.HiChar(); ++j)
      if (IsLineBreak(msg.Chars()[static_cast<std::size_t>(j)].CorrCh)) {
        lineBreak = true;
        break;
      }
    if (!lineBreak) return;
  }
  if (prev != nullptr && next != nullptr && prev != next) return;
  TCallEstimate* mark = next != nullptr ? next : prev;
  if (mark != nullptr) mark->CqDe = cdCQ;
}

const TCallEstimate* TCallExtractor::FindBestEstimate(bool WithCq) const {
  const TCallEstimate* best = nullptr;
  for (const TCallEstimate* e : FCalls)
    if ((e->CqDe == cdCQ) == WithCq && e->Score >= 0 && (best == nullptr || e->Score > best->Score)) best = e;
  return best;
}

void TCallExtractor::SelectBestCall() {
  const TCallEstimate* cqBest = FindBestEstimate(true);
  const TCallEstimate* best = FindBestEstimate(false);
  const TCallEstimate* chosen = cqBest;
  if (cqBest == nullptr ||
      (best != nullptr && best->Score > cqBest->Score && best->LastSeen - kCqHoldChars >= cqBest->LastSeen))
    chosen = best;
  FBestCall = const_cast<TCallEstimate*>(chosen);
  if (FBestCall == nullptr) return;
  FValdLevel = static_cast<TValdLevel>(std::min<int32_t>(FBestCall->Score, vlParanoid));
  if (!FBestCall->IsSame(OldBestCall())) FCallChanged = true;
}

}  // namespace brenvo
