#include "rtl/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "rtl/FloatDecimal.h"

namespace rtl {

namespace detail {

FloatDecimal ToDecimal(long double value, int precision, int decimals) {
  FloatDecimal d;
  if (std::isnan(value)) {
    d.NaN = true;
    return d;
  }
  d.Negative = std::signbit(value);
  if (std::isinf(value)) {
    d.Infinite = true;
    return d;
  }
  if (value == 0) {
    d.Negative = false;
    return d;
  }
  precision = std::clamp(precision, 1, 18);
  char buf[64];
  auto res =
      std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 17);
  std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
  size_t e = text.find('e');
  std::string digits;
  for (char c : text.substr(0, e)) {
    if (c != '.') digits += c;
  }
  int exp10 = std::atoi(std::string(text.substr(e + 1)).c_str()) + 1;

  long keep = std::min<long>(precision, static_cast<long>(exp10) + decimals);
  if (keep < 0) {
    digits.clear();
  } else {
    bool roundUp = static_cast<size_t>(keep) < digits.size() && digits[keep] >= '5';
    digits.resize(std::min<size_t>(digits.size(), static_cast<size_t>(keep)));
    if (roundUp) {
      int i = static_cast<int>(digits.size()) - 1;
      while (i >= 0 && digits[i] == '9') digits[i--] = '0';
      if (i >= 0) {
        ++digits[i];
      } else {
        digits.insert(digits.begin(), '1');
        digits.pop_back();
        if (digits.empty()) digits = "1";
        ++exp10;
      }
    }
  }
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  if (digits.empty()) {
    d.Negative = false;
    d.Exponent = 0;
    return d;
  }
  d.Digits = digits;
  d.Exponent = exp10;
  return d;
}

std::string IntegerPart(const FloatDecimal& d, char thousandSeparator) {
  std::string intDigits;
  if (d.Digits.empty() || d.Exponent <= 0) {
    intDigits = "0";
  } else {
    for (int i = 0; i < d.Exponent; ++i) {
      intDigits += i < static_cast<int>(d.Digits.size()) ? d.Digits[i] : '0';
    }
  }
  if (thousandSeparator == '\0') return intDigits;
  std::string out;
  int n = static_cast<int>(intDigits.size());
  for (int i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += thousandSeparator;
    out += intDigits[i];
  }
  return out;
}

std::string FractionPart(const FloatDecimal& d, int decimals) {
  std::string out;
  for (int k = 0; k < decimals; ++k) {
    int index = d.Exponent + k;  // position in Digits of the k-th decimal
    out += (!d.Digits.empty() && index >= 0 && index < static_cast<int>(d.Digits.size()))
               ? d.Digits[index]
               : '0';
  }
  return out;
}

}  // namespace detail

namespace {

using detail::FloatDecimal;

std::string Special(const FloatDecimal& d) {
  if (d.NaN) return "NAN";
  return d.Negative ? "-INF" : "INF";
}

std::string ExponentText(int exponent, int minDigits, bool plusSign) {
  std::string out = "E";
  if (exponent < 0) {
    out += '-';
  } else if (plusSign) {
    out += '+';
  }
  std::string num = std::to_string(std::abs(exponent));
  if (static_cast<int>(num.size()) < minDigits) out += std::string(minDigits - num.size(), '0');
  return out + num;
}

std::string GeneralText(long double value, int precision, int digits, const TFormatSettings& fs) {
  precision = std::clamp(precision, 1, 18);
  FloatDecimal d = detail::ToDecimal(value, precision, 9999);
  if (d.NaN || d.Infinite) return Special(d);
  if (d.Digits.empty()) return "0";
  std::string out = d.Negative ? "-" : "";
  if (d.Exponent <= precision && d.Exponent >= -3) {
    out += detail::IntegerPart(d, '\0');
    int decimals = std::max(0, static_cast<int>(d.Digits.size()) - d.Exponent);
    if (decimals > 0) out += fs.DecimalSeparator + detail::FractionPart(d, decimals);
    return out;
  }
  out += d.Digits[0];
  if (d.Digits.size() > 1) out += fs.DecimalSeparator + d.Digits.substr(1);
  return out + ExponentText(d.Exponent - 1, std::clamp(digits, 0, 4), false);
}

std::string ExponentFormText(long double value, int precision, int digits,
                             const TFormatSettings& fs) {
  precision = std::clamp(precision, 1, 18);
  FloatDecimal d = detail::ToDecimal(value, precision, 9999);
  if (d.NaN || d.Infinite) return Special(d);
  std::string mantissa = d.Digits.empty() ? std::string("0") : d.Digits;
  mantissa.resize(static_cast<size_t>(precision), '0');
  std::string out = d.Negative ? "-" : "";
  out += mantissa[0];
  if (precision > 1) out += fs.DecimalSeparator + mantissa.substr(1);
  int exponent = d.Digits.empty() ? 0 : d.Exponent - 1;
  return out + ExponentText(exponent, std::clamp(digits, 0, 4), true);
}

// The unsigned amount of a fixed, number or currency text; "" when the value
// needs the scientific form instead.
bool FixedAmount(long double value, int precision, int digits, char thousandSeparator,
                 const TFormatSettings& fs, std::string& amount, FloatDecimal& d) {
  precision = std::clamp(precision, 1, 18);
  digits = std::clamp(digits, 0, 18);
  d = detail::ToDecimal(value, precision, digits);
  if (d.NaN || d.Infinite) return false;
  if (d.Exponent > precision) return false;
  amount = detail::IntegerPart(d, thousandSeparator);
  if (digits > 0) amount += fs.DecimalSeparator + detail::FractionPart(d, digits);
  return true;
}

std::string CurrencyLayout(const std::string& amount, bool negative, const TFormatSettings& fs) {
  static const char* const kPositive[4] = {"$1", "1$", "$ 1", "1 $"};
  static const char* const kNegative[16] = {"($1)", "-$1",  "$-1",   "$1-",  "(1$)", "-1$",
                                            "1-$",  "1$-",  "-1 $",  "-$ 1", "1 $-", "$ 1-",
                                            "$ -1", "1- $", "($ 1)", "(1 $)"};
  const char* layout =
      negative ? kNegative[fs.NegCurrFormat % 16] : kPositive[fs.CurrencyFormat % 4];
  std::string out;
  for (const char* p = layout; *p; ++p) {
    if (*p == '$') {
      out += fs.CurrencyString;
    } else if (*p == '1') {
      out += amount;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& fs) {
  switch (format) {
    case ffGeneral:
      return GeneralText(value, precision, digits, fs);
    case ffExponent:
      return ExponentFormText(value, precision, digits, fs);
    case ffFixed:
    case ffNumber:
    case ffCurrency: {
      std::string amount;
      FloatDecimal d;
      char sep = format == ffFixed ? '\0' : fs.ThousandSeparator;
      if (!FixedAmount(value, precision, digits, sep, fs, amount, d)) {
        if (d.NaN || d.Infinite) return Special(d);
        return ExponentFormText(value, precision, 3, fs);
      }
      if (format == ffCurrency) return CurrencyLayout(amount, d.Negative, fs);
      return d.Negative ? "-" + amount : amount;
    }
  }
  return {};
}

std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits) {
  return FloatToStrF(value, format, precision, digits, FormatSettings());
}

std::string FloatToStr(long double value, const TFormatSettings& settings) {
  return GeneralText(value, 15, 0, settings);
}

std::string FloatToStr(long double value) { return FloatToStr(value, FormatSettings()); }

std::string IntToStr(int64_t value) { return std::to_string(value); }

std::string UIntToStr(uint64_t value) { return std::to_string(value); }

std::string IntToHex(uint64_t value, int digits) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  do {
    out.insert(out.begin(), kHex[value & 15]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(out.size()) < digits)
    out.insert(0, static_cast<size_t>(digits) - out.size(), '0');
  return out;
}

}  // namespace rtl
