#include "decoder/message_statistics.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <locale>
#include <numeric>
#include <string>

#include "decoder/message_hmm.h"
#include "dsp/errors.h"
#include "files/data_folders.h"
#include "files/ini_file.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

double Sum(const TPatternInfoArray& a) {
  double s = 0.0;
  for (const auto& e : a) s += e.Prob;
  return s;
}

// Sums, first and last values transcribed from the tables a second time, by
// a script of their own, not from our source.
TEST(BuiltInStatistics, ListsAgainstAnIndependentTranscription) {
  TRttyMessageStatistics s;
  InitMessageStatistics(s);
  struct Case {
    const char* name;
    const TPatternInfoArray& list;
    std::size_t size;
    double sum;
    TPatternInfo first, last;
  } cases[] = {
      {"Structs", s.Call.Structs, 7, 0.999998, {"C", 0.806858f}, {"CPS", 0.000485f}},
      {"PrefPatt", s.Call.PrefPatt, 4, 1.0, {"@", 0.199743f}, {"n@@", 0.001288f}},
      {"Digits", s.Call.Digits, 4, 0.999999, {"n", 0.939686f}, {"nnnn", 0.002317f}},
      {"Letters", s.Call.Letters, 6, 1.1661129, {"@", 0.2f}, {"@@@@@@", 0.000134f}},
      {"PortPrefPatt", s.Call.PortPrefPatt, 10, 1.0, {"n@@", 0.002199f}, {"@@n", 0.496044f}},
      {"SuffPatt", s.Call.SuffPatt, 12, 0.984191, {"FJL", 0.000367f}, {"P", 0.439088f}},
      {"CqWords", s.CqWords, 9, 1.04352, {"CQ", 0.64622f}, {"DN", 0.01f}},
      {"Exchanges", s.Exchanges, 6, 1.01652, {"599", 0.77149f}, {"5NN<~5NN>", 0.01f}},
      {"WhiteSpaces", s.WhiteSpaces, 4, 0.998, {"_", 0.77f}, {"\xB0", 0.03f}},
      {"ExchangeSeparators", s.ExchangeSeparators, 10, 0.99997, {"_", 0.83085f}, {"_-", 0.00104f}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.list.size(), c.size);
    EXPECT_NEAR(Sum(c.list), c.sum, 2e-7);
    EXPECT_EQ(c.list.front(), c.first);
    EXPECT_EQ(c.list.back(), c.last);
  }
  EXPECT_EQ(s.Exchanges[3].Patt, "{2,3,4}n9<~{2,3,4}n9>");
  EXPECT_EQ(s.WhiteSpaces[2].Patt, "\xA6");
  EXPECT_EQ(s.Call.Structs[3].Patt, "PC");
  EXPECT_EQ(s.Call.Structs[5].Patt, "CP");
  EXPECT_EQ(s.ContestName, "DX");
}

TEST(BuiltInStatistics, TransitionTablesAgainstAnIndependentTranscription) {
  TRttyMessageStatistics s;
  InitMessageStatistics(s);
  ASSERT_EQ(s.WhiteSpaceTransitionProbs.size(), 4u);
  const double wsRowSums[4] = {0.99997, 0.99997, 0.99998, 0.99997};
  for (int r = 0; r < 4; ++r) {
    ASSERT_EQ(s.WhiteSpaceTransitionProbs[static_cast<std::size_t>(r)].size(), 5u);
    const auto& row = s.WhiteSpaceTransitionProbs[static_cast<std::size_t>(r)];
    EXPECT_NEAR(std::accumulate(row.begin(), row.end(), 0.0), wsRowSums[r], 2e-7) << r;
  }
  EXPECT_EQ(s.WhiteSpaceTransitionProbs[0][0], 0.2308f);
  EXPECT_EQ(s.WhiteSpaceTransitionProbs[3][4], 0.16027f);
  EXPECT_EQ(s.WhiteSpaceTransitionProbs[2][1], 0.45003f);

  const double rowSums[9] = {1.0, 0.81595, 1.19991, 0.5321, 1.13808, 0.99856, 0.99994, 0.99999, 0.99999};
  const double colSums[9] = {1.68984, 0.53143, 1.00091, 0.35362, 4.31672, 0.33933, 0.28208, 0.06047, 0.11012};
  for (int a = 0; a < 9; ++a) {
    double row = 0.0, col = 0.0;
    for (int b = 0; b < 9; ++b) {
      row += s.MessageTransitionProbs[static_cast<std::size_t>(a)][static_cast<std::size_t>(b)];
      col += s.MessageTransitionProbs[static_cast<std::size_t>(b)][static_cast<std::size_t>(a)];
    }
    EXPECT_NEAR(row, rowSums[a], 2e-6) << a;
    EXPECT_NEAR(col, colSums[a], 2e-6) << a;
  }
  EXPECT_EQ(s.MessageTransitionProbs[ctSquelch][ctSquelch], 0.92f);
  EXPECT_EQ(s.MessageTransitionProbs[ctDigit][ctExchange], 0.00008f);
  EXPECT_EQ(s.MessageTransitionProbs[ctCQ][ctWhiteSpace], 0.92609f);

  const float shift[3][4][4] = {
      {{0, 0.08657f, 0.91342f, 0}, {0.00977f, 0.99022f, 0, 0}, {0.01985f, 0.98014f, 0, 0}, {0, 0.06071f, 0.93928f, 0}},
      {{0.02506f, 0.97493f, 0, 0}, {0.00274f, 0.01225f, 0, 0.98499f}, {0.52868f, 0.47131f, 0, 0}, {0, 0.01563f, 0, 0.98436f}},
      {{0, 0.1011f, 0.89889f, 0}, {0.01885f, 0.13968f, 0.84145f, 0}, {0.24904f, 0.03909f, 0.71185f, 0}, {0, 0.3383f, 0.66169f, 0}},
  };
  for (int k = 0; k < 3; ++k)
    for (int f = 0; f < 4; ++f) {
      double sum = 0.0;
      for (int t = 0; t < 4; ++t) {
        const float v = s.ShiftTransitionProbs[static_cast<std::size_t>(k)][static_cast<std::size_t>(f)]
                                              [static_cast<std::size_t>(t)];
        EXPECT_EQ(v, shift[k][f][t]) << k << f << t;
        sum += v;
      }
      EXPECT_NEAR(sum, 1.0, 2.1e-5);  // every row sums to 0.99998 .. 0.99999
    }
}

TEST(WordTypeOf, MapsEveryStateType) {
  for (int t = 0; t < kStateTypeCount; ++t) {
    const auto st = static_cast<TStateType>(t);
    TWordType expected = ctSquelch;
    if (t <= ctCQ) expected = st;
    else if (t >= ctCallStruC && t <= ctCallPort) expected = ctCall;
    else if (t >= ctExchangePatt && t <= ctExchangeTxt) expected = ctExchange;
    EXPECT_EQ(WordTypeOf(st), expected) << StateTypeName(st);
  }
  EXPECT_EQ(WordTypeOf(CallLtr), ctCall);
  EXPECT_EQ(WordTypeOf(ctWord), ctSquelch);
  EXPECT_EQ(WordTypeOf(ctNone), ctSquelch);
}

TEST(TryParseFloat, LocaleFreeDecimalPoint) {
  struct Case {
    const char* text;
    bool ok;
    float value;
  } cases[] = {
      {"0.5", true, 0.5f},   {" 0.25 ", true, 0.25f}, {"1", true, 1.0f},     {".5", true, 0.5f},
      {"+0.5", true, 0.5f},  {"-0.5", true, -0.5f},   {"1e-3", true, 0.001f}, {"2.5E2", true, 250.0f},
      {"0,5", false, 0},     {"", false, 0},          {"  ", false, 0},       {"abc", false, 0},
      {"0.5x", false, 0},    {"inf", false, 0},       {"nan", false, 0},      {"-inf", false, 0},
      {"1e999", false, 0},   {"0.5 0.5", false, 0},   {"+", false, 0},        {"--1", false, 0},
  };
  for (const auto& c : cases) {
    float v = -42.0f;
    EXPECT_EQ(TryParseFloat(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

class ContestLoader : public ::testing::Test {
 protected:
  void SetUp() override { SetAppDataRoot(tmp.Path().string()); }
  void TearDown() override { SetAppDataRoot(""); }

  std::string WriteFile(const std::string& text) {
    const std::string path = (tmp.Path() / "contests.ini").string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }
  // Puts the file where the program looks for it.
  void WriteContestFile(const std::string& text) {
    std::filesystem::create_directories(tmp.Path() / "Quellan/Products/Holmcast");
    std::ofstream(GetContestsIniFileName(), std::ios::binary) << text;
  }
  static TRttyMessageStatistics BuiltIn() {
    TRttyMessageStatistics s;
    InitMessageStatistics(s);
    return s;
  }
  testing::TempDir tmp;
};

TEST_F(ContestLoader, FileNameUnderTheDataFolder) {
  EXPECT_EQ(GetContestsIniFileName(), tmp.Path().string() + "/Quellan/Products/Holmcast/Contests.ini");
}

TEST_F(ContestLoader, KeysAndLinesOfTheSection) {
  WriteContestFile(
      "[Other]\nCQ1=OTHER|1\n"
      "[Test]\n"
      "CQ1=CQ|0.5\n"
      "cq3=TEST|0.5\n"
      "Exchange2=599~nn|0.75\n"
      "EXCHANGE1=5NN|1e-2\n"
      "CALL=DL1ABC|1\n"
      "=X|1\n"
      "CQ9=|0.5\n"
      "CQ8=nobar\n"
      "C=Q|1\n"
      "EXCH=5|1\n"
      "CQ1=CQCQ|0.25\n"
      "cqword = TU |2\n");
  TRttyMessageStatistics s = BuiltIn();
  LoadContest(s, "test");
  EXPECT_EQ(s.ContestName, "test");
  EXPECT_EQ(s.CqWords,
            (TPatternInfoArray{{"CQ", 0.5f}, {"TEST", 0.5f}, {"CQCQ", 0.25f}, {"TU ", 2.0f}}));
  EXPECT_EQ(s.Exchanges, (TPatternInfoArray{{"599~nn", 0.75f}, {"5NN", 0.01f}}));
  // Everything else stays built in.
  const TRttyMessageStatistics b = BuiltIn();
  EXPECT_EQ(s.Call, b.Call);
  EXPECT_EQ(s.WhiteSpaces, b.WhiteSpaces);
  EXPECT_EQ(s.MessageTransitionProbs, b.MessageTransitionProbs);
}

TEST_F(ContestLoader, EmptyNameLoadsDX) {
  WriteContestFile("[DX]\nCQ1=CQ|1\nEXCHANGE1=599|1\n");
  TRttyMessageStatistics s = BuiltIn();
  s.ContestName = "Something";
  LoadContest(s, "");
  EXPECT_EQ(s.ContestName, "DX");
  EXPECT_EQ(s.CqWords, (TPatternInfoArray{{"CQ", 1.0f}}));
  EXPECT_EQ(s.Exchanges, (TPatternInfoArray{{"599", 1.0f}}));
}

TEST_F(ContestLoader, MissingFileOrSectionGivesEmptyListsAndTheModelBuilds) {
  TRttyMessageStatistics s = BuiltIn();
  LoadContest(s, "DX");  // no file at all
  EXPECT_EQ(s.ContestName, "DX");
  EXPECT_TRUE(s.CqWords.empty());
  EXPECT_TRUE(s.Exchanges.empty());
  EXPECT_NO_THROW(TRttyMessageHmm{s});

  WriteContestFile("[DX]\nCQ1=CQ|1\n");
  s = BuiltIn();
  LoadContest(s, "NoSuchContest");
  EXPECT_EQ(s.ContestName, "NoSuchContest");
  EXPECT_TRUE(s.CqWords.empty());
  EXPECT_TRUE(s.Exchanges.empty());
}

TEST_F(ContestLoader, DeletedOrUnusableDataFolderIsNoError) {
  WriteContestFile("[DX]\nCQ1=CQ|1\n");
  TRttyMessageStatistics s = BuiltIn();
  LoadContest(s, "DX");
  EXPECT_EQ(s.CqWords.size(), 1u);
  // The user deletes the whole data folder: no file, no error, the root comes back.
  std::filesystem::remove_all(tmp.Path());
  LoadContest(s, "DX");
  EXPECT_TRUE(s.CqWords.empty());
  EXPECT_TRUE(std::filesystem::is_directory(tmp.Path()));
  // A root that cannot be a folder (a file is in the way), even for root.
  const std::string blocker = (tmp.Path() / "file").string();
  std::ofstream(blocker) << "x";
  SetAppDataRoot(blocker + "/below");
  s = BuiltIn();
  EXPECT_NO_THROW(LoadContest(s, "DX"));
  EXPECT_TRUE(s.CqWords.empty());
  EXPECT_TRUE(s.Exchanges.empty());
  EXPECT_EQ(s.ContestName, "DX");
}

TEST_F(ContestLoader, BadNumbersRaiseAndLeaveTheStatisticsAsTheyWere) {
  const char* bad[] = {"abc", "0,5", "", "-0.5", "nan", "inf", "1e999", "0.5;"};
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    const std::string path = WriteFile(std::string("[C]\nCQ1=CQ|1\nEXCHANGE1=599|0.5\nCQ2=QRZ|") + text +
                                       "\nEXCHANGE2=5NN|1\n");
    TRttyMessageStatistics s = BuiltIn();
    const TRttyMessageStatistics before = s;
    EXPECT_THROW(LoadContestFromFile(s, "C", path), EConvertError);
    EXPECT_EQ(s, before);
  }
  TRttyMessageStatistics s = BuiltIn();
  const std::string path = WriteFile("[C]\nCQ1=CQ|0,5\n");
  try {
    LoadContestFromFile(s, "C", path);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.what(), path + ", section [C], key CQ1: '0,5' is not a valid floating point value");
  }
}

// A NUL byte is no pattern character: the entry is named, nothing loaded.
TEST_F(ContestLoader, NulInAPatternRaisesWithItsPlace) {
  for (const std::string key : {"CQ2", "EXCHANGE2"}) {
    const std::string path = WriteFile("[C]\nCQ1=CQ|1\n" + key + "=5" + std::string(1, '\0') + "N|0.5\n");
    TRttyMessageStatistics s = BuiltIn();
    EXPECT_THAT([&] { LoadContestFromFile(s, "C", path); },
                ::testing::ThrowsMessage<EConvertError>(
                    ::testing::StrEq(path + ", section [C], key " + key + ": a pattern cannot hold a NUL byte")));
    EXPECT_EQ(s, BuiltIn());
  }
}

TEST_F(ContestLoader, ZeroWeightIsKept) {
  const std::string path = WriteFile("[C]\nEXCHANGE1=599|0\nEXCHANGE2=5NN|1\n");
  TRttyMessageStatistics s = BuiltIn();
  LoadContestFromFile(s, "C", path);
  EXPECT_EQ(s.Exchanges, (TPatternInfoArray{{"599", 0.0f}, {"5NN", 1.0f}}));
}

// The process's numeric locale must not matter: under a German locale the
// decimal point still reads and the comma still fails.
TEST_F(ContestLoader, DecimalCommaUnderAGermanLocale) {
  std::locale german;
  try {
    german = std::locale("de_DE.UTF-8");
  } catch (const std::runtime_error&) {
    GTEST_SKIP() << "locale de_DE.UTF-8 is not installed (scripts/install-deps.sh makes it)";
  }
  const std::locale previousGlobal = std::locale::global(german);
  const std::string previousC = std::setlocale(LC_NUMERIC, nullptr);
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  ASSERT_EQ(*std::localeconv()->decimal_point, ',');

  const std::string path = WriteFile("[C]\nCQ1=CQ|0.5\nCQ2=QRZ|0,5\n");
  TRttyMessageStatistics s = BuiltIn();
  const TRttyMessageStatistics before = s;
  EXPECT_THROW(LoadContestFromFile(s, "C", path), EConvertError);
  EXPECT_EQ(s, before);
  const std::string good = WriteFile("[C]\nCQ1=CQ|0.5\n");
  LoadContestFromFile(s, "C", good);
  EXPECT_EQ(s.CqWords, (TPatternInfoArray{{"CQ", 0.5f}}));

  std::setlocale(LC_NUMERIC, previousC.c_str());
  std::locale::global(previousGlobal);
}

std::string ShippedContestFile() { return std::string(BRENVO_SOURCE_DIR) + "/data/Contests.ini"; }

TEST_F(ContestLoader, ShippedFileHasTheBuiltInListsAsDX) {
  TRttyMessageStatistics s = BuiltIn();
  LoadContestFromFile(s, "DX", ShippedContestFile());
  const TRttyMessageStatistics b = BuiltIn();
  EXPECT_EQ(s, b);
}

TEST_F(ContestLoader, EverySectionOfTheShippedFileLoadsAndBuildsAModel) {
  const TIniFile ini(ShippedContestFile());
  const auto names = ini.ReadSectionNames();
  ASSERT_GE(names.size(), 10u);
  EXPECT_EQ(names.front(), "DX");
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    TRttyMessageStatistics s = BuiltIn();
    ASSERT_NO_THROW(LoadContestFromFile(s, name, ShippedContestFile()));
    EXPECT_FALSE(s.CqWords.empty());
    EXPECT_FALSE(s.Exchanges.empty());
    // Every line of the section was taken: no key is misspelt or malformed.
    std::size_t lines = 0;
    for (const auto& kv : ini.ReadSection(name)) {
      (void)kv;
      ++lines;
    }
    EXPECT_EQ(s.CqWords.size() + s.Exchanges.size(), lines);
    for (const auto& e : s.Exchanges) EXPECT_GT(e.Prob, 0.0f) << e.Patt;
    std::unique_ptr<TRttyMessageHmm> hmm;
    ASSERT_NO_THROW(hmm = std::make_unique<TRttyMessageHmm>(s));
    // The exchanges have a way out to the next word.
    const THmm& exchange = *hmm->Hmm().NestedHmms[ctExchange];
    EXPECT_TRUE(exchange.OutLTR->Index >= 0 || exchange.OutDIG->Index >= 0);
  }
}

}  // namespace
}  // namespace brenvo
