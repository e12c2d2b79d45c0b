#include "files/ini_file.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <thread>

#include "dsp/errors.h"
#include "files/file_replace.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

class IniFileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& text) {
    const std::string path = (tmp.Path() / "test.ini").string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  testing::TempDir tmp;
};

TEST_F(IniFileTest, SectionInFileOrderWithDuplicates) {
  TIniFile ini(Write("[Other]\nx=1\n[Contest]\nCQ1=CQ|0.5\nExchange=599|1\ncq1=TEST|0.25\nZZ=last\n"));
  EXPECT_EQ(ini.ReadSection("contest"),
            (Entries{{"CQ1", "CQ|0.5"}, {"Exchange", "599|1"}, {"cq1", "TEST|0.25"}, {"ZZ", "last"}}));
  EXPECT_EQ(ini.ReadSectionNames(), (std::vector<std::string>{"Other", "Contest"}));
  EXPECT_TRUE(ini.ReadSection("missing").empty());
}

// A section of several blocks (in any case), the entries above the first
// header (the section ""), an empty header: each name once, spelt as first
// written, the entries of every block in file order; ReadSectionNames(Max)
// the first Max names.
TEST_F(IniFileTest, SectionsOfSeveralBlocks) {
  TIniFile ini(Write("top=1\n[A]\nk=1\n; c\n[b]\nx=2\n[a]\nK=3\n[]\nt=4\n[B]\n"));
  const std::vector<std::string> names = {"", "A", "b"};
  EXPECT_EQ(ini.ReadSectionNames(), names);
  for (std::size_t max = 0; max <= 4; ++max)
    EXPECT_EQ(ini.ReadSectionNames(max), std::vector<std::string>(names.begin(), names.begin() + std::min<std::size_t>(max, 3)));
  EXPECT_EQ(ini.ReadSection("a"), (Entries{{"k", "1"}, {"K", "3"}}));
  EXPECT_EQ(ini.ReadSection(""), (Entries{{"top", "1"}, {"t", "4"}}));
  EXPECT_EQ(ini.ReadString("A", "K", "?"), "1");
  EXPECT_TRUE(ini.SectionExists("B"));
  EXPECT_FALSE(ini.SectionExists("C"));
}

TEST_F(IniFileTest, NamesIgnoreCaseAndFirstDuplicateWins) {
  TIniFile ini(Write("[GUI]\r\nWidth = 800\r\nwidth=900\r\n"));
  EXPECT_EQ(ini.ReadString("gui", "WIDTH", "?"), "800");
  EXPECT_EQ(ini.ReadString("gui", "Height", "600"), "600");
  EXPECT_EQ(ini.ReadString("Audio", "Width", ""), "");
}

TEST_F(IniFileTest, EightBitBytesPassThrough) {
  TIniFile ini(Write("[S]\nk=\xA6\xB0|0.5\n"));
  EXPECT_EQ(ini.ReadString("S", "k", ""), "\xA6\xB0|0.5");
}

// One matching pair of quotes around a value is taken off, in a single read
// and in a whole section alike; anything else stays as written.
TEST_F(IniFileTest, QuotedValuesReadWithoutTheirQuotes) {
  const std::pair<const char*, const char*> cases[] = {
      {"\"CQ WPX RTTY\"", "CQ WPX RTTY"}, {"  '/opt/my engine/x'  ", "/opt/my engine/x"},
      {"\" a \"", " a "},                  {"\"\"", ""},
      {"'\"x\"'", "\"x\""},                 {"\"a\"b\"", "a\"b"},
      {"\"x'", "\"x'"},                    {"\"", "\""},
      {"x\"", "x\""},                      {"'", "'"}};
  for (const auto& [written, read] : cases) {
    TIniFile ini(Write(std::string("[S]\nk=") + written + "\n"));
    EXPECT_EQ(ini.ReadString("S", "k", "?"), read) << written;
    EXPECT_EQ(ini.ReadSection("S"), (Entries{{"k", read}})) << written;
  }
}

TEST_F(IniFileTest, MissingFileReadsEmptyAndWriteCreatesIt) {
  const std::string path = (tmp.Path() / "new.ini").string();
  {
    TIniFile ini(path);
    EXPECT_TRUE(ini.ReadSectionNames().empty());
    ini.WriteString("Server", "Port", "7500");
    ini.UpdateFile();
  }
  TIniFile again(path);
  EXPECT_EQ(again.ReadString("server", "port", ""), "7500");
}

TEST_F(IniFileTest, WriteKeepsOtherEntriesAndReplacesDuplicates) {
  const std::string path = Write("; a comment\n[A]\nk=1\nk=2\nj=3\n[B]\nx=y\n");
  {
    TIniFile ini(path);
    ini.WriteString("A", "K", "9");
    ini.UpdateFile();
  }
  TIniFile again(path);
  EXPECT_EQ(again.ReadSection("A"), (Entries{{"K", "9"}, {"j", "3"}}));  // in its place, spelt as written
  EXPECT_EQ(again.ReadString("B", "x", ""), "y");
}

// "[Simple" without "]" names the section Simple, as Windows reads it; saves
// keep it so instead of changing its name each time. No name or value
// takes in a line break.
TEST_F(IniFileTest, UnclosedHeaderEndsAtTheEndOfItsLine) {
  const std::string path = Write("[Simple\nk=v\n  [B\r\nx=1\n");
  std::string first;
  for (int save = 0; save < 2; ++save) {
    {
      TIniFile ini(path);
      EXPECT_EQ(ini.ReadSectionNames(), (std::vector<std::string>{"Simple", "B"}));
      EXPECT_EQ(ini.ReadSection("Simple"), (Entries{{"k", "v"}}));
      EXPECT_EQ(ini.ReadString("B", "x", ""), "1");
      ini.WriteString("B", "y", "two\nlines");
      ini.UpdateFile();
    }
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (save == 0) first = text;
    EXPECT_EQ(text, first);
  }
  EXPECT_EQ(TIniFile(path).ReadSection("B"), (Entries{{"x", "1"}, {"y", "two lines"}}));
}

// The cap counts the bytes read: exactly at it a file is read, one byte more
// is refused, whether its size says so before the read or only the read
// finds it (a stream here, as a file that grows while it is read).
TEST_F(IniFileTest, ReadCapCountsTheBytesRead) {
  for (const std::size_t size : {kMaxIniFileBytes, kMaxIniFileBytes + 1}) {
    const bool over = size > kMaxIniFileBytes;
    const std::string text = "[S]\nk=v\n" + std::string(size - 8, ';');
    const TIniFile ini(Write(text));
    EXPECT_EQ(ini.ReadError(), over ? "larger than 16 MiB" : "") << size;
    EXPECT_EQ(ini.ReadString("S", "k", "?"), over ? "?" : "v") << size;
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    std::thread writer([&] {
      for (std::size_t at = 0; at < text.size();) {
        const ssize_t n = ::send(fds[1], text.data() + at, text.size() - at, MSG_NOSIGNAL);
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
      }
      ::close(fds[1]);
    });
    std::string bytes;
    EXPECT_EQ(ReadFdCapped(fds[0], kMaxIniFileBytes, bytes), over ? "larger than 16 MiB" : "") << size;
    EXPECT_EQ(bytes.size(), over ? 0 : size);
    ::close(fds[0]);
    writer.join();
  }
}

TEST_F(IniFileTest, UnwritableFileRaises) {
  TIniFile ini((tmp.Path() / "no/such/folder/x.ini").string());
  ini.WriteString("A", "b", "c");
  EXPECT_THROW(ini.UpdateFile(), EBrenvoError);
}

}  // namespace
}  // namespace brenvo
