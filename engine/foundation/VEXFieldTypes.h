// The engine's two type systems. The base field type is the storage type of a
// record slot or a value (one byte on disk and in streams, so its numbers are
// fixed); the advanced field type is what the SQL and component layers declare,
// and maps onto a base type through the SQL type-name table (VEXConverts).
#pragma once

#include <cstdint>

namespace vex {

enum TVEXBaseFieldType : uint8_t {
  bftUnknown = 0,
  bftChar = 1,
  bftWideChar = 2,
  bftVarchar = 3,
  bftWideVarchar = 4,
  bftSignedInt8 = 5,
  bftSignedInt16 = 6,
  bftSignedInt32 = 7,
  bftSignedInt64 = 8,
  bftUnsignedInt8 = 9,
  bftUnsignedInt16 = 10,
  bftUnsignedInt32 = 11,
  bftSingle = 12,
  bftDouble = 13,
  bftExtended = 14,
  bftDate = 15,
  bftTime = 16,
  bftDateTime = 17,
  bftBlob = 18,
  bftClob = 19,
  bftWideClob = 20,
  bftLogical = 21,
  bftCurrency = 22,
  bftBytes = 23,
  bftVarBytes = 24,
  bftBFile = 25,
};

inline constexpr int kBaseFieldTypeCount = 26;

enum TVEXAdvancedFieldType : uint8_t {
  aftUnknown = 0,
  aftChar,
  aftString,
  aftWideChar,
  aftWideString,
  aftShortint,
  aftSmallint,
  aftInteger,
  aftLargeint,
  aftByte,
  aftWord,
  aftCardinal,
  aftAutoInc,
  aftAutoIncShortint,
  aftAutoIncSmallint,
  aftAutoIncInteger,
  aftAutoIncLargeint,
  aftAutoIncByte,
  aftAutoIncWord,
  aftAutoIncCardinal,
  aftSingle,
  aftDouble,
  aftExtended,
  aftBoolean,
  aftCurrency,
  aftDate,
  aftTime,
  aftDateTime,
  aftTimeStamp,
  aftBytes,
  aftVarBytes,
  aftBlob,
  aftGraphic,
  aftMemo,
  aftFormattedMemo,
  aftWideMemo,
  aftGuid,
};

inline constexpr int kAdvancedFieldTypeCount = 37;
static_assert(aftGuid == 36);

// Storage form of a date-time: the day number (0001-01-01 is day 1) followed by
// the milliseconds since midnight, both little-endian.
struct TVEXDateTime {
  int32_t Date;
  int32_t Time;
};
static_assert(sizeof(TVEXDateTime) == 8);

}  // namespace vex
