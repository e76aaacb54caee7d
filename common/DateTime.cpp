#include "common/DateTime.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace quovix {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Days from 1899-12-30 to 1970-01-01.
constexpr std::int64_t kUnixEpochDays = 25569;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

bool LeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

}  // namespace

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                      int millisecond) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 60 || millisecond < 0 || millisecond > 999)
    return 0;
  const std::int64_t days = DaysFromCivil(year, month, day) + kUnixEpochDays;
  const double time = (hour * 3600.0 + minute * 60.0 + second + millisecond / 1000.0) /
                      static_cast<double>(kSecondsPerDay);
  return static_cast<double>(days) + time;
}

double UnixToDateTime(std::int64_t seconds) {
  return static_cast<double>(kUnixEpochDays) +
         static_cast<double>(seconds) / static_cast<double>(kSecondsPerDay);
}

std::int64_t DateTimeToUnix(double value) {
  return static_cast<std::int64_t>(
      std::llround((value - static_cast<double>(kUnixEpochDays)) * kSecondsPerDay));
}

double UtcToLocalDateTime(double utc) {
  const std::int64_t secs = DateTimeToUnix(utc);
  const std::time_t t = static_cast<std::time_t>(secs);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return utc;
  return utc + static_cast<double>(local.tm_gmtoff) / static_cast<double>(kSecondsPerDay);
}

std::string DateTimeToStr(double value) {
  // Whole seconds, rounded, so 23:59:59.9 does not show as 24:00:00.
  std::int64_t secs = static_cast<std::int64_t>(std::llround(value * kSecondsPerDay));
  std::int64_t days = secs / kSecondsPerDay;
  std::int64_t rest = secs % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  int y = 0, m = 0, d = 0;
  CivilFromDays(days - kUnixEpochDays, y, m, d);
  char buf[64];
  if (rest == 0) {
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d, m, y);
  } else {
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", d, m, y,
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
  }
  return buf;
}

}  // namespace quovix
