#include "common/DateTime.h"

#include <langinfo.h>
#include <locale.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "platform/Clock.h"

namespace quovix {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back
// (H. Hinnant's civil calendar algorithms).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

void CivilFromDays(long long z, int& y, int& m, int& d) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long yy = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

// Date-time values of 0001-01-01 and 9999-12-31 23:59:59.999.
constexpr double kMinValue = -693593.0;
constexpr double kMaxValue = 2958466.0 - 1.0 / kMsPerDay;

bool IsCLocale(std::string_view name) {
  return name.empty() || name == "C" || name == "POSIX" || name.starts_with("C.");
}

// The user's formats with the locale they came from (kept for the life of
// the process, so names of days and AM/PM come out in the same language).
struct UserLocale {
  UserDateTimeFormats Formats;
  locale_t Locale = static_cast<locale_t>(0);
};

UserLocale ReadUserLocale() {
  UserLocale u;
  UserDateTimeFormats& f = u.Formats;
  const char* name = nullptr;
  for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      name = v;
      break;
    }
  }
  if (!name || IsCLocale(name)) return u;
  locale_t loc = newlocale(LC_TIME_MASK, name, static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return u;
  std::string date = nl_langinfo_l(D_FMT, loc);
  std::string time = nl_langinfo_l(T_FMT, loc);
  if (date.empty() || time.empty()) {
    freelocale(loc);
    return u;
  }
  f.Date = date;
  f.Time = time;
  u.Locale = loc;
  return u;
}

const UserLocale& TheUserLocale() {
  static const UserLocale u = ReadUserLocale();
  return u;
}

std::string Format(double value, const std::string& dateFormat, const std::string& timeFormat,
                   locale_t loc) {
  DateTimeParts p;
  if (!DecodeDateTime(value, p)) return {};
  tm t{};
  t.tm_year = p.Year - 1900;
  t.tm_mon = p.Month - 1;
  t.tm_mday = p.Day;
  t.tm_hour = p.Hour;
  t.tm_min = p.Minute;
  t.tm_sec = p.Second;
  t.tm_wday = p.DayOfWeek;
  t.tm_yday = p.DayOfYear;
  t.tm_isdst = -1;
  t.tm_zone = "";
  const std::string format = dateFormat + " " + timeFormat;
  char buf[256];
  const size_t n = loc != static_cast<locale_t>(0)
                       ? strftime_l(buf, sizeof buf, format.c_str(), &t, loc)
                       : std::strftime(buf, sizeof buf, format.c_str(), &t);
  return std::string(buf, n);
}

}  // namespace

double DateTimeFromUnix(double unixSeconds) { return unixSeconds / kSecondsPerDay + kUnixEpochDays; }

double UnixFromDateTime(double value) { return (value - kUnixEpochDays) * kSecondsPerDay; }

double LocalBiasDays() {
  auto& clock = platform::Clock();
  return -static_cast<double>(clock.UtcOffset(clock.Now().tv_sec)) / kSecondsPerDay;
}

double LocalNow() {
  auto& clock = platform::Clock();
  const timespec now = clock.Now();
  const double utc = DateTimeFromUnix(static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9);
  return utc + static_cast<double>(clock.UtcOffset(now.tv_sec)) / kSecondsPerDay;
}

timespec TimespecFromDateTime(double utcValue) {
  const long long ms = std::llround((utcValue - kUnixEpochDays) * kMsPerDay);
  long long sec = ms / 1000, rem = ms % 1000;
  if (rem < 0) {
    rem += 1000;
    --sec;
  }
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(sec);
  ts.tv_nsec = static_cast<long>(rem * 1000000);
  return ts;
}

bool DecodeDateTime(double value, DateTimeParts& p) {
  if (!std::isfinite(value) || value < kMinValue || value > kMaxValue) return false;
  const long long total = std::llround(value * kMsPerDay);
  long long days = total / 86400000, ms = total % 86400000;
  if (ms < 0) {
    ms += 86400000;
    --days;
  }
  const long long unixDays = days - static_cast<long long>(kUnixEpochDays);
  CivilFromDays(unixDays, p.Year, p.Month, p.Day);
  p.Hour = static_cast<int>(ms / 3600000);
  p.Minute = static_cast<int>(ms / 60000 % 60);
  p.Second = static_cast<int>(ms / 1000 % 60);
  p.Millisecond = static_cast<int>(ms % 1000);
  p.DayOfWeek = static_cast<int>(((unixDays % 7) + 7 + 4) % 7);  // 1970-01-01 was a Thursday
  p.DayOfYear = static_cast<int>(unixDays - DaysFromCivil(p.Year, 1, 1));
  return true;
}

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                      int millisecond) {
  const double days = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month),
                                                        static_cast<unsigned>(day))) +
                      kUnixEpochDays;
  const double ms = ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond;
  return days + ms / kMsPerDay;
}

std::string FormatDateTime(double value, const std::string& dateFormat,
                           const std::string& timeFormat) {
  return Format(value, dateFormat, timeFormat, static_cast<locale_t>(0));
}

std::string FormatDateTimeUser(double value) {
  const UserLocale& u = TheUserLocale();
  return Format(value, u.Formats.Date, u.Formats.Time, u.Locale);
}

const UserDateTimeFormats& UserFormats() { return TheUserLocale().Formats; }

std::string Iso8601Utc(double utcValue) {
  DateTimeParts p;
  if (!DecodeDateTime(utcValue, p)) return {};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", p.Year, p.Month, p.Day, p.Hour,
                p.Minute, p.Second, p.Millisecond);
  return buf;
}

}  // namespace quovix
