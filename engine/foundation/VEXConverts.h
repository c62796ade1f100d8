// Ties the engine's type systems together: SQL type names, advanced field types
// (SQL and component layers), base field types (records and values) and the
// dataset framework's field types, through one table scanned in row order so
// that where a key occurs in several rows the first row decides. Also the
// storage form of dates and times, LIKE matching and the SQL date, time and
// timestamp literals.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "db/DBCommon.h"
#include "foundation/VEXFieldTypes.h"

namespace db {
class TField;
}

namespace vex {

struct TSQLFieldType {
  std::string_view SqlName;
  TVEXAdvancedFieldType AdvancedFieldType;
  TVEXBaseFieldType BaseFieldType;
  db::TFieldType FieldType;
};

// Rows 1 to 62 are SQLFieldTypes[0] to SQLFieldTypes[61].
extern const std::array<TSQLFieldType, 62> SQLFieldTypes;

TVEXBaseFieldType AdvancedToBaseFieldType(TVEXAdvancedFieldType advancedFieldType);
TVEXAdvancedFieldType BaseToAdvancedFieldType(TVEXBaseFieldType baseFieldType);
// Raises 30289 "Unknown DataType: '%s'" (with the type's number) for a
// platform field type that no row holds.
TVEXAdvancedFieldType FieldTypeToAdvancedFieldType(db::TFieldType fieldType);
db::TFieldType AdvancedToFieldType(TVEXAdvancedFieldType advancedFieldType);
// "Unknown" when no row holds the type.
std::string AdvancedFieldTypeToSQLName(TVEXAdvancedFieldType advancedFieldType);
std::string BaseFieldTypeToSQLName(TVEXBaseFieldType baseFieldType);

constexpr bool IsStringBaseFieldType(TVEXBaseFieldType t) {
  return t == bftChar || t == bftWideChar || t == bftVarchar || t == bftWideVarchar;
}
constexpr bool IsWideStringBaseFieldType(TVEXBaseFieldType t) {
  return t == bftWideChar || t == bftWideVarchar;
}
constexpr bool IsNumericBaseFieldType(TVEXBaseFieldType t) {
  return (t >= bftSignedInt8 && t <= bftExtended) || t == bftCurrency;
}
constexpr bool IsDateTimeBaseFieldType(TVEXBaseFieldType t) {
  return t == bftDate || t == bftTime || t == bftDateTime;
}
constexpr bool IsBLOBBaseFieldType(TVEXBaseFieldType t) {
  return t == bftBlob || t == bftClob || t == bftWideClob;
}
constexpr bool IsStringAdvancedFieldType(TVEXAdvancedFieldType t) {
  return t == aftChar || t == aftString || t == aftWideChar || t == aftWideString || t == aftGuid;
}
constexpr bool IsWideStringAdvancedFieldType(TVEXAdvancedFieldType t) {
  return t == aftWideChar || t == aftWideString;
}
constexpr bool IsBytesAdvancedFieldType(TVEXAdvancedFieldType t) {
  return t == aftBytes || t == aftVarBytes;
}
constexpr bool IsAutoIncAdvancedFieldType(TVEXAdvancedFieldType t) {
  return t >= aftAutoInc && t <= aftAutoIncCardinal;
}
constexpr bool IsBLOBAdvancedFieldType(TVEXAdvancedFieldType t) {
  return t == aftBlob || t == aftGraphic || t == aftMemo || t == aftFormattedMemo ||
         t == aftWideMemo;
}
bool IsNumericAdvancedFieldType(TVEXAdvancedFieldType t);
bool IsDateTimeAdvancedFieldType(TVEXAdvancedFieldType t);
// The types declared with a size.
constexpr bool IsSizedAdvancedFieldType(TVEXAdvancedFieldType t) {
  return t == aftChar || t == aftString || t == aftWideChar || t == aftWideString ||
         t == aftBytes || t == aftVarBytes;
}
constexpr bool IsCastableAdvancedFieldType(TVEXAdvancedFieldType t) {
  return (t >= aftChar && t <= aftTimeStamp) || t == aftMemo || t == aftFormattedMemo ||
         t == aftWideMemo;
}

// Storage form of dates and times. A platform date-time counts days since
// 1899-12-30 with the time of day as fraction (before that day the value is
// negative and the fraction still counts forward from midnight); the engine
// keeps the day number on which 0001-01-01 is day 1 and the milliseconds since
// midnight.
inline constexpr int32_t kVEXDateDelta = 693594;  // engine day of 1899-12-30
inline constexpr int32_t kMSecsPerDay = 86400000;

// Whole days of dt (toward zero) + 693594, cut to 32 bits. Raises the
// platform's integer-overflow error when dt has no 64-bit day count.
int32_t DateTimeToVEXDate(double dateTime);
double VEXDateToDateTime(int32_t vexDate);
// The time of day in milliseconds, rounded half to even; a time within half a
// millisecond of the next midnight gives 86 400 000.
int32_t DateTimeToVEXTime(double dateTime);
double VEXTimeToDateTime(int32_t vexTime);
// A time that rounds up to the next midnight is carried into the date.
TVEXDateTime DateTimeToVEXDateTime(double dateTime);
double VEXDateTimeToDateTime(const TVEXDateTime& vexDateTime);

// SQL LIKE: '%' matches any run of characters, '_' one character; with
// useEscape the escape character makes the next pattern character literal.
// Other characters compare by the locale's string comparison, ignoring case
// when caseInsensitive.
bool MatchLikePattern(std::string_view text, std::string_view pattern, bool useEscape,
                      char escapeChar, bool caseInsensitive);
bool MatchLikePatternWide(std::u16string_view text, std::u16string_view pattern, bool useEscape,
                          char16_t escapeChar, bool caseInsensitive);

// The SQL literal forms 'YYYY-MM-DD', 'HH:MM:SS' and 'YYYY-MM-DD HH:MM:SS',
// where any one non-digit character separates the groups and at most one may
// follow the last. False (dateTime untouched) for another form; an impossible
// date or time raises the platform's conversion error.
bool ParseSQLDate(std::string_view text, double& dateTime);
bool ParseSQLTime(std::string_view text, double& dateTime);
bool ParseSQLTimeStamp(std::string_view text, double& dateTime);
bool ParseSQLDate(std::u16string_view text, double& dateTime);
bool ParseSQLTime(std::u16string_view text, double& dateTime);
bool ParseSQLTimeStamp(std::u16string_view text, double& dateTime);

// Stores the value of one dataset field into another: BLOBs through the
// datasets' BLOB streams (a graphic's 8-byte header left behind), 64-bit
// integers and UTF-16 text without a detour through narrower values, anything
// else by the fields' own assignment. A null source whose value would
// otherwise be made up (an empty text, a zero) leaves Dest null.
void CopyFieldValue(db::TField* Source, db::TField* Dest);

}  // namespace vex
