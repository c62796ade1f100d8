// The platform's variant: one value of a small set of kinds, tagged with the
// platform's type codes (the engine prints them in its messages), or an array
// of such values with bounds.
//
// Kinds and codes: varEmpty 0, varNull 1, varSmallint 2, varInteger 3,
// varSingle 4, varDouble 5, varCurrency 6, varDate 7, varOleStr 8 (wide),
// varBoolean 11, varVariant 12 (array elements), varShortInt 16, varByte 17,
// varWord 18, varLongWord 19, varInt64 20, varUInt64 21, varString 256 (8-bit,
// Windows-1252), varUString 258 (wide). An array has varArray (0x2000) or'ed
// with its element type; it is one-dimensional with any low bound.
//
// Conversions (As...) follow the platform:
//   Empty  gives 0, "", false, day 0.   Null  raises (VarToStr gives "").
//   floats to integers round halves to even; out of range raises EVariantOverflowError
//   "Overflow while converting variant of type (X) into type (Y)".
//   booleans are -1 / 0 as numbers and "True" / "False" as text.
//   text to numbers, money and dates parses with FormatSettings(); text to a
//   boolean takes "true"/"false" (any case) or a number.
//   dates are numbers (TDateTime) and DateTimeToStr as text; money is CurrToStr.
// A conversion that cannot be made raises EVariantTypeCastError
// "Could not convert variant of type (X) into type (Y)".
//
// Comparison (VarCompareValue): numbers by value (integers exactly), texts by
// their characters (case-sensitive, code unit order), a text against a number
// by converting the text; Null equals only Null; Empty equals Empty; arrays are
// equal when their bounds and elements are.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "rtl/Currency.h"
#include "rtl/DateTime.h"
#include "rtl/Exception.h"

namespace rtl {

enum TVarType : uint16_t {
  varEmpty = 0x0000,
  varNull = 0x0001,
  varSmallint = 0x0002,
  varInteger = 0x0003,
  varSingle = 0x0004,
  varDouble = 0x0005,
  varCurrency = 0x0006,
  varDate = 0x0007,
  varOleStr = 0x0008,
  varBoolean = 0x000B,
  varVariant = 0x000C,
  varShortInt = 0x0010,
  varByte = 0x0011,
  varWord = 0x0012,
  varLongWord = 0x0013,
  varInt64 = 0x0014,
  varUInt64 = 0x0015,
  varString = 0x0100,
  varUString = 0x0102,
  varTypeMask = 0x0FFF,
  varArray = 0x2000,
};

class EVariantOverflowError : public EVariantError {
  using EVariantError::EVariantError;
};

enum TVariantRelationship { vrEqual, vrLessThan, vrGreaterThan, vrNotEqual };

class Variant {
 public:
  Variant() = default;  // Empty
  static Variant Null();

  Variant(bool v);
  template <class T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char> &&
           !std::is_same_v<T, char16_t> && !std::is_same_v<T, char32_t> &&
           !std::is_same_v<T, wchar_t> && !std::is_same_v<T, char8_t>) Variant(T v) {
    if constexpr (std::is_signed_v<T>) {
      FType = sizeof(T) == 1   ? varShortInt
              : sizeof(T) == 2 ? varSmallint
              : sizeof(T) == 4 ? varInteger
                               : varInt64;
      FInt = static_cast<int64_t>(v);
    } else {
      FType = sizeof(T) == 1   ? varByte
              : sizeof(T) == 2 ? varWord
              : sizeof(T) == 4 ? varLongWord
                               : varUInt64;
      FUInt = static_cast<uint64_t>(v);
    }
  }
  Variant(char) = delete;  // ambiguous: a character or a number
  Variant(float v);
  Variant(double v);
  Variant(Currency v);
  Variant(const char* v);
  Variant(std::string_view v);
  Variant(const std::string& v);
  Variant(std::u16string_view v);  // varUString
  Variant(const std::u16string& v);
  Variant(const char16_t* v);

  static Variant FromDate(TDateTime value);
  static Variant OleStr(std::u16string_view value);
  // An array low..high of `elementType` (varVariant for mixed values), every
  // element Empty (or 0 / "" for a typed array).
  static Variant Array(int32_t low, int32_t high, TVarType elementType = varVariant);
  // An array 0..n-1 of varVariant holding the given values.
  static Variant ArrayOf(std::initializer_list<Variant> values);

  uint16_t VarType() const { return FType; }
  bool IsEmpty() const { return FType == varEmpty; }
  bool IsNull() const { return FType == varNull; }
  bool IsArray() const { return (FType & varArray) != 0; }
  bool IsString() const;   // varString, varOleStr, varUString
  bool IsNumeric() const;  // the integer kinds, floats, currency (not boolean or date)

  // Arrays. Raise EVariantError for a non-array or an index outside the bounds.
  int32_t ArrayLowBound() const;
  int32_t ArrayHighBound() const;
  const Variant& Element(int32_t index) const;
  // A typed array converts the value to its element type.
  void SetElement(int32_t index, const Variant& value);

  bool AsBoolean() const;
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  Currency AsCurrency() const;
  TDateTime AsDateTime() const;
  std::string AsString() const;
  std::u16string AsWideString() const;

  // A copy converted to another scalar type (varEmpty and varNull included).
  Variant ChangeType(TVarType type) const;

  friend bool operator==(const Variant& a, const Variant& b);
  friend TVariantRelationship VarCompareValue(const Variant& a, const Variant& b);

 private:
  [[noreturn]] void CastError(uint16_t target) const;
  [[noreturn]] void OverflowError(uint16_t target) const;
  long double AsLongDouble(uint16_t target) const;
  int64_t IntegerIn(int64_t min, int64_t max, uint16_t target) const;
  const std::vector<Variant>& Items() const;

  uint16_t FType = varEmpty;
  union {
    int64_t FInt = 0;
    uint64_t FUInt;
    double FDouble;
    bool FBool;
  };
  std::string FStr;
  std::u16string FWStr;
  int32_t FLow = 0;
  std::vector<Variant> FItems;
};

// "Integer", "OleStr", "UnicodeString", "Array Byte" ...
std::string VarTypeAsText(uint16_t type);
// The text of a value; Null gives "".
std::string VarToStr(const Variant& value);
TVariantRelationship VarCompareValue(const Variant& a, const Variant& b);

}  // namespace rtl
