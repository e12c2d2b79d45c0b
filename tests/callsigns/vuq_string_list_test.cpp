#include "callsigns/vuq_string_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dsp/errors.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

using Strings = std::vector<std::string>;

Strings Items(const TVuqStringList& l) {
  Strings s;
  for (int32_t i = 0; i < l.Count(); ++i) s.push_back(l.Strings(i));
  return s;
}

TVuqStringList ListOf(const Strings& items) {
  TVuqStringList l;
  for (const auto& s : items) l.Add(s);
  return l;
}

void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream f(p, std::ios::binary);
  f << bytes;
}

TEST(VuqStringList, FindOnSortedListGivesFirstNotLessPosition) {
  TVuqStringList l = ListOf({"B", "AB", "AB"});
  l.SetSorted(true);
  ASSERT_EQ(Items(l), (Strings{"AB", "AB", "B"}));
  struct Case {
    const char* s;
    bool found;
    int32_t index;
  } cases[] = {{"AB", true, 0}, {"AA", false, 0},  {"C", false, 3},
               {"B", true, 2},  {"ABC", false, 2}, {"", false, 0}};
  for (const auto& c : cases) {
    int32_t index = -1;
    EXPECT_EQ(l.Find(c.s, index), c.found) << c.s;
    EXPECT_EQ(index, c.index) << c.s;
  }
}

TEST(VuqStringList, FindOnEmptyList) {
  TVuqStringList l;
  int32_t index = -1;
  EXPECT_FALSE(l.Find("X", index));
  EXPECT_EQ(index, 0);
}

TEST(VuqStringList, SortsByCharacterCode) {
  // Upper case before lower case, digits before letters, high bytes last.
  TVuqStringList l = ListOf({"a", "B", "\xE9", "b", "1", "A", "_", "Ab"});
  l.Sort();
  EXPECT_EQ(Items(l), (Strings{"1", "A", "Ab", "B", "_", "a", "b", "\xE9"}));
}

TEST(VuqStringList, SortKeepsObjectsWithTheirStringsAndOrderOfEquals) {
  TVuqStringList l;
  l.AddObject("K", 1);
  l.AddObject("D", 2);
  l.AddObject("K", 3);
  l.Sort();
  ASSERT_EQ(Items(l), (Strings{"D", "K", "K"}));
  EXPECT_EQ(l.Objects(0), 2);
  EXPECT_EQ(l.Objects(1), 1);
  EXPECT_EQ(l.Objects(2), 3);
}

TEST(VuqStringList, SortedAddInsertsInPlaceAndIgnoresDuplicates) {
  TVuqStringList l;
  l.SetSorted(true);
  EXPECT_EQ(l.Add("M"), 0);
  EXPECT_EQ(l.Add("C"), 0);
  EXPECT_EQ(l.Add("X"), 2);
  EXPECT_EQ(l.AddObject("M", 9), 1);  // already there: not added, object untouched
  EXPECT_EQ(Items(l), (Strings{"C", "M", "X"}));
  EXPECT_EQ(l.Objects(1), 0);
}

TEST(VuqStringList, IndexChecksAndSortedWrites) {
  TVuqStringList l = ListOf({"A"});
  EXPECT_THROW(l.Strings(1), ERangeError);
  EXPECT_THROW(l.Strings(-1), ERangeError);
  EXPECT_THROW(l.Objects(1), ERangeError);
  EXPECT_THROW(l.SetObjects(-1, 0), ERangeError);
  EXPECT_THROW(l.SetStrings(1, "B"), ERangeError);
  l.SetStrings(0, "B");
  EXPECT_EQ(l.Strings(0), "B");
  l.SetSorted(true);
  EXPECT_THROW(l.SetStrings(0, "C"), EBrenvoError);
  EXPECT_EQ(l.Strings(0), "B");
}

TEST(VuqStringList, DelimTextCases) {
  struct Case {
    std::string text;
    char delimiter;
    Strings items;
  } cases[] = {
      {"A||B|", '|', {"A", "", "B"}},
      {"|A", '|', {"", "A"}},
      {"A|", '|', {"A"}},
      {"", '|', {}},
      {"|", '|', {""}},
      {"||", '|', {"", ""}},
      {"A B|C ", '|', {"A B", "C "}},            // blanks belong to the items
      {"\"x|y\"|z", '|', {"x|y", "z"}},          // delimiter inside quotes
      {"\"a\"\"b\"|c", '|', {"a\"b", "c"}},      // doubled quote
      {"\"open", '|', {"open"}},                 // no closing quote
      {"\"q\"r|s", '|', {"q", "r", "s"}},        // text right after a quote
      {"A\tB", '|', {"A", "B"}},                 // a control character ends an item
      {"\r\n A|\x01\x02 B", '|', {" A", " B"}},  // controls skipped, blanks kept
      {"A|\x01|B", '|', {"A", "", "B"}},
      {"DL/K1ABC/P", '/', {"DL", "K1ABC", "P"}},
      {"K1ABC/", '/', {"K1ABC"}},
      {"/K1ABC", '/', {"", "K1ABC"}},
      {"A|B", '/', {"A|B"}},
  };
  for (const auto& c : cases) {
    TVuqStringList l;
    l.SetDelimiter(c.delimiter);
    l.SetDelimText(c.text);
    EXPECT_EQ(Items(l), c.items) << "text: " << c.text;
  }
}

TEST(VuqStringList, DelimTextWithEmbeddedNulFinishes) {
  TVuqStringList l;
  l.SetDelimText(std::string("A\0B|\0\0|C\0", 9));
  EXPECT_EQ(Items(l), (Strings{"A", "B", "", "C"}));
  l.SetDelimText(std::string("\0", 1));
  EXPECT_EQ(l.Count(), 0);
}

TEST(VuqStringList, DelimTextReplacesOldContents) {
  TVuqStringList l = ListOf({"old", "older"});
  l.SetDelimText("new");
  EXPECT_EQ(Items(l), (Strings{"new"}));
}

TEST(VuqStringList, TextLineEnds) {
  struct Case {
    std::string text;
    Strings lines;
  } cases[] = {
      {"A\r\nB\r\n", {"A", "B"}},
      {"A\nB", {"A", "B"}},
      {"A\rB\r", {"A", "B"}},
      {"A\r\n\r\nB", {"A", "", "B"}},
      {"A\n\rB", {"A", "", "B"}},
      {"A\r\nB\nC\rD", {"A", "B", "C", "D"}},
      {"\xEF\xBB\xBFK1ABC\r\n", {"K1ABC"}},  // byte-order mark dropped
      {"K\xEF\xBB\xBF", {"K\xEF\xBB\xBF"}},  // only a leading one
      {"", {}},
      {"\r\n", {""}},
      {"\n\n", {"", ""}},
      {std::string("A\0B\nC", 5), {std::string("A\0B", 3), "C"}},
      {" \xC4\xE9 \n", {" \xC4\xE9 "}},  // bytes pass through unchanged
  };
  for (const auto& c : cases) {
    TVuqStringList l;
    l.SetText(c.text);
    EXPECT_EQ(Items(l), c.lines);
  }
}

TEST(VuqStringList, SortedTextKeepsOneOfEqualLines) {
  TVuqStringList l;
  l.SetSorted(true);
  l.SetText("B\nA\nB\nC\nA\n");
  EXPECT_EQ(Items(l), (Strings{"A", "B", "C"}));
  EXPECT_TRUE(l.Sorted());
}

TEST(VuqStringList, CreateTryLoad) {
  testing::TempDir tmp;
  const auto file = tmp.Path() / "calls.lst";
  WriteFile(file, "W1AW\r\nDL1ABC\r\nK1ABC\r\n");

  TVuqStringList unsorted = TVuqStringList::CreateTryLoad(file.string(), false);
  EXPECT_EQ(Items(unsorted), (Strings{"W1AW", "DL1ABC", "K1ABC"}));
  EXPECT_FALSE(unsorted.Sorted());

  TVuqStringList sorted = TVuqStringList::CreateTryLoad(file.string(), true);
  EXPECT_EQ(Items(sorted), (Strings{"DL1ABC", "K1ABC", "W1AW"}));
  EXPECT_TRUE(sorted.Sorted());
  EXPECT_EQ(sorted.Delimiter(), '|');

  TVuqStringList missing = TVuqStringList::CreateTryLoad((tmp.Path() / "nope").string(), true);
  EXPECT_EQ(missing.Count(), 0);
  EXPECT_TRUE(missing.Sorted());

  // A folder where a file is expected cannot be read: an empty list, no throw.
  std::filesystem::create_directory(tmp.Path() / "dir.lst");
  TVuqStringList unreadable =
      TVuqStringList::CreateTryLoad((tmp.Path() / "dir.lst").string(), true);
  EXPECT_EQ(unreadable.Count(), 0);
}

TEST(VuqStringList, LoadFromFileReportsMissingFile) {
  testing::TempDir tmp;
  TVuqStringList l = ListOf({"stale"});
  EXPECT_THROW(l.LoadFromFile((tmp.Path() / "missing").string()), EBrenvoError);
  EXPECT_EQ(l.Count(), 0);
}

}  // namespace
}  // namespace brenvo
