// The decoded text of one signal: a window of at most 1080 character records
// (the oldest 256 dropped when it is full), with the display flags (weak,
// squelched, visible, new line) of the raw and the corrected characters.
#pragma once

#include <cstdint>
#include <string>

#include "decoder/char_info.h"

namespace brenvo {

class TMessageStorage {
 public:
  static constexpr int kCapacity = 1080;  // records in the window
  static constexpr int kDropCount = 256;  // records dropped when it is full

  TMessageStorage();

  // Empties the window (the records keep their content but are no longer valid).
  void Clear();

  // The running number of the newest record since the last Clear (-1 when empty).
  int64_t CharCnt() const { return FDumpCount + FHiChar; }
  // Index of the newest record, -1 when empty; records 0 .. HiChar() are valid, oldest first.
  int HiChar() const { return FHiChar; }
  // Records dropped from the front since the last Clear.
  int64_t DumpCount() const { return FDumpCount; }
  // The window (kCapacity records; only 0 .. HiChar() are valid).
  const TCharInfoArray& Chars() const { return FChars; }
  // Record i, 0 <= i <= HiChar(); ERangeError otherwise.
  const TCharInfo& Char(int i) const;
  // After PutCorrChars: the previous versions of the records it rewrote,
  // oldest first; their new versions are the last ChangedChars().size()
  // records. The last element is the newest record as PutRawChar stored it.
  const TCharInfoArray& ChangedChars() const { return FChangedChars; }

  // Appends the bit decoder's record as it is (flags untouched), dropping the
  // oldest 256 records first when the window is full.
  void PutRawChar(const TCharInfo& ch);
  // Applies the corrector's Msg (its last element stands for the newest
  // record): CorrCh, MetaCh and ChType, the meta character resolved from the
  // record's bits, and both flag sets of every rewritten record. Trims msg to
  // the records that exist. A meta character other than "@", "n", "p", "~"
  // raises "Unknown meta char".
  void PutCorrChars(TCharInfoArray& msg);
  // The current message: from the start of the last unsquelched stretch to
  // the newest record; empty when the storage is.
  void GetLatest(TCharInfoArray& res) const;
  // The corrected text of the word holding the newest record with this
  // SampleNo, without shift characters; "" when there is none or it is a
  // blank, punctuation or squelch record.
  void GetWordAt(int32_t sampleNo, std::string& word) const;

 private:
  void DropOldest();
  void SetRawFlags(int i);
  void SetCorrFlags(int i);

  TCharInfoArray FChars;
  TCharInfoArray FChangedChars;
  int FHiChar = -1;
  int64_t FDumpCount = 0;
};

// Never shown: line feed, carriage return, steady tone, figures and letters
// shift, incomplete character, null, silence.
bool IsInvisibleChar(uint8_t ch);

}  // namespace brenvo
