#include <gtest/gtest.h>

#include <cmath>

#include "rtl/DateText.h"
#include "rtl/Exception.h"

namespace {

rtl::TFormatSettings Us() { return rtl::TFormatSettings::Invariant(); }

rtl::TFormatSettings German() {
  rtl::TFormatSettings fs;
  fs.DecimalSeparator = ',';
  fs.DateSeparator = '.';
  fs.ShortDateFormat = "dd/MM/yyyy";
  fs.LongDateFormat = "dddd, d. MMMM yyyy";
  fs.ShortTimeFormat = "hh:nn";
  fs.LongTimeFormat = "hh:nn:ss";
  fs.ShortMonthNames = {"Jan", "Feb", "M\xE4r", "Apr", "Mai", "Jun",
                        "Jul", "Aug", "Sep",    "Okt", "Nov", "Dez"};
  fs.LongMonthNames[2] = "M\xE4rz";
  fs.LongDayNames[0] = "Sonntag";
  return fs;
}

TEST(RtlDateTime, EncodeAndDecodeAcrossTheRange) {
  struct Case {
    int y, m, d;
    double serial;
  } cases[] = {{1899, 12, 30, 0},    {1900, 1, 1, 2},    {2016, 9, 6, 42619},
               {2000, 2, 29, 36585}, {1, 1, 1, -693593}, {9999, 12, 31, 2958465},
               {1899, 12, 29, -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(rtl::EncodeDate(c.y, c.m, c.d), c.serial);
    int y, m, d;
    rtl::DecodeDate(c.serial, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d);
  }
  EXPECT_THROW(rtl::EncodeDate(2015, 2, 29), rtl::EConvertError);
  EXPECT_THROW(rtl::EncodeDate(0, 1, 1), rtl::EConvertError);
  EXPECT_THROW(rtl::EncodeDate(2016, 13, 1), rtl::EConvertError);
  EXPECT_THROW(rtl::EncodeTime(24, 0, 0, 0), rtl::EConvertError);
  EXPECT_THROW(rtl::EncodeTime(12, 60, 0, 0), rtl::EConvertError);

  int h, n, s, ms;
  rtl::DecodeTime(rtl::EncodeTime(23, 59, 59, 999), h, n, s, ms);
  EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 235959999);
  rtl::DecodeTime(-1.25, h, n, s, ms);  // before the epoch the fraction counts forward
  EXPECT_EQ(h, 6);
  EXPECT_EQ(rtl::EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);
}

TEST(RtlDateTime, CalendarHelpers) {
  EXPECT_EQ(rtl::DayOfWeek(rtl::EncodeDate(2016, 9, 6)), 3);  // a Tuesday
  EXPECT_EQ(rtl::DayOfWeek(-1), 6);                           // 1899-12-29, a Friday
  struct Span {
    rtl::TDateTime from, to;
    int64_t days;
  } spans[] = {
      {rtl::EncodeDate(2016, 9, 6) + 0.9, rtl::EncodeDate(2016, 9, 9) + 0.1, 2},
      {rtl::EncodeDate(2016, 9, 9) + 0.1, rtl::EncodeDate(2016, 9, 6) + 0.9, 2},  // the size
      // 1989-09-16 is day 32768: the two values' fractions differ in their last bit.
      {rtl::EncodeDateTime(1989, 9, 14, 1, 0, 0, 0), rtl::EncodeDateTime(1989, 9, 16, 1, 0, 0, 0),
       2},
      {-1.75, 0.25, 0},  // 1899-12-29 18:00 to 1899-12-30 06:00: half a day
  };
  for (const auto& s : spans) EXPECT_EQ(rtl::DaysBetween(s.from, s.to), s.days);
  EXPECT_EQ(rtl::IncMonth(rtl::EncodeDate(2016, 1, 31), 1), rtl::EncodeDate(2016, 2, 29));
  EXPECT_EQ(rtl::IncMonth(rtl::EncodeDate(2016, 3, 31) + 0.5, -13),
            rtl::EncodeDate(2015, 2, 28) + 0.5);
  EXPECT_EQ(rtl::DaysInAMonth(1900, 2), 28);
  EXPECT_EQ(rtl::DaysInAMonth(2000, 2), 29);
  EXPECT_EQ(rtl::DateTimeToUnix(rtl::EncodeDateTime(2016, 9, 6, 12, 0, 0, 0)), 1473163200);
  EXPECT_EQ(rtl::UnixToDateTime(1473163200), rtl::EncodeDateTime(2016, 9, 6, 12, 0, 0, 0));
}

TEST(RtlDateTime, ClockFollowsTheInjectedSource) {
  auto instant = std::chrono::system_clock::time_point(std::chrono::seconds(1473163200));
  rtl::SetTimeSource([instant] { return instant; });
  EXPECT_EQ(rtl::UtcNow(), rtl::EncodeDateTime(2016, 9, 6, 12, 0, 0, 0));
  EXPECT_LE(std::abs(rtl::Now() - rtl::UtcNow()), 1.0);  // within a day of UTC
  EXPECT_EQ(rtl::Date(), std::trunc(rtl::Now()));
  rtl::SetTimeSource(nullptr);
  EXPECT_GT(rtl::UtcNow(), rtl::EncodeDate(2020, 1, 1));
}

TEST(RtlDateText, FormatDateTimeTokens) {
  rtl::TDateTime t = rtl::EncodeDateTime(2016, 9, 6, 14, 5, 9, 7);
  rtl::TFormatSettings de = German();
  struct Case {
    const char* format;
    const char* us;
    const char* de;
  } cases[] = {
      {"ddmmm", "06Sep", "06Sep"},
      {"d/m/yy", "6/9/16", "6.9.16"},
      {"ddddd", "9/6/2016", "06.09.2016"},
      {"dddddd", "Tuesday, September 6, 2016", "Tuesday, 6. September 2016"},
      {"mmmm yyyy", "September 2016", "September 2016"},
      {"hh:nn:ss.zzz", "14:05:09.007", "14:05:09.007"},
      {"h:mm", "14:05", "14:05"},  // m after h is minutes
      {"h:nn am/pm", "2:05 pm", "2:05 pm"},
      {"tt", "2:05:09 PM", "14:05:09"},
      {"c", "9/6/2016 2:05:09 PM", "06.09.2016 14:05:09"},
      {"'day' d \"of\" mmm", "day 6 of Sep", "day 6 of Sep"},
      {"yyyy-mm-dd", "2016-09-06", "2016-09-06"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rtl::FormatDateTime(c.format, t, Us()), c.us) << c.format;
    EXPECT_EQ(rtl::FormatDateTime(c.format, t, de), c.de) << c.format;
  }
  EXPECT_EQ(rtl::FormatDateTime("ddmmm", rtl::EncodeDate(2016, 3, 9), de), "09M\xE4r");
  EXPECT_EQ(rtl::DateTimeToStr(rtl::EncodeDate(2016, 9, 6), de),
            "06.09.2016");  // midnight: no time
  EXPECT_EQ(rtl::TimeToStr(0, Us()), "12:00:00 AM");
}

TEST(RtlDateText, ParsingFollowsTheShortDateFormat) {
  rtl::TFormatSettings de = German();
  EXPECT_EQ(rtl::StrToDate("06.09.2016", de), rtl::EncodeDate(2016, 9, 6));
  EXPECT_EQ(rtl::StrToDate("9/6/2016", Us()), rtl::EncodeDate(2016, 9, 6));
  EXPECT_EQ(rtl::StrToTime("14:05", de), rtl::EncodeTime(14, 5, 0, 0));
  EXPECT_EQ(rtl::StrToTime("2:05:09 PM", Us()), rtl::EncodeTime(14, 5, 9, 0));
  EXPECT_EQ(rtl::StrToTime("12:00 AM", Us()), 0);
  EXPECT_EQ(rtl::StrToDateTime("06.09.2016 12:00:00", de), rtl::EncodeDate(2016, 9, 6) + 0.5);
  rtl::TDateTime t = rtl::EncodeDateTime(2016, 9, 6, 14, 5, 9, 0);
  for (const auto& fs : {Us(), de}) {
    EXPECT_EQ(rtl::StrToDateTime(rtl::DateTimeToStr(t, fs), fs), t);
  }
  // A two-digit year falls within the window around the current year.
  auto instant = std::chrono::system_clock::time_point(std::chrono::seconds(1473163200));  // 2016
  rtl::SetTimeSource([instant] { return instant; });
  EXPECT_EQ(rtl::StrToDate("06.09.16", de), rtl::EncodeDate(2016, 9, 6));
  EXPECT_EQ(rtl::StrToDate("06.09.70", de), rtl::EncodeDate(1970, 9, 6));
  EXPECT_EQ(rtl::StrToDate("06.09", de), rtl::EncodeDate(2016, 9, 6));  // this year
  rtl::SetTimeSource(nullptr);

  const char* badDates[] = {"2016-09-06", "31.02.2016", "06.09.2016x", "", "06..2016"};
  for (const char* text : badDates) {
    EXPECT_THROW(rtl::StrToDate(text, de), rtl::EConvertError) << text;
  }
  EXPECT_EQ(rtl::StrToTime("14", de), rtl::EncodeTime(14, 0, 0, 0));  // a bare hour
  const char* badTimes[] = {"25:00", "12:60", "24", "13:00 PM", "ab", "14:"};
  for (const char* text : badTimes) {
    EXPECT_THROW(rtl::StrToTime(text, Us()), rtl::EConvertError) << text;
  }
  try {
    rtl::StrToDate("2016-09-06", Us());
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "'2016-09-06' is not a valid date");
  }
}

}  // namespace
