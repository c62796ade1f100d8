#include "OtaTaxHelpers.h"

#include <array>
#include <cmath>

#include "OtaGfgIni.h"
#include "rtl/FormatSettings.h"
#include "rtl/NumberText.h"

namespace valmora {

namespace {

// Integer division with the quotient rounded to nearest, halves to even.
int64_t DivideHalfEven(__int128 numerator, __int128 denominator) {
  __int128 quotient = numerator / denominator;
  __int128 remainder = numerator % denominator;
  __int128 twice = 2 * (remainder < 0 ? -remainder : remainder);
  bool negative = (numerator < 0) != (denominator < 0);
  if (twice > denominator || (twice == denominator && quotient % 2 != 0))
    quotient += negative ? -1 : 1;
  return static_cast<int64_t>(quotient);
}

// amount × rate / 100 from the exact money values, rounded to 0.0001.
rtl::Currency TaxOf(rtl::Currency amount, rtl::Currency ratePercent) {
  // Both are scaled by 10 000; the product is scaled by 10^8, and 100 percent.
  return rtl::Currency::FromRaw(DivideHalfEven(static_cast<__int128>(amount.Raw) * ratePercent.Raw,
                                               100 * rtl::Currency::Scale));
}

rtl::Currency operator+(rtl::Currency a, rtl::Currency b) {
  return rtl::Currency::FromRaw(a.Raw + b.Raw);
}

}  // namespace

rtl::Currency PriceWithTax(rtl::Currency amount) {
  if (ReadGSTInclusive()) return amount;

  std::array<std::string, 6> codes, descriptions;
  std::array<rtl::Currency, 6> rates;
  ReadGSTCodes(codes, rates, descriptions);
  bool addTax2, addTax3, addTax4;
  ReadAddTaxFlags(addTax2, addTax3, addTax4);
  bool fixedTaxFirst = ReadFixedTaxFirst();
  bool cumulative = ReadCumulativeTax();
  bool fixedInPercent = ReadFixedInPercent();
  rtl::Currency rate = rates[0];

  if (rate.Raw == 0) {
    addTax2 = false;
    addTax3 = false;
    addTax4 = ReadAlwaysAddFixedTax();
  }

  rtl::Currency a = amount;
  rtl::Currency fixed{};
  if (addTax4) {
    rtl::Currency fixedTax = ReadFixedTax();
    fixed = fixedInPercent ? TaxOf(a, fixedTax) : fixedTax;
    if (fixedTaxFirst && cumulative) a = a + fixed;
  }
  rtl::Currency tax1 = TaxOf(a, rate);
  if (cumulative) a = a + tax1;
  if (addTax2) {
    rtl::Currency tax2 = TaxOf(a, rates[4]);
    if (cumulative) a = a + tax2;
  }
  rtl::Currency last = addTax3 ? TaxOf(a, rates[5]) : fixed;
  return a + last;
}

std::string FormatCurrencyText(rtl::Currency value) {
  const rtl::TFormatSettings& fs = rtl::FormatSettings();
  int decimals = fs.CurrencyDecimals;
  std::string pattern = "#,##0";
  if (decimals >= 1 && decimals <= 4) {
    pattern += '.';
    pattern.append(static_cast<size_t>(decimals), '0');
  }
  // Rounding to more than four decimals leaves money as it is; the pattern
  // without decimals then rounds as the formatting does.
  int64_t unit = 1;
  for (int i = decimals; i < 4; ++i) unit *= 10;
  int64_t rounded = DivideHalfEven(value.Raw, unit) * unit;

  std::string quoted = "\"" + fs.CurrencyString + "\"";
  std::string format;
  switch (fs.CurrencyFormat) {
    case 0:
      format = quoted + pattern;
      break;
    case 1:
      format = pattern + quoted;
      break;
    case 2:
      format = quoted + " " + pattern;
      break;
    default:
      format = pattern + " " + quoted;
      break;
  }
  return rtl::FormatFloat(format, static_cast<long double>(rounded) / rtl::Currency::Scale, fs);
}

rtl::Currency ParseCurrencyText(std::string_view text) {
  const rtl::TFormatSettings& fs = rtl::FormatSettings();
  std::string t(text);
  if (!fs.CurrencyString.empty()) {
    // One pass over the text: what a removal joins is not an occurrence.
    for (size_t at = 0; (at = t.find(fs.CurrencyString, at)) != std::string::npos;)
      t.erase(at, fs.CurrencyString.size());
  }
  if (fs.ThousandSeparator != '\0') {
    // A separator among the last CurrencyDecimals characters stays: there it
    // can only be a mistyped decimal point, which the number parse then refuses.
    for (;;) {
      size_t at = t.find(fs.ThousandSeparator);
      if (at == std::string::npos) break;
      auto p = static_cast<int64_t>(at) + 1;
      if (!(p > 0 && p < static_cast<int64_t>(t.size()) - fs.CurrencyDecimals)) break;
      t.erase(at, 1);
    }
  }
  // Only nothing at all (an empty field, or the bare currency string) is no
  // amount; blanks left over are no number, and the parse refuses them.
  if (t.empty()) return rtl::Currency{};
  long double number = rtl::StrToFloat(t, fs);
  return rtl::Currency::FromDouble(static_cast<double>(number));
}

bool IsLightColor(ui::TColor color) {
  uint32_t rgb = ui::ColorToRGB(color);
  uint32_t r = rgb & 0xFF, g = (rgb >> 8) & 0xFF, b = (rgb >> 16) & 0xFF;
  return (77 * r + 151 * g + 28 * b) / 256 > 128;
}

}  // namespace valmora
