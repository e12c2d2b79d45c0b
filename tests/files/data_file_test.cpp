#include "files/data_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "dsp/errors.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;

TEST(ResolveFileNoCase, FindsAnySpellingInTheFolder) {
  testing::TempDir tmp;
  const fs::path dir = tmp.Path();
  testing::WriteBytes(dir / "master.DTA", "x");
  EXPECT_EQ(ResolveFileNoCase((dir / "MASTER.DTA").string()), (dir / "master.DTA").string());
  EXPECT_EQ(ResolveFileNoCase((dir / "Master.dta").string()), (dir / "master.DTA").string());
  // Missing altogether: the name as given.
  EXPECT_EQ(ResolveFileNoCase((dir / "Watch.lst").string()), (dir / "Watch.lst").string());
  // Missing folder: the name as given, no throw.
  EXPECT_EQ(ResolveFileNoCase((dir / "no" / "Watch.lst").string()),
            (dir / "no" / "Watch.lst").string());
}

TEST(ResolveFileNoCase, ExactNameFirstThenSmallestSpelling) {
  testing::TempDir tmp;
  const fs::path dir = tmp.Path();
  testing::WriteBytes(dir / "black.lst", "a");
  testing::WriteBytes(dir / "BLACK.LST", "b");
  testing::WriteBytes(dir / "Black.LST", "c");
  EXPECT_EQ(ResolveFileNoCase((dir / "black.lst").string()), (dir / "black.lst").string());
  EXPECT_EQ(ResolveFileNoCase((dir / "Black.lst").string()), (dir / "BLACK.LST").string());
}

TEST(ResolveFileNoCase, OnlyAsciiLettersFoldAndLengthsMustMatch) {
  testing::TempDir tmp;
  const fs::path dir = tmp.Path();
  testing::WriteBytes(dir / "watch.lst.bak", "x");
  testing::WriteBytes(dir / "\xC4.lst", "x");
  EXPECT_EQ(ResolveFileNoCase((dir / "Watch.lst").string()), (dir / "Watch.lst").string());
  EXPECT_EQ(ResolveFileNoCase((dir / "\xE4.lst").string()), (dir / "\xE4.lst").string());
}

TEST(ReadFileBytes, ReadsEveryByteAndRefusesNonFiles) {
  testing::TempDir tmp;
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  all += std::string(200000, 'z');  // more than one read
  testing::WriteBytes(tmp.Path() / "f", all);
  std::string bytes = "stale";
  ASSERT_TRUE(ReadFileBytes((tmp.Path() / "f").string(), bytes));
  EXPECT_EQ(bytes, all);
  EXPECT_FALSE(ReadFileBytes((tmp.Path() / "missing").string(), bytes));
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(ReadFileBytes(tmp.Path().string(), bytes));
  EXPECT_TRUE(bytes.empty());
}

// A named pipe where a data file is expected has no writer: reading it must not
// wait for one (the validator reads its files at start-up).
TEST(ReadFileBytes, NamedPipeIsRefusedWithoutWaiting) {
  testing::TempDir tmp;
  const fs::path fifo = tmp.Path() / "Watch.lst";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string bytes = "stale";
  EXPECT_FALSE(ReadFileBytes(fifo.string(), bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(WriteFileAtomic, ReplacesWholeAndLeavesNoTemporaryFile) {
  testing::TempDir tmp;
  const fs::path f = tmp.Path() / "out.dta";
  testing::WriteBytes(f, "old contents");
  WriteFileAtomic(f.string(), std::string("new\0bytes", 9));
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(f.string(), bytes));
  EXPECT_EQ(bytes, std::string("new\0bytes", 9));
  int files = 0;
  for (const auto& e : fs::directory_iterator(tmp.Path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST(WriteFileAtomic, FailureKeepsTheOldFileAndSaysWhy) {
  testing::TempDir tmp;
  // A folder in the way of the rename: the write fails, nothing is lost.
  const fs::path target = tmp.Path() / "target";
  fs::create_directory(target);
  testing::WriteBytes(target / "keep", "x");
  try {
    WriteFileAtomic(target.string(), "data");
    FAIL() << "no exception";
  } catch (const EBrenvoError& e) {
    EXPECT_NE(std::string(e.what()).find(target.string()), std::string::npos) << e.what();
  }
  EXPECT_TRUE(fs::exists(target / "keep"));
  EXPECT_THROW(WriteFileAtomic((tmp.Path() / "no" / "such" / "f").string(), "data"), EBrenvoError);
  // Only the folder is left: the temporary file is gone.
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.Path()), fs::directory_iterator()), 1);
}

TEST(TrimAndUpperCase, BlanksControlsAndAsciiLetters) {
  EXPECT_EQ(TrimBlanks(std::string(" \t\0K1 AB\r\n\x1F ", 12)), "K1 AB");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimBlanks("\xA0K\xA0"), "\xA0K\xA0");  // high bytes are not blanks
  std::string s = "dl1abc/p \xE4\xFF{";
  UpperCaseAscii(s);
  EXPECT_EQ(s, "DL1ABC/P \xE4\xFF{");
}

}  // namespace
}  // namespace brenvo
