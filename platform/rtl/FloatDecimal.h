// Internal to the run-time layer: a floating value as rounded decimal digits, the
// common first step of every float-to-text routine.
#pragma once

#include <string>

namespace rtl::detail {

struct FloatDecimal {
  bool Negative = false;
  bool NaN = false;
  bool Infinite = false;
  std::string Digits;  // significant digits, no trailing zeros; empty for zero
  int Exponent = 0;    // value = 0.Digits × 10^Exponent
};

// Rounds to at most `precision` significant digits (capped at 18) and at most
// `decimals` digits after the decimal point, halves away from zero, after a first
// rounding to 18 significant digits. A value that rounds to zero loses its sign.
FloatDecimal ToDecimal(long double value, int precision, int decimals);

// The integer part of a decimal with separators inserted every three digits
// (none when `thousandSeparator` is '\0'); "0" for a value below one.
std::string IntegerPart(const FloatDecimal& d, char thousandSeparator);
// Exactly `decimals` digits after the point (zero-padded).
std::string FractionPart(const FloatDecimal& d, int decimals);

}  // namespace rtl::detail
