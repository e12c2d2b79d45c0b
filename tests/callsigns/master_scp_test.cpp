// The validator on the real list of active contest calls (Debian's
// hamradio-files package), converted by the same code as the scp_to_dta tool.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "callsigns/callsign_validator.h"
#include "callsigns/master_dta.h"
#include "files/data_file.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

namespace fs = std::filesystem;

class RealMasterList : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kDebianMasterScpPath))
        << kDebianMasterScpPath
        << " is missing: install the Debian package hamradio-files (scripts/install-deps.sh does)";
    std::string text;
    ASSERT_TRUE(ReadFileBytes(kDebianMasterScpPath, text));
    calls = ParseScpCalls(text);
    ASSERT_GT(calls.size(), 50000u) << "the list looks truncated";
    fs::create_directories(tmp.Path() / "Reference");
    fs::create_directories(tmp.Path() / "UserData");
    EXPECT_EQ(ConvertScpToDta(kDebianMasterScpPath, Dta()).Written, calls.size());
  }
  std::string Dta() const { return (tmp.Path() / "Reference" / "MASTER.DTA").string(); }
  std::unique_ptr<TCallsignValidator> Make() const {
    return std::make_unique<TCallsignValidator>((tmp.Path() / "Reference").string(),
                                                (tmp.Path() / "UserData").string());
  }

  testing::TempDir tmp;
  std::vector<std::string> calls;
};

TEST_F(RealMasterList, ConvertedFileHasTheHeaderAndOneTerminatedEntryPerCall) {
  std::string bytes;
  ASSERT_TRUE(ReadFileBytes(Dta(), bytes));
  std::size_t expected = kMasterDtaHeaderSize;
  for (const auto& c : calls) expected += c.size() + 1;
  EXPECT_EQ(bytes.size(), expected);
  EXPECT_EQ(bytes.back(), '\0');
  // The comment lines at the top of the list are not calls.
  for (const auto& c : calls) ASSERT_NE(c.front(), '#');
}

TEST_F(RealMasterList, EveryListedCallRatesDta) {
  const auto v = Make();
  const std::unordered_set<std::string> distinct(calls.begin(), calls.end());
  EXPECT_EQ(v->ListCount(), distinct.size());
  std::size_t wrong = 0;
  for (const auto& c : calls) {
    if (v->Validate(c) != vrDta && ++wrong <= 10) ADD_FAILURE() << c << " does not rate vrDta";
  }
  EXPECT_EQ(wrong, 0u);
}

TEST_F(RealMasterList, RealCallsAlmostAlwaysPassTheStructuralTests) {
  // Without the database every listed call is rated by its structure alone;
  // the rules must not reject real calls (a few odd entries aside).
  fs::remove(Dta());
  const auto v = Make();
  ASSERT_EQ(v->ListCount(), 0u);
  std::size_t rejected = 0;
  for (const auto& c : calls) rejected += v->Validate(c) == vrError;
  EXPECT_LT(rejected * 1000, calls.size()) << rejected << " of " << calls.size() << " rejected";
}

TEST_F(RealMasterList, UnlistedWellFormedCallsRateByPattern) {
  // Patterns whose kept part is exactly the prefix, so the expected pattern of
  // prefix + n letters is the prefix followed by n "@".
  std::ofstream(tmp.Path() / "Reference" / "Patt3Ch.lst", std::ios::binary)
      << "+ DL1@@@\r\n  K1@@@\r\n- JA1@@@\r\nx 9A1@@\r\n+ 3DA0@@\r\n";
  const auto v = Make();
  ASSERT_TRUE(v->Ch3Validator().Initialized());
  const std::unordered_set<std::string> listed(calls.begin(), calls.end());
  struct Template {
    const char* prefix;
    int letters;
    TValdResult expected;
  } templates[] = {
      {"DL1", 3, vrPerfect}, {"K1", 3, vrGood},      {"JA1", 3, vrWarning},
      {"9A1", 2, vrError},   {"3DA0", 2, vrPerfect}, {"W7", 3, vrWarning},
      {"VK2", 2, vrWarning}, {"G4", 3, vrWarning},   {"Q1", 3, vrError},  // no ITU prefix
      {"E9", 3, vrError},
  };
  uint32_t seed = 20230502;
  auto nextLetter = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<char>('A' + (seed >> 16) % 26);
  };
  int tested = 0;
  for (const auto& t : templates) {
    for (int i = 0; i < 200; ++i) {
      std::string call = t.prefix;
      for (int k = 0; k < t.letters; ++k) call += nextLetter();
      // Portable forms are rated on their base call too.
      for (const std::string& form : {call, "F/" + call, call + "/P", call + "/4/QRP"}) {
        if (listed.count(form)) continue;
        EXPECT_EQ(v->Validate(form), t.expected) << form;
        ++tested;
      }
    }
  }
  EXPECT_GT(tested, 7000);
}

TEST_F(RealMasterList, MalformedStringsRateError) {
  const auto v = Make();
  for (const char* s : {"",
                        "K",
                        "K1",
                        "k1abc",
                        "dl1abc",
                        "K1 ABC",
                        "K1-ABC",
                        "QRP",
                        "CQ",
                        "DE",
                        "TEST",
                        "5NN",
                        "599",
                        "A/B/C/D/E",
                        "K1ABC/W1ABC",
                        "/DL1ABC",
                        "DL1ABC//P",
                        "K1ABC?",
                        "12345",
                        "ABCDEF",
                        "QRZ1ABC",
                        "\xC4"
                        "K1ABC"}) {
    EXPECT_EQ(v->Validate(s), vrError) << s;
  }
}

}  // namespace
}  // namespace brenvo
