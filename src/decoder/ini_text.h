// Writing an INI file the way Windows private-profile writes do: every line
// of the old text stays as it is (comments, blank lines, spacing, lines that
// are no entry, sections nobody reads) except the entries whose value
// changed; new entries go to the end of their section, new sections to the
// end of the file.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brenvo {

// One section as the reader holds it: entries in file order, duplicates
// included. The section "" holds the entries above the first header.
struct TIniSectionText {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Entries;
};

// OldText with Sections applied. Names compare without regard to case; the
// n-th entry of a key in a section takes the n-th line of that key there
// (over every header of that name); surplus lines of a key are dropped; a
// line is rewritten only when its key's spelling or value differs. Keys the
// sections do not hold are left alone. New lines use OldText's line break.
std::string MergeIniText(std::string_view OldText, const std::vector<TIniSectionText>& Sections);

}  // namespace brenvo
