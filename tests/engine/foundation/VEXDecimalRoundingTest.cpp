#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "foundation/VEXDecimalRounding.h"
#include "rtl/Exception.h"

using namespace vex;

namespace {

TEST(DecimalRounding, DefaultFuzzIsTheDocumentedDouble) {
  EXPECT_EQ(DefaultRoundingRelErr(), 5.481726184209375e-16);
}

struct RoundCase {
  int digits;
  int mode;
  double value;
  double expected;
};

TEST(DecimalRounding, EveryModeRoundsAsItsNameSays) {
  const RoundCase cases[] = {
      // HALFEVEN: ties to the even neighbour, near-ties treated as ties.
      {2, 1, 2.675, 2.68},
      {2, 1, 0.125, 0.12},
      {2, 1, 0.135, 0.14},
      {0, 1, 2.5, 2},
      {0, 1, -3.5, -4},
      // HALFPOS and HALFNEG: ties toward plus and minus infinity.
      {0, 2, 2.5, 3},
      {0, 2, -2.5, -2},
      {0, 3, 2.5, 2},
      {0, 3, -2.5, -3},
      // HALFDOWN and HALFUP: ties toward and away from zero.
      {0, 4, -2.5, -2},
      {0, 4, 2.5, 2},
      {0, 5, -2.5, -3},
      {0, 5, 2.5, 3},
      // Floor, ceiling, truncation, away from zero, each with the fuzz.
      {0, 6, 2.9999999999999996, 3},
      {0, 6, 2.7, 2},
      {0, 6, -2.2, -3},
      {0, 7, 2.2, 3},
      {0, 7, -2.7, -2},
      {0, 8, 2.7, 2},
      {0, 8, -2.7, -2},
      {0, 9, 2.2, 3},
      {0, 9, -2.2, -3},
      // Negative digit counts round to tens, hundreds ...
      {-2, 5, 250, 300},
      {-2, 4, 250, 200},
      {-1, 1, 1234.5, 1230},
      // Above 9: plain rounding, ties to even.
      {1, 10, 0.25, 0.2},
      {0, 0, 2.71828, 2.71828},
  };
  for (const auto& c : cases) {
    double got = static_cast<double>(
        RoundToDecimalsDefault(c.digits, static_cast<uint8_t>(c.mode), c.value));
    EXPECT_DOUBLE_EQ(got, c.expected)
        << "digits " << c.digits << " mode " << c.mode << " value " << c.value;
  }
}

TEST(DecimalRounding, NonFiniteValuesComeBackUnchanged) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(RoundToDecimalsDefault(2, 1, inf), inf);
  EXPECT_EQ(RoundToDecimalsDefault(2, 1, -inf), -inf);
  EXPECT_TRUE(std::isnan(RoundToDecimalsDefault(2, 1, std::nan(""))));
}

TEST(DecimalRounding, ValuesBeyondTheIntegerRangeRaise) {
  EXPECT_THROW(RoundToDecimalsDefault(2, 1, 1e17), rtl::EInvalidOp);
  EXPECT_THROW(RoundToDecimalsDefault(0, 5, -1e19), rtl::EInvalidOp);
  // A huge negative digit count scales everything to zero instead of a NaN.
  EXPECT_EQ(RoundToDecimalsDefault(-6000, 1, 12345.0), 0);
  EXPECT_EQ(RoundToDecimalsDefault(INT32_MIN, 5, -12345.0), 0);
  EXPECT_THROW(RoundToDecimalsDefault(INT32_MAX, 1, 1e-300), rtl::EInvalidOp);
  // Zero is zero at every digit count, also where 10^Digits overflows.
  EXPECT_EQ(RoundToDecimalsDefault(6000, 1, 0.0), 0);
  EXPECT_EQ(RoundToDecimalsDefault(2, 9, -0.0), 0);
}

}  // namespace
