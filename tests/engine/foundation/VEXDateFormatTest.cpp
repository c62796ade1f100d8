#include <gtest/gtest.h>

#include "foundation/VEXDateFormat.h"
#include "foundation/VEXExcept.h"
#include "rtl/DateTime.h"
#include "rtl/Exception.h"
#include "rtl/FormatSettings.h"

using namespace vex;

namespace {

struct TokenCase {
  const char* format;
  const char* dump;
};

TEST(DateFormater, SplitsFormatsIntoKeywordAndTextTokens) {
  const TokenCase cases[] = {
      {"YYYY-MM-DD",
       "1 <dfYYYY> = 'YYYY'\r\n2 <dfText> = '-'\r\n3 <dfMM> = 'MM'\r\n4 <dfText> = '-'\r\n"
       "5 <dfDD> = 'DD'\r\n"},
      {"'Q'Q", "1 <dfText> = 'Q'\r\n2 <dfQ> = 'Q'\r\n"},
      {"MONTH", "1 <dfMONTH> = 'MONTH'\r\n"},
      {"Mon", "1 <dfMON> = 'Mon'\r\n"},
      {"yyyy", "1 <dfYYYY> = 'yyyy'\r\n"},
      {"HH24:NN AMPM",
       "1 <dfHH24> = 'HH24'\r\n2 <dfText> = ':'\r\n3 <dfNN> = 'NN'\r\n4 <dfText> = ' '\r\n"
       "5 <dfAMPM> = 'AMPM'\r\n"},
      // An empty quoted text is a token; the other quote inside quotes is text.
      {"''\"a'b\"", "1 <dfText> = ''\r\n2 <dfText> = 'a'b'\r\n"},
      // An unclosed quote leaves its text out.
      {"D 'open", "1 <dfD> = 'D'\r\n2 <dfText> = ' '\r\n"},
      {"at", "1 <dfText> = 'at'\r\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TDateFormater(c.format).DebugGetTotenList(), c.dump) << c.format;
  }
}

struct ParseCase {
  const char* format;
  const char* input;
  int year, month, day, hour, minute;
};

TEST(DateFormater, ToDateReadsEachKindOfToken) {
  const ParseCase cases[] = {
      {"DD.MM.YYYY", "06.09.2016", 2016, 9, 6, 0, 0},
      {"D.M.YYYY", "6.9.2016", 2016, 9, 6, 0, 0},
      {"D.M.YYYY", "06.09.2016", 2016, 9, 6, 0, 0},
      {"DD.MM.YY", "01.01.29", 2029, 1, 1, 0, 0},
      {"DD.MM.YY", "01.01.30", 1930, 1, 1, 0, 0},
      {"Q YYYY DD", "2 2016 15", 2016, 4, 15, 0, 0},
      {"Q YYYY", "2 2016", 1899, 12, 30, 0, 0},
      {"HH24:NN", "17:45", 1899, 12, 30, 17, 45},
      {"MM/DD", "09/06", 1899, 12, 30, 0, 0},
      {"HH12:NN AMPM", "11:30 PM", 1899, 12, 30, 23, 30},
      {"HH12:NN AMPM", "11:30 am", 1899, 12, 30, 11, 30},
      {"HH12:NN AMPM", "12:10 AM", 1899, 12, 30, 0, 10},
      {"HH12:NN AMPM", "12:10 PM", 1899, 12, 30, 12, 10},
      {"AMPM H:N", "PM 3:5", 1899, 12, 30, 15, 5},
      {"DAY, DD.MM.YYYY", "Tue, 06.09.2016", 2016, 9, 6, 0, 0},
      // Names are skipped, not read: without a month number the date is dropped.
      {"DD MON YYYY", "06 Sep 2016", 1899, 12, 30, 0, 0},
      {"YYYY-MM-DD HH24:NN", "1800-01-01 06:00", 1800, 1, 1, 6, 0},
  };
  for (const auto& c : cases) {
    rtl::TDateTime dt = TDateFormater(c.format).ToDate(c.input);
    int y, m, d, h, n, s, ms;
    rtl::DecodeDate(dt, y, m, d);
    rtl::DecodeTime(dt, h, n, s, ms);
    EXPECT_EQ(y, c.year) << c.format << " " << c.input;
    EXPECT_EQ(m, c.month) << c.format << " " << c.input;
    EXPECT_EQ(d, c.day) << c.format << " " << c.input;
    EXPECT_EQ(h, c.hour) << c.format << " " << c.input;
    EXPECT_EQ(n, c.minute) << c.format << " " << c.input;
  }
  EXPECT_EQ(TDateFormater("HH24:NN:SS").ToDate("07:05:09"), rtl::EncodeTime(7, 5, 9, 0));
  EXPECT_EQ(TDateFormater("H:N:S").ToDate("7:5:9"), rtl::EncodeTime(7, 5, 9, 0));
}

TEST(DateFormater, ToDateRejectsMalformedInput) {
  try {
    TDateFormater("HH12:NN AMPM").ToDate("11:30 XM");
    FAIL() << "expected 30129";
  } catch (const EVEXException& e) {
    EXPECT_EQ(e.NativeError, 30129);
    EXPECT_NE(e.Message().find("AM/PM word expected, but 'XM' found"), std::string::npos);
  }
  EXPECT_THROW(TDateFormater("DD.MM.YYYY").ToDate("aa.09.2016"), rtl::EConvertError);
  EXPECT_THROW(TDateFormater("DD.MM.YYYY").ToDate("31.02.2016"), rtl::EConvertError);
  EXPECT_THROW(TDateFormater("HH24:NN").ToDate("25:00"), rtl::EConvertError);
  EXPECT_THROW(TDateFormater("DD.MM.YYYY").ToDate("06.09"), rtl::EConvertError);
}

TEST(DateFormater, ToStringFormatsEachKindOfToken) {
  rtl::ScopedFormatSettings english(rtl::TFormatSettings::Invariant());
  struct Case {
    const char* format;
    rtl::TDateTime value;
    const char* text;
  } cases[] = {
      {"YYYY-MM-DD HH24:NN:SS", rtl::EncodeDateTime(2016, 9, 6, 7, 5, 9, 0), "2016-09-06 07:05:09"},
      {"D.M.YY H24:N:S", rtl::EncodeDateTime(2016, 9, 6, 7, 5, 9, 0), "6.9.16 7:5:9"},
      {"DY", rtl::EncodeDate(2016, 1, 1), "1"},
      {"DY", rtl::EncodeDate(2016, 12, 31), "366"},
      {"DW", rtl::EncodeDate(2016, 9, 6), "2"},
      {"DW", rtl::EncodeDate(2016, 9, 11), "7"},
      {"HH12 AMPM", rtl::EncodeTime(12, 0, 0, 0), "00 PM"},
      {"H12 AMPM", rtl::EncodeTime(11, 0, 0, 0), "11 AM"},
      {"Q RM", rtl::EncodeDate(2016, 12, 1), "4 XII"},
      {"DAY DDD MONTH MON", rtl::EncodeDate(2016, 9, 6), "Tuesday Tue September Sep"},
      {"'YYYY' YYYY", rtl::EncodeDate(2016, 9, 6), "YYYY 2016"},
      // 23:59:59.9996 is the next midnight, not 24:00:00 of the same day.
      {"YYYY-MM-DD HH24:NN:SS", rtl::EncodeDate(2016, 9, 6) + 0.99999999999, "2016-09-07 00:00:00"},
      // Before 1899-12-30 the fraction still counts forward from midnight.
      {"YYYY-MM-DD HH24:NN DY DW", rtl::EncodeDateTime(1800, 1, 1, 6, 30, 0, 0),
       "1800-01-01 06:30 1 3"},
      {"YYYY-MM-DD HH24:NN:SS", rtl::EncodeDate(1800, 1, 1) - 0.99999999999, "1800-01-02 00:00:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TDateFormater(c.format).ToString(c.value), c.text) << c.format;
  }
}

TEST(DateFormater, MaxSizeHoldsTheLongestNamesOfTheLocale) {
  rtl::TFormatSettings settings = rtl::TFormatSettings::Invariant();
  EXPECT_EQ(TDateFormater("YYYY-MM-DD").GetStringMaxSize(), 10);
  {
    rtl::ScopedFormatSettings english(settings);
    EXPECT_EQ(TDateFormater("MONTH MON DDD DAY").GetStringMaxSize(), 9 + 1 + 3 + 1 + 3 + 1 + 12);
  }
  settings.LongMonthNames[8] = "septiembre";  // ten letters
  settings.ShortMonthNames[5] = "juin.";      // five
  rtl::ScopedFormatSettings spanish(settings);
  TDateFormater format("MONTH|MON");
  EXPECT_EQ(format.GetStringMaxSize(), 10 + 1 + 5);
  EXPECT_EQ(format.ToString(rtl::EncodeDate(2016, 9, 6)), "septiembre|Sep");
}

TEST(DateFormater, DataTypeFollowsTheKindsOfKeywords) {
  EXPECT_EQ(TDateFormater("HH24:NN").GetDataType(), aftTime);
  EXPECT_EQ(TDateFormater("DD").GetDataType(), aftDate);
  EXPECT_EQ(TDateFormater("YYYY HH").GetDataType(), aftDateTime);
  EXPECT_EQ(TDateFormater("'literal'").GetDataType(), aftDateTime);
}

TEST(DateFormater, LongestKeywordIsFiveCharacters) { EXPECT_EQ(MaxDateFormatKeywordLength(), 5); }

}  // namespace
