#include "foundation/VEXDecimalRounding.h"

#include <bit>
#include <cfenv>
#include <cmath>

#include "foundation/VEXConst.h"
#include "rtl/Exception.h"

namespace vex {

namespace {

// Nearest integer with ties to even: nearbyint under the default rounding mode,
// checked against the 64-bit range the result must fit.
int64_t RoundEven(Extended x) {
  Extended r = std::nearbyintl(x);
  // 2^63 is exact in the extended format; anything at or beyond it (or a NaN)
  // does not fit.
  constexpr Extended kLimit = 9223372036854775808.0L;
  if (!(r >= -kLimit && r < kLimit)) throw rtl::EInvalidOp(sInvalidFloatingPointOperation);
  return static_cast<int64_t>(r);
}

}  // namespace

double DefaultRoundingRelErr() { return std::bit_cast<double>(uint64_t{0x3CC3C0000001E5EDull}); }

Extended RoundToDecimals(int32_t Digits, uint8_t Mode, Extended Value, double RelErr) {
  if (Mode == 0 || !std::isfinite(Value)) return Value;

  // Zero stays zero at any digit count; scaling it by a 10^Digits beyond the
  // extended range would make 0 * inf a NaN and raise.
  if (Value == 0) return 0;

  // Once the power has overflowed, further multiplications cannot change it; a
  // digit count near the int32 limits would otherwise spin for seconds.
  Extended p = 1;
  for (int64_t i = 0, n = std::abs(static_cast<int64_t>(Digits)); i < n && std::isfinite(p); ++i)
    p *= 10;

  Extended x, e;
  if (Digits >= 0) {
    x = Value * p;
    e = std::fabs(Value * RelErr) * p;
  } else {
    x = Value / p;
    e = std::fabs(Value * RelErr) / p;
  }

  int64_t r;
  switch (Mode) {
    case 1: {
      int64_t a = RoundEven(x - e);
      r = (a % 2 != 0) ? RoundEven(x + e) : a;
      break;
    }
    case 2:
      r = RoundEven(x + e);
      break;
    case 3:
      r = RoundEven(x - e);
      break;
    case 4:
      r = RoundEven(std::fabs(x) - e);
      break;
    case 5:
      r = RoundEven(std::fabs(x) + e);
      break;
    case 6:
      r = RoundEven(x + e - 0.5L);
      break;
    case 7:
      r = RoundEven(x - e + 0.5L);
      break;
    case 8:
      r = RoundEven(std::fabs(x) + e - 0.5L);
      break;
    case 9:
      r = RoundEven(std::fabs(x) - e + 0.5L);
      break;
    default:
      r = RoundEven(x);
      break;
  }

  Extended result;
  if (r == 0)
    result = 0;  // also when 10^|Digits| overflowed, where 0 * inf would give a NaN
  else
    result = Digits >= 0 ? static_cast<Extended>(r) / p : static_cast<Extended>(r) * p;
  if (Mode == 4 || Mode == 5 || Mode == 8 || Mode == 9) {
    if (Value < 0) result = -result;
  }
  return result;
}

Extended RoundToDecimalsDefault(int32_t Digits, uint8_t Mode, double Value) {
  return RoundToDecimals(Digits, Mode, Value, DefaultRoundingRelErr());
}

}  // namespace vex
