// The batch of one character event of a receiver, as the text views and the
// JSON server take it: NewChars the last n records of the storage, OldChars
// the previous versions of all of them but the newest, n being the length
// of the storage's ChangedChars.
#pragma once

#include <cstdint>

#include "decoder/char_info.h"
#include "decoder/message_storage.h"

namespace brenvo {

struct TCharBatch {
  TCharInfoArray NewChars;
  TCharInfoArray OldChars;
  // The running number (TMessageStorage::CharCnt) of the newest record.
  int64_t Newest = -1;
};

// Fills both arrays (their storage is reused: nothing is allocated once they
// have grown).
void GetCharBatch(const TMessageStorage& Ms, TCharInfoArray& NewChars, TCharInfoArray& OldChars);
// The same for a whole batch, its Newest included.
void GetCharBatch(const TMessageStorage& Ms, TCharBatch& Batch);

}  // namespace brenvo
