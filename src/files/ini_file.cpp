#include "files/ini_file.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>

#include "dsp/errors.h"
#include "files/data_file.h"
#include "files/file_replace.h"
#include "files/ini_text.h"

namespace brenvo {

namespace {

// Names and values are single lines: a line break written into one would
// turn the rest of it into another entry when the file is read again.
std::string OneLine(std::string s) {
  std::replace_if(s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return s;
}

// A value reads as Windows' profile reads give it: one matching pair of
// double or single quotes around it is taken off.
std::string_view Unquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return v;
}

}  // namespace

struct TIniFile::Impl {
  // The file as read.
  std::string Text;
  // An entry's key and value by where they stand in Text (a file is at most
  // kMaxIniFileBytes long): half the room of two views.
  struct TEntry {
    uint32_t NameAt, NameSize, ValueAt, ValueSize;
  };
  // Every entry in file order, and each header with the entries below it;
  // the entries above the first header make a block of the section "".
  // Lines that are no entry are not kept, and sections are looked up by
  // going through the headers, so that a file of millions of comments,
  // blank lines or headers takes little more room and time than its bytes.
  struct TBlock {
    std::string_view Name;
    uint32_t Begin, End;  // its entries
  };
  std::vector<TEntry> Entries;
  std::vector<TBlock> Blocks;
  // What the save merges into the file: each key written, its last value.
  std::vector<TIniSectionText> Writes;

  std::string_view Name(const TEntry& e) const { return std::string_view(Text).substr(e.NameAt, e.NameSize); }
  std::string_view Value(const TEntry& e) const {
    return Unquoted(std::string_view(Text).substr(e.ValueAt, e.ValueSize));
  }
  // F(entry) for every entry of Section, in file order, until F returns true.
  template <class F>
  void ForSection(std::string_view section, F&& f) const {
    for (const TBlock& b : Blocks)
      if (EqualNoCaseAscii(b.Name, section))
        for (uint32_t i = b.Begin; i < b.End; ++i)
          if (f(Entries[i])) return;
  }
  // The first entry Key in Section.
  const TEntry* FindEntry(std::string_view section, std::string_view key) const {
    const TEntry* found = nullptr;
    ForSection(section, [&](const TEntry& e) {
      if (!EqualNoCaseAscii(Name(e), key)) return false;
      found = &e;
      return true;
    });
    return found;
  }
};

static_assert(kMaxIniFileBytes <= UINT32_MAX, "entries are kept by 32-bit offsets");

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)), FImpl(std::make_unique<Impl>()) {
  TFileBytes f = ReadFileGuarded(FFileName, kMaxIniFileBytes);
  FReadError = std::move(f.Error);
  FImpl->Text = std::move(f.Bytes);
  const std::string_view text = FImpl->Text;
  const auto at = [&](std::string_view v) { return v.empty() ? 0u : static_cast<uint32_t>(v.data() - text.data()); };
  auto& blocks = FImpl->Blocks;
  auto& entries = FImpl->Entries;
  for (std::size_t pos = 0; pos < text.size();) {
    const TIniLine line = NextIniLine(text, pos);
    if (line.Kind == TIniLineKind::Header) {
      blocks.push_back({line.Name, static_cast<uint32_t>(entries.size()), static_cast<uint32_t>(entries.size())});
    } else if (line.Kind == TIniLineKind::Entry) {
      if (blocks.empty()) blocks.push_back({"", 0, 0});
      entries.push_back({at(line.Name), static_cast<uint32_t>(line.Name.size()), at(line.Value),
                         static_cast<uint32_t>(line.Value.size())});
      blocks.back().End = static_cast<uint32_t>(entries.size());
    }
  }
}

TIniFile::~TIniFile() = default;

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  const Impl::TEntry* e = FImpl->FindEntry(section, key);
  return e ? std::string(FImpl->Value(*e)) : defaultValue;
}

bool TIniFile::KeyExists(const std::string& section, const std::string& key) const {
  return FImpl->FindEntry(section, key) != nullptr;
}

void TIniFile::ForEachEntry(const std::string& section,
                            const std::function<void(std::string_view, std::string_view)>& f) const {
  FImpl->ForSection(section, [&](const Impl::TEntry& e) {
    f(FImpl->Name(e), FImpl->Value(e));
    return false;
  });
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSection(const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> result;
  ForEachEntry(section, [&](std::string_view key, std::string_view value) { result.emplace_back(key, value); });
  return result;
}

std::vector<std::string> TIniFile::ReadSectionNames(std::size_t max) const {
  // Each name once, spelt as its first header; only the names given are
  // remembered, so that the first few of millions cost little.
  std::vector<std::string> result;
  std::unordered_set<std::string> seen;  // upper-cased
  for (std::size_t i = 0; i < FImpl->Blocks.size() && result.size() < max; ++i)
    if (seen.insert(UpperIniName(FImpl->Blocks[i].Name)).second) result.emplace_back(FImpl->Blocks[i].Name);
  return result;
}

bool TIniFile::SectionExists(const std::string& section) const {
  return std::any_of(FImpl->Blocks.begin(), FImpl->Blocks.end(),
                     [&](const Impl::TBlock& b) { return EqualNoCaseAscii(b.Name, section); });
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  const std::string s = OneLine(section), k = OneLine(key), v = OneLine(value);
  auto& writes = FImpl->Writes;
  auto sec = std::find_if(writes.begin(), writes.end(), [&](const auto& w) { return EqualNoCaseAscii(w.Name, s); });
  if (sec == writes.end()) sec = writes.insert(writes.end(), {s, {}});
  auto& entries = sec->Entries;
  const auto e =
      std::find_if(entries.begin(), entries.end(), [&](const auto& w) { return EqualNoCaseAscii(w.first, k); });
  if (e == entries.end())
    entries.emplace_back(k, v);
  else
    *e = {k, v};
}

void TIniFile::UpdateFile() const {
  // The file as it is now keeps every line but the entries written, and a
  // failed write leaves it as it was. A file that was not read, then or now,
  // holds what nobody has seen: it is not written over.
  TFileBytes old = ReadFileGuarded(FFileName, kMaxIniFileBytes);
  const std::string& error = FReadError.empty() ? old.Error : FReadError;
  if (!error.empty()) throw EFileError("Cannot write the file " + FFileName + ": " + error, error);
  WriteFileReplacing(FFileName, MergeIniText(old.Bytes, FImpl->Writes));
}

}  // namespace brenvo
