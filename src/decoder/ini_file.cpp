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

}  // namespace

struct TIniFile::Impl {
  // Not UTF-8 (bytes stay bytes), duplicate keys kept, no multi-line values.
  CSimpleIniA Ini{false, true, false};
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
  FImpl->Ini.SetValue(OneLine(section).c_str(), OneLine(key).c_str(), OneLine(value).c_str(), nullptr, true);
}

void TIniFile::UpdateFile() const {
  if (FImpl->Ini.SaveFile(FFileName.c_str(), false) < 0)
    throw EBrenvoError("Cannot write the file " + FFileName);
}

}  // namespace brenvo
