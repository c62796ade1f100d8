// Operations on raw typed payloads: converting a payload of one storage type
// into another. The value type's typed accessors, the SQL engine's casts and the
// index key code all convert through here, so every rule of how a number, a date
// or a text becomes another type lives in this one module.
//
// Payload forms are those of the value type (VEXVariant.h). Results are new
// blocks of the engine memory manager that the caller owns and frees with
// MemoryManager's FreeAndNillMem.
#pragma once

#include <cstdint>

#include "foundation/VEXFieldTypes.h"

namespace vex {

// The day number that stands for "no date" in conversions (and a time of 0 ms
// for "no time" when a time becomes text): both give the empty text.
inline constexpr int32_t EmptyVEXDate = INT32_MIN;

// Converts the payload at Source (SourceSize bytes, or -1 when the caller does
// not know the size) from SourceType into a new block of ResultType and returns
// it with its size in ResultSize. Text results are zero-terminated.
//
// 8-bit and wide text payloads are read up to their terminator, and never past
// SourceSize when it is given. CLOB and wide CLOB payloads carry no terminator:
// their text is exactly SourceSize bytes; only with -1 are they read up to a
// terminator.
//
// Raises EVEXException 30052 "Cannot cast from '%s' to '%s'" for a pair that has
// no conversion, and 30051 with the same text when a conversion of a listed pair
// fails (text that does not parse, a value out of range). Nothing is allocated
// when it raises.
void* ConvertValue(const void* Source, int32_t SourceSize, TVEXBaseFieldType SourceType,
                   int32_t& ResultSize, TVEXBaseFieldType ResultType);
void* ConvertValue(const void* Source, int32_t SourceSize, TVEXBaseFieldType SourceType,
                   TVEXBaseFieldType ResultType);

}  // namespace vex
