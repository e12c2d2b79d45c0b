#include "files/ini_text.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <unordered_map>

namespace brenvo {
namespace {

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

void Classify(TIniLine& line, bool first) {
  std::string_view t = line.Text;
  if (first && t.substr(0, 3) == "\xEF\xBB\xBF") t.remove_prefix(3);
  t = Trim(t);
  if (t.empty() || t[0] == ';' || t[0] == '#') return;
  if (t[0] == '[') {
    const auto close = t.find(']');
    line.Kind = TIniLineKind::Header;
    line.Name = Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return;
  }
  const auto eq = t.find('=');
  if (eq == std::string_view::npos) return;
  const std::string_view key = Trim(t.substr(0, eq));
  if (key.empty()) return;
  line.Kind = TIniLineKind::Entry;
  line.Name = key;
  line.Value = Trim(t.substr(eq + 1));
}

}  // namespace

std::string UpperIniName(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

TIniLine NextIniLine(std::string_view text, std::size_t& pos) {
  const bool first = pos == 0;
  const std::size_t end = text.find_first_of("\r\n", pos);
  TIniLine line;
  if (end == std::string_view::npos) {
    line.Text = text.substr(pos);
    pos = text.size();
  } else {
    const std::size_t next = text.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1;
    line.Text = text.substr(pos, end - pos);
    line.Break = text.substr(end, next - end);
    pos = next;
  }
  Classify(line, first);
  return line;
}

std::vector<TIniLine> SplitIniLines(std::string_view text) {
  std::vector<TIniLine> lines;
  for (std::size_t pos = 0; pos < text.size();) lines.push_back(NextIniLine(text, pos));
  return lines;
}

std::string MergeIniText(std::string_view oldText, const std::vector<TIniSectionText>& sections) {
  const std::vector<TIniLine> lines = SplitIniLines(oldText);
  const std::string_view br = !lines.empty() && !lines[0].Break.empty() ? lines[0].Break : "\n";

  // Where the sections that are written lie: the lines of each key written
  // and the place for new entries. Only those are looked for, by name, so a
  // save takes time in proportion to the file's size.
  struct TPlace {
    bool Found = false;
    std::ptrdiff_t InsertAfter = -1;                                     // -1: before line 0
    std::unordered_map<std::string, std::vector<std::size_t>> KeyLines;  // upper-cased key
  };
  std::unordered_map<std::string, TPlace> places;
  for (const TIniSectionText& section : sections) {
    TPlace& place = places[UpperIniName(section.Name)];
    for (const auto& entry : section.Entries) place.KeyLines[UpperIniName(entry.first)];
  }
  // The entries above the first header belong to the section "".
  const auto top = places.find("");
  TPlace* current = top == places.end() ? nullptr : &top->second;
  if (current) current->Found = true;
  bool firstBlock = true;  // new entries go to a section's first block
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].Kind == TIniLineKind::Header) {
      const auto it = places.find(UpperIniName(lines[i].Name));
      current = it == places.end() ? nullptr : &it->second;
      firstBlock = current && !current->Found;
      if (firstBlock) {
        current->Found = true;
        current->InsertAfter = static_cast<std::ptrdiff_t>(i);
      }
    } else if (lines[i].Kind == TIniLineKind::Entry && current) {
      if (const auto k = current->KeyLines.find(UpperIniName(lines[i].Name)); k != current->KeyLines.end())
        k->second.push_back(i);
      if (firstBlock) current->InsertAfter = static_cast<std::ptrdiff_t>(i);
    }
  }

  std::unordered_map<std::size_t, std::string> replaced;  // a new text for a line
  std::vector<bool> dropped(lines.size(), false);
  std::map<std::ptrdiff_t, std::vector<std::string>> insertions;  // new entries after a line
  std::string appended;                                           // new sections at the end

  for (const TIniSectionText& section : sections) {
    TPlace& place = places[UpperIniName(section.Name)];
    std::unordered_map<std::string, std::size_t> used;  // lines of a key taken so far
    std::vector<std::string> newLines;
    for (const auto& [key, value] : section.Entries) {
      const std::string upperKey = UpperIniName(key);
      const std::vector<std::size_t>& keyLines = place.KeyLines[upperKey];
      const std::size_t n = used[upperKey]++;
      if (n >= keyLines.size()) {
        newLines.push_back(key + "=" + value);
      } else if (const TIniLine& l = lines[keyLines[n]]; l.Name != key || l.Value != value) {
        replaced[keyLines[n]] = key + "=" + value;
      }
    }
    // Lines of a key beyond the entries it has now were overwritten away.
    for (const auto& [upperKey, count] : used) {
      const std::vector<std::size_t>& keyLines = place.KeyLines[upperKey];
      for (std::size_t j = count; j < keyLines.size(); ++j) dropped[keyLines[j]] = true;
    }
    if (newLines.empty()) continue;
    if (place.Found) {
      auto& after = insertions[place.InsertAfter];
      after.insert(after.end(), newLines.begin(), newLines.end());
    } else {
      if (!appended.empty()) appended += br;
      appended.append("[").append(section.Name).append("]").append(br);
      for (const std::string& l : newLines) appended.append(l).append(br);
    }
  }

  std::string out;
  out.reserve(oldText.size() + appended.size() + 64);
  const auto endsLine = [&] { return out.empty() || out.back() == '\n' || out.back() == '\r'; };
  // New lines end as the line before them does: a CR alone followed by the
  // next line's LF would make one line break of two.
  auto insertAfter = [&](std::ptrdiff_t i) {
    const auto it = insertions.find(i);
    if (it == insertions.end()) return;
    if (!endsLine()) out += br;
    const std::string_view b = i >= 0 && !lines[i].Break.empty() ? lines[i].Break : br;
    for (const std::string& l : it->second) out.append(l).append(b);
  };
  insertAfter(-1);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (dropped[i]) {
      // Its break stays after a CR alone, for the same reason.
      if (!out.empty() && out.back() == '\r') out += lines[i].Break;
    } else {
      const auto r = replaced.find(i);
      if (r == replaced.end())
        out += lines[i].Text;
      else if (i == 0 && lines[0].Text.substr(0, 3) == "\xEF\xBB\xBF")
        out.append("\xEF\xBB\xBF").append(r->second);
      else
        out += r->second;
      out += lines[i].Break;
    }
    insertAfter(static_cast<std::ptrdiff_t>(i));
  }
  if (!appended.empty()) {
    if (!endsLine()) out += br;
    if (!out.empty()) out += br;
    out += appended;
  }
  return out;
}

}  // namespace brenvo
