#include <gtest/gtest.h>

#include <cmath>

#include "rtl/Exception.h"
#include "rtl/NumberText.h"

namespace {

rtl::TFormatSettings Dot() { return rtl::TFormatSettings::Invariant(); }

rtl::TFormatSettings Comma() {
  rtl::TFormatSettings fs;
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = '.';
  return fs;
}

TEST(RtlNumberText, IntegersParseWithTheirRangeAndRejects) {
  EXPECT_EQ(rtl::StrToInt("  -42"), -42);
  EXPECT_EQ(rtl::StrToInt("+7"), 7);
  EXPECT_EQ(rtl::StrToInt("$FF"), 255);
  EXPECT_EQ(rtl::StrToInt("0x10"), 16);
  EXPECT_EQ(rtl::StrToInt("2147483647"), INT32_MAX);
  EXPECT_EQ(rtl::StrToInt("-2147483648"), INT32_MIN);
  EXPECT_EQ(rtl::StrToInt64("4000000000"), 4000000000);
  EXPECT_EQ(rtl::StrToInt64("-9223372036854775808"), INT64_MIN);
  const char* rejects[] = {"", " ", "-", "12 ", "1.5", "4000000000", "2147483648", "12abc", "$"};
  for (const char* text : rejects) {
    EXPECT_THROW(rtl::StrToInt(text), rtl::EConvertError) << "'" << text << "'";
  }
  EXPECT_THROW(rtl::StrToInt64("9223372036854775808"), rtl::EConvertError);
  try {
    rtl::StrToInt("x1");
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "'x1' is not a valid integer value");
  }
}

TEST(RtlNumberText, FloatsRoundTripUnderBothSeparators) {
  const double values[] = {12.5, -0.1, 120, 99.95, 1e-7, 123456.789, 1.0 / 3, 6.02e23};
  for (const auto& fs : {Dot(), Comma()}) {
    for (double v : values) {
      std::string text = rtl::FloatToStr(v, fs);
      EXPECT_EQ(text.find(fs.DecimalSeparator == '.' ? ',' : '.'), std::string::npos) << text;
      double back = static_cast<double>(rtl::StrToFloat(text, fs));
      EXPECT_NEAR(back, v, std::fabs(v) * 1e-14) << text;
    }
  }
  EXPECT_EQ(rtl::StrToFloat(" 12,5 ", Comma()), 12.5L);
  EXPECT_EQ(rtl::StrToFloat("-1.5E3", Dot()), -1500.0L);
  EXPECT_EQ(rtl::StrToFloat("5.", Dot()), 5.0L);
  EXPECT_EQ(rtl::StrToFloat(".5", Dot()), 0.5L);
}

TEST(RtlNumberText, FloatParserRejectsWhatIsNotADecimalNumber) {
  struct Case {
    const char* text;
    rtl::TFormatSettings fs;
  } rejects[] = {{"12,5", Dot()},     {"12.5", Comma()}, {"1,000.5", Dot()}, {"0x1A", Dot()},
                 {"inf", Dot()},      {"nan", Dot()},    {"", Dot()},        {"1e", Dot()},
                 {"1e999999", Dot()}, {"--1", Dot()},    {".", Dot()},       {"1.2.3", Dot()}};
  for (const auto& c : rejects) {
    EXPECT_THROW(rtl::StrToFloat(c.text, c.fs), rtl::EConvertError) << c.text;
  }
}

TEST(RtlNumberText, MoneyIsExactAndRoundsHalvesToEven) {
  EXPECT_EQ(rtl::StrToCurr("12,345", Comma()).Raw, 123450);
  EXPECT_EQ(rtl::StrToCurr("0.00005", Dot()).Raw, 0);  // half to even
  EXPECT_EQ(rtl::StrToCurr("0.00015", Dot()).Raw, 2);
  EXPECT_EQ(rtl::StrToCurr("-0.00025", Dot()).Raw, -2);
  EXPECT_EQ(rtl::StrToCurr("0.000250001", Dot()).Raw, 3);
  EXPECT_EQ(rtl::StrToCurr("1.5e-3", Dot()).Raw, 15);
  EXPECT_EQ(rtl::StrToCurr("1e-10", Dot()).Raw, 0);
  EXPECT_EQ(rtl::StrToCurr("922337203685477.5807", Dot()).Raw, INT64_MAX);
  EXPECT_THROW(rtl::StrToCurr("922337203685477.5808", Dot()), rtl::EConvertError);
  EXPECT_EQ(rtl::StrToCurr("-922337203685477.5808", Dot()).Raw, INT64_MIN);
  EXPECT_EQ(rtl::Currency::FromDouble(-1.23456).Raw, -12346);
  EXPECT_THROW(rtl::Currency::FromDouble(1e300), rtl::EOverflow);
  EXPECT_THROW(rtl::StrToCurr("12 EUR", Dot()), rtl::EConvertError);
  EXPECT_EQ(rtl::CurrToStr(rtl::Currency::FromRaw(125000), Comma()), "12,5");
  EXPECT_EQ(rtl::CurrToStr(rtl::Currency::FromRaw(-1), Dot()), "-0.0001");
  EXPECT_EQ(rtl::CurrToStr(rtl::Currency::FromRaw(30000), Dot()), "3");
  EXPECT_EQ(rtl::CurrToStr(rtl::Currency::FromRaw(INT64_MIN), Dot()), "-922337203685477.5808");
}

TEST(RtlNumberText, FormatFloatPatterns) {
  rtl::TFormatSettings euro = Comma();
  struct Case {
    const char* pattern;
    double value;
    const char* dotText;
    const char* commaText;
  } cases[] = {
      {"#,##0.00", 1234.5, "1,234.50", "1.234,50"},
      {"#,##0.00 \"\x80\"", 1234.5, "1,234.50 \x80", "1.234,50 \x80"},
      {"'$'#,##0", -1234567.5, "-$1,234,568", "-$1.234.568"},
      {"#,##0", 12.5, "13", "13"},  // halves away from zero
      {"#,##0.0000", 0.00005, "0.0001", "0,0001"},
      {"0.##", 2.5, "2.5", "2,5"},
      {"#,##0.00", 0, "0.00", "0,00"},
      {"#,##0.00", -0.001, "0.00", "0,00"},
      {"000", 7, "007", "007"},
      {"0.00;(0.00);zero", -3.14159, "(3.14)", "(3,14)"},
      {"0.00;(0.00);zero", 0, "zero", "zero"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rtl::FormatFloat(c.pattern, c.value, Dot()), c.dotText) << c.pattern;
    EXPECT_EQ(rtl::FormatFloat(c.pattern, c.value, euro), c.commaText) << c.pattern;
  }
  EXPECT_EQ(rtl::FormatCurr("#,##0.00", rtl::Currency::FromRaw(12345678), Dot()), "1,234.57");
}

TEST(RtlNumberText, FloatToStrFFormats) {
  rtl::TFormatSettings fs = Dot();
  EXPECT_EQ(rtl::FloatToStrF(1234.5678, rtl::ffFixed, 15, 2, fs), "1234.57");
  EXPECT_EQ(rtl::FloatToStrF(1234.5678, rtl::ffNumber, 15, 1, fs), "1,234.6");
  EXPECT_EQ(rtl::FloatToStrF(1234.5678, rtl::ffExponent, 4, 2, fs), "1.235E+03");
  EXPECT_EQ(rtl::FloatToStrF(123.456, rtl::ffFixed, 4, 2, fs), "123.50");  // precision first
  EXPECT_EQ(rtl::FloatToStrF(NAN, rtl::ffGeneral, 15, 0, fs), "NAN");
  EXPECT_EQ(rtl::FloatToStrF(-INFINITY, rtl::ffFixed, 15, 2, fs), "-INF");
  fs.CurrencyString = "kr";
  fs.CurrencyFormat = 3;
  fs.NegCurrFormat = 8;
  EXPECT_EQ(rtl::FloatToStrF(-1234.5, rtl::ffCurrency, 15, 2, fs), "-1,234.50 kr");
  EXPECT_EQ(rtl::FloatToStrF(1234.5, rtl::ffCurrency, 15, 0, fs), "1,235 kr");
}

}  // namespace
