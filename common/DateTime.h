// Date-time values: days since 1899-12-30 00:00 as a double, the fraction
// being the time of day. Used for the times a server reports.
#pragma once

#include <cstdint>
#include <string>

namespace quovix {

// The value for a calendar date and time of day; 0 when a field is out of range.
double EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                      int millisecond = 0);
// Seconds since 1970-01-01 00:00 UTC as a date-time value in UTC, and back.
double UnixToDateTime(std::int64_t seconds);
std::int64_t DateTimeToUnix(double value);
// A UTC date-time value converted to the local time zone of this machine
// (with the offset in force at that moment).
double UtcToLocalDateTime(double utc);
// "dd.mm.yyyy hh:nn:ss"; exactly midnight shows the date alone.
std::string DateTimeToStr(double value);

}  // namespace quovix
