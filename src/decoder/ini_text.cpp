#include "decoder/ini_text.h"

#include <cstddef>
#include <cstdint>
#include <map>

namespace brenvo {
namespace {

enum class TLineKind { Other, Header, Entry };

struct TLine {
  std::string_view Text;   // without its line break
  std::string_view Break;  // "\n", "\r\n" or "" on the last line
  TLineKind Kind = TLineKind::Other;
  std::string Name;        // header: the section; entry: the key
  std::string_view Value;  // entry: the value, trimmed
};

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

std::string Upper(std::string_view s) {
  std::string u(s);
  for (char& c : u)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return u;
}

// Reads a line as the file reader does: a header ends at "]" or at the end
// of its line; ";" and "#" start comments; an entry needs a key before "=".
void Classify(TLine& line, bool first) {
  std::string_view t = line.Text;
  if (first && t.substr(0, 3) == "\xEF\xBB\xBF") t.remove_prefix(3);
  t = Trim(t);
  if (t.empty() || t[0] == ';' || t[0] == '#') return;
  if (t[0] == '[') {
    const auto close = t.find(']');
    line.Kind = TLineKind::Header;
    line.Name = Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
    return;
  }
  const auto eq = t.find('=');
  if (eq == std::string_view::npos) return;
  const std::string_view key = Trim(t.substr(0, eq));
  if (key.empty()) return;
  line.Kind = TLineKind::Entry;
  line.Name = key;
  line.Value = Trim(t.substr(eq + 1));
}

// Lines end at LF, CR LF or a CR alone, as the reader splits them: a line
// the reader sees that this did not would be written again as a new one.
std::vector<TLine> SplitLines(std::string_view text) {
  std::vector<TLine> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find_first_of("\r\n", pos);
    TLine line;
    if (end == std::string_view::npos) {
      line.Text = text.substr(pos);
      pos = text.size();
    } else {
      const std::size_t next = text.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1;
      line.Text = text.substr(pos, end - pos);
      line.Break = text.substr(end, next - end);
      pos = next;
    }
    Classify(line, lines.empty());
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace

std::string MergeIniText(std::string_view oldText, const std::vector<TIniSectionText>& sections) {
  std::vector<TLine> lines = SplitLines(oldText);
  const std::string_view br = !lines.empty() && !lines[0].Break.empty() ? lines[0].Break : "\n";

  // Where each section's text lies: its lines and the place for new entries.
  struct TPlace {
    std::vector<std::size_t> Entries;  // entry lines, in order
    std::ptrdiff_t InsertAfter = -1;   // -1: before line 0
  };
  std::map<std::string, TPlace> places;
  places[""];  // the entries above the first header
  std::string current;       // upper-cased name of the section being read
  bool firstBlock = true;    // new entries go to a section's first block
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].Kind == TLineKind::Header) {
      current = Upper(lines[i].Name);
      firstBlock = places.find(current) == places.end();
      if (firstBlock) places[current].InsertAfter = static_cast<std::ptrdiff_t>(i);
    } else if (lines[i].Kind == TLineKind::Entry) {
      TPlace& p = places[current];
      p.Entries.push_back(i);
      if (firstBlock) p.InsertAfter = static_cast<std::ptrdiff_t>(i);
    }
  }

  std::vector<std::string> replaced(lines.size());  // a new text for a line
  std::vector<bool> dropped(lines.size(), false);
  std::map<std::ptrdiff_t, std::string> insertions;  // new lines after a line
  std::string appended;                              // new sections at the end

  for (const TIniSectionText& section : sections) {
    const auto found = places.find(Upper(section.Name));
    const TPlace* place = found == places.end() ? nullptr : &found->second;
    std::map<std::string, std::size_t> used;  // lines of a key taken so far
    std::string newLines;
    for (const auto& [key, value] : section.Entries) {
      const std::string upperKey = Upper(key);
      std::size_t& n = used[upperKey];
      std::ptrdiff_t line = -1;
      if (place) {
        std::size_t seen = 0;
        for (std::size_t i : place->Entries)
          if (Upper(lines[i].Name) == upperKey && seen++ == n) {
            line = static_cast<std::ptrdiff_t>(i);
            break;
          }
      }
      ++n;
      if (line < 0) {
        newLines.append(key).append("=").append(value).append(br);
        continue;
      }
      const TLine& l = lines[static_cast<std::size_t>(line)];
      if (l.Name != key || l.Value != value) replaced[static_cast<std::size_t>(line)] = key + "=" + value;
    }
    // Lines of a key beyond the entries it has now were overwritten away.
    if (place) {
      std::map<std::string, std::size_t> seen;
      for (std::size_t i : place->Entries) {
        const auto u = used.find(Upper(lines[i].Name));
        if (u != used.end() && ++seen[u->first] > u->second) dropped[i] = true;
      }
    }
    if (newLines.empty()) continue;
    if (place) {
      insertions[place->InsertAfter] += newLines;
    } else {
      if (!appended.empty()) appended += br;
      appended.append("[").append(section.Name).append("]").append(br).append(newLines);
    }
  }

  std::string out;
  out.reserve(oldText.size() + appended.size() + 64);
  const auto endsLine = [&] { return out.empty() || out.back() == '\n' || out.back() == '\r'; };
  auto insertAfter = [&](std::ptrdiff_t i) {
    const auto it = insertions.find(i);
    if (it == insertions.end()) return;
    if (!endsLine()) out += br;
    out += it->second;
  };
  insertAfter(-1);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!dropped[i]) {
      if (replaced[i].empty())
        out += lines[i].Text;
      else if (i == 0 && lines[0].Text.substr(0, 3) == "\xEF\xBB\xBF")
        out.append("\xEF\xBB\xBF").append(replaced[0]);
      else
        out += replaced[i];
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
