#include "files/ini_file.h"

#include <algorithm>
#include <unordered_map>

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
std::string Unquoted(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  return std::string(v);
}

}  // namespace

struct TIniFile::Impl {
  // The file as read, and its lines as the save will see them.
  std::string Text;
  std::vector<TIniLine> Lines;
  // Each section name once, in file order (the spelling of its first
  // header), with the entry lines of every block of that name.
  struct TSection {
    std::string_view Name;
    std::vector<const TIniLine*> Entries;
  };
  std::vector<TSection> Sections;
  std::unordered_map<std::string, std::size_t> Index;  // upper-cased name
  // What the save merges into the file: each key written, its last value.
  std::vector<TIniSectionText> Writes;

  TSection* Find(std::string_view name) {
    const auto it = Index.find(UpperIniName(name));
    return it == Index.end() ? nullptr : &Sections[it->second];
  }
  // The first entry Key in Section.
  const TIniLine* FindEntry(std::string_view section, std::string_view key);
  TSection& FindOrAdd(std::string_view name) {
    const auto [it, added] = Index.try_emplace(UpperIniName(name), Sections.size());
    if (added) Sections.push_back({name, {}});
    return Sections[it->second];
  }
};

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)), FImpl(std::make_unique<Impl>()) {
  TFileBytes f = ReadFileGuarded(FFileName, kMaxIniFileBytes);
  FReadError = std::move(f.Error);
  FImpl->Text = std::move(f.Bytes);
  FImpl->Lines = SplitIniLines(FImpl->Text);
  // Entries above the first header belong to the section "".
  std::string_view current;
  for (const TIniLine& line : FImpl->Lines) {
    if (line.Kind == TIniLineKind::Header) {
      current = line.Name;
      FImpl->FindOrAdd(current);
    } else if (line.Kind == TIniLineKind::Entry) {
      FImpl->FindOrAdd(current).Entries.push_back(&line);
    }
  }
}

TIniFile::~TIniFile() = default;

const TIniLine* TIniFile::Impl::FindEntry(std::string_view section, std::string_view key) {
  if (const TSection* s = Find(section))
    for (const TIniLine* e : s->Entries)
      if (EqualNoCaseAscii(e->Name, key)) return e;
  return nullptr;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  const TIniLine* e = FImpl->FindEntry(section, key);
  return e ? Unquoted(e->Value) : defaultValue;
}

bool TIniFile::KeyExists(const std::string& section, const std::string& key) const {
  return FImpl->FindEntry(section, key) != nullptr;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSection(const std::string& section) const {
  std::vector<std::pair<std::string, std::string>> result;
  if (const Impl::TSection* s = FImpl->Find(section)) {
    result.reserve(s->Entries.size());
    for (const TIniLine* e : s->Entries) result.emplace_back(e->Name, Unquoted(e->Value));
  }
  return result;
}

std::vector<std::string> TIniFile::ReadSectionNames() const {
  std::vector<std::string> result;
  for (const Impl::TSection& s : FImpl->Sections) result.emplace_back(s.Name);
  return result;
}

bool TIniFile::SectionExists(const std::string& section) const { return FImpl->Find(section) != nullptr; }

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
