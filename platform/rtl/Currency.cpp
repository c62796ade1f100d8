#include "rtl/Currency.h"

#include <cmath>

#include "rtl/Exception.h"

namespace rtl {

Currency Currency::FromDouble(double value) {
  // Scale in long double: amount × 10 000 keeps all 53 bits of the double, so the
  // only rounding is the one nearbyint does (halves to even under the default mode).
  long double scaled = std::nearbyint(static_cast<long double>(value) * Scale);
  if (!(scaled >= -9223372036854775808.0L && scaled < 9223372036854775808.0L)) {
    throw EOverflow("Floating point overflow");
  }
  return Currency{static_cast<int64_t>(scaled)};
}

}  // namespace rtl
