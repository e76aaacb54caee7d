// Date-time values: days since 1899-12-30 00:00 as a double, the fraction
// being the time of day. The SNTP client, the Time tool and the HTTP dates use
// them; conversions to and from the system clock go through platform/Clock.h.
#pragma once

#include <ctime>
#include <string>

namespace quovix {

constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 00:00 as a date-time value
constexpr double kSecondsPerDay = 86400.0;
constexpr double kMsPerDay = 86400000.0;

// Epoch change only: a UTC instant in Unix seconds to a UTC date-time value
// and back.
double DateTimeFromUnix(double unixSeconds);
double UnixFromDateTime(double value);

// UTC minus local time in days, from the system's time-zone rules for the
// current moment (negative east of Greenwich). Throws std::runtime_error when
// the zone can't be read.
double LocalBiasDays();
// The local clock now as a date-time value.
double LocalNow();
// A UTC date-time value as the timespec the clock takes, to the millisecond.
timespec TimespecFromDateTime(double utcValue);

struct DateTimeParts {
  int Year = 0, Month = 0, Day = 0;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
  int DayOfWeek = 0;  // 0 Sunday … 6 Saturday
  int DayOfYear = 0;  // 0 … 365
};
// Splits a value rounded to the millisecond; false for values that are not
// finite or lie outside the years 1 to 9999.
bool DecodeDateTime(double value, DateTimeParts& parts);
// The value of a calendar date and time (no range check).
double EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0,
                      int second = 0, int millisecond = 0);

// Formats with strftime-style date and time formats, joined by a blank;
// empty for a value DecodeDateTime refuses.
std::string FormatDateTime(double value, const std::string& dateFormat,
                           const std::string& timeFormat);
// A UTC value in ISO 8601 form to the millisecond ("2026-02-01T10:00:00.250Z");
// empty for a value DecodeDateTime refuses.
std::string Iso8601Utc(double utcValue);
// Formats with the user's short date format and long time format.
std::string FormatDateTimeUser(double value);

// The user's formats: those of the LC_TIME locale from the environment, or
// "dd.mm.yyyy hh:nn:ss" when that is the C/POSIX locale or not installed.
struct UserDateTimeFormats {
  std::string Date = "%d.%m.%Y";
  std::string Time = "%H:%M:%S";
};
const UserDateTimeFormats& UserFormats();

}  // namespace quovix
