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

std::string IntToStr(int64_t value);
std::string UIntToStr(uint64_t value);
// Upper-case hexadecimal, zero-padded to at least `digits` digits.
std::string IntToHex(uint64_t value, int digits);

}  // namespace rtl
