#include "rtl/NumberText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "rtl/Exception.h"
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

// --- parsing and pattern formatting ----------------------------------------

namespace rtl {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// Reads an optionally signed magnitude; false for anything but a number whose
// magnitude fits in `limit` (for negative numbers limit + 1).
bool ParseInteger(std::string_view text, uint64_t limit, bool& negative, uint64_t& magnitude) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t value = 0;
  uint64_t max = negative ? limit + 1 : limit;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    if (value > (max - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base)) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
  }
  magnitude = value;
  return true;
}

[[noreturn]] void NotInteger(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid integer value");
}

[[noreturn]] void NotFloat(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a valid floating point value");
}

// Rewrites a decimal number of the given settings into the form from_chars
// reads ('.' decimals, no leading '+'); false when it is not such a number.
bool NormaliseFloat(std::string_view text, const TFormatSettings& fs, std::string& out) {
  text = Trim(text);
  size_t i = 0;
  out.clear();
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') out += '-';
    ++i;
  }
  int mantissaDigits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      out += c;
      ++mantissaDigits;
    } else if (c == fs.DecimalSeparator && !point) {
      out += '.';
      point = true;
    } else {
      break;
    }
  }
  if (mantissaDigits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    out += 'e';
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) out += text[i++];
    int expDigits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++expDigits) out += text[i];
    if (expDigits == 0) return false;
  }
  return i == text.size();
}

}  // namespace

bool TryStrToInt64(std::string_view text, int64_t& value) {
  bool negative;
  uint64_t magnitude;
  if (!ParseInteger(text, static_cast<uint64_t>(INT64_MAX), negative, magnitude)) return false;
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

bool TryStrToInt(std::string_view text, int32_t& value) {
  bool negative;
  uint64_t magnitude;
  if (!ParseInteger(text, static_cast<uint64_t>(INT32_MAX), negative, magnitude)) return false;
  value = static_cast<int32_t>(negative ? -static_cast<int64_t>(magnitude)
                                        : static_cast<int64_t>(magnitude));
  return true;
}

int32_t StrToInt(std::string_view text) {
  int32_t value;
  if (!TryStrToInt(text, value)) NotInteger(text);
  return value;
}

int64_t StrToInt64(std::string_view text) {
  int64_t value;
  if (!TryStrToInt64(text, value)) NotInteger(text);
  return value;
}

bool TryStrToFloat(std::string_view text, long double& value, const TFormatSettings& settings) {
  std::string normal;
  if (!NormaliseFloat(text, settings, normal)) return false;
  long double parsed;
  auto res = std::from_chars(normal.data(), normal.data() + normal.size(), parsed);
  if (res.ec != std::errc() || res.ptr != normal.data() + normal.size()) return false;
  value = parsed;
  return true;
}

bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& settings) {
  std::string normal;
  if (!NormaliseFloat(text, settings, normal)) return false;
  double parsed;
  auto res = std::from_chars(normal.data(), normal.data() + normal.size(), parsed);
  if (res.ec != std::errc() || res.ptr != normal.data() + normal.size()) return false;
  value = parsed;
  return true;
}

long double StrToFloat(std::string_view text, const TFormatSettings& settings) {
  long double value;
  if (!TryStrToFloat(text, value, settings)) NotFloat(text);
  return value;
}

long double StrToFloat(std::string_view text) { return StrToFloat(text, FormatSettings()); }

bool TryStrToCurr(std::string_view text, Currency& value, const TFormatSettings& settings) {
  // Exact decimal arithmetic: the digits are scaled by 10^4 and rounded half to
  // even on the digits that remain, so "0.00005" is 0 and "0.00015" is 0.0002
  // whatever binary value the text would have as a float.
  std::string normal;
  if (!NormaliseFloat(text, settings, normal)) return false;
  bool negative = normal[0] == '-';
  std::string digits;
  int pointAt = -1;
  long exponent = 0;
  size_t i = negative ? 1 : 0;
  for (; i < normal.size() && normal[i] != 'e'; ++i) {
    if (normal[i] == '.') {
      pointAt = static_cast<int>(digits.size());
    } else {
      digits += normal[i];
    }
  }
  if (i < normal.size()) {
    std::string_view exp(normal.data() + i + 1, normal.size() - i - 1);
    if (exp.size() > 6) return false;  // far outside the range either way
    exponent = std::atol(std::string(exp).c_str());
  }
  if (pointAt < 0) pointAt = static_cast<int>(digits.size());
  long integerDigits = pointAt + exponent + 4;  // digits that form the scaled integer
  uint64_t magnitude = 0;
  for (long k = 0; k < integerDigits; ++k) {
    int digit = k < static_cast<long>(digits.size()) ? digits[k] - '0' : 0;
    if (magnitude > (UINT64_MAX - static_cast<uint64_t>(digit)) / 10) return false;
    magnitude = magnitude * 10 + static_cast<uint64_t>(digit);
  }
  // Rounding on the rest: above half rounds up, exactly half rounds to even.
  long first = std::max<long>(integerDigits, 0);
  if (first < static_cast<long>(digits.size())) {
    int next = digits[first] - '0';
    bool rest = digits.find_first_not_of('0', static_cast<size_t>(first) + 1) != std::string::npos;
    // Digits before the scaled integer (a very negative exponent) all count as "rest".
    if (integerDigits < 0) {
      next = 0;
      rest = digits.find_first_not_of('0') != std::string::npos;
    }
    if (next > 5 || (next == 5 && (rest || (magnitude & 1)))) {
      ++magnitude;
    }
  }
  uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  if (magnitude > limit) return false;
  value = Currency::FromRaw(negative ? static_cast<int64_t>(0 - magnitude)
                                     : static_cast<int64_t>(magnitude));
  return true;
}

Currency StrToCurr(std::string_view text, const TFormatSettings& settings) {
  Currency value;
  if (!TryStrToCurr(text, value, settings)) NotFloat(text);
  return value;
}

Currency StrToCurr(std::string_view text) { return StrToCurr(text, FormatSettings()); }

std::string CurrToStr(Currency value, const TFormatSettings& settings) {
  uint64_t magnitude =
      value.Raw < 0 ? 0 - static_cast<uint64_t>(value.Raw) : static_cast<uint64_t>(value.Raw);
  std::string out = value.Raw < 0 ? "-" : "";
  out += std::to_string(magnitude / Currency::Scale);
  std::string fraction = std::to_string(magnitude % Currency::Scale);
  fraction.insert(0, 4 - fraction.size(), '0');
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  if (!fraction.empty()) out += settings.DecimalSeparator + fraction;
  return out;
}

std::string CurrToStr(Currency value) { return CurrToStr(value, FormatSettings()); }

namespace {

struct Section {
  std::string Prefix;  // literal text before the first placeholder
  std::string Suffix;  // literal text after it
  int MinInteger = 0;  // '0's in the integer part
  int MinDecimals = 0;
  int MaxDecimals = 0;
  bool Thousands = false;
  bool HasPlaceholder = false;
};

Section ParseSection(std::string_view pattern) {
  Section s;
  bool inDecimals = false;
  bool seenPlaceholder = false;
  int decimalCount = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    std::string& literal = seenPlaceholder ? s.Suffix : s.Prefix;
    if (c == '\'' || c == '"') {
      size_t end = pattern.find(c, i + 1);
      if (end == std::string_view::npos) end = pattern.size();
      literal += pattern.substr(i + 1, end - i - 1);
      i = end;
    } else if (c == '0' || c == '#') {
      seenPlaceholder = true;
      if (inDecimals) {
        ++decimalCount;
        s.MaxDecimals = decimalCount;
        if (c == '0') s.MinDecimals = decimalCount;
      } else if (c == '0' || s.MinInteger > 0) {
        ++s.MinInteger;  // every placeholder after the first '0' counts
      }
    } else if (c == '.' && !inDecimals) {
      inDecimals = true;
      seenPlaceholder = true;
    } else if (c == ',' && !inDecimals) {
      s.Thousands = true;
    } else {
      literal += c;
    }
  }
  s.HasPlaceholder = seenPlaceholder;
  return s;
}

// The section of that index; empty when the pattern has none or it is empty.
std::string Sections(std::string_view format, int index) {
  // Sections split at ';' outside quoted text.
  std::vector<std::string> parts(1);
  char quote = 0;
  for (char c : format) {
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == ';') {
      parts.emplace_back();
      continue;
    }
    parts.back() += c;
  }
  return index < static_cast<int>(parts.size()) ? parts[index] : std::string();
}

}  // namespace

std::string FormatFloat(std::string_view format, long double value,
                        const TFormatSettings& settings) {
  if (format.empty() || !std::isfinite(value)) return FloatToStr(value, settings);
  std::string negative = value < 0 ? Sections(format, 1) : std::string();
  bool ownSign = !negative.empty();  // a negative section carries its own sign
  Section s = ParseSection(ownSign ? negative : Sections(format, 0));
  detail::FloatDecimal d = detail::ToDecimal(value, 18, s.MaxDecimals);
  std::string zero = Sections(format, 2);
  if (d.Digits.empty() && !zero.empty()) {
    s = ParseSection(zero);
    ownSign = true;
  }
  if (!s.HasPlaceholder) return s.Prefix;
  std::string integer = detail::IntegerPart(d, '\0');
  if (integer == "0" && s.MinInteger == 0) integer.clear();
  if (static_cast<int>(integer.size()) < s.MinInteger) {
    integer.insert(0, static_cast<size_t>(s.MinInteger) - integer.size(), '0');
  }
  if (s.Thousands && settings.ThousandSeparator != '\0') {
    std::string grouped;
    int n = static_cast<int>(integer.size());
    for (int i = 0; i < n; ++i) {
      if (i > 0 && (n - i) % 3 == 0) grouped += settings.ThousandSeparator;
      grouped += integer[i];
    }
    integer = grouped;
  }
  std::string fraction = detail::FractionPart(d, s.MaxDecimals);
  while (static_cast<int>(fraction.size()) > s.MinDecimals && fraction.back() == '0') {
    fraction.pop_back();
  }
  std::string number = integer;
  if (!fraction.empty()) number += settings.DecimalSeparator + fraction;
  return (d.Negative && !ownSign ? "-" : "") + s.Prefix + number + s.Suffix;
}

std::string FormatFloat(std::string_view format, long double value) {
  return FormatFloat(format, value, FormatSettings());
}

std::string FormatCurr(std::string_view format, Currency value, const TFormatSettings& settings) {
  return FormatFloat(format, value.ToLongDouble(), settings);
}

std::string FormatCurr(std::string_view format, Currency value) {
  return FormatCurr(format, value, FormatSettings());
}

}  // namespace rtl
