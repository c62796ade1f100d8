// The common type of two operands: in which storage type a comparison or an
// arithmetic operation on a pair of values is computed. The value type's
// comparison and arithmetic, the SQL engine's expression nodes and the
// component layer's field definitions all ask here, so the promotion rules live
// in this one table.
#pragma once

#include "foundation/VEXFieldTypes.h"

namespace vex {

// The storage type in which Left and Right are combined, or bftUnknown when the
// pair cannot be combined (every pair with bftUnknown, bftBlob, bftBytes,
// bftVarBytes or bftBFile among others). The table is not symmetric: each
// ordered pair has its own entry. A text with a date, time or date-time gives the
// text type for arithmetic and the date or time type when ForComparison is set.
TVEXBaseFieldType GetOperationResultType(TVEXBaseFieldType Left, TVEXBaseFieldType Right,
                                         bool ForComparison);

// The same for the SQL and component layers' types: both are mapped to their
// storage types and promoted; the result is Left when its storage type is the
// promoted one, else Right when its storage type is, else the first advanced
// type of the promoted storage type (aftUnknown for an incompatible pair).
TVEXAdvancedFieldType GetAdvancedOperationResultType(TVEXAdvancedFieldType Left,
                                                     TVEXAdvancedFieldType Right,
                                                     bool ForComparison);

}  // namespace vex
