// UTC time as a date-time value: days since 1899-12-30 00:00, the fraction
// being the time of day.
#pragma once

#include <string>

namespace brenvo {

using TDateTime = double;

// Date-time of the Unix epoch, 1970-01-01 00:00 UTC.
inline constexpr TDateTime kUnixEpochDateTime = 25569.0;

// The current UTC time, to the millisecond.
TDateTime UtcNow();

// "yyyy-mm-dd hh:nn:ss". The value is first rounded to the nearest
// millisecond, so 23:59:59.9996 reads as the next day's 00:00:00.
std::string UtcToStr(TDateTime t);

// Date-time of a calendar date and time of day (UTC); milliseconds optional.
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms = 0);

struct TDateTimeParts {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};
// The calendar parts of t after rounding to the nearest millisecond.
TDateTimeParts DecodeDateTime(TDateTime t);

}  // namespace brenvo
