#include <gtest/gtest.h>

#include <algorithm>

#include "links/version.h"
#include "links/version_config.h"

namespace brenvo {
namespace {

TEST(Version, TextIsTheFourWordHalves) {
  const std::string want = std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
                           std::to_string(kVersionRelease) + "." + std::to_string(kVersionBuild);
  EXPECT_EQ(GetFileVersionText(), want);
  EXPECT_EQ(GetFileVersionWord(true) >> 16, kVersionMajor);
  EXPECT_EQ(GetFileVersionWord(false) & 0xFFFF, kVersionBuild);
}

// The generated header against the project version itself, missing parts
// counted as 0.
TEST(Version, TextIsTheProjectVersion) {
  std::string want = BRENVO_PROJECT_VERSION;
  while (std::count(want.begin(), want.end(), '.') < 3) want += ".0";
  EXPECT_EQ(GetFileVersionText(), want);
}

}  // namespace
}  // namespace brenvo
