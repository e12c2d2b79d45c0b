// INI text as the reader and the save both see it, and writing into it the
// way Windows private-profile writes do: every line of the old text stays as
// it is (comments, blank lines, spacing, lines that are no entry, sections
// nobody reads) except the entries whose value changed; new entries go to
// the end of their section, new sections to the end of the file.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brenvo {

enum class TIniLineKind { Other, Header, Entry };

// One line of the text; the views point into it.
struct TIniLine {
  std::string_view Text;   // without its line break
  std::string_view Break;  // "\n", "\r\n", "\r", or "" on the last line
  TIniLineKind Kind = TIniLineKind::Other;
  std::string_view Name;   // header: the section; entry: the key; trimmed
  std::string_view Value;  // entry: the value, trimmed
};

// The lines of Text, by one rule for reading and for saving, so that a save
// rewrites only lines the reader saw: a UTF-8 byte-order mark before the
// first line is skipped; lines end at LF, CR LF or a CR alone; a NUL is a
// byte like any other; blank lines and those starting with ";" or "#" are
// comments; "[" starts a header, which ends at "]" or at the end of its
// line; an entry has a key before its first "="; blanks and tabs around
// names and values are trimmed.
std::vector<TIniLine> SplitIniLines(std::string_view Text);
// The same one line at a time, for readers that keep only some: the line of
// Text that starts at Pos (0 for the first, whose byte-order mark is
// skipped), Pos moved to the start of the next.
TIniLine NextIniLine(std::string_view Text, std::size_t& Pos);

// One section as it is to be written: entries in order, duplicates allowed.
// The section "" holds the entries above the first header.
struct TIniSectionText {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Entries;
};

// OldText with Sections applied. Names compare without regard to case; the
// n-th entry of a key in a section takes the n-th line of that key there
// (over every header of that name); surplus lines of a key are dropped; a
// line is rewritten only when its key's spelling or value differs. Keys the
// sections do not hold are left alone. New lines use OldText's line break.
// Takes time in proportion to the sizes of OldText and Sections.
std::string MergeIniText(std::string_view OldText, const std::vector<TIniSectionText>& Sections);

// Upper-cases the letters a to z only, as names compare.
std::string UpperIniName(std::string_view Name);

}  // namespace brenvo
