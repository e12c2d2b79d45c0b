#include "callsigns/master_dta.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "dsp/errors.h"
#include "files/data_file.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;

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
  testing::WriteBytes(tmp.Path() / "in.scp", "# list\nK1ABC\nK1\x01X\nG4XYZ\n");
  const TScpConversion n = ConvertScpToDta((tmp.Path() / "in.scp").string(), (tmp.Path() / "o.dta").string());
  EXPECT_EQ(n.Written, 2u);
  EXPECT_EQ(n.Skipped, 1u);
  // Written in byte order, as the validator's table holds them.
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes((tmp.Path() / "o.dta").string(), bytes));
  EXPECT_EQ(bytes, BuildMasterDta({"G4XYZ", "K1ABC"}));
  // Nothing that could be a call: an error, and no database.
  testing::WriteBytes(tmp.Path() / "junk.scp", "\xC3\xA9t\xC3\xA9\n\x01\n");
  EXPECT_THROW(ConvertScpToDta((tmp.Path() / "junk.scp").string(), (tmp.Path() / "j.dta").string()), EBrenvoError);
  EXPECT_FALSE(fs::exists(tmp.Path() / "j.dta"));
}

// The database goes only to a new name or a regular file: what is refused
// stays as it was, and nothing else is left behind.
TEST(MasterDtaWriter, RefusesOutputsThatAreNoDataFile) {
  testing::TempDir tmp;
  const fs::path in = tmp.Path() / "in.scp";
  testing::WriteBytes(in, "K1ABC\n");
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
  testing::WriteBytes(dta, "old");
  fs::create_symlink(dta, link);
  ConvertScpToDta(in.string(), link.string());
  EXPECT_TRUE(fs::is_symlink(link));
  ASSERT_TRUE(ReadFileBytes(dta.string(), bytes));
  EXPECT_EQ(bytes, BuildMasterDta({"K1ABC"}));
}

}  // namespace
}  // namespace brenvo
