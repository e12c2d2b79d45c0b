#include "decoder/utc_clock.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace brenvo {
namespace {

constexpr int64_t kMsPerDay = 86'400'000;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

}  // namespace

TDateTime UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const int64_t ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  return kUnixEpochDateTime + static_cast<double>(ms) / static_cast<double>(kMsPerDay);
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
  const int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  const int64_t msOfDay = ((hour * 60LL + minute) * 60LL + second) * 1000LL + ms;
  return kUnixEpochDateTime + static_cast<double>(days) +
         static_cast<double>(msOfDay) / static_cast<double>(kMsPerDay);
}

TDateTimeParts DecodeDateTime(TDateTime t) {
  // Whole milliseconds since the epoch of date-times, rounded half to even.
  const double totalMs = std::nearbyint(t * static_cast<double>(kMsPerDay));
  const int64_t all = static_cast<int64_t>(totalMs);
  int64_t dayNo = all / kMsPerDay;
  int64_t msOfDay = all % kMsPerDay;
  if (msOfDay < 0) {
    msOfDay += kMsPerDay;
    --dayNo;
  }
  TDateTimeParts p{};
  CivilFromDays(dayNo - static_cast<int64_t>(kUnixEpochDateTime), p.Year, p.Month, p.Day);
  p.Millisecond = static_cast<int>(msOfDay % 1000);
  int64_t secs = msOfDay / 1000;
  p.Second = static_cast<int>(secs % 60);
  p.Minute = static_cast<int>((secs / 60) % 60);
  p.Hour = static_cast<int>(secs / 3600);
  return p;
}

std::string UtcToStr(TDateTime t) {
  const TDateTimeParts p = DecodeDateTime(t);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour,
                p.Minute, p.Second);
  return buf;
}

}  // namespace brenvo
