#include <gtest/gtest.h>

#include "OtaTaxHelpers.h"
#include "SettingsFixture.h"
#include "rtl/Exception.h"
#include "rtl/FormatSettings.h"

using namespace valmora;

namespace {

rtl::Currency Money(double amount) { return rtl::Currency::FromDouble(amount); }

class TaxHelpers : public SettingsFixture {};

struct TaxCase {
  const char* name;
  bool inclusive, cumulative, fixedFirst, fixedInPercent, alwaysFixed, addTax2, addTax3, addTax4;
  double rate1, rate5, rate6, fixedTax;
  double amount, expected;
};

TEST_F(TaxHelpers, PriceWithTaxFollowsTheHostsTaxFlags) {
  const TaxCase cases[] = {
      {"inclusive", true, true, true, true, false, false, false, false, 10, 0, 0, 0, 100, 100},
      {"rate 1 only", false, true, true, true, false, false, false, false, 10, 0, 0, 0, 100, 110},
      {"not cumulative", false, false, true, true, false, false, false, false, 10, 0, 0, 0, 100,
       100},
      {"fixed tax on a zero rate", false, true, true, true, true, false, false, false, 0, 0, 0, 5,
       100, 110},
      {"zero rate, no fixed tax", false, true, true, true, false, true, true, true, 0, 5, 6, 5, 100,
       100},
      {"tax 2 on the running amount", false, true, false, true, false, true, false, false, 10, 5, 0,
       0, 100, 115.5},
      {"tax 3 last", false, true, false, true, false, false, true, false, 10, 0, 6, 0, 100, 116.6},
      {"fixed amount after", false, true, false, false, false, false, false, true, 10, 0, 0, 2.5,
       100, 112.5},
      {"fixed percent first, twice", false, true, true, true, false, false, false, true, 10, 0, 0,
       5, 100, 120.5},
      {"not cumulative, tax 3", false, false, true, true, false, true, true, false, 10, 5, 6, 0,
       100, 106},
      {"rounding to 0.0001", false, true, false, true, false, false, false, false, 7.5, 0, 0, 0,
       0.0333, 0.0358},
  };
  for (const auto& c : cases) {
    auto& settings = HostKey("GSTSettings");
    settings.WriteBool("GSTInclusive", c.inclusive);
    settings.WriteBool("CumulativeTax", c.cumulative);
    settings.WriteBool("FixedTaxFirst", c.fixedFirst);
    settings.WriteBool("FixedInPercent", c.fixedInPercent);
    settings.WriteBool("AlwaysAddFixedTax", c.alwaysFixed);
    auto& codes = HostKey("GSTCode");
    const double rates[6] = {c.rate1, 0, 0, 0, c.rate5, c.rate6};
    for (int n = 1; n <= 6; ++n) {
      codes.WriteString("GSTCode" + std::to_string(n), "C");
      codes.WriteFloat("GSTRate" + std::to_string(n), rates[n - 1]);
      codes.WriteString("GSTDescription" + std::to_string(n), "D");
    }
    codes.WriteBool("AddTax2", c.addTax2);
    codes.WriteBool("AddTax3", c.addTax3);
    codes.WriteBool("AddTax4", c.addTax4);
    HostKey("GSTLabel").WriteFloat("FixedTax", c.fixedTax);
    EXPECT_EQ(PriceWithTax(Money(c.amount)), Money(c.expected)) << c.name;
  }
}

rtl::TFormatSettings Locale(char decimal, char thousands, const char* currency, int format,
                            int decimals) {
  rtl::TFormatSettings fs = rtl::TFormatSettings::Invariant();
  fs.DecimalSeparator = decimal;
  fs.ThousandSeparator = thousands;
  fs.CurrencyString = currency;
  fs.CurrencyFormat = static_cast<uint8_t>(format);
  fs.CurrencyDecimals = static_cast<uint8_t>(decimals);
  return fs;
}

TEST(CurrencyText, FormatsAndParsesBackUnderEachCurrencyFormat) {
  const struct {
    rtl::TFormatSettings fs;
    double value;
    const char* text;
  } cases[] = {
      {Locale(',', '.', "\x80", 3, 2), 1234.5, "1.234,50 \x80"},  // the euro sign in Windows-1252
      {Locale('.', ',', "$", 0, 2), 1234567.891, "$1,234,567.89"},
      {Locale(',', ' ', "kr", 1, 2), 99.999, "100,00kr"},
      {Locale('.', ',', "CHF", 2, 2), 0.5, "CHF 0.50"},
      {Locale('.', ',', "$", 0, 0), 12.5, "$12"},
      {Locale('.', ',', "$", 0, 0), 13.5, "$14"},
      {Locale('.', ',', "$", 0, 4), 3.1416, "$3.1416"},
      // More than four decimals: nothing to round first, so the text rounds as formatted.
      {Locale('.', ',', "$", 0, 5), 12.5, "$13"},
      {Locale('.', ',', "$", 0, 2), -42.25, "-$42.25"},
  };
  for (const auto& c : cases) {
    rtl::ScopedFormatSettings scoped(c.fs);
    std::string text = FormatCurrencyText(Money(c.value));
    EXPECT_EQ(text, c.text);
    // Parsing the text gives the value back, rounded to the currency decimals.
    double unit = 1;
    int shown = c.fs.CurrencyDecimals <= 4 ? c.fs.CurrencyDecimals : 0;
    for (int i = 0; i < shown; ++i) unit /= 10;
    EXPECT_NEAR(ParseCurrencyText(text).ToDouble(), c.value, unit / 2 + 1e-9) << c.text;
  }
}

TEST(CurrencyText, ParsingEmptyTextIsZeroAndLettersRaise) {
  rtl::ScopedFormatSettings scoped(Locale(',', '.', "\x80", 3, 2));
  EXPECT_EQ(ParseCurrencyText("").Raw, 0);
  EXPECT_EQ(ParseCurrencyText("\x80").Raw, 0);
  // Blanks are text: what is left after the currency string is no number.
  EXPECT_THROW(ParseCurrencyText(" \x80"), rtl::EConvertError);
  EXPECT_THROW(ParseCurrencyText("  "), rtl::EConvertError);
  EXPECT_EQ(ParseCurrencyText("1.234,5").Raw, 12345000);
  EXPECT_EQ(ParseCurrencyText("1.234.567").Raw, 12345670000);
  // A separator among the last CurrencyDecimals characters is no thousands
  // separator: "1.5" is a mistyped decimal and is refused, not read as 15.
  EXPECT_THROW(ParseCurrencyText("1.5"), rtl::EConvertError);
  EXPECT_THROW(ParseCurrencyText("abc"), rtl::EConvertError);
  EXPECT_THROW(ParseCurrencyText("12x"), rtl::EConvertError);

  rtl::ScopedFormatSettings kr(Locale(',', ' ', "kr", 3, 2));
  EXPECT_EQ(ParseCurrencyText("1 234,50 kr").Raw, 12345000);
  // Each occurrence is removed once: the "kr" that removing one leaves behind stays.
  EXPECT_THROW(ParseCurrencyText("12,50 kkrr"), rtl::EConvertError);
}

TEST(LightColours, ThresholdLiesBetween128And129) {
  EXPECT_TRUE(IsLightColor(ui::clWhite));
  EXPECT_FALSE(IsLightColor(ui::clBlack));
  EXPECT_FALSE(IsLightColor(0x808080));
  EXPECT_TRUE(IsLightColor(0x818181));
  EXPECT_TRUE(IsLightColor(ui::clBtnFace));  // a light system colour
}

}  // namespace
