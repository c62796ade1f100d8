// The engine value: payload ownership, typed access and the stream form. How one
// storage type becomes another is VEXTypesRoutines' business; this file only
// decides when to convert and what to keep.
#include "foundation/VEXVariant.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "foundation/VEXConst.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXStream.h"
#include "foundation/VEXTypesRoutines.h"
#include "rtl/CodePage.h"
#include "rtl/Variant.h"

namespace vex {

namespace {

template <class T>
T LoadAs(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

}  // namespace

// ---- module routines ----

int32_t GetDataTypeSize(TVEXBaseFieldType DataType, int32_t Size) {
  switch (DataType) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
    case bftVarBytes:
      return Size + 1;
    case bftWideChar:
    case bftWideVarchar:
      return (Size + 1) * 2;
    case bftSignedInt8:
    case bftUnsignedInt8:
      return 1;
    case bftSignedInt16:
    case bftUnsignedInt16:
    case bftLogical:
      return 2;
    case bftSignedInt32:
    case bftUnsignedInt32:
    case bftSingle:
    case bftDate:
    case bftTime:
      return 4;
    case bftSignedInt64:
    case bftDouble:
    case bftDateTime:
    case bftCurrency:
      return 8;
    case bftExtended:
    case bftBlob:
    case bftClob:
    case bftWideClob:
      return 10;
    default:
      throw EVEXException(30050, sUnknownDataType, BaseFieldTypeToSQLName(DataType));
  }
}

namespace {

void CopyToNewBlock(const void* data, int32_t size, void*& Buffer, int32_t& Size) {
  Buffer = MemoryManager->GetMem(size);
  std::memcpy(Buffer, data, static_cast<size_t>(size));
  Size = size;
}

}  // namespace

void CopyValueToNewBuffer(TVEXBaseFieldType DataType, const void* Value, void*& Buffer,
                          int32_t& Size) {
  Buffer = nullptr;
  Size = 0;
  if (IsStringBaseFieldType(DataType)) {
    if (IsWideStringBaseFieldType(DataType)) {
      std::u16string text;
      const unsigned char* p = static_cast<const unsigned char*>(Value);
      for (char16_t c = LoadAs<char16_t>(p); c != 0; c = LoadAs<char16_t>(p)) {
        text.push_back(c);
        p += 2;
      }
      CopyValueToNewBuffer(DataType, std::u16string_view(text), Buffer, Size);
    } else {
      CopyValueToNewBuffer(DataType, std::string_view(static_cast<const char*>(Value)), Buffer,
                           Size);
    }
    return;
  }
  int32_t size;
  try {
    size = GetDataTypeSize(DataType, 0);
  } catch (const EVEXException&) {
    // A type without a fixed size has nothing to copy; the caller sees no block.
    return;
  }
  CopyToNewBlock(Value, size, Buffer, Size);
}

void CopyValueToNewBuffer(TVEXBaseFieldType, std::string_view Value, void*& Buffer, int32_t& Size) {
  Buffer = nullptr;
  Size = 0;
  std::string text(Value);
  CopyToNewBlock(text.c_str(), static_cast<int32_t>(text.size() + 1), Buffer, Size);
}

void CopyValueToNewBuffer(TVEXBaseFieldType, std::u16string_view Value, void*& Buffer,
                          int32_t& Size) {
  Buffer = nullptr;
  Size = 0;
  std::u16string text(Value);
  CopyToNewBlock(text.c_str(), static_cast<int32_t>((text.size() + 1) * 2), Buffer, Size);
}

// ---- construction and raw access ----

TVEXVariant::TVEXVariant(TVEXBaseFieldType DataType) : FDataType(DataType) {}

TVEXVariant::~TVEXVariant() {
  if (FPData != nullptr && !FIsDataLinked) {
    try {
      MemoryManager->FreeAndNillMem(FPData);
    } catch (...) {
      // Destructors only release; a damaged block has been freed by now.
    }
  }
}

void TVEXVariant::ReleasePayload() {
  if (FPData != nullptr && !FIsDataLinked) {
    MemoryManager->FreeAndNillMem(FPData);
  }
  FPData = nullptr;
  FIsDataLinked = false;
}

void TVEXVariant::Clear(TVEXBaseFieldType DataType) {
  ReleasePayload();
  FDataType = DataType;
  FDataSize = 0;
  FIsNull = true;
}

void TVEXVariant::SetNull(TVEXBaseFieldType) { FIsNull = true; }

void TVEXVariant::SetDataType(TVEXBaseFieldType DataType) {
  if (IsNull()) {
    if (FPData != nullptr) {
      Clear(DataType);
    } else {
      FDataType = DataType;
    }
    return;
  }
  try {
    ConvertTo(DataType);
  } catch (const std::exception&) {
    Clear(DataType);
  }
}

void TVEXVariant::ConvertTo(TVEXBaseFieldType NewDataType) {
  if (FDataType == NewDataType) return;
  if (IsNull()) {
    Clear(NewDataType);
    return;
  }
  if (FDataType == bftClob && NewDataType == bftVarchar) {
    // A CLOB already is 8-bit text; it only lacks the terminator. A linked
    // CLOB gets an owned copy, since its memory is not the value's to resize.
    TVEXMemBlock block = TVEXMemBlock::GetMem(static_cast<int64_t>(FDataSize) + 1);
    std::memcpy(block.Get(), FPData, static_cast<size_t>(FDataSize));
    static_cast<char*>(block.Get())[FDataSize] = '\0';
    const int32_t size = FDataSize + 1;
    ReleasePayload();
    FPData = block.Release();
    FDataSize = size;
    FDataType = NewDataType;
    FIsNull = false;
    return;
  }
  int32_t size = 0;
  TVEXMemBlock block(ConvertValue(FPData, FDataSize, FDataType, size, NewDataType));
  ReleasePayload();
  FPData = block.Release();
  FDataSize = size;
  FDataType = NewDataType;
  FIsNull = false;
}

void TVEXVariant::Assign(const TVEXVariant& Source, bool CopyDataFlag) {
  if (&Source == this) return;
  const bool take = !Source.IsNull();
  TVEXMemBlock copy(take && CopyDataFlag ? MemoryManager->GetMem(Source.FDataSize) : nullptr);
  if (copy.Get() != nullptr) {
    std::memcpy(copy.Get(), Source.FPData, static_cast<size_t>(Source.FDataSize));
  }
  Clear(Source.FDataType);
  FDataSize = Source.FDataSize;
  FIsNull = Source.FIsNull;
  FIsDataLinked = !CopyDataFlag;
  if (take) FPData = CopyDataFlag ? copy.Release() : Source.FPData;
}

void TVEXVariant::SetData(const void* Buffer, int32_t Size, TVEXBaseFieldType DataType,
                          bool CopyDataFlag) {
  if (!CopyDataFlag) {
    Clear(DataType);
    FPData = const_cast<void*>(Buffer);
    FIsDataLinked = true;
  } else if (FPData != nullptr && !FIsDataLinked && FDataSize == Size) {
    std::memmove(FPData, Buffer, static_cast<size_t>(Size));
  } else {
    TVEXMemBlock block = TVEXMemBlock::GetMem(Size);
    std::memcpy(block.Get(), Buffer, static_cast<size_t>(Size));
    ReleasePayload();
    FPData = block.Release();
  }
  FDataType = DataType;
  FDataSize = Size;
  FIsNull = false;
}

bool TVEXVariant::CopyDataToAddress(void* Buffer, int32_t MaxSize) const {
  if (IsNull()) return false;
  if (MaxSize != -1 && MaxSize < FDataSize) {
    throw EVEXException(20056, "Buffer size exceeded");
  }
  if (IsStringDataType() && FDataSize <= 1) return false;
  std::memcpy(Buffer, FPData, static_cast<size_t>(FDataSize));
  return true;
}

bool TVEXVariant::IsNumericDataType() const { return IsNumericBaseFieldType(FDataType); }
bool TVEXVariant::IsStringDataType() const { return IsStringBaseFieldType(FDataType); }
bool TVEXVariant::IsWideStringDataType() const { return IsWideStringBaseFieldType(FDataType); }
bool TVEXVariant::IsBlobDataType() const { return IsBLOBBaseFieldType(FDataType); }
bool TVEXVariant::IsDateTimeDataType() const { return IsDateTimeBaseFieldType(FDataType); }

int32_t TVEXVariant::StrLen() const {
  if (IsNull() || !IsStringDataType()) return -1;
  // A value taken from a record slot keeps the slot's whole size: the text
  // ends at its first terminator, not at the end of the payload.
  const size_t size = static_cast<size_t>(std::max(FDataSize, 0));
  if (!IsWideStringDataType())
    return static_cast<int32_t>(strnlen(static_cast<const char*>(FPData), size));
  const unsigned char* bytes = static_cast<const unsigned char*>(FPData);
  int32_t length = 0;
  for (size_t i = 0; i + 1 < size && (bytes[i] != 0 || bytes[i + 1] != 0); i += 2) ++length;
  return length;
}

void TVEXVariant::TryToReduceWideStringToAnsiString() {
  if (!IsWideStringDataType()) return;
  if (IsNull()) {
    Clear(bftVarchar);
    return;
  }
  const std::u16string wide = AsWideString();
  const std::string ansi = rtl::Utf16ToWin1252(wide);
  if (rtl::Win1252ToUtf16(ansi) != wide) return;
  Clear(bftVarchar);
  SetAsAnsiString(ansi);
}

// ---- typed access ----

void TVEXVariant::WriteTyped(TVEXBaseFieldType T, const void* Datum, int32_t Size) {
  if (FDataType == T && FPData != nullptr && !FIsDataLinked && FDataSize == Size) {
    std::memcpy(FPData, Datum, static_cast<size_t>(Size));
    FIsNull = false;
    return;
  }
  ReleasePayload();
  FDataSize = 0;
  FIsNull = true;
  if (FDataType == bftUnknown) FDataType = T;
  void* block = nullptr;
  int32_t size = 0;
  if (FDataType == T) {
    CopyValueToNewBuffer(T, Datum, block, size);
  } else {
    block = ConvertValue(Datum, Size, T, size, FDataType);
  }
  FPData = block;
  FDataSize = size;
  FIsNull = false;
}

// Text is written through its own path: it is never overwritten in place (its
// size varies) and an empty text leaves the value null. Size counts the
// terminator.
void TVEXVariant::WriteText(TVEXBaseFieldType T, const void* Text, int32_t Size) {
  ReleasePayload();
  FDataSize = 0;
  FIsNull = true;
  if (FDataType == bftUnknown) FDataType = T;
  const int32_t charSize = IsWideStringBaseFieldType(T) ? 2 : 1;
  if (Size <= charSize) return;
  void* block = nullptr;
  int32_t size = 0;
  if (FDataType == T) {
    TVEXMemBlock copy = TVEXMemBlock::GetMem(Size);
    std::memcpy(copy.Get(), Text, static_cast<size_t>(Size));
    block = copy.Release();
    size = Size;
  } else {
    block = ConvertValue(Text, Size, T, size, FDataType);
  }
  FPData = block;
  FDataSize = size;
  FIsNull = false;
}

void TVEXVariant::ReadTyped(TVEXBaseFieldType T, void* Datum, int32_t Size) const {
  if (IsNull()) throw EVEXException(30016, sValueIsNull);
  if (FDataType == T) {
    std::memcpy(Datum, FPData, static_cast<size_t>(std::min(Size, FDataSize)));
    return;
  }
  int32_t size = 0;
  TVEXMemBlock block(ConvertValue(FPData, FDataSize, FDataType, size, T));
  std::memcpy(Datum, block.Get(), static_cast<size_t>(std::min(Size, size)));
}

namespace {

std::string AnsiPayload(const void* p, int32_t size) {
  const char* text = static_cast<const char*>(p);
  return std::string(text, strnlen(text, static_cast<size_t>(std::max(size, 0))));
}

std::u16string WidePayload(const void* p, int32_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(p);
  std::u16string text;
  for (int32_t i = 0; i + 1 < size; i += 2) {
    const char16_t c = LoadAs<char16_t>(bytes + i);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

}  // namespace

#define VEX_TYPED_ACCESSOR(Name, CType, Type) \
  CType TVEXVariant::As##Name() const {       \
    CType v{};                                \
    ReadTyped(Type, &v, sizeof(CType));       \
    return v;                                 \
  }                                           \
  void TVEXVariant::SetAs##Name(CType Value) { WriteTyped(Type, &Value, sizeof(CType)); }

VEX_TYPED_ACCESSOR(Shortint, int8_t, bftSignedInt8)
VEX_TYPED_ACCESSOR(Smallint, int16_t, bftSignedInt16)
VEX_TYPED_ACCESSOR(Integer, int32_t, bftSignedInt32)
VEX_TYPED_ACCESSOR(Int64, int64_t, bftSignedInt64)
VEX_TYPED_ACCESSOR(Byte, uint8_t, bftUnsignedInt8)
VEX_TYPED_ACCESSOR(Word, uint16_t, bftUnsignedInt16)
VEX_TYPED_ACCESSOR(Cardinal, uint32_t, bftUnsignedInt32)
VEX_TYPED_ACCESSOR(Single, float, bftSingle)
VEX_TYPED_ACCESSOR(Double, double, bftDouble)
VEX_TYPED_ACCESSOR(VEXDate, int32_t, bftDate)
VEX_TYPED_ACCESSOR(VEXTime, int32_t, bftTime)
VEX_TYPED_ACCESSOR(Currency, double, bftCurrency)

#undef VEX_TYPED_ACCESSOR

// Only the 10 bytes of the x87 format are payload; the rest of a long double is
// padding and stays out of records and streams.
long double TVEXVariant::AsExtended() const {
  long double v = 0;
  ReadTyped(bftExtended, &v, 10);
  return v;
}

void TVEXVariant::SetAsExtended(long double Value) { WriteTyped(bftExtended, &Value, 10); }

TVEXDateTime TVEXVariant::AsVEXDateTime() const {
  TVEXDateTime v{};
  ReadTyped(bftDateTime, &v, sizeof(v));
  return v;
}

void TVEXVariant::SetAsVEXDateTime(const TVEXDateTime& Value) {
  WriteTyped(bftDateTime, &Value, sizeof(Value));
}

double TVEXVariant::AsTDate() const { return VEXDateToDateTime(AsVEXDate()); }
void TVEXVariant::SetAsTDate(double Value) { SetAsVEXDate(DateTimeToVEXDate(Value)); }
double TVEXVariant::AsTTime() const { return VEXTimeToDateTime(AsVEXTime()); }
void TVEXVariant::SetAsTTime(double Value) { SetAsVEXTime(DateTimeToVEXTime(Value)); }
double TVEXVariant::AsTDateTime() const { return VEXDateTimeToDateTime(AsVEXDateTime()); }
void TVEXVariant::SetAsTDateTime(double Value) { SetAsVEXDateTime(DateTimeToVEXDateTime(Value)); }

bool TVEXVariant::AsBoolean() const {
  uint16_t v = 0;
  ReadTyped(bftLogical, &v, sizeof(v));
  return v != 0;
}

void TVEXVariant::SetAsBoolean(bool Value) {
  const uint16_t v = Value ? 0xFFFF : 0;
  WriteTyped(bftLogical, &v, sizeof(v));
}

std::string TVEXVariant::AsAnsiString() const {
  if (IsNull()) return std::string();
  if (FDataType == bftVarchar || FDataType == bftChar) return AnsiPayload(FPData, FDataSize);
  // A BLOB made from text carries the text's terminator as its last byte;
  // one read from a table holds just its bytes, and keeps every one of them.
  if (FDataType == bftBlob) {
    const char* bytes = static_cast<const char*>(FPData);
    int32_t size = std::max(FDataSize, 0);
    if (size > 0 && bytes[size - 1] == '\0') --size;
    return std::string(bytes, static_cast<size_t>(size));
  }
  int32_t size = 0;
  TVEXMemBlock block(ConvertValue(FPData, FDataSize, FDataType, size, bftVarchar));
  return AnsiPayload(block.Get(), size);
}

void TVEXVariant::SetAsAnsiString(std::string_view Value) {
  const std::string text(Value);
  WriteText(bftVarchar, text.c_str(), static_cast<int32_t>(text.size() + 1));
}

std::u16string TVEXVariant::AsWideString() const {
  if (IsNull()) return std::u16string();
  if (FDataType == bftWideVarchar || FDataType == bftWideChar) {
    return WidePayload(FPData, FDataSize);
  }
  int32_t size = 0;
  TVEXMemBlock block(ConvertValue(FPData, FDataSize, FDataType, size, bftWideVarchar));
  return WidePayload(block.Get(), size);
}

void TVEXVariant::SetAsWideString(std::u16string_view Value) {
  const std::u16string text(Value);
  WriteText(bftWideVarchar, text.c_str(), static_cast<int32_t>((text.size() + 1) * 2));
}

// ---- the platform's variant ----

rtl::Variant TVEXVariant::AsVariant() const {
  if (IsNull()) return rtl::Variant::Null();
  switch (FDataType) {
    case bftChar:
    case bftVarchar:
    case bftBlob:
      return rtl::Variant(AsAnsiString());
    case bftWideChar:
    case bftWideVarchar:
      return rtl::Variant::OleStr(AsWideString());
    case bftSignedInt8:
      return rtl::Variant(AsShortint());
    case bftSignedInt16:
      return rtl::Variant(AsSmallint());
    case bftSignedInt32:
      return rtl::Variant(AsInteger());
    case bftSignedInt64:
      return rtl::Variant(AsInt64());
    case bftUnsignedInt8:
      return rtl::Variant(AsByte());
    case bftUnsignedInt16:
      return rtl::Variant(AsWord());
    case bftUnsignedInt32:
      return rtl::Variant(AsCardinal());
    case bftSingle:
    case bftDouble:
    case bftExtended:
    case bftCurrency:
      return rtl::Variant(AsDouble());
    case bftDate:
      return rtl::Variant::FromDate(AsTDate());
    case bftTime:
      return rtl::Variant::FromDate(AsTTime());
    case bftDateTime:
      return rtl::Variant::FromDate(AsTDateTime());
    case bftLogical:
      return rtl::Variant(AsBoolean());
    default:
      throw EVEXException(30114, sUnsupportedVariantType, BaseFieldTypeToSQLName(FDataType));
  }
}

void TVEXVariant::SetAsVariant(const rtl::Variant& Value) {
  const uint16_t type = Value.VarType();
  switch (type) {
    case rtl::varEmpty:
    case rtl::varNull:
      SetNull();
      return;
    case rtl::varSmallint:
      SetAsSmallint(static_cast<int16_t>(Value.AsInteger()));
      return;
    case rtl::varInteger:
      SetAsInteger(Value.AsInteger());
      return;
    case rtl::varSingle:
      SetAsSingle(static_cast<float>(Value.AsDouble()));
      return;
    case rtl::varDouble:
      SetAsDouble(Value.AsDouble());
      return;
    case rtl::varCurrency:
      SetAsCurrency(Value.AsCurrency().ToDouble());
      return;
    case rtl::varDate:
      SetAsTDateTime(Value.AsDateTime());
      return;
    case rtl::varOleStr:
      SetAsWideString(Value.AsWideString());
      return;
    case rtl::varBoolean:
      SetAsBoolean(Value.AsBoolean());
      return;
    case rtl::varShortInt:
      SetAsShortint(static_cast<int8_t>(Value.AsInteger()));
      return;
    case rtl::varByte:
      SetAsByte(static_cast<uint8_t>(Value.AsInteger()));
      return;
    case rtl::varWord:
      SetAsWord(static_cast<uint16_t>(Value.AsInteger()));
      return;
    case rtl::varLongWord:
      SetAsCardinal(static_cast<uint32_t>(Value.AsInt64()));
      return;
    case rtl::varInt64:
      SetAsInt64(Value.AsInt64());
      return;
    default:
      break;
  }
  // The platform's string kinds: its UTF-16 string, or 8-bit text.
  if (type >= 256 && type <= 287) {
    if (type == rtl::varUString) {
      SetAsWideString(Value.AsWideString());
    } else {
      SetAsAnsiString(Value.AsString());
    }
    return;
  }
  throw EVEXException(30113, sUnsupportedVariantType, std::to_string(type));
}

// ---- stream form ----

void TVEXVariant::SaveToStream(TVEXStream& Stream) const {
  const uint8_t type = static_cast<uint8_t>(FDataType);
  WriteStreamChecked(&type, 1, Stream, 10179);
  // A value whose flag is clear but which has no payload is written as null:
  // there is nothing to write after a size.
  const bool null = FIsNull || FPData == nullptr;
  const uint8_t flag = null ? 0xFF : 0;
  WriteStreamChecked(&flag, 1, Stream, 10180);
  if (null) return;
  const int32_t size = FDataSize;
  WriteStreamChecked(&size, 4, Stream, 10181);
  WriteStreamChecked(FPData, FDataSize, Stream, 10182);
}

void TVEXVariant::LoadFromStream(TVEXStream& Stream) {
  Clear(bftUnknown);
  uint8_t type = 0;
  ReadStreamChecked(&type, 1, Stream, 10183);
  uint8_t flag = 0;
  ReadStreamChecked(&flag, 1, Stream, 10184);
  if (flag != 0) {
    FDataType = static_cast<TVEXBaseFieldType>(type);
    return;
  }
  int32_t size = 0;
  ReadStreamChecked(&size, 4, Stream, 10185);
  // The size comes from a file: a damaged one must not make us allocate what
  // the stream cannot hold.
  CheckStreamHolds(Stream, size, 10186);
  TVEXMemBlock block = TVEXMemBlock::GetMem(size);
  ReadStreamChecked(block.Get(), size, Stream, 10186);
  FPData = block.Release();
  FDataType = static_cast<TVEXBaseFieldType>(type);
  FDataSize = size;
  FIsNull = false;
}

}  // namespace vex
