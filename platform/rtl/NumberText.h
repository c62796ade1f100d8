// Numbers as text in the conventions of a TFormatSettings: the platform's
// IntToStr / StrToInt, FloatToStr / FloatToStrF / StrToFloat, FormatFloat and the
// money conversions.
//
// Every routine that depends on the locale has an overload taking explicit
// settings; the others use FormatSettings(). Parsing never changes any shared
// setting, so code that must read '.' decimals whatever the locale passes
// TFormatSettings::Invariant() (or its own copy with DecimalSeparator = '.').
//
// Floating values are rounded as the platform does: first to 18 significant
// digits, then half away from zero at the wanted digit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rtl/Currency.h"
#include "rtl/FormatSettings.h"

namespace rtl {

enum TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

// ffGeneral: the shorter of fixed and scientific with `precision` significant
//   digits, trailing zeros removed ("1E20", "1.5E-7"; `digits` = minimum exponent digits).
// ffExponent: "-d.dddE+ddd" with `precision` significant digits, `digits` exponent digits.
// ffFixed: `digits` decimals ("-123.46"); scientific when the integer part has more
//   than `precision` digits.
// ffNumber: ffFixed with thousand separators.
// ffCurrency: ffNumber with `digits` decimals laid out by CurrencyFormat/NegCurrFormat.
// Precision is capped at 18 and digits at 18 (ffExponent: 4). NaN and infinities give
// "NAN", "INF" and "-INF".
std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits);
std::string FloatToStrF(long double value, TFloatFormat format, int precision, int digits,
                        const TFormatSettings& settings);

// The platform's shortest general form: ffGeneral with 15 significant digits.
std::string FloatToStr(long double value);
std::string FloatToStr(long double value, const TFormatSettings& settings);

// Integers. The parsers accept leading blanks, a sign, and decimal digits or a
// hexadecimal number after "$" or "0x"; anything else (trailing text, an empty
// text, a value outside the type) raises EConvertError "'...' is not a valid
// integer value".
std::string IntToStr(int64_t value);
std::string UIntToStr(uint64_t value);
// Upper-case hexadecimal, zero-padded to at least `digits` digits.
std::string IntToHex(uint64_t value, int digits);

int32_t StrToInt(std::string_view text);
int64_t StrToInt64(std::string_view text);
bool TryStrToInt(std::string_view text, int32_t& value);
bool TryStrToInt64(std::string_view text, int64_t& value);

// Decimal numbers with the settings' decimal separator and an optional exponent
// ("-1,5E3" under a ',' locale); blanks around the number are allowed. No
// thousand separators, no hexadecimal, no "inf" or "nan", no other separator;
// a value beyond the type's range is refused too. Raises EConvertError
// "'...' is not a valid floating point value".
long double StrToFloat(std::string_view text);
long double StrToFloat(std::string_view text, const TFormatSettings& settings);
bool TryStrToFloat(std::string_view text, long double& value, const TFormatSettings& settings);
bool TryStrToFloat(std::string_view text, double& value, const TFormatSettings& settings);

// Money. StrToCurr reads a decimal number as StrToFloat does and rounds it to
// four decimals (halves to even); CurrToStr writes the shortest exact form
// ("12.5", "-0.0001", "3") with the decimal separator, no grouping, no symbol.
Currency StrToCurr(std::string_view text);
Currency StrToCurr(std::string_view text, const TFormatSettings& settings);
bool TryStrToCurr(std::string_view text, Currency& value, const TFormatSettings& settings);
std::string CurrToStr(Currency value);
std::string CurrToStr(Currency value, const TFormatSettings& settings);

// Pattern formatting: up to three sections "positive;negative;zero". In a
// section, '0' is a digit always shown, '#' a digit shown when significant,
// the first '.' the decimal separator, ',' anywhere in the integer part turns on
// thousand separators, and text in '...' or "..." (and any other character) is
// copied. Literal text before the first digit placeholder comes before the
// number, the rest after it. The value is rounded to the decimals the pattern
// allows (halves away from zero). An empty pattern gives FloatToStr.
std::string FormatFloat(std::string_view format, long double value);
std::string FormatFloat(std::string_view format, long double value,
                        const TFormatSettings& settings);
std::string FormatCurr(std::string_view format, Currency value);
std::string FormatCurr(std::string_view format, Currency value, const TFormatSettings& settings);

}  // namespace rtl
