#include "callsigns/vuq_string_list.h"

#include <algorithm>

#include "dsp/errors.h"
#include "files/data_file.h"

namespace brenvo {
namespace {

// NUL counts as a control character too: otherwise an embedded NUL would end
// an empty item without being consumed and the parse would never finish.
bool IsControl(char c) {
  return static_cast<unsigned char>(c) < 0x20;
}

// Reads the quoted string that starts at Text[Pos] (a double quote) and moves
// Pos past its closing quote, or to the end when there is none.
std::string ExtractQuoted(std::string_view Text, std::size_t& Pos) {
  std::string s;
  ++Pos;
  while (Pos < Text.size()) {
    const char c = Text[Pos++];
    if (c != '"') {
      s += c;
    } else if (Pos < Text.size() && Text[Pos] == '"') {
      s += '"';
      ++Pos;
    } else {
      break;
    }
  }
  return s;
}

}  // namespace

TVuqStringList TVuqStringList::CreateTryLoad(const std::string& FileName, bool Sorted) {
  TVuqStringList list;
  try {
    list.LoadFromFile(FileName);
  } catch (const EBrenvoError&) {
    // An unreadable list is as good as a missing one: start without it.
    list.Clear();
  }
  list.SetSorted(Sorted);
  return list;
}

void TVuqStringList::SetDelimText(std::string_view Text) {
  Clear();
  std::size_t p = 0;
  const std::size_t n = Text.size();
  auto skipControls = [&] {
    while (p < n && IsControl(Text[p])) ++p;
  };
  skipControls();
  while (p < n) {
    if (Text[p] == '"') {
      Add(ExtractQuoted(Text, p));
    } else {
      const std::size_t start = p;
      while (p < n && Text[p] != FDelimiter && !IsControl(Text[p])) ++p;
      Add(std::string(Text.substr(start, p - start)));
    }
    skipControls();
    if (p < n && Text[p] == FDelimiter) {
      ++p;
      skipControls();
    }
  }
}

const std::string& TVuqStringList::Strings(int32_t Index) const {
  CheckIndex(Index, Count());
  return FItems[static_cast<std::size_t>(Index)].Str;
}

int32_t TVuqStringList::Objects(int32_t Index) const {
  CheckIndex(Index, Count());
  return FItems[static_cast<std::size_t>(Index)].Obj;
}

void TVuqStringList::SetStrings(int32_t Index, std::string S) {
  if (FSorted) throw EBrenvoError("Operation not allowed on sorted list");
  CheckIndex(Index, Count());
  FItems[static_cast<std::size_t>(Index)].Str = std::move(S);
}

void TVuqStringList::SetObjects(int32_t Index, int32_t Obj) {
  CheckIndex(Index, Count());
  FItems[static_cast<std::size_t>(Index)].Obj = Obj;
}

int32_t TVuqStringList::AddObject(std::string S, int32_t Obj) {
  if (!FSorted) {
    FItems.push_back({std::move(S), Obj});
    return Count() - 1;
  }
  int32_t index = 0;
  if (Find(S, index)) return index;
  FItems.insert(FItems.begin() + index, TItem{std::move(S), Obj});
  return index;
}

void TVuqStringList::SetSorted(bool Value) {
  if (Value && !FSorted) Sort();
  FSorted = Value;
}

bool TVuqStringList::Find(std::string_view S, int32_t& Index) const {
  // std::string_view compares bytes as unsigned char, i.e. by character code.
  int32_t lo = 0;
  int32_t hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    const int32_t mid = lo + (hi - lo) / 2;
    const int c = std::string_view(FItems[static_cast<std::size_t>(mid)].Str).compare(S);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) found = true;
    }
  }
  Index = lo;
  return found;
}

void TVuqStringList::Sort() {
  std::stable_sort(FItems.begin(), FItems.end(),
                   [](const TItem& a, const TItem& b) { return a.Str < b.Str; });
}

void TVuqStringList::SetText(std::string_view Text) {
  Clear();
  if (Text.substr(0, 3) == "\xEF\xBB\xBF") Text.remove_prefix(3);
  const bool sorted = FSorted;
  FSorted = false;  // append in file order, sort once at the end
  std::size_t p = 0;
  while (p < Text.size()) {
    const std::size_t start = p;
    while (p < Text.size() && Text[p] != '\r' && Text[p] != '\n') ++p;
    Add(std::string(Text.substr(start, p - start)));
    if (p < Text.size() && Text[p] == '\r') ++p;
    if (p < Text.size() && Text[p] == '\n') ++p;
  }
  if (sorted) {
    // As if each line had been added to the sorted list: the first of equal
    // lines stays, the others are not added.
    Sort();
    FItems.erase(std::unique(FItems.begin(), FItems.end(),
                             [](const TItem& a, const TItem& b) { return a.Str == b.Str; }),
                 FItems.end());
    FSorted = true;
  }
}

void TVuqStringList::LoadFromFile(const std::string& FileName) {
  Clear();
  std::string bytes;
  if (!ReadFileBytes(FileName, bytes)) throw EBrenvoError("Cannot open file \"" + FileName + "\"");
  SetText(bytes);
}

}  // namespace brenvo
