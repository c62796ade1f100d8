// Comparison of two typed payloads: the order of values that indexes, filters,
// SQL comparisons and the value type's Compare all share.
//
// Text compares by the platform's locale-aware string sort (optionally ignoring
// case), numbers, dates and times by value. Operands of different types are
// first converted to their common comparison type (VEXOperationTypes.h), so
// an integer compared with a text compares as text, and a text compared with a
// date as a date.
#pragma once

#include <cstdint>

#include "foundation/VEXFieldTypes.h"
#include "foundation/VEXWideText.h"

namespace vex {

enum TVEXCompareResult : uint8_t {
  cmprEqual,
  cmprLower,
  cmprGreater,
  cmprLeftNull,
  cmprRightNull,
  cmprBothNull,
};

// Compares the payload LeftData of LeftType with RightData of RightType.
//
// Nulls come first: cmprBothNull, cmprLeftNull or cmprRightNull by the null
// flags. Text compares at most MaxLength characters of each side (-1: the
// whole text), so a key prefix compares equal to every longer text it begins.
// LeftSize and RightSize are the payload sizes in bytes when the caller knows
// them (-1 otherwise); a text is then never read past its own payload, and a
// CLOB, which has no terminator, is exactly its size. Locale is the locale of
// 8-bit text (the platform compares in its process-wide locale); wide text
// always compares in the user's default locale.
//
// Raises EVEXException 30044 "Cannot compare Incompatible DataTypes: '%s' and
// '%s'" for a pair without a common type, 30051/30052 when an operand does not
// convert to it, 30140 "Value is Null" for a non-null operand without payload,
// 30045 "Unknown return code: %d" when the 8-bit comparison fails, 30046 when
// the wide comparison fails, and 30047 "Unknown DataType: '%s'" for a type
// without an order (two BLOBs).
TVEXCompareResult CompareValues(const void* LeftData, const void* RightData,
                                TVEXBaseFieldType LeftType, TVEXBaseFieldType RightType,
                                bool LeftIsNull, bool RightIsNull, int32_t MaxLength,
                                bool CaseInsensitive, uint32_t Locale = LOCALE_USER_DEFAULT,
                                int32_t LeftSize = -1, int32_t RightSize = -1);

// The same as -1 (lower, or a null left side), 1 (greater, or a null right side)
// or 0 (equal, or both null).
int32_t CompareValuesAsInteger(const void* LeftData, const void* RightData,
                               TVEXBaseFieldType LeftType, TVEXBaseFieldType RightType,
                               bool LeftIsNull, bool RightIsNull, int32_t MaxLength,
                               bool CaseInsensitive, uint32_t Locale = LOCALE_USER_DEFAULT,
                               int32_t LeftSize = -1, int32_t RightSize = -1);

}  // namespace vex
