// The string list of the callsign code: 8-bit strings, each with an integer
// slot, optionally kept sorted in byte order, with a delimiter of its own.
//
// Only what the callsign code uses exists: the call-list loader, the pattern
// table and the "/" splitter. Case-insensitive search, reading delimited text,
// file-name lists, subtraction, duplicate removal, counting, value lookup and
// line wrapping have no user and are left out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo {

class TVuqStringList {
 public:
  // Empty, unsorted, Delimiter "|".
  TVuqStringList() = default;

  // A list of the lines of FileName (see LoadFromFile), then sorted when Sorted
  // is true. A missing or unreadable file gives an empty list and no message.
  static TVuqStringList CreateTryLoad(const std::string& FileName, bool Sorted);

  char Delimiter() const { return FDelimiter; }
  void SetDelimiter(char D) { FDelimiter = D; }

  // Replaces the contents by the items of Text. An item runs up to the next
  // Delimiter or control character (codes 0 to 31); blanks belong to items; an
  // item that starts with a double quote is a quoted string (a doubled quote
  // inside stands for one) and may hold delimiters. A leading delimiter or two
  // adjacent ones give an empty item; a delimiter at the very end gives none;
  // control characters between items are skipped.
  void SetDelimText(std::string_view Text);

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // Index 0 .. Count()-1, else ERangeError.
  const std::string& Strings(int32_t Index) const;
  int32_t Objects(int32_t Index) const;
  // Changing a string by index would break the order: unsorted lists only
  // (EBrenvoError otherwise).
  void SetStrings(int32_t Index, std::string S);
  void SetObjects(int32_t Index, int32_t Obj);

  // Appends; in a sorted list inserts at the place Find gives, and a string
  // already present is not added again (its index is returned).
  int32_t Add(std::string S) { return AddObject(std::move(S), 0); }
  int32_t AddObject(std::string S, int32_t Obj);
  void Clear() { FItems.clear(); }

  bool Sorted() const { return FSorted; }
  // Switching sorted mode on sorts the list.
  void SetSorted(bool Value);

  // Binary search in byte order (case-sensitive). Index := the first position
  // whose string is not less than S, so with equal strings the first of them.
  // Meaningful on a sorted list only.
  bool Find(std::string_view S, int32_t& Index) const;
  // Ascending byte order; equal strings keep their order.
  void Sort();

  // Replaces the contents by the lines of Text: line ends CR LF, LF or CR; a
  // leading UTF-8 byte-order mark is dropped; a final line end gives no empty
  // last line; every other byte (NUL included) passes through. Unsorted lists
  // keep the file order; sorted lists sort the lines and keep one of equal ones.
  void SetText(std::string_view Text);
  // SetText with the bytes of the file. Throws EBrenvoError when the file is
  // missing or cannot be read; the list is then left empty.
  void LoadFromFile(const std::string& FileName);

 private:
  struct TItem {
    std::string Str;
    int32_t Obj = 0;
  };
  std::vector<TItem> FItems;
  char FDelimiter = '|';
  bool FSorted = false;
};

}  // namespace brenvo
