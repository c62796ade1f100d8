// Rounding a number to a count of decimal places, as the SQL function ROUND
// does, in nine modes. Before rounding, a small relative fuzz moves values that
// lie a few units in the last place from a tie (or, for the directed modes, from
// an integer) onto it, so that 2.675, whose nearest double lies just below,
// still rounds to 2.68. The arithmetic is done in the 80-bit extended format.
#pragma once

#include <cfloat>
#include <cstdint>

namespace vex {

static_assert(LDBL_MANT_DIG == 64, "Extended must be the 80-bit x87 format");
using Extended = long double;

// Modes: 0 none, 1 HALFEVEN, 2 HALFPOS, 3 HALFNEG, 4 HALFDOWN, 5 HALFUP,
// 6 RNDNEG (floor), 7 RNDPOS (ceiling), 8 RNDDOWN (truncate), 9 RNDUP (away from
// zero); above 9 plain rounding to nearest, ties to even. Negative Digits round
// to tens, hundreds ... Raises rtl::EInvalidOp when the scaled value does
// not fit a 64-bit integer.
Extended RoundToDecimals(int32_t Digits, uint8_t Mode, Extended Value, double RelErr);

// The fuzz of RoundToDecimalsDefault: about 2.47 units in the last place of a double.
double DefaultRoundingRelErr();

Extended RoundToDecimalsDefault(int32_t Digits, uint8_t Mode, double Value);

}  // namespace vex
