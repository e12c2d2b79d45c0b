#include "callsigns/data_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "callsigns/master_dta.h"
#include "dsp/errors.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

TEST(ResolveFileNoCase, FindsAnySpellingInTheFolder) {
  testing::TempDir tmp;
  const fs::path dir = tmp.Path();
  Write(dir / "master.DTA", "x");
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
  Write(dir / "black.lst", "a");
  Write(dir / "BLACK.LST", "b");
  Write(dir / "Black.LST", "c");
  EXPECT_EQ(ResolveFileNoCase((dir / "black.lst").string()), (dir / "black.lst").string());
  EXPECT_EQ(ResolveFileNoCase((dir / "Black.lst").string()), (dir / "BLACK.LST").string());
}

TEST(ResolveFileNoCase, OnlyAsciiLettersFoldAndLengthsMustMatch) {
  testing::TempDir tmp;
  const fs::path dir = tmp.Path();
  Write(dir / "watch.lst.bak", "x");
  Write(dir / "\xC4.lst", "x");
  EXPECT_EQ(ResolveFileNoCase((dir / "Watch.lst").string()), (dir / "Watch.lst").string());
  EXPECT_EQ(ResolveFileNoCase((dir / "\xE4.lst").string()), (dir / "\xE4.lst").string());
}

TEST(ReadFileBytes, ReadsEveryByteAndRefusesNonFiles) {
  testing::TempDir tmp;
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  all += std::string(200000, 'z');  // more than one read
  Write(tmp.Path() / "f", all);
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
  Write(f, "old contents");
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
  Write(target / "keep", "x");
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

TEST(ScpCalls, ParsesCommentsBlanksAndCase) {
  const std::string text =
      "#\r\n# Release 2023.05.02.00\r\n#\r\nK1ABC\r\n  dl1xyz  \r\n\r\nW1AW extra\r\n"
      "  # not a comment? it is: it starts with #\r\n" +
      std::string("BAD\0CALL\r\n", 10) + "\xEF\xBB\xBFX\r\nTAB\tCUT\r\nA\x7F\r\nVP2E/W1AW/QRP/MM1\r\nK1\r\nLAST";
  std::size_t skipped = 0;
  EXPECT_EQ(ParseScpCalls(text, &skipped), (std::vector<std::string>{"K1ABC", "DL1XYZ", "W1AW", "TAB", "LAST"}));
  EXPECT_EQ(skipped, 5u);  // a byte 00, bytes outside ASCII, a DEL, 17 characters, 2 characters
  EXPECT_EQ(ParseScpCalls("\xEF\xBB\xBFK1ABC\n"), (std::vector<std::string>{"K1ABC"}));
  EXPECT_TRUE(ParseScpCalls("").empty());
}

TEST(MasterDtaWriter, LayoutAndRejectedCalls) {
  const std::string bytes = BuildMasterDta({"K1ABC", "W1AW"});
  ASSERT_EQ(bytes.size(), kMasterDtaHeaderSize + 11);
  EXPECT_EQ(bytes.substr(kMasterDtaHeaderSize), std::string("K1ABC\0W1AW\0", 11));
  EXPECT_EQ(BuildMasterDta({}).size(), kMasterDtaHeaderSize);
  EXPECT_THROW(BuildMasterDta({"K1ABC", std::string("W1\0AW", 5)}), EBrenvoError);
}

TEST(MasterDtaWriter, ConvertReportsAnUnreadableList) {
  testing::TempDir tmp;
  EXPECT_THROW(
      ConvertScpToDta((tmp.Path() / "missing.scp").string(), (tmp.Path() / "o.dta").string()),
      EBrenvoError);
  EXPECT_FALSE(fs::exists(tmp.Path() / "o.dta"));
  Write(tmp.Path() / "in.scp", "# list\nK1ABC\nK1\x01X\nG4XYZ\n");
  const TScpConversion n = ConvertScpToDta((tmp.Path() / "in.scp").string(), (tmp.Path() / "o.dta").string());
  EXPECT_EQ(n.Written, 2u);
  EXPECT_EQ(n.Skipped, 1u);
  // Written in byte order, as the validator's table holds them.
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes((tmp.Path() / "o.dta").string(), bytes));
  EXPECT_EQ(bytes, BuildMasterDta({"G4XYZ", "K1ABC"}));
  // Nothing that could be a call: an error, and no database.
  Write(tmp.Path() / "junk.scp", "\xC3\xA9t\xC3\xA9\n\x01\n");
  EXPECT_THROW(ConvertScpToDta((tmp.Path() / "junk.scp").string(), (tmp.Path() / "j.dta").string()), EBrenvoError);
  EXPECT_FALSE(fs::exists(tmp.Path() / "j.dta"));
}

// The database goes only to a new name or a regular file: what is refused
// stays as it was, and nothing else is left behind.
TEST(MasterDtaWriter, RefusesOutputsThatAreNoDataFile) {
  testing::TempDir tmp;
  const fs::path in = tmp.Path() / "in.scp";
  Write(in, "K1ABC\n");
  const fs::path fifo = tmp.Path() / "fifo", dir = tmp.Path() / "dir", toFifo = tmp.Path() / "to-fifo",
                 toIn = tmp.Path() / "to-in";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(dir);
  fs::create_symlink(fifo, toFifo);
  fs::create_symlink(in, toIn);
  for (const fs::path& out : {fifo, dir, toFifo, in, toIn}) {
    SCOPED_TRACE(out.string());
    EXPECT_THROW(ConvertScpToDta(in.string(), out.string()), EBrenvoError);
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_empty(dir));
  EXPECT_TRUE(fs::is_symlink(toFifo));
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(in.string(), bytes));
  EXPECT_EQ(bytes, "K1ABC\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.Path()), fs::directory_iterator()), 5);
  // A link to a regular file: the target is replaced, the link stays.
  const fs::path dta = tmp.Path() / "real.dta", link = tmp.Path() / "MASTER.DTA";
  Write(dta, "old");
  fs::create_symlink(dta, link);
  ConvertScpToDta(in.string(), link.string());
  EXPECT_TRUE(fs::is_symlink(link));
  ASSERT_TRUE(ReadFileBytes(dta.string(), bytes));
  EXPECT_EQ(bytes, BuildMasterDta({"K1ABC"}));
}

}  // namespace
}  // namespace brenvo
