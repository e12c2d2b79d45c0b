#include "callsigns/callsign3_char_validator.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "files/data_folders.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;

TEST(CallToPattern, Examples) {
  struct Case {
    const char* call;
    const char* pattern;
  } cases[] = {
      {"K1ABC", "K1@@@"}, {"DL1ABC", "DL1@@@"},     {"4X4ABC", "4X4@@@"}, {"3DA0RU", "3DA0@@"},
      {"3DA", "3DA"},  // "#@@" keeps 4, the call has only 3
      {"3DA0", "3DA0"},   {"K1A", "K1@"},           {"K1", "K1"},         {"", ""},
      {"DL1", "DL1"},     {"KH6AB", "KH6@@"},       {"9A1AB", "9A1@@"},   {"K12AB", "K12@@"},
      {"W1A2B", "W1@#@"}, {"GB100ABC", "GB1##@@@"}, {"ab-1", "ab-#"},  // any non-digit counts as
                                                                       // "@" in the mask and in the
                                                                       // rest
  };
  for (const auto& c : cases)
    EXPECT_EQ(TCallsign3CharValidator::CallToPattern(c.call), c.pattern) << c.call;
}

class Patt3Ch : public ::testing::Test {
 protected:
  std::string Write(const std::string& bytes, const std::string& name = "Patt3Ch.lst") {
    const fs::path p = tmp.Path() / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
  TCallsign3CharValidator Loaded(const std::string& bytes) {
    TCallsign3CharValidator v;
    v.LoadFromFile(Write(bytes));
    return v;
  }
  testing::TempDir tmp;
};

TEST_F(Patt3Ch, MarkersGiveTheirRatings) {
  const auto v = Loaded("+ DL1@@@\r\n  K1@@@\r\n- K1@@\r\nx QQ1@@@\r\n");
  EXPECT_TRUE(v.Initialized());
  EXPECT_EQ(v.PatternCount(), 4);
  EXPECT_EQ(v.Validate("DL1ABC"), vrPerfect);
  EXPECT_EQ(v.Validate("K1ABC"), vrGood);
  EXPECT_EQ(v.Validate("K1AB"), vrWarning);
  EXPECT_EQ(v.Validate("QQ1XYZ"), vrError);
  EXPECT_EQ(v.Validate("W1ABC"), vrWarning);  // not in the table
}

TEST_F(Patt3Ch, SecondCharacterIsIgnored) {
  const auto v = Loaded("+xDL1@@@\n Z K1@@@\n");
  EXPECT_EQ(v.Validate("DL1ABC"), vrPerfect);
  EXPECT_EQ(v.Validate("K1ABC"), vrWarning);  // pattern is " K1@@@" with the blank
}

TEST_F(Patt3Ch, LineEndsAndByteOrderMark) {
  for (const std::string text : {"+ DL1@@@\r\n  K1@@@", "+ DL1@@@\n  K1@@@\n",
                                 "+ DL1@@@\r  K1@@@\r", "\xEF\xBB\xBF+ DL1@@@\r\n  K1@@@\r\n"}) {
    const auto v = Loaded(text);
    EXPECT_TRUE(v.Initialized());
    EXPECT_EQ(v.Validate("DL1ABC"), vrPerfect);
    EXPECT_EQ(v.Validate("K1ABC"), vrGood);
  }
}

TEST_F(Patt3Ch, EmptyLineOrUnknownMarkerEmptiesTheTable) {
  for (const std::string text :
       {"\r\n+ DL1@@@\r\n", "+ DL1@@@\r\n\r\n  K1@@@\r\n", "+ DL1@@@\r\n\r\n",
        "+ DL1@@@\r\nX K1@@@\r\n", "* DL1@@@\r\n", "\tDL1@@@\n"}) {
    const auto v = Loaded(text);
    EXPECT_FALSE(v.Initialized());
    EXPECT_EQ(v.PatternCount(), 0);
    EXPECT_EQ(v.Validate("DL1ABC"), vrWarning);
  }
}

TEST_F(Patt3Ch, ShortLinesGiveEmptyPatterns) {
  const auto v = Loaded("+\n-x\n+ DL1@@@\n");
  EXPECT_TRUE(v.Initialized());
  EXPECT_EQ(v.PatternCount(), 3);
  EXPECT_EQ(v.Validate("DL1ABC"), vrPerfect);
  EXPECT_EQ(v.Validate("K1ABC"), vrWarning);
}

TEST_F(Patt3Ch, TrailingBlanksAndLowerCaseNeverMatch) {
  const auto v = Loaded("+ DL1@@@ \n+ k1@@@\n");
  EXPECT_EQ(v.Validate("DL1ABC"), vrWarning);
  EXPECT_EQ(v.Validate("K1ABC"), vrWarning);
  EXPECT_EQ(v.Validate("k1ABC"), vrPerfect);  // only an exact lower-case call
}

TEST_F(Patt3Ch, ShortCallsAreLookedUpWhole) {
  const auto v = Loaded("+ 3DA\n- K1A\n");
  EXPECT_EQ(v.Validate("3DA"), vrPerfect);
  EXPECT_EQ(v.Validate("K1A"), vrWarning);
  EXPECT_EQ(v.Validate("K1B"), vrWarning);
}

TEST_F(Patt3Ch, FirstLineOfARepeatedPatternCounts) {
  const auto v = Loaded("x K1@@@\n+ DL1@@@\n+ K1@@@\n  K1@@@\n");
  EXPECT_TRUE(v.Initialized());
  EXPECT_EQ(v.Validate("K1ABC"), vrError);
}

TEST_F(Patt3Ch, EmptyFileIsAnEmptyCompleteTable) {
  const auto v = Loaded("");
  EXPECT_TRUE(v.Initialized());
  EXPECT_EQ(v.PatternCount(), 0);
}

TEST_F(Patt3Ch, MissingOrUnreadableFileGivesAnEmptyTable) {
  TCallsign3CharValidator v;
  v.LoadFromFile(Write("+ DL1@@@\n"));
  ASSERT_EQ(v.Validate("DL1ABC"), vrPerfect);
  v.LoadFromFile((tmp.Path() / "missing.lst").string());
  EXPECT_FALSE(v.Initialized());
  EXPECT_EQ(v.PatternCount(), 0);
  EXPECT_EQ(v.Validate("DL1ABC"), vrWarning);

  fs::create_directory(tmp.Path() / "folder.lst");
  v.LoadFromFile((tmp.Path() / "folder.lst").string());
  EXPECT_FALSE(v.Initialized());
  EXPECT_EQ(v.PatternCount(), 0);
}

TEST_F(Patt3Ch, EmptyNameReadsTheReferenceFolderWithoutRegardToCase) {
  SetAppDataRoot(tmp.Path().string());
  std::ofstream(GetReferenceFolder() + "PATT3CH.LST", std::ios::binary) << "+ DL1@@@\r\n";
  TCallsign3CharValidator v;
  v.LoadFromFile("");
  SetAppDataRoot("");
  EXPECT_TRUE(v.Initialized());
  EXPECT_EQ(v.Validate("DL1ABC"), vrPerfect);
}

}  // namespace
}  // namespace brenvo
