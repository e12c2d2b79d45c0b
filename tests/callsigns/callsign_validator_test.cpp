#include "callsigns/callsign_validator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "callsigns/master_dta.h"
#include "files/data_file.h"
#include "files/data_folders.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;

struct Rating {
  const char* call;
  TValdResult expected;
};

void ExpectRatings(const TCallsignValidator& v, std::initializer_list<Rating> ratings) {
  for (const auto& r : ratings) EXPECT_EQ(v.Validate(r.call), r.expected) << r.call;
}

// A reference folder and a user-data folder in a temporary place.
class Validator : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(Ref());
    fs::create_directories(User());
  }
  fs::path Ref() const { return tmp.Path() / "Reference"; }
  fs::path User() const { return tmp.Path() / "UserData"; }
  static void Write(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary) << bytes;
  }
  void WriteDta(const std::vector<std::string>& calls, const std::string& name = "MASTER.DTA") {
    Write(Ref() / name, BuildMasterDta(calls));
  }
  TCallsignValidator Make() const { return TCallsignValidator(Ref().string(), User().string()); }

  testing::TempDir tmp;
};

TEST_F(Validator, WithoutDataFilesRatesByStructure) {
  const auto v = Make();
  EXPECT_EQ(v.ListCount(), 0u);
  ExpectRatings(v, {
                       {"K1ABC", vrWarning},      {"DL1ABC", vrWarning},
                       {"DL/K1ABC/P", vrWarning}, {"4X4ABC", vrWarning},
                       {"3DA0RU", vrWarning},     {"K1ABC/4", vrWarning},
                       {"K1", vrError},           {"", vrError},
                       {"QRP", vrError},          {"k1abc", vrError},
                       {"K1ABC/W1ABC", vrError},  {"Q1ABC", vrError},
                       {"0K1AB", vrError},        {"4N1AB", vrError},
                       {"1C1AB", vrError},        {"DL/Q1ABC", vrError},
                       {"Q1ABC/P", vrError},      {"K1 ABC", vrError},
                       {"A/B/C/D/E", vrError},    {"/K1ABC", vrError},
                   });
}

TEST_F(Validator, StructuralRatingUsesThePatternsOfTheBaseCall) {
  Write(Ref() / "Patt3Ch.lst", "+ DL1@@@\r\n  K1@@@\r\nx W1@@@\r\n- K1@@\r\n");
  const auto v = Make();
  EXPECT_TRUE(v.Ch3Validator().Initialized());
  ExpectRatings(v, {
                       {"DL1ABC", vrPerfect},
                       {"F/DL1ABC/P", vrPerfect},
                       {"K1ABC", vrGood},
                       {"DL/K1ABC/QRP", vrGood},
                       {"W1ABC", vrError},
                       {"K1AB/P", vrWarning},
                       {"JA1ABC", vrWarning},
                   });
}

TEST_F(Validator, OverrideOrderBlackBeatsWatchBeatsDatabase) {
  WriteDta({"K1ABC", "DL1ABC", "W1AW", "G4XYZ"});
  Write(User() / "Watch.lst", "DL1ABC\r\nW1AW\r\nVK2XX\r\n");
  Write(Ref() / "Black.lst", "W1AW\r\nG4XYZ\r\nJA1ZZ\r\n");
  const auto v = Make();
  ExpectRatings(v, {
                       {"K1ABC", vrDta},
                       {"DL1ABC", vrWatch},
                       {"W1AW", vrError},
                       {"G4XYZ", vrError},
                       {"VK2XX", vrWatch},
                       {"JA1ZZ", vrError},
                   });
  EXPECT_EQ(v.ListCount(), 6u);
}

TEST_F(Validator, ListLines) {
  Write(User() / "Watch.lst",
        "K1ABC my friend\r\n"
        "  k1xyz\r\n"
        "/P\r\n"
        "AB\r\n"
        "\r\n"
        "\t DL/K1ABC/p \t\r\n"
        "VK2AB\tcomment\r\n"
        "abc def ghi\r\n");
  const auto v = Make();
  ExpectRatings(v, {
                       {"K1ABC", vrWatch},
                       {"K1XYZ", vrWatch},
                       {"k1xyz", vrError},  // stored upper case; a lower-case text is malformed
                       {"DL/K1ABC/P", vrWatch},
                       {"VK2AB\tCOMMENT", vrWatch},  // only a blank ends the key
                       {"ABC", vrWatch},
                       {"AB", vrError},
                   });
  EXPECT_EQ(v.ListCount(), 5u);
}

TEST_F(Validator, WholeCandidateIsLookedUpBeforeSplitting) {
  Write(User() / "Watch.lst", "K1ABC/P\n");
  WriteDta({"DL1XYZ"});
  const auto v = Make();
  ExpectRatings(v, {
                       {"K1ABC/P", vrWatch},
                       {"K1ABC", vrWarning},
                       {"DL1XYZ", vrDta},
                       {"DL1XYZ/P", vrWarning},  // rated by structure, not the database
                   });
}

TEST_F(Validator, TwoCharacterCandidateIsAnErrorEvenWhenListed) {
  Write(Ref() / "MASTER.DTA", std::string(kMasterDtaHeaderSize, 'h') + std::string("K1\0", 3));
  const auto v = Make();
  EXPECT_EQ(v.ListCount(), 1u);
  EXPECT_EQ(v.Validate("K1"), vrError);
}

TEST_F(Validator, DatabaseEntriesAreTrimmedAndUpperCased) {
  const std::string body("  k1abc \0\x01W1AW\x02\0\0DL1ABC\0", 24);
  Write(Ref() / "MASTER.DTA", std::string(kMasterDtaHeaderSize, '\0') + body);
  const auto v = Make();
  ExpectRatings(v, {
                       {"K1ABC", vrDta},
                       {"W1AW", vrDta},
                       {"DL1ABC", vrDta},
                   });
  EXPECT_EQ(v.ListCount(), 3u);
}

TEST_F(Validator, DatabaseInAnyOrderHoldsEachCallOnce) {
  // In order, repeated, out of order, and calls alike in their first eight
  // bytes (the table's head) that only later bytes order.
  const struct {
    std::vector<std::string> calls;
    std::size_t count;
  } cases[] = {
      {{"A1AAA", "B1BBB", "C1CCC"}, 3},
      {{"A1AAA", "A1AAA", "B1BBB"}, 2},
      {{"A1AAA", "B1BBB", "B1BBB"}, 2},
      {{"C1CCC", "A1AAA", "B1BBB", "A1AAA"}, 3},
      {{"K1ABCDEF/P", "K1ABCDEF/M", "K1ABCDEF/M", "K1ABCDEF"}, 3},
      {{"K1ABCDEF", "K1ABCDEF/M", "K1ABCDEF/P"}, 3},
  };
  for (const auto& c : cases) {
    WriteDta(c.calls);
    const auto v = Make();
    EXPECT_EQ(v.ListCount(), c.count) << c.calls.front();
    for (const std::string& call : c.calls) EXPECT_EQ(v.Validate(call), vrDta) << call;
    EXPECT_EQ(v.Validate("K1ABCDEF/Q"), vrWarning);
  }
}

TEST_F(Validator, HeaderIsSkippedWhateverItHolds) {
  std::string header(5481, '\0');  // the size written out, not the reader's own constant
  header.replace(0, 6, std::string("X9ZZ\0\0", 6));  // call-like bytes in the header
  header.back() = 'W';                               // the last header byte too
  Write(Ref() / "MASTER.DTA", header + std::string("K1ABC\0", 6));
  const auto v = Make();
  EXPECT_EQ(v.ListCount(), 1u);
  ExpectRatings(v, {
                       {"K1ABC", vrDta},
                       {"WK1ABC", vrWarning},
                       {"X9ZZ", vrError},
                   });
}

TEST_F(Validator, DatabaseOfHeaderSizeOrLessGivesNothing) {
  for (std::size_t size :
       {std::size_t{0}, std::size_t{100}, kMasterDtaHeaderSize - 1, kMasterDtaHeaderSize}) {
    Write(Ref() / "MASTER.DTA", std::string(size, 'K'));
    EXPECT_EQ(Make().ListCount(), 0u) << size;
  }
  // One byte more is one call.
  Write(Ref() / "MASTER.DTA", std::string(kMasterDtaHeaderSize + 1, 'K'));
  const auto v = Make();
  EXPECT_EQ(v.ListCount(), 1u);
}

TEST_F(Validator, UnterminatedLastCallIsEnteredWithoutReadingPastTheEnd) {
  Write(Ref() / "MASTER.DTA",
        std::string(kMasterDtaHeaderSize, '\0') + std::string("K1ABC\0DL1XYZ", 12));
  const auto v = Make();
  EXPECT_EQ(v.ListCount(), 2u);
  ExpectRatings(v, {
                       {"K1ABC", vrDta},
                       {"DL1XYZ", vrDta},
                   });
}

// Calls of any bytes and lengths, so that their ends fall at every place of
// the words the loader scans: bytes with only the top bit set, blanks,
// control characters and runs of zeros split the body exactly where a byte
// 00 stands, whatever the file's length.
TEST_F(Validator, DatabaseOfArbitraryBytesSplitsAtEachZero) {
  std::mt19937 rng(17);
  const char bytes[] = {'\0', '\x80', '\xFF', '\x7F', ' ', '\x01', 'a', 'K', '1', '/'};
  for (int trial = 0; trial < 40; ++trial) {
    std::string body;
    for (int n = static_cast<int>(rng() % 400); n > 0; --n) body += bytes[rng() % sizeof bytes];
    std::set<std::string> want;
    for (std::size_t b = 0; b <= body.size();) {
      const std::size_t e = std::min(body.find('\0', b), body.size());
      std::string call(TrimBlanks(std::string_view(body).substr(b, e - b)));
      UpperCaseAscii(call);
      if (!call.empty()) want.insert(call);
      b = e + 1;
    }
    Write(Ref() / "MASTER.DTA", std::string(kMasterDtaHeaderSize, 'h') + body);
    const auto v = Make();
    ASSERT_EQ(v.ListCount(), want.size()) << "trial " << trial;
    for (const auto& c : want) {
      if (c.size() < 3) continue;  // rated before any lookup
      ASSERT_EQ(v.Validate(c), vrDta) << "trial " << trial;
    }
  }
}

TEST_F(Validator, LargeShuffledFilesRateAsAMapOfTheRulesDoes) {
  // Random calls, in no order, repeated within and across the files, some in
  // lower case: the result is that of the last file (database, watch, black)
  // holding the upper-cased call.
  std::mt19937 rng(5);
  std::vector<std::string> pool;
  for (int i = 0; i < 3000; ++i) {
    std::string c;
    for (int n = 3 + static_cast<int>(rng() % 5); n > 0; --n) c += "ABKWZ019akz/"[rng() % 12];
    pool.push_back(c);
  }
  auto upper = [](std::string c) {
    for (char& ch : c) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return c;
  };
  std::map<std::string, TValdResult> want;
  std::vector<std::string> dta;
  std::string watch, black;
  for (int i = 0; i < 20000; ++i) {
    const std::string& c = pool[rng() % pool.size()];
    dta.push_back(c);
    want.try_emplace(upper(c), vrDta);
  }
  for (const auto& [list, result] : {std::pair{&watch, vrWatch}, std::pair{&black, vrError}})
    for (int i = 0; i < 1500; ++i) {
      const std::string& c = pool[rng() % pool.size()];
      *list += c + "\n";
      if (c.front() != '/') want[upper(c)] = result;
    }
  WriteDta(dta);
  Write(User() / "Watch.lst", watch);
  Write(Ref() / "Black.lst", black);
  const auto v = Make();
  EXPECT_EQ(v.ListCount(), want.size());
  for (const auto& [call, result] : want) ASSERT_EQ(v.Validate(call), result) << call;
}

TEST_F(Validator, DatabasesInOrderOrNearlySoRateAsAMapDoes) {
  // The loader skips sorting what is in order already: a database in byte
  // order, one with calls appended out of order, one with lower-case calls
  // that upper-case out of place, and one in reverse.
  std::mt19937 rng(11);
  std::vector<std::string> sorted;
  for (int i = 0; i < 4000; ++i) {
    std::string c;
    for (int n = 3 + static_cast<int>(rng() % 4); n > 0; --n) c += "ABKWZ019/"[rng() % 9];
    sorted.push_back(c);
  }
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::string> appended = sorted;
  for (const char* c : {"ZZ9ZZ", "AA1AA", "K1ABC", "0A0", "K1ABC"}) appended.push_back(c);
  std::vector<std::string> lower = sorted;
  for (std::size_t i = 0; i < lower.size(); i += 97) lower[i] = "a" + lower[i];
  std::vector<std::string> reversed(sorted.rbegin(), sorted.rend());
  for (const auto* calls : {&sorted, &appended, &lower, &reversed}) {
    std::set<std::string> want;
    for (std::string c : *calls) {
      for (char& ch : c) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      want.insert(c);
    }
    WriteDta(*calls);
    const auto v = Make();
    EXPECT_EQ(v.ListCount(), want.size());
    for (const auto& c : want) ASSERT_EQ(v.Validate(c), vrDta) << c;
    EXPECT_EQ(v.Validate("ZZ9ZZZ"), vrWarning);
  }
}

// A database in table order is searched where it stands: calls that share
// long beginnings, one that ends the file without its byte 00, lists that
// override some of its calls, and texts it does not hold (before, between and
// after its calls, shorter and longer ones) rate as a map of the rules does.
TEST_F(Validator, SortedDatabaseRatesAsAMapDoes) {
  std::mt19937 rng(23);
  for (int trial = 0; trial < 6; ++trial) {
    std::set<std::string> calls;
    while (calls.size() < 3000) {
      std::string c = trial % 2 ? "VP2VABCD" : "";
      for (int n = 3 + static_cast<int>(rng() % 10); n > 0; --n) c += "AB1/"[rng() % 4];
      calls.insert(c);
    }
    std::map<std::string, TValdResult> want;
    for (const auto& c : calls) want[c] = vrDta;
    std::string dta = BuildMasterDta(std::vector<std::string>(calls.begin(), calls.end()));
    if (trial % 3 == 0) dta.pop_back();  // the last call without its byte 00
    Write(Ref() / "MASTER.DTA", dta);
    std::string watch, black;
    for (const auto& [list, result] : {std::pair{&watch, vrWatch}, std::pair{&black, vrError}})
      for (int i = 0; i < 50; ++i) {
        std::string c = *std::next(calls.begin(), static_cast<long>(rng() % calls.size()));
        if (i % 2) c += "B";
        *list += c + "\n";
        if (c.front() != '/') want[c] = result;  // lists skip those
      }
    Write(User() / "Watch.lst", watch);
    Write(Ref() / "Black.lst", black);
    const auto v = Make();
    EXPECT_EQ(v.ListCount(), want.size());
    for (const auto& [call, result] : want) ASSERT_EQ(v.Validate(call), result) << call;
    for (int i = 0; i < 3000; ++i) {
      std::string probe = trial % 2 ? "VP2VABCD" : "";
      for (int n = 3 + static_cast<int>(rng() % 12); n > 0; --n) probe += "@AB1/Z"[rng() % 6];
      if (want.count(probe)) continue;
      const TValdResult r = v.Validate(probe);
      ASSERT_TRUE(r != vrDta && r != vrWatch) << probe;
    }
  }
}

TEST_F(Validator, RoundTripThroughTheWriter) {
  const std::vector<std::string> calls = {"K1ABC", "DL1XYZ", "3DA0RU", "VP2V/K1ABC", "JA1ZZZ"};
  WriteDta(calls);
  const auto v = Make();
  EXPECT_EQ(v.ListCount(), calls.size());
  for (const auto& c : calls) EXPECT_EQ(v.Validate(c), vrDta) << c;
}

TEST_F(Validator, FileNamesMatchWithoutRegardToCase) {
  WriteDta({"K1ABC"}, "master.dta");
  Write(User() / "WATCH.LST", "DL1ABC\n");
  Write(Ref() / "black.Lst", "W1AW\n");
  Write(Ref() / "PATT3CH.lst", "+ JA1@@@\n");
  const auto v = Make();
  ExpectRatings(v, {
                       {"K1ABC", vrDta},
                       {"DL1ABC", vrWatch},
                       {"W1AW", vrError},
                       {"JA1XYZ", vrPerfect},
                   });
}

TEST_F(Validator, ExactFileNameWinsOverOtherSpellings) {
  Write(User() / "watch.lst", "K1AAA\n");
  Write(User() / "Watch.lst", "K1BBB\n");
  const auto v = Make();
  ExpectRatings(v, {
                       {"K1BBB", vrWatch},
                       {"K1AAA", vrWarning},
                   });
}

TEST_F(Validator, UnreadableListsCountAsMissing) {
  WriteDta({"K1ABC"});
  // Folders where the files are expected: they exist but cannot be read.
  fs::create_directory(User() / "Watch.lst");
  fs::create_directory(Ref() / "Black.lst");
  fs::create_directory(Ref() / "Patt3Ch.lst");
  std::unique_ptr<TCallsignValidator> v;
  ASSERT_NO_THROW(v = std::make_unique<TCallsignValidator>(Ref().string(), User().string()));
  ExpectRatings(*v, {
                        {"K1ABC", vrDta},
                        {"DL1ABC", vrWarning},
                    });
  EXPECT_EQ(v->ListCount(), 1u);
}

TEST_F(Validator, UnreadableDatabaseCountsAsMissing) {
  fs::create_directory(Ref() / "MASTER.DTA");
  Write(User() / "Watch.lst", "DL1ABC\n");
  const auto v = Make();
  EXPECT_EQ(v.ListCount(), 1u);
  EXPECT_EQ(v.Validate("DL1ABC"), vrWatch);
}

TEST_F(Validator, ListsWithByteOrderMarkAndLineEnds) {
  Write(User() / "Watch.lst", "\xEF\xBB\xBFK1ABC\rDL1ABC\nW1AW\r\n");
  const auto v = Make();
  EXPECT_EQ(v.ListCount(), 3u);
  for (const char* c : {"K1ABC", "DL1ABC", "W1AW"}) EXPECT_EQ(v.Validate(c), vrWatch) << c;
}

TEST_F(Validator, ExplicitLoadersAddToTheList) {
  auto v = Make();
  const fs::path extra = tmp.Path() / "extra.lst";
  Write(extra, "K1ABC\n");
  v.LoadCallList(extra.string(), vrError);
  EXPECT_EQ(v.Validate("K1ABC"), vrError);
  v.LoadCallList((tmp.Path() / "missing.lst").string(), vrWatch);
  EXPECT_EQ(v.ListCount(), 1u);

  TVuqStringList lines;
  lines.SetText("K1ABC\nG4ABC x\n");
  v.AddCallList(lines, vrWatch);
  ExpectRatings(v, {
                       {"K1ABC", vrWatch},  // the later entry replaces the earlier
                       {"G4ABC", vrWatch},
                   });
}

TEST_F(Validator, DefaultConstructorReadsTheDataFolders) {
  SetAppDataRoot(tmp.Path().string());
  std::ofstream(GetReferenceFolder() + "Master.dta", std::ios::binary) << BuildMasterDta({"K1ABC"});
  std::ofstream(GetUserDataFolder() + "Watch.lst", std::ios::binary) << "DL1ABC\r\n";
  std::ofstream(GetReferenceFolder() + "Black.lst", std::ios::binary) << "W1AW\r\n";
  TCallsignValidator v;
  TCallsignValidator fromEmptyName(Ref().string(), User().string());
  fromEmptyName.LoadMasterDta("");  // "Master.dta" in the reference folder
  SetAppDataRoot("");
  ExpectRatings(v, {
                       {"K1ABC", vrDta},
                       {"DL1ABC", vrWatch},
                       {"W1AW", vrError},
                   });
  EXPECT_EQ(fromEmptyName.Validate("K1ABC"), vrDta);
}

TEST_F(Validator, ArbitraryBytesNeverThrowAndNeverGiveUnknown) {
  const auto v = Make();
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 24;
  };
  const std::string alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ//";
  for (int i = 0; i < 5000; ++i) {
    std::string s(next() % 17, ' ');
    for (char& c : s)
      c = (i % 4 == 0) ? static_cast<char>(next()) : alphabet[next() % alphabet.size()];
    const TValdResult r = v.Validate(s);
    EXPECT_GE(r, vrError);
    EXPECT_LE(r, vrPerfect);
  }
}

}  // namespace
}  // namespace brenvo
