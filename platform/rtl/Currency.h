// Money as the platform keeps it: a signed 64-bit count of ten-thousandths, so
// sums of amounts are exact. A floating value becomes money by scaling and
// rounding to the nearest ten-thousandth with halves to even (the processor's
// default rounding), never by truncation.
#pragma once

#include <compare>
#include <cstdint>

namespace rtl {

struct Currency {
  static constexpr int64_t Scale = 10000;

  int64_t Raw = 0;  // amount × 10 000

  static constexpr Currency FromRaw(int64_t raw) { return Currency{raw}; }
  // Raises EOverflow for a value outside the int64 range after scaling (and for NaN).
  static Currency FromDouble(double value);
  double ToDouble() const { return static_cast<double>(Raw) / Scale; }
  long double ToLongDouble() const { return static_cast<long double>(Raw) / Scale; }

  friend constexpr auto operator<=>(Currency, Currency) = default;
};

}  // namespace rtl
