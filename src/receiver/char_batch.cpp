#include "receiver/char_batch.h"

#include <algorithm>

namespace brenvo {

void GetCharBatch(const TMessageStorage& ms, TCharInfoArray& newChars, TCharInfoArray& oldChars) {
  const TCharInfoArray& changed = ms.ChangedChars();
  // The storage trims the changes to the records it holds; stay inside it anyway.
  const int64_t n = std::min<int64_t>(static_cast<int64_t>(changed.size()), int64_t{ms.HiChar()} + 1);
  oldChars.assign(changed.begin(), changed.begin() + static_cast<std::ptrdiff_t>(std::max<int64_t>(n - 1, 0)));
  const auto first = ms.Chars().begin() + (ms.HiChar() - n + 1);
  newChars.assign(first, first + static_cast<std::ptrdiff_t>(n));
}

void GetCharBatch(const TMessageStorage& ms, TCharBatch& batch) {
  GetCharBatch(ms, batch.NewChars, batch.OldChars);
  batch.Newest = ms.CharCnt();
}

}  // namespace brenvo
