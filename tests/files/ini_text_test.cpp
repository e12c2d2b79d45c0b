#include "files/ini_text.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "dsp/errors.h"
#include "files/file_replace.h"
#include "files/ini_file.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;

TEST(IniTextTest, OnlyChangedEntriesChangeAndEveryOtherLineStays) {
  const std::string old =
      "; the user's notes\r\n[GUI]\r\n  Left = 5  \r\nnot an entry\r\n\r\nTop=7\r\n; before Mine\r\n"
      "[Mine]\r\nx=1\r\n[gui]\r\nLeft=6\r\n; the end\r\n";
  const std::vector<TIniSectionText> sections = {
      {"GUI", {{"Left", "5"}, {"Top", "8"}, {"Width", "478"}}},  // the second Left was overwritten away
      {"Mine", {{"x", "1"}}},
      {"Audio", {{"DeviceIndex", "1"}}}};
  EXPECT_EQ(MergeIniText(old, sections),
            "; the user's notes\r\n[GUI]\r\n  Left = 5  \r\nnot an entry\r\n\r\nTop=8\r\nWidth=478\r\n; before Mine\r\n"
            "[Mine]\r\nx=1\r\n[gui]\r\n; the end\r\n\r\n[Audio]\r\nDeviceIndex=1\r\n");
}

// Lines ended by a CR alone are lines to the reader too: the entry changes
// in its place instead of a second one being added after it.
TEST(IniTextTest, CrAloneEndsALine) {
  EXPECT_EQ(MergeIniText("[GUI]\rLeft=5\rTop=3", {{"GUI", {{"Left", "7"}, {"Top", "3"}, {"Width", "1"}}}}),
            "[GUI]\rLeft=7\rTop=3\rWidth=1\r");
}

// A CR alone before a line's LF would join them into one break and lose a
// line: new lines end as the line before them, a dropped line leaves its break.
TEST(IniTextTest, MixedLineBreaksStayApart) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\r[GUI]\n\nb", "a\r[GUI]\nk=9\n\nb"},
      {"[GUI]\rk=1\rk=2\n\nb", "[GUI]\rk=9\r\n\nb"},
  };
  for (const auto& [old, merged] : cases) EXPECT_EQ(MergeIniText(old, {{"GUI", {{"k", "9"}}}}), merged) << old;
}

TEST(IniTextTest, FailedReplaceKeepsTheOldFile) {
  testing::TempDir tmp;
  const std::string path = (tmp.Path() / "s.ini").string();
  std::ofstream(path) << "[A]\nk=old\n";
  // A full disk: writes beyond 16 bytes fail (EFBIG instead of the signal).
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = 16;
  setrlimit(RLIMIT_FSIZE, &small);
  TIniFile ini(path);
  ini.WriteString("A", "k", std::string(100, 'n'));
  EXPECT_THROW(ini.UpdateFile(), EBrenvoError);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(ReadFileBytes(path), "[A]\nk=old\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.Path()), fs::directory_iterator()), 1);  // no temporary left
}

TEST(IniTextTest, ReplaceKeepsPermissionsAndLinks) {
  testing::TempDir tmp;
  const fs::path file = tmp.Path() / "real.ini", link = tmp.Path() / "link.ini";
  const auto perms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
  std::ofstream(file) << "old";
  fs::permissions(file, perms);
  fs::create_symlink(file, link);
  WriteFileReplacing(link.string(), "new");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(file.string()), "new");
  EXPECT_EQ(fs::status(file).permissions(), perms);
  // Marked read-only: refused, whoever runs this.
  fs::permissions(file, fs::perms::owner_read | fs::perms::group_read);
  EXPECT_THROW(WriteFileReplacing(link.string(), "newer"), EBrenvoError);
  EXPECT_EQ(ReadFileBytes(file.string()), "new");
  // A link, through another, to a file not there yet: the file is made.
  const fs::path later = tmp.Path() / "sub" / "later.ini", first = tmp.Path() / "first.ini";
  fs::create_directory(later.parent_path());
  fs::create_symlink("later.ini", tmp.Path() / "sub" / "dangling.ini");
  fs::create_symlink("sub/dangling.ini", first);
  WriteFileReplacing(first.string(), "made");
  EXPECT_TRUE(fs::is_symlink(first));
  EXPECT_EQ(ReadFileBytes(later.string()), "made");
  // Links in a loop lead to no file: refused, the links stay.
  fs::create_symlink("loop.ini", tmp.Path() / "loop.ini");
  EXPECT_THROW(WriteFileReplacing((tmp.Path() / "loop.ini").string(), "x"), EBrenvoError);
  EXPECT_TRUE(fs::is_symlink(tmp.Path() / "loop.ini"));
}

}  // namespace
}  // namespace brenvo
