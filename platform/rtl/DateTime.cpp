#include "rtl/DateTime.h"

#include <cmath>
#include <ctime>
#include <mutex>

#include "rtl/Exception.h"

namespace rtl {

namespace {

constexpr int kDaysBefore[2][13] = {{0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
                                    {0, 0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335}};

// Day number on which 0001-01-01 is day 1.
int64_t DayNumber(int year, int month, int day) {
  int64_t y = year - 1;
  return y * 365 + y / 4 - y / 100 + y / 400 + kDaysBefore[IsLeapYear(year)][month] + day;
}

std::mutex& SourceLock() {
  static std::mutex lock;
  return lock;
}

std::function<std::chrono::system_clock::time_point()>& Source() {
  static std::function<std::chrono::system_clock::time_point()> source;
  return source;
}

std::chrono::system_clock::time_point CurrentInstant() {
  std::lock_guard<std::mutex> guard(SourceLock());
  return Source() ? Source()() : std::chrono::system_clock::now();
}

// Milliseconds since the Unix epoch of an instant.
int64_t MillisOf(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

TDateTime FromUnixMillis(int64_t ms) {
  int64_t days = ms / MSecsPerDay;
  int64_t rest = ms % MSecsPerDay;
  if (rest < 0) {
    rest += MSecsPerDay;
    --days;
  }
  return static_cast<double>(days) + UnixDateDelta + static_cast<double>(rest) / MSecsPerDay;
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInAMonth(int year, int month) {
  static const int kDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInAMonth(year, month)) {
    return false;
  }
  result = static_cast<double>(DayNumber(year, month, day) - DateDelta);
  return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
  if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 ||
      msec >= 1000) {
    return false;
  }
  result = static_cast<double>(((hour * 60 + min) * 60 + sec) * 1000 + msec) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime result;
  if (!TryEncodeDate(year, month, day, result)) {
    throw EConvertError("Invalid argument to date encode");
  }
  return result;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime result;
  if (!TryEncodeTime(hour, min, sec, msec, result)) {
    throw EConvertError("Invalid argument to time encode");
  }
  return result;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
  TDateTime date = EncodeDate(year, month, day);
  TDateTime time = EncodeTime(hour, min, sec, msec);
  // Before the epoch the fraction counts forward from midnight by its absolute value.
  return date >= 0 ? date + time : date - time;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  year = month = day = 0;
  if (!std::isfinite(value)) return;
  double whole = std::trunc(value);
  if (whole < -DateDelta + 1 || whole > 2958465) return;    // 0001-01-01 .. 9999-12-31
  int64_t n = static_cast<int64_t>(whole) + DateDelta - 1;  // days since 0001-01-01
  int64_t y400 = n / 146097;
  n %= 146097;
  int64_t y100 = std::min<int64_t>(n / 36524, 3);
  n -= y100 * 36524;
  int64_t y4 = n / 1461;
  n %= 1461;
  int64_t y1 = std::min<int64_t>(n / 365, 3);
  n -= y1 * 365;
  year = static_cast<int>(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
  const int* before = kDaysBefore[IsLeapYear(year)];
  month = 12;
  while (month > 1 && before[month] > n) --month;
  day = static_cast<int>(n - before[month] + 1);
}

void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec) {
  hour = min = sec = msec = 0;
  if (!std::isfinite(value)) return;
  double fraction = std::fabs(value - std::trunc(value));
  auto ms = static_cast<int64_t>(std::nearbyint(fraction * MSecsPerDay));
  if (ms >= MSecsPerDay) ms = MSecsPerDay - 1;  // never report hour 24
  msec = static_cast<int>(ms % 1000);
  ms /= 1000;
  sec = static_cast<int>(ms % 60);
  ms /= 60;
  min = static_cast<int>(ms % 60);
  hour = static_cast<int>(ms / 60);
}

int DayOfWeek(TDateTime value) {
  // 1899-12-30 was a Saturday.
  auto days = static_cast<int64_t>(std::trunc(value));
  int64_t index = ((days + 6) % 7 + 7) % 7;  // 0 = Sunday
  return static_cast<int>(index) + 1;
}

int64_t DaysBetween(TDateTime from, TDateTime to) {
  // A value as milliseconds on a straight line; before the epoch the fraction
  // counts forward from the (negative) day's midnight.
  auto line = [](TDateTime value) {
    double days = std::trunc(value);
    auto ms = static_cast<int64_t>(std::nearbyint(std::fabs(value - days) * MSecsPerDay));
    return static_cast<int64_t>(days) * MSecsPerDay + ms;
  };
  int64_t span = line(to) - line(from);
  return (span < 0 ? -span : span) / MSecsPerDay;
}

TDateTime DateOf(TDateTime value) { return std::trunc(value); }

TDateTime TimeOf(TDateTime value) { return std::fabs(value - std::trunc(value)); }

TDateTime IncMonth(TDateTime value, int months) {
  int year, month, day;
  DecodeDate(value, year, month, day);
  int64_t total = static_cast<int64_t>(year) * 12 + (month - 1) + months;
  int newYear = static_cast<int>(total / 12);
  int newMonth = static_cast<int>(total % 12) + 1;
  day = std::min(day, DaysInAMonth(newYear, newMonth));
  TDateTime date = EncodeDate(newYear, newMonth, day);
  TDateTime time = TimeOf(value);
  return date >= 0 ? date + time : date - time;
}

TDateTime UtcNow() { return FromUnixMillis(MillisOf(CurrentInstant())); }

TDateTime Now() {
  auto instant = CurrentInstant();
  std::time_t seconds = std::chrono::system_clock::to_time_t(instant);
  std::tm local{};
  localtime_r(&seconds, &local);
  int64_t ms = MillisOf(instant) + static_cast<int64_t>(local.tm_gmtoff) * 1000;
  return FromUnixMillis(ms);
}

TDateTime Date() { return std::trunc(Now()); }

void SetTimeSource(std::function<std::chrono::system_clock::time_point()> source) {
  std::lock_guard<std::mutex> guard(SourceLock());
  Source() = std::move(source);
}

TDateTime UnixToDateTime(int64_t seconds) {
  return static_cast<double>(seconds) / SecsPerDay + UnixDateDelta;
}

int64_t DateTimeToUnix(TDateTime value) {
  // Whole days and the time fraction separately, rounded to the second, so that
  // the pre-epoch convention (fraction counts forward) holds as well.
  double days = std::trunc(value);
  double fraction = std::fabs(value - days);
  auto secs = static_cast<int64_t>(std::nearbyint(fraction * SecsPerDay));
  return (static_cast<int64_t>(days) - static_cast<int64_t>(UnixDateDelta)) * SecsPerDay + secs;
}

}  // namespace rtl
