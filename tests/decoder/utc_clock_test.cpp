#include "decoder/utc_clock.h"

#include <gtest/gtest.h>

#include <ctime>

namespace brenvo {
namespace {

TEST(UtcToStr, FormatsAndRoundsToMilliseconds) {
  struct Case {
    TDateTime t;
    const char* expected;
  } cases[] = {
      {EncodeDateTime(2016, 3, 5, 7, 8, 9), "2016-03-05 07:08:09"},
      {EncodeDateTime(2016, 12, 31, 23, 59, 59), "2016-12-31 23:59:59"},
      {EncodeDateTime(2016, 12, 31, 23, 59, 59, 999), "2016-12-31 23:59:59"},
      // 0.4 ms before midnight rounds up into the next day and year; 0.6 ms does not.
      {EncodeDateTime(2017, 1, 1, 0, 0, 0) - 0.4 / 86'400'000.0, "2017-01-01 00:00:00"},
      {EncodeDateTime(2017, 1, 1, 0, 0, 0) - 0.6 / 86'400'000.0, "2016-12-31 23:59:59"},
      {EncodeDateTime(2020, 2, 29, 12, 0, 1) - 0.4 / 86'400'000.0, "2020-02-29 12:00:01"},
      {EncodeDateTime(2020, 2, 29, 12, 0, 1) - 0.6 / 86'400'000.0, "2020-02-29 12:00:00"},
      {0.0, "1899-12-30 00:00:00"},
      {kUnixEpochDateTime, "1970-01-01 00:00:00"},
      {2.5, "1900-01-01 12:00:00"},
  };
  for (const auto& c : cases) EXPECT_EQ(UtcToStr(c.t), c.expected);
}

TEST(UtcNow, AgreesWithSystemClock) {
  const double unixDays = static_cast<double>(std::time(nullptr)) / 86400.0;
  EXPECT_NEAR(UtcNow(), kUnixEpochDateTime + unixDays, 5.0 / 86400.0);
  EXPECT_LE(UtcNow(), UtcNow());
}

}  // namespace
}  // namespace brenvo
