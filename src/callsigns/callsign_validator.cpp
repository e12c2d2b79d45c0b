#include "callsigns/callsign_validator.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "callsigns/callsign_pattern_splitter.h"
#include "callsigns/master_dta.h"
#include "files/data_file.h"
#include "files/data_folders.h"

namespace brenvo {

std::unique_ptr<TCallsignValidator> CallValidator;

namespace {

std::string WithSlash(std::string Folder) {
  if (!Folder.empty() && Folder.back() != '/') Folder += '/';
  return Folder;
}

// The top bit of every byte of x that is 0, and no other bit: a byte's top
// bit stays clear only when the byte is 0 (no carries cross bytes: each low
// seven bits plus 7F stays below 100).
constexpr uint64_t ZeroBytes(uint64_t x) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
  return ~(((x & kLow7) + kLow7) | x | kLow7);
}

// Calls f(b, e) for every call data[b .. e-1] in [begin, end): each stretch
// that a byte 00 ends, then a last one without it when not empty. The calls
// are a few bytes long: a word of eight bytes at a time marks its zero
// bytes, where a library search per call would cost more than the call.
template <class F>
void ForEachCall(const char* data, std::size_t begin, std::size_t end, F f) {
  std::size_t start = begin;
  const auto endsAt = [&](std::size_t zero) {
    f(start, zero);
    start = zero + 1;
  };
  std::size_t i = begin;
  if constexpr (std::endian::native == std::endian::little) {
    for (; end - i >= 8; i += 8) {
      uint64_t x;
      std::memcpy(&x, data + i, 8);
      for (uint64_t zeros = ZeroBytes(x); zeros != 0; zeros &= zeros - 1)
        endsAt(i + static_cast<std::size_t>(std::countr_zero(zeros)) / 8);
    }
  }
  for (; i < end; ++i)
    if (data[i] == '\0') endsAt(i);
  if (start < end) f(start, end);
}

}  // namespace

TCallsignValidator::TCallsignValidator() {
  Load(GetReferenceFolder(), GetUserDataFolder());
}

TCallsignValidator::TCallsignValidator(const std::string& ReferenceFolder,
                                       const std::string& UserDataFolder) {
  Load(WithSlash(ReferenceFolder), WithSlash(UserDataFolder));
}

void TCallsignValidator::Load(const std::string& ReferenceFolder,
                              const std::string& UserDataFolder) {
  // Later files override earlier ones for the same call: black beats watch
  // beats the database.
  Ch3.LoadFromFile(ReferenceFolder + kPatt3ChFileName);
  LoadMasterDta(ReferenceFolder + kMasterDtaFileName);
  LoadCallList(UserDataFolder + kWatchListFileName, vrWatch);
  LoadCallList(ReferenceFolder + kBlackListFileName, vrError);
}

uint64_t TCallsignValidator::HeadOf(std::string_view key) {
  unsigned char bytes[8] = {};
  std::memcpy(bytes, key.data(), std::min<std::size_t>(key.size(), 8));
  uint64_t head;
  std::memcpy(&head, bytes, 8);
  return std::endian::native == std::endian::little ? __builtin_bswap64(head) : head;
}

bool TCallsignValidator::KeyLess(const TEntry& a, const TEntry& b) const {
  return a.Head != b.Head ? a.Head < b.Head : Key(a) < Key(b);
}

bool TCallsignValidator::Less(const TEntry& a, const TEntry& b) const {
  if (a.Head != b.Head) return a.Head < b.Head;
  if (const int c = Key(a).compare(Key(b)); c != 0) return c < 0;
  return a.Offset < b.Offset;
}

inline uint64_t TCallsignValidator::HeadAt(std::size_t offset, std::size_t length) const {
  if (std::endian::native != std::endian::little || Keys.size() - offset < 8)
    return HeadOf(std::string_view(Keys).substr(offset, length));
  // Eight bytes are there to read: the call's own, the rest masked off.
  uint64_t head;
  std::memcpy(&head, Keys.data() + offset, 8);
  if (length < 8) head &= (uint64_t{1} << (8 * length)) - 1;
  return __builtin_bswap64(head);
}

void TCallsignValidator::Add(std::size_t offset, std::size_t length, TValdResult result) {
  List.push_back({HeadAt(offset, length), static_cast<uint32_t>(offset), static_cast<uint32_t>(length),
                  static_cast<uint32_t>(result)});
}

void TCallsignValidator::MergeNewEntries(std::size_t first, bool ascending) {
  if (first == List.size()) return;
  const auto less = [this](const TEntry& a, const TEntry& b) { return Less(a, b); };
  const auto mid = List.begin() + static_cast<std::ptrdiff_t>(first);
  if (!ascending) {
    // A database with a few calls appended sorts only those.
    const auto sorted = std::is_sorted_until(mid, List.end(), less);
    std::sort(sorted, List.end(), less);
    std::inplace_merge(mid, sorted, List.end(), less);
  }
  // Strictly ascending into an empty table: each key is there once, in order.
  if (first == 0 && ascending) return;
  std::inplace_merge(List.begin(), mid, List.end(), less);
  // Keep the last entered of each run of equal keys.
  const auto kept = std::unique(List.rbegin(), List.rend(), [this](const TEntry& a, const TEntry& b) {
    return a.Head == b.Head && Key(a) == Key(b);
  });
  List.erase(List.begin(), kept.base());
}

void TCallsignValidator::LoadMasterDta(const std::string& FileName) {
  const std::string path =
      ResolveFileNoCase(FileName.empty() ? GetReferenceFolder() + "Master.dta" : FileName);
  std::string bytes;
  if (!ReadFileBytes(path, bytes) || bytes.size() <= kMasterDtaHeaderSize) return;
  if (bytes.size() > kMaxKeysSize - Keys.size()) return;
  // The calls are entered where they stand in the file's bytes; the
  // database, loaded first, becomes the key block itself.
  const std::size_t base = Keys.size() + kMasterDtaHeaderSize;
  if (Keys.empty())
    Keys = std::move(bytes);
  else
    Keys += bytes;
  // Upper-casing touches letters only, so the whole block at once gives each
  // trimmed call what upper-casing it alone would.
  UpperCaseAscii(std::span<char>(Keys).subspan(base));
  // Loaded before anything else, a database in table order (scp_to_dta
  // writes it so) is searched where it stands, without a table.
  if (List.empty() && FDbCount == 0 && TakeSortedDatabase(base)) return;
  const std::size_t first = List.size();
  // Room for the most calls the bytes can hold but for empty ones (which
  // take no entry): the vector never moves, and the pages of the room left
  // over are never touched.
  List.reserve(first + (Keys.size() - base) / 2 + 1);
  const char* data = Keys.data();
  // A database in table order is entered without sorting or merging.
  bool ascending = true;
  auto enter = [&](std::size_t b, std::size_t e) {
    while (b < e && IsTrimmedChar(static_cast<unsigned char>(data[b]))) ++b;
    while (e > b && IsTrimmedChar(static_cast<unsigned char>(data[e - 1]))) --e;
    if (b == e || e - b > kMaxKeyLength) return;
    const TEntry entry{HeadAt(b, e - b), static_cast<uint32_t>(b), static_cast<uint32_t>(e - b), vrDta};
    // The heads order almost every pair without a look at the keys.
    if (List.size() > first && entry.Head <= List.back().Head)
      ascending = ascending && KeyLess(List.back(), entry);
    List.push_back(entry);
  };
  ForEachCall(data, base, Keys.size(), enter);
  MergeNewEntries(first, ascending);
}

bool TCallsignValidator::TakeSortedDatabase(std::size_t base) {
  const char* data = Keys.data();
  const std::size_t end = Keys.size();
  // Room for a mark per kDbStride of the most calls the bytes can hold, so
  // that the marks never move (the room left over is never paged in).
  FDbMarks.reserve((end - base) / (2 * kDbStride) + 1);
  // Every call must stand trimmed, each after the one before in key order.
  std::size_t count = 0, prev = 0, prevLength = 0;
  uint64_t prevHead = 0;
  bool sorted = true;
  auto check = [&](std::size_t b, std::size_t e) {
    if (!sorted) return;
    const std::size_t length = e - b;
    if (length == 0 || length > kMaxKeyLength || IsTrimmedChar(static_cast<unsigned char>(data[b])) ||
        IsTrimmedChar(static_cast<unsigned char>(data[e - 1]))) {
      sorted = false;
      return;
    }
    const uint64_t head = HeadAt(b, length);
    if (count > 0 && head <= prevHead)
      sorted = head == prevHead && std::string_view(data + prev, prevLength) < std::string_view(data + b, length);
    if (count % kDbStride == 0) FDbMarks.push_back({head, static_cast<uint32_t>(b)});
    prev = b;
    prevLength = length;
    prevHead = head;
    ++count;
  };
  ForEachCall(data, base, end, check);
  if (!sorted || count == 0) {
    FDbMarks = {};
    return false;
  }
  FDbEnd = end;
  FDbCount = count;
  return true;
}

bool TCallsignValidator::InDatabase(std::string_view call) const {
  const char* data = Keys.data();
  const auto keyAt = [&](std::size_t b) {
    std::size_t e = b;
    while (e < FDbEnd && data[e] != '\0') ++e;
    return std::string_view(data + b, e - b);
  };
  // The last mark not after the call: the call is among its stretch of
  // calls, if the database holds it at all.
  const uint64_t head = HeadOf(call);
  const auto after = std::upper_bound(FDbMarks.begin(), FDbMarks.end(), call, [&](std::string_view c, const TDbMark& m) {
    return head != m.Head ? head < m.Head : c < keyAt(m.Offset);
  });
  if (after == FDbMarks.begin()) return false;
  std::size_t b = std::prev(after)->Offset;
  for (std::size_t i = 0; i < kDbStride && b < FDbEnd; ++i) {
    // A call shorter than eight bytes ends within the word at its start (a
    // byte 00 there, inside the database): its head alone orders it.
    if (std::endian::native == std::endian::little && FDbEnd - b >= 8) {
      uint64_t x;
      std::memcpy(&x, data + b, 8);
      if (const uint64_t zeros = ZeroBytes(x); zeros != 0) {
        const std::size_t length = static_cast<std::size_t>(std::countr_zero(zeros)) / 8;  // 1 .. 7
        const uint64_t h = __builtin_bswap64(x & ((uint64_t{1} << (8 * length)) - 1));
        if (h != head) {
          if (h > head) return false;
          b += length + 1;
          continue;
        }
      }
    }
    const std::string_view key = keyAt(b);
    const int c = key.compare(call);
    if (c >= 0) return c == 0;
    b += key.size() + 1;
  }
  return false;
}

std::size_t TCallsignValidator::ListCount() const {
  // The lists' calls that the database holds as well count once.
  std::size_t both = 0;
  if (FDbCount > 0)
    for (const TEntry& e : List) both += InDatabase(Key(e)) ? 1 : 0;
  return List.size() + FDbCount - both;
}

void TCallsignValidator::LoadCallList(const std::string& FileName, TValdResult Result) {
  AddCallList(TVuqStringList::CreateTryLoad(ResolveFileNoCase(FileName), true), Result);
}

void TCallsignValidator::AddCallList(const TVuqStringList& Lines, TValdResult Result) {
  const std::size_t first = List.size();
  for (int32_t i = 0; i < Lines.Count(); ++i) {
    const std::string_view line = TrimBlanks(Lines.Strings(i));
    const std::string_view key = line.substr(0, line.find(' '));
    if (key.size() < 3 || key.front() == '/') continue;
    if (key.size() > kMaxKeyLength || key.size() > kMaxKeysSize - Keys.size()) continue;
    Keys += key;
    UpperCaseAscii(std::span<char>(Keys).last(key.size()));
    Add(Keys.size() - key.size(), key.size(), Result);
  }
  MergeNewEntries(first);
}

TValdResult TCallsignValidator::Validate(std::string_view Call) const {
  if (Call.size() < 3) return vrError;
  const uint64_t head = HeadOf(Call);
  const auto it = std::lower_bound(List.begin(), List.end(), Call, [&](const TEntry& e, std::string_view c) {
    return e.Head != head ? e.Head < head : Key(e) < c;
  });
  if (it != List.end() && it->Head == head && Key(*it) == Call) return static_cast<TValdResult>(it->Result);
  // The lists came after the database and override it.
  if (FDbCount > 0 && InDatabase(Call)) return vrDta;
  // One splitter per thread, reused, so that rating allocates nothing in
  // steady state and stays safe to call from any thread.
  thread_local TCallsignPatternSplitter splitter;
  if (!splitter.Split(Call)) return vrError;
  const std::string base = splitter.BaseCall();
  if (!IsItuPrefix(base)) return vrError;
  return Ch3.Validate(base);
}

}  // namespace brenvo
