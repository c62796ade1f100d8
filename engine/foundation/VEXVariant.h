// The engine's value: one field value of any storage type, or null.
//
// Record fields, the default, minimum and maximum values of field definitions,
// SQL parameters and the results of expressions travel in it. A value holds a
// storage type, a payload size, a payload and a null flag. The payload is either
// owned (a block of the engine memory manager, freed by the value) or linked (a
// pointer into memory that belongs to someone else and that the value never
// frees; a linked value must not outlive that memory).
//
// Payload forms by storage type: 8-bit text (Windows-1252) and UTF-16 text end
// with a zero terminator that DataSize counts; CLOB and wide CLOB text and the
// byte types carry no terminator; numbers, dates and times are little-endian
// fixed-width fields (see GetDataTypeSize). Payloads are not aligned (memory
// manager blocks are not), so they are read and written with memcpy.
//
// Values are moved or copied explicitly (Assign, SetData), never implicitly.
// A value is not shared between threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/VEXFieldTypes.h"
#include "foundation/VEXValueCompare.h"
#include "rtl/Variant.h"

namespace vex {

class TVEXStream;

class TVEXVariant {
 public:
  // A null value of the given type without payload.
  explicit TVEXVariant(TVEXBaseFieldType DataType = bftUnknown);
  virtual ~TVEXVariant();

  TVEXVariant(const TVEXVariant&) = delete;
  TVEXVariant& operator=(const TVEXVariant&) = delete;

  // Releases an owned payload (a linked one is only dropped) and leaves a null
  // value of DataType without payload.
  void Clear(TVEXBaseFieldType DataType);
  // Sets the null flag only: type, payload and size stay. The argument is not
  // used; a value keeps its type once it has one.
  void SetNull(TVEXBaseFieldType DataType = bftUnknown);

  TVEXBaseFieldType DataType() const { return FDataType; }
  // A null value takes the new type (dropping any payload); a non-null value is
  // converted to it and, when the conversion fails, becomes a null value of the
  // new type. Never raises for a failed conversion.
  void SetDataType(TVEXBaseFieldType DataType);
  int32_t DataSize() const { return FDataSize; }
  void* pData() const { return FPData; }
  bool IsDataLinked() const { return FIsDataLinked; }
  // True when the null flag is set or there is no payload.
  bool IsNull() const { return FIsNull || FPData == nullptr; }

  // Takes type, size and null flag of Source. A non-null Source's payload is
  // copied into an owned block (CopyDataFlag true) or pointed at (false).
  void Assign(const TVEXVariant& Source, bool CopyDataFlag);
  // Makes the value non-null with the given type and size, holding a copy of
  // Size bytes of Buffer (CopyDataFlag true) or pointing at Buffer (false).
  void SetData(const void* Buffer, int32_t Size, TVEXBaseFieldType DataType, bool CopyDataFlag);
  // Copies the payload to Buffer. False (nothing copied) for a null value and
  // for a text of at most one byte; raises 20056 when MaxSize is not -1 and
  // smaller than DataSize.
  bool CopyDataToAddress(void* Buffer, int32_t MaxSize) const;

  bool IsNumericDataType() const;
  bool IsStringDataType() const;
  bool IsWideStringDataType() const;
  bool IsBlobDataType() const;
  bool IsDateTimeDataType() const;

  // Characters of a text value as its size counts them; -1 when null or not text.
  int32_t StrLen() const;
  // A wide text that survives the round trip through 8-bit text becomes a
  // bftVarchar holding that 8-bit text.
  void TryToReduceWideStringToAnsiString();

  // Compares this value (left) with Value (right) by CompareValues. PartialKey
  // compares only as many characters as Value has. Without TrueFalseNullLogic a
  // null side is simply the lowest value (two nulls are equal).
  TVEXCompareResult Compare(const TVEXVariant& Value, bool TrueFalseNullLogic, bool CaseInsensitive,
                            bool PartialKey) const;
  // Converts the value in place; a null value is only retyped. Raises 30051 or
  // 30052 and leaves the value unchanged when the conversion fails.
  void Cast(TVEXBaseFieldType NewDataType);
  // Negates the value in place: signed integers, reals, money and dates
  // arithmetically (the smallest 32- and 64-bit integers raise rtl::EIntOverflow;
  // 8- and 16-bit ones wrap), unsigned integers by the two's complement within
  // their width, a flag by NOT. A null value is left alone; other types raise
  // 30123 "Cannot invert value with not numeric type '%s'".
  void InvertValue();
  // Self := self op Value, computed in GetOperationResultType(self's type,
  // Value's type, false), which the value takes. Integers wrap at their width;
  // date-times carry whole days of their time part; flags combine by OR; Add
  // concatenates texts. Nulls: a null Value makes the value null, except that a
  // text is left as it is by Add; a null value stays null, except that Add gives
  // a null text a copy of Value. Raises 30052 for a pair without a common type,
  // 30124-30127 "Not numeric argument in numeric operator '%s'" for a type the
  // operation is not defined on. A real result beyond its type's range or
  // undefined raises rtl::EOverflow or rtl::EInvalidOp; Division reports those,
  // a zero divisor and the smallest integer divided by -1 as 30128 "Division
  // error: %s". A failed operation leaves the value unchanged.
  void Add(const TVEXVariant& Value);
  void Sub(const TVEXVariant& Value);
  void Mul(const TVEXVariant& Value);
  void Division(const TVEXVariant& Value);

  // Stream form: type (1 byte), null flag (1 byte, 0xFF null, 0 not), and for a
  // non-null value its size (4 bytes, little-endian) and payload.
  void LoadFromStream(TVEXStream& Stream);
  void SaveToStream(TVEXStream& Stream) const;

  // Typed accessors. A write into a fresh (bftUnknown) value fixes its type;
  // later writes convert into the value's type. An empty text written leaves the
  // value null. A read converts from the value's type; reading a null value gives
  // the empty text for the text accessors and raises 30016 "Value is Null" for
  // every other accessor.
  int8_t AsShortint() const;
  void SetAsShortint(int8_t Value);
  int16_t AsSmallint() const;
  void SetAsSmallint(int16_t Value);
  int32_t AsInteger() const;
  void SetAsInteger(int32_t Value);
  int64_t AsInt64() const;
  void SetAsInt64(int64_t Value);
  uint8_t AsByte() const;
  void SetAsByte(uint8_t Value);
  uint16_t AsWord() const;
  void SetAsWord(uint16_t Value);
  uint32_t AsCardinal() const;
  void SetAsCardinal(uint32_t Value);
  uint32_t AsLongWord() const { return AsCardinal(); }
  void SetAsLongWord(uint32_t Value) { SetAsCardinal(Value); }
  float AsSingle() const;
  void SetAsSingle(float Value);
  double AsDouble() const;
  void SetAsDouble(double Value);
  long double AsExtended() const;
  void SetAsExtended(long double Value);
  // Windows-1252 text.
  std::string AsAnsiString() const;
  void SetAsAnsiString(std::string_view Value);
  std::u16string AsWideString() const;
  void SetAsWideString(std::u16string_view Value);
  // Engine day number (0001-01-01 is day 1).
  int32_t AsVEXDate() const;
  void SetAsVEXDate(int32_t Value);
  // Milliseconds since midnight.
  int32_t AsVEXTime() const;
  void SetAsVEXTime(int32_t Value);
  TVEXDateTime AsVEXDateTime() const;
  void SetAsVEXDateTime(const TVEXDateTime& Value);
  // The platform's date-time (days since 1899-12-30, time as fraction).
  double AsTDate() const;
  void SetAsTDate(double Value);
  double AsTTime() const;
  void SetAsTTime(double Value);
  double AsTDateTime() const;
  void SetAsTDateTime(double Value);
  bool AsBoolean() const;
  void SetAsBoolean(bool Value);
  bool AsLogical() const { return AsBoolean(); }
  void SetAsLogical(bool Value) { SetAsBoolean(Value); }
  // The engine keeps a currency as a double holding the amount.
  double AsCurrency() const;
  void SetAsCurrency(double Value);
  // A null value reads as the Null variant; text reads as an 8-bit or OLE string,
  // integers as the variant integer of their width, reals and money as a double,
  // dates and times as a date. Other types raise 30114. A write takes the type
  // from the variant's own type (Empty and Null set the null flag); other
  // variant types raise 30113.
  rtl::Variant AsVariant() const;
  void SetAsVariant(const rtl::Variant& Value);

 private:
  void ReleasePayload();
  void WriteTyped(TVEXBaseFieldType T, const void* Datum, int32_t Size);
  void WriteText(TVEXBaseFieldType T, const void* Text, int32_t Size);
  void ReadTyped(TVEXBaseFieldType T, void* Datum, int32_t Size) const;
  // Converts a non-null value in place; raises and leaves the value unchanged
  // when the conversion fails.
  void ConvertTo(TVEXBaseFieldType NewDataType);

  TVEXBaseFieldType FDataType;
  int32_t FDataSize = 0;
  void* FPData = nullptr;
  bool FIsDataLinked = false;
  bool FIsNull = true;
};

// Bytes that a field of the type with declared size Size takes in a record slot.
// Raises 30050 "Unknown DataType: '%s'" for bftUnknown and bftBFile.
int32_t GetDataTypeSize(TVEXBaseFieldType DataType, int32_t Size);

// Makes an owned copy of a typed value in a new memory manager block. The text
// overloads add the terminator (Size = length + 1, or (length + 1) * 2 for wide
// text); the raw overload copies GetDataTypeSize(DataType, 0) bytes (for a text
// type it reads a zero-terminated text). For bftUnknown and bftBFile it returns
// with Buffer nullptr and Size 0; a failed allocation raises, since swallowing it
// would leave a typed write quietly null.
void CopyValueToNewBuffer(TVEXBaseFieldType DataType, const void* Value, void*& Buffer,
                          int32_t& Size);
void CopyValueToNewBuffer(TVEXBaseFieldType DataType, std::string_view Value, void*& Buffer,
                          int32_t& Size);
void CopyValueToNewBuffer(TVEXBaseFieldType DataType, std::u16string_view Value, void*& Buffer,
                          int32_t& Size);

}  // namespace vex
