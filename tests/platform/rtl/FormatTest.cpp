#include <gtest/gtest.h>

#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "rtl/FormatSettings.h"
#include "rtl/NumberText.h"

namespace {

rtl::TFormatSettings CommaSettings() {
  rtl::TFormatSettings fs;
  fs.DecimalSeparator = ',';
  fs.ThousandSeparator = '.';
  fs.CurrencyString = "EUR";
  fs.CurrencyFormat = 3;  // "1 EUR"
  fs.NegCurrFormat = 8;   // "-1 EUR"
  return fs;
}

TEST(RtlFormat, IntegerAndTextDirectives) {
  struct Case {
    std::string expected;
    std::string actual;
  } cases[] = {
      {"Value is Null", rtl::Format("Value is Null")},
      {"Field 'Name' not found", rtl::Format("Field '%s' not found", "Name")},
      {"Page 12 of -3", rtl::Format("Page %d of %d", 12, -3)},
      {"-0005|0042", rtl::Format("%.4d|%.4d", -5, 42)},
      {"   42|42   |", rtl::Format("%5d|%-5d|", 42, 42)},
      {"4294967295", rtl::Format("%u", -1)},
      {"18446744073709551615", rtl::Format("%u", int64_t{-1})},
      {"FFFFFFFF 00FF", rtl::Format("%x %.4x", -1, 255u)},
      {"9223372036854775807", rtl::Format("%d", INT64_MAX)},
      {"-9223372036854775808", rtl::Format("%d", INT64_MIN)},
      {"100%", rtl::Format("%d%%", 100)},
      {"b a b", rtl::Format("%1:s %0:s %s", "a", "b")},
      {"[  ab]", rtl::Format("[%*.*s]", 4, 2, "abcdef")},
      {"wide \xE9t\xE9", rtl::Format("wide %s", std::u16string(u"\u00e9t\u00e9"))},
      {"x=c", rtl::Format("x=%s", 'c')},
      {"Upper %D too: 7", rtl::Format("Upper %%D too: %D", 7)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(RtlFormat, FloatDirectivesFollowTheSettings) {
  rtl::TFormatSettings dot = rtl::TFormatSettings::Invariant();
  rtl::TFormatSettings comma = CommaSettings();
  auto fmt = [](const rtl::TFormatSettings& fs, std::string_view f, long double v) {
    const rtl::FormatArg args[] = {v};
    return rtl::FormatV(f, args, fs);
  };
  EXPECT_EQ(fmt(dot, "%f", 3.14159), "3.14");
  EXPECT_EQ(fmt(comma, "%.3f", 3.14159), "3,142");
  EXPECT_EQ(fmt(dot, "%.2f", 0.125), "0.13");  // halves away from zero
  EXPECT_EQ(fmt(dot, "%.2f", -0.001), "0.00");
  EXPECT_EQ(fmt(dot, "%.0f", 2.5), "3");
  EXPECT_EQ(fmt(dot, "%n", 1234567.891), "1,234,567.89");
  EXPECT_EQ(fmt(comma, "%n", -1234567.891), "-1.234.567,89");
  EXPECT_EQ(fmt(dot, "%m", -12.5), "($12.50)");
  EXPECT_EQ(fmt(comma, "%m", -12.5), "-12,50 EUR");
  EXPECT_EQ(fmt(dot, "%e", 1234.5), "1.23450000000000E+003");
  EXPECT_EQ(fmt(dot, "%.3e", -0.000123), "-1.23E-004");
  EXPECT_EQ(fmt(dot, "%g", 0.1), "0.1");
  EXPECT_EQ(fmt(comma, "%g", 1.5), "1,5");
  EXPECT_EQ(fmt(dot, "%g", 1e20), "1E020");
  EXPECT_EQ(rtl::Format("%.2f", rtl::Currency::FromRaw(123456)), rtl::Format("%.2f", 12.3456));
}

TEST(RtlFormat, MissingOrMismatchedArgumentsRaise) {
  const char* bad[] = {"%d", "%s %s", "%2:d"};
  for (const char* f : bad) {
    EXPECT_THROW(rtl::Format(f, "x"), rtl::EConvertError) << f;
  }
  EXPECT_THROW(rtl::Format("Field '%s' not found"), rtl::EConvertError);
  EXPECT_THROW(rtl::Format("%f", 1), rtl::EConvertError);     // integer for a float
  EXPECT_THROW(rtl::Format("%d", 1.5), rtl::EConvertError);   // float for an integer
  EXPECT_THROW(rtl::Format("%d", true), rtl::EConvertError);  // booleans go nowhere
  EXPECT_THROW(rtl::Format("%s", 5), rtl::EConvertError);
  EXPECT_THROW(rtl::Format("%q", 5), rtl::EConvertError);  // unknown type
  EXPECT_THROW(rtl::Format("trailing %", 5), rtl::EConvertError);
  EXPECT_THROW(rtl::Format("%*d", "w", 5), rtl::EConvertError);  // width not an integer
  try {
    rtl::Format("%d", "x");
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "Format '%d' invalid or incompatible with argument");
  }
  EXPECT_EQ(rtl::Format("%d", 1, 2), "1");  // a surplus argument is ignored
}

TEST(RtlFormat, FloatToStrIsTheShortestGeneralForm) {
  rtl::TFormatSettings dot = rtl::TFormatSettings::Invariant();
  rtl::TFormatSettings comma = CommaSettings();
  struct Case {
    double value;
    const char* dotText;
    const char* commaText;
  } cases[] = {
      {120, "120", "120"},
      {99.95, "99.95", "99,95"},
      {0.1 + 0.2, "0.3", "0,3"},
      {-0.5, "-0.5", "-0,5"},
      {0, "0", "0"},
      {1e15, "1E15", "1E15"},
      {123456789012345, "123456789012345", "123456789012345"},
      {0.00001, "1E-5", "1E-5"},
      {0.0001, "0.0001", "0,0001"},
      {1.0 / 3, "0.333333333333333", "0,333333333333333"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(rtl::FloatToStr(c.value, dot), c.dotText);
    EXPECT_EQ(rtl::FloatToStr(c.value, comma), c.commaText);
  }
}

}  // namespace
