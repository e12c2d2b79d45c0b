#include "decoder/ini_file.h"

// Bytes are stored as they are: no wide-character conversion layer.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string_view>
#include <tuple>

#include "decoder/file_replace.h"
#include "decoder/ini_text.h"
#include "dsp/errors.h"

namespace brenvo {

namespace {

// A section header ends at the end of its line, "]" or not, as Windows reads
// it: the parser would otherwise run an unclosed name on into the next line,
// and every save would write that name back changed.
std::string CloseSectionHeaders(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t eol = text.find_first_of("\r\n", pos);
    if (eol == std::string::npos) eol = text.size();
    const std::string_view line(text.data() + pos, eol - pos);
    out.append(line);
    const std::size_t first = line.find_first_not_of(" \t");
    if (first != std::string_view::npos && line[first] == '[' && line.find(']', first) == std::string_view::npos)
      out += ']';
    if (eol < text.size()) out += text[eol];
    pos = eol + 1;
  }
  return out;
}

// Names and values are single lines: a line break written into one would
// turn the rest of it into another entry when the file is read again.
std::string OneLine(std::string s) {
  std::replace_if(s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return (x >= 'a' && x <= 'z' ? x - 'a' + 'A' : x) == (y >= 'a' && y <= 'z' ? y - 'a' + 'A' : y);
  });
}

}  // namespace

struct TIniFile::Impl {
  // Not UTF-8 (bytes stay bytes), duplicate keys kept, no multi-line values.
  CSimpleIniA Ini{false, true, false};
  // What the save merges into the file: each key written, its last value.
  std::vector<TIniSectionText> Writes;
};

TIniFile::TIniFile(std::string fileName) : FFileName(std::move(fileName)), FImpl(std::make_unique<Impl>()) {
  FImpl->Ini.SetSpaces(false);
  std::ifstream in(FFileName, std::ios::binary);
  if (!in) return;  // missing file: stays empty
  std::ostringstream text;
  text << in.rdbuf();
  FImpl->Ini.LoadData(CloseSectionHeaders(text.str()));
}

TIniFile::~TIniFile() = default;

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
  // With duplicate keys GetValue answers the first one.
  bool multiple = false;
  const char* v = FImpl->Ini.GetValue(section.c_str(), key.c_str(), nullptr, &multiple);
  return v ? std::string(v) : defaultValue;
}

std::vector<std::pair<std::string, std::string>> TIniFile::ReadSection(const std::string& section) const {
  std::vector<std::tuple<int, std::string, std::string>> entries;
  if (const auto* keys = FImpl->Ini.GetSection(section.c_str())) {
    for (const auto& [key, value] : *keys) entries.emplace_back(key.nOrder, key.pItem, value ? value : "");
  }
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
  std::vector<std::pair<std::string, std::string>> result;
  result.reserve(entries.size());
  for (auto& e : entries) result.emplace_back(std::move(std::get<1>(e)), std::move(std::get<2>(e)));
  return result;
}

std::vector<std::string> TIniFile::ReadSectionNames() const {
  CSimpleIniA::TNamesDepend names;
  FImpl->Ini.GetAllSections(names);
  names.sort(CSimpleIniA::Entry::LoadOrder());
  std::vector<std::string> result;
  for (const auto& n : names) result.emplace_back(n.pItem);
  return result;
}

bool TIniFile::SectionExists(const std::string& section) const {
  return FImpl->Ini.SectionExists(section.c_str());
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  const std::string s = OneLine(section), k = OneLine(key), v = OneLine(value);
  FImpl->Ini.SetValue(s.c_str(), k.c_str(), v.c_str(), nullptr, true);
  auto& writes = FImpl->Writes;
  auto sec = std::find_if(writes.begin(), writes.end(), [&](const auto& w) { return EqualNoCase(w.Name, s); });
  if (sec == writes.end()) sec = writes.insert(writes.end(), {s, {}});
  auto& entries = sec->Entries;
  const auto e = std::find_if(entries.begin(), entries.end(), [&](const auto& w) { return EqualNoCase(w.first, k); });
  if (e == entries.end())
    entries.emplace_back(k, v);
  else
    *e = {k, v};
}

void TIniFile::UpdateFile() const {
  // The file as it is now keeps every line but the entries written, and a
  // failed write leaves it as it was.
  std::string old;
  try {
    old = ReadFileBytes(FFileName);
  } catch (const EBrenvoError&) {
    throw EBrenvoError("Cannot write the file " + FFileName);
  }
  WriteFileReplacing(FFileName, MergeIniText(old, FImpl->Writes));
}

}  // namespace brenvo
