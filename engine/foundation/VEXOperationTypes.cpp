// The promotion table of operand types.
#include "foundation/VEXOperationTypes.h"

#include <cstdint>

#include "foundation/VEXConverts.h"

namespace vex {

namespace {

// A cell holds the arithmetic result in its low byte and, where comparing gives
// another type (a text with a date or time), the comparison result in its high
// byte; a high byte of 0 means "the same for both".
constexpr uint16_t D(uint16_t arithmetic, uint16_t comparison) {
  return static_cast<uint16_t>(arithmetic | comparison << 8);
}

// Rows and columns in this order of storage types; the types left out combine
// with nothing.
constexpr TVEXBaseFieldType kAxis[] = {
    bftChar,          bftWideChar,    bftVarchar,     bftWideVarchar,  bftSignedInt8,
    bftSignedInt16,   bftSignedInt32, bftSignedInt64, bftUnsignedInt8, bftUnsignedInt16,
    bftUnsignedInt32, bftSingle,      bftDouble,      bftExtended,     bftDate,
    bftTime,          bftDateTime,    bftClob,        bftWideClob,     bftLogical,
    bftCurrency};
constexpr int kAxisSize = static_cast<int>(sizeof kAxis / sizeof kAxis[0]);

// Row = left type, column = right type, both in the order of kAxis.
constexpr uint16_t kResultType[kAxisSize][kAxisSize] = {
    /*  1 */ {1, 2, 3, 4, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, D(1, 15), D(1, 16), D(1, 17), 1, 2, 1, 1},
    /*  2 */ {2, 2, 2, 4, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, D(2, 15), D(2, 16), D(2, 17), 2, 2, 2, 2},
    /*  3 */ {3, 2, 3, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, D(3, 15), D(3, 16), D(3, 17), 3, 4, 3, 3},
    /*  4 */ {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, D(4, 15), D(4, 16), D(4, 17), 4, 4, 4, 4},
    /*  5 */ {1, 2, 3, 4, 5, 6, 7, 8, 6, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 5, 22},
    /*  6 */ {1, 2, 3, 4, 6, 6, 7, 8, 6, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 6, 22},
    /*  7 */ {1, 2, 3, 4, 7, 7, 7, 8, 7, 7, 8, 12, 13, 14, 15, 16, 17, 0, 0, 7, 22},
    /*  8 */ {1, 2, 3, 4, 8, 8, 8, 8, 8, 8, 8, 12, 13, 14, 15, 16, 17, 0, 0, 8, 22},
    /*  9 */ {1, 2, 3, 4, 6, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 9, 22},
    /* 10 */ {1, 2, 3, 4, 7, 7, 7, 8, 10, 10, 11, 12, 13, 14, 15, 16, 17, 0, 0, 10, 22},
    /* 11 */ {1, 2, 3, 4, 8, 8, 8, 8, 11, 11, 11, 12, 13, 14, 15, 16, 17, 0, 0, 11, 22},
    /* 12 */ {1, 2, 3, 4, 12, 12, 12, 12, 12, 12, 12, 12, 13, 14, 15, 16, 17, 0, 0, 12, 22},
    /* 13 */ {1, 2, 3, 4, 13, 13, 13, 13, 13, 13, 13, 13, 13, 14, 15, 16, 17, 0, 0, 13, 22},
    /* 14 */ {1, 2, 3, 4, 14, 14, 14, 14, 14, 14, 14, 14, 14, 14, 15, 16, 17, 0, 0, 14, 22},
    /* 15 */ {D(1, 15), D(2, 15), D(3, 15), D(4, 15), 15, 15, 15, 15, 15, 15, 15,
              15,       15,       15,       15,       17, 17, 0,  0,  0,  0},
    /* 16 */ {D(1, 16), D(2, 16), D(3, 16), D(4, 16), 16, 16, 16, 16, 16, 16, 16,
              16,       16,       16,       17,       16, 17, 0,  0,  0,  0},
    /* 17 */ {D(1, 17), D(2, 17), D(3, 17), D(4, 17), 17, 17, 17, 17, 17, 17, 17,
              17,       17,       17,       17,       17, 17, 0,  0,  0,  0},
    /* 19 */ {1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0, 0},
    /* 20 */ {2, 2, 4, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 0, 0},
    /* 21 */ {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0, 0, 0, 0, 0, 21, 0},
    /* 22 */ {1, 2, 3, 4, 22, 22, 22, 22, 22, 22, 22, 12, 13, 14, 0, 0, 0, 0, 0, 0, 22},
};

constexpr int AxisIndex(TVEXBaseFieldType type) {
  for (int i = 0; i < kAxisSize; ++i) {
    if (kAxis[i] == type) return i;
  }
  return -1;
}

}  // namespace

TVEXBaseFieldType GetOperationResultType(TVEXBaseFieldType Left, TVEXBaseFieldType Right,
                                         bool ForComparison) {
  const int row = AxisIndex(Left);
  const int column = AxisIndex(Right);
  if (row < 0 || column < 0) return bftUnknown;
  const uint16_t cell = kResultType[row][column];
  const uint16_t comparison = cell >> 8;
  return static_cast<TVEXBaseFieldType>(ForComparison && comparison != 0 ? comparison
                                                                         : cell & 0xFF);
}

TVEXAdvancedFieldType GetAdvancedOperationResultType(TVEXAdvancedFieldType Left,
                                                     TVEXAdvancedFieldType Right,
                                                     bool ForComparison) {
  const TVEXBaseFieldType leftBase = AdvancedToBaseFieldType(Left);
  const TVEXBaseFieldType rightBase = AdvancedToBaseFieldType(Right);
  const TVEXBaseFieldType result = GetOperationResultType(leftBase, rightBase, ForComparison);
  if (result == leftBase) return Left;
  if (result == rightBase) return Right;
  return BaseToAdvancedFieldType(result);
}

}  // namespace vex
