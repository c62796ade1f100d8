// The platform's date-time: a double counting days since 1899-12-30, with the
// time of day as the fraction (0.5 is noon). Days before the epoch are negative
// and their fraction still counts forward from midnight by its absolute value
// (-1.25 is 1899-12-29 06:00), as on the platform. Dates run from 0001-01-01 to
// 9999-12-31 (proleptic Gregorian).
//
// Encode/Decode, the calendar helpers, the clock (Now, Date, UtcNow) and the
// conversion to and from Unix seconds live here; the text forms are in
// DateText.h. The clock reads the system clock; tests can replace it with
// SetTimeSource so that "today" is fixed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace rtl {

using TDateTime = double;

constexpr int32_t DateDelta = 693594;    // days from 0001-01-01 (day 1) to 1899-12-30
constexpr double UnixDateDelta = 25569;  // 1970-01-01 as a TDateTime
constexpr int32_t MSecsPerDay = 86400000;
constexpr int32_t SecsPerDay = 86400;

bool IsLeapYear(int year);
// Days of that month (28 to 31); 0 for a month outside 1..12.
int DaysInAMonth(int year, int month);

// Raise EConvertError "Invalid argument to date encode" / "... time encode" for an
// impossible date (year 1..9999) or time (hour < 24, min < 60, sec < 60, msec < 1000).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec);
// The non-raising forms: false and `result` untouched for an impossible value.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);

// Values outside the supported range of dates decode to year 0 (all fields 0).
void DecodeDate(TDateTime value, int& year, int& month, int& day);
// Rounds to the nearest millisecond first, so 0.99999999999 decodes as 23:59:59.999
// or the next midnight rather than as 23:59:59.998.
void DecodeTime(TDateTime value, int& hour, int& min, int& sec, int& msec);

// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);
// The whole days between two values: the size of their difference with the
// fraction dropped, whichever comes first. Counted on whole milliseconds, so
// two equal clock times N days apart are N days apart even where the binary
// fractions of their values differ in the last bit.
int64_t DaysBetween(TDateTime from, TDateTime to);
// Moves by whole months, keeping the time; a day beyond the new month's end becomes its last day.
TDateTime IncMonth(TDateTime value, int months);
// The date part (midnight of the value's day) and the time part.
TDateTime DateOf(TDateTime value);
TDateTime TimeOf(TDateTime value);

// The clock. Now and Date are local time; UtcNow is UTC.
TDateTime Now();
TDateTime Date();
TDateTime UtcNow();

// Replaces the clock: the source gives the current instant (UTC); local time is
// derived from it through the process's time zone. An empty function restores
// the system clock. For tests.
void SetTimeSource(std::function<std::chrono::system_clock::time_point()> source);

// Unix seconds (UTC) to and from a date-time that is taken as UTC.
TDateTime UnixToDateTime(int64_t seconds);
int64_t DateTimeToUnix(TDateTime value);

}  // namespace rtl
