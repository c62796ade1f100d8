#include <gtest/gtest.h>

#include "rtl/DateText.h"
#include "rtl/FormatSettings.h"
#include "rtl/NumberText.h"

namespace {

TEST(RtlFormatSettings, ReadFromTheCLocaleWithoutTouchingTheProcessLocale) {
  rtl::TFormatSettings fs = rtl::TFormatSettings::FromLocale("C");
  EXPECT_EQ(fs.DecimalSeparator, '.');
  EXPECT_EQ(fs.DateSeparator, '/');
  EXPECT_EQ(fs.TimeSeparator, ':');
  EXPECT_EQ(fs.ShortDateFormat, "MM/dd/yyyy");
  EXPECT_EQ(fs.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(fs.ShortTimeFormat, "hh:nn");
  EXPECT_EQ(fs.ShortMonthNames[8], "Sep");
  EXPECT_EQ(fs.LongDayNames[0], "Sunday");
  rtl::TDateTime t = rtl::EncodeDateTime(2016, 9, 6, 14, 5, 9, 0);
  EXPECT_EQ(rtl::StrToDateTime(rtl::DateTimeToStr(t, fs), fs), t);
  // An unknown locale falls back to the fixed conventions.
  EXPECT_EQ(rtl::TFormatSettings::FromLocale("xx_NOWHERE").ShortDateFormat,
            rtl::TFormatSettings::Invariant().ShortDateFormat);
}

TEST(RtlFormatSettings, ScopedSettingsReplaceAndRestoreTheProcessWideOnes) {
  char before = rtl::FormatSettings().DecimalSeparator;
  {
    rtl::TFormatSettings comma;
    comma.DecimalSeparator = ',';
    rtl::ScopedFormatSettings scoped(comma);
    EXPECT_EQ(rtl::FloatToStr(2.5), "2,5");
    EXPECT_EQ(rtl::StrToFloat("2,5"), 2.5L);
  }
  EXPECT_EQ(rtl::FormatSettings().DecimalSeparator, before);
}

}  // namespace
