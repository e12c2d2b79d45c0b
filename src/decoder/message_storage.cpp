#include "decoder/message_storage.h"

#include <algorithm>
#include <cstring>

#include "decoder/char_prob.h"
#include "decoder/message_corrector.h"
#include "dsp/errors.h"

namespace brenvo {

bool IsInvisibleChar(uint8_t ch) {
  switch (ch) {
    case kChLineFeed:
    case kChCarriageReturn:
    case kChSteadyTone:
    case kChFigures:
    case kChIncomplete:
    case kChNull:
    case kChLetters:
    case kChSilence:
      return true;
    default:
      return false;
  }
}

namespace {

bool IsToneOrSilence(uint8_t ch) { return ch == kChSteadyTone || ch == kChSilence; }

bool IsLineBreak(uint8_t ch) { return ch == kChLineFeed || ch == kChCarriageReturn; }

}  // namespace

TMessageStorage::TMessageStorage() : FChars(kCapacity) {
  FChangedChars.reserve(TRttyMessageCorrector::kHistoryLength);
  Clear();
}

void TMessageStorage::Clear() {
  FHiChar = -1;
  FDumpCount = 0;
  FChangedChars.clear();
}

const TCharInfo& TMessageStorage::Char(int i) const {
  CheckIndex(i, FHiChar + 1);
  return FChars[static_cast<std::size_t>(i)];
}

void TMessageStorage::DropOldest() {
  std::memmove(FChars.data(), FChars.data() + kDropCount,
               static_cast<std::size_t>(kCapacity - kDropCount) * sizeof(TCharInfo));
  FHiChar -= kDropCount;
  FDumpCount += kDropCount;
}

void TMessageStorage::PutRawChar(const TCharInfo& ch) {
  if (FHiChar + 1 >= kCapacity) DropOldest();
  ++FHiChar;
  FChars[static_cast<std::size_t>(FHiChar)] = ch;
}

void TMessageStorage::PutCorrChars(TCharInfoArray& msg) {
  const std::size_t have = static_cast<std::size_t>(FHiChar + 1);
  if (msg.size() > have) msg.erase(msg.begin(), msg.begin() + static_cast<std::ptrdiff_t>(msg.size() - have));
  // Checked before anything changes, so a bad record leaves the storage as it was.
  for (const TCharInfo& m : msg)
    if (m.MetaCh != 0) TRttyMessageCorrector::CheckMetaChar(m.MetaCh);
  const int first = FHiChar - static_cast<int>(msg.size()) + 1;
  FChangedChars.assign(FChars.begin() + first, FChars.begin() + FHiChar + 1);
  for (std::size_t k = 0; k < msg.size(); ++k) {
    TCharInfo& rec = FChars[static_cast<std::size_t>(first) + k];
    rec.CorrCh = msg[k].CorrCh;
    rec.MetaCh = msg[k].MetaCh;
    rec.ChType = msg[k].ChType;
    if (rec.MetaCh != 0) rec.CorrCh = TRttyMessageCorrector::FindBestMetaMatch(rec);
  }
  for (int i = first; i <= FHiChar; ++i) {
    SetRawFlags(i);
    SetCorrFlags(i);
  }
}

void TMessageStorage::SetRawFlags(int i) {
  TCharInfo& r = FChars[static_cast<std::size_t>(i)];
  r.RawFlags = {};

  bool atLineStart = false;
  for (int j = i - 1; j >= 0; --j) {
    const TCharInfo& o = FChars[static_cast<std::size_t>(j)];
    if (o.RawFlags.Has(cfNewLine)) {
      atLineStart = true;
      break;
    }
    if (o.RawFlags.Has(cfVisible) && !o.RawFlags.Has(cfSquelch) && o.RawCh != kChSpace) break;
  }

  if (CharUncertainty(r.BitProbs) > 0.2f || IsToneOrSilence(r.RawCh) || r.RawCh == kChIncomplete)
    r.RawFlags.Include(cfWeak);

  bool squelched = true;  // also when the scan runs through all five
  for (int j = i; j >= std::max(i - 4, 0); --j) {
    const TCharInfo& o = FChars[static_cast<std::size_t>(j)];
    if (IsToneOrSilence(o.RawCh)) break;
    if (!o.RawFlags.Has(cfWeak)) {
      squelched = false;
      break;
    }
  }
  if (squelched) r.RawFlags.Include(cfSquelch);

  if (!IsInvisibleChar(r.RawCh)) r.RawFlags.Include(cfVisible);

  const bool prevSquelched = i > 0 && FChars[static_cast<std::size_t>(i - 1)].RawFlags.Has(cfSquelch);
  if (i == 0 || (prevSquelched && !squelched && !atLineStart) ||
      (IsLineBreak(r.RawCh) && !squelched && !atLineStart))
    r.RawFlags.Include(cfNewLine);
}

void TMessageStorage::SetCorrFlags(int i) {
  TCharInfo& r = FChars[static_cast<std::size_t>(i)];
  r.CorrFlags = {};

  if (CharProb(r.CorrCh, r.BitProbs) < 0.9f || r.CorrCh == kChSeparator) r.CorrFlags.Include(cfWeak);

  bool inSquelch = false;
  for (int j = i - 1; j >= 0; --j) {
    const TCharFlags f = FChars[static_cast<std::size_t>(j)].CorrFlags;
    if (f.Has(cfSquelch)) {
      inSquelch = true;
      break;
    }
    if (f.Has(cfVisible)) break;
  }

  bool squelched = false;
  if (IsToneOrSilence(r.RawCh)) {
    squelched = true;
  } else if (r.MetaCh == kChSeparator) {
    if (inSquelch) {
      squelched = true;
    } else {
      // The fourth "~" in a row after visible text starts a squelched stretch.
      int count = 0;
      for (int j = i - 1; j >= 0 && count < 3; --j) {
        const TCharFlags f = FChars[static_cast<std::size_t>(j)].CorrFlags;
        if (f.Has(cfPreSquelch))
          ++count;
        else if (f.Has(cfVisible))
          break;
      }
      if (count == 3)
        squelched = true;
      else
        r.CorrFlags.Include(cfPreSquelch);
    }
  }
  if (squelched) r.CorrFlags.Include(cfSquelch);
  const bool quiet = squelched || r.CorrFlags.Has(cfPreSquelch);

  bool atLineStart = true;
  for (int j = i - 1; j >= 0; --j) {
    const TCharInfo& o = FChars[static_cast<std::size_t>(j)];
    if (o.CorrFlags.Has(cfVisible) && o.CorrCh != kChSpace && !o.CorrFlags.Has(cfSquelch)) {
      atLineStart = false;
      break;
    }
    if (o.CorrFlags.Has(cfNewLine)) break;
  }

  // No blank opens a line or follows a squelched stretch.
  const bool visible = !(IsInvisibleChar(r.CorrCh) || (quiet && IsInvisibleChar(r.RawCh)) ||
                         (r.CorrCh == kChSpace && (atLineStart || inSquelch)));
  if (visible) r.CorrFlags.Include(cfVisible);

  if (inSquelch && !quiet && !atLineStart) {
    r.CorrFlags.Include(cfNewLine);
    if (visible) r.CorrFlags.Include(cfVisNewLine);
  }
  if (!quiet && !atLineStart && IsLineBreak(r.CorrCh)) r.CorrFlags.Include(cfNewLine);
  if (!quiet && atLineStart && visible) r.CorrFlags.Include(cfVisNewLine);
}

void TMessageStorage::GetLatest(TCharInfoArray& res) const {
  res.clear();
  if (FHiChar < 0) return;
  int last = 0;
  for (int j = FHiChar; j >= 0; --j)
    if (!FChars[static_cast<std::size_t>(j)].CorrFlags.Has(cfSquelch)) {
      last = j;
      break;
    }
  int start = 0;
  for (int j = last - 1; j >= 0; --j)
    if (FChars[static_cast<std::size_t>(j)].CorrFlags.Has(cfSquelch)) {
      start = j + 1;
      break;
    }
  res.assign(FChars.begin() + start, FChars.begin() + FHiChar + 1);
}

void TMessageStorage::GetWordAt(int32_t sampleNo, std::string& word) const {
  word.clear();
  int found = -1;
  for (int j = FHiChar; j >= 0; --j)
    if (FChars[static_cast<std::size_t>(j)].SampleNo == sampleNo) {
      found = j;
      break;
    }
  if (found < 0) return;
  const TWordType type = FChars[static_cast<std::size_t>(found)].ChType;
  if (type == ctSquelch || type == ctPunc || type == ctWhiteSpace) return;
  int first = found;
  int last = found;
  while (first > 0 && FChars[static_cast<std::size_t>(first - 1)].ChType == type) --first;
  while (last < FHiChar && FChars[static_cast<std::size_t>(last + 1)].ChType == type) ++last;
  for (int j = first; j <= last; ++j) {
    const uint8_t ch = FChars[static_cast<std::size_t>(j)].CorrCh;
    if (ch != kChFigures && ch != kChLetters) word += static_cast<char>(ch);
  }
}

}  // namespace brenvo
