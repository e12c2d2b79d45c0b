#include "receiver/decoder_startup.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "callsigns/callsign_validator.h"
#include "decoder/message_hmm.h"
#include "decoder/message_statistics.h"
#include "receiver_test_env.h"
#include "support/temp_dir.h"

namespace brenvo {
namespace {

// The program applies the contest "DX" from the contest file before it
// decodes anything: without the file, or without its section, there are no
// CQ words and no exchanges (the built-in ones do not stay).
TEST(DecoderStartup, ContestDxAlwaysComesFromTheFile) {
  testing::EnsureDecoderGlobals();
  std::string shipped = BRENVO_SOURCE_DIR;
  shipped += "/data/Contests.ini";

  StartDecoderGlobals(shipped + ".missing");
  EXPECT_TRUE(MessageStatistics()->CqWords.empty());
  EXPECT_TRUE(MessageStatistics()->Exchanges.empty());
  EXPECT_EQ(MessageStatistics()->ContestName, "DX");
  EXPECT_EQ(MessageHmm()->ContestName(), "DX");  // the model still builds
  ASSERT_NE(CallValidator, nullptr);

  testing::TempDir dir;
  const std::string own = (dir.Path() / "Contests.ini").string();
  std::ofstream(own) << "[Other]\nCQ1=TEST|1\n";
  StartDecoderGlobals(own);  // no section "DX"
  EXPECT_TRUE(MessageStatistics()->CqWords.empty());
  EXPECT_TRUE(MessageStatistics()->Exchanges.empty());

  std::ofstream(own) << "[Other]\nCQ1=TEST|1\n[DX]\nCQ1=QRZ|0.5\nEXCHANGE1=5NN|1\n";
  StartDecoderGlobals(own);
  ASSERT_EQ(MessageStatistics()->CqWords.size(), 1u);
  EXPECT_EQ(MessageStatistics()->CqWords[0].Patt, "QRZ");
  ASSERT_EQ(MessageStatistics()->Exchanges.size(), 1u);
  EXPECT_EQ(MessageStatistics()->Exchanges[0].Patt, "5NN");
  EXPECT_EQ(MessageStatistics()->ContestName, "DX");
  // The model was built from these statistics.
  EXPECT_EQ(MessageHmm()->ContestName(), "DX");
  ASSERT_NE(CallValidator, nullptr);
  StartDecoderGlobals(shipped);  // as the other tests of this program expect
}

}  // namespace
}  // namespace brenvo
