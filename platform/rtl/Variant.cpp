#include "rtl/Variant.h"

#include <cmath>

#include "rtl/CodePage.h"
#include "rtl/DateText.h"
#include "rtl/Format.h"
#include "rtl/NumberText.h"

namespace rtl {

namespace {

bool IsSignedKind(uint16_t t) {
  return t == varSmallint || t == varInteger || t == varShortInt || t == varInt64;
}
bool IsUnsignedKind(uint16_t t) {
  return t == varByte || t == varWord || t == varLongWord || t == varUInt64;
}
bool IsFloatKind(uint16_t t) { return t == varSingle || t == varDouble; }
bool IsStringKind(uint16_t t) { return t == varString || t == varOleStr || t == varUString; }

std::string TrimmedUpper(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return UpperCase(s);
}

}  // namespace

Variant Variant::Null() {
  Variant v;
  v.FType = varNull;
  return v;
}

Variant::Variant(bool v) : FType(varBoolean) { FBool = v; }
Variant::Variant(float v) : FType(varSingle) { FDouble = v; }
Variant::Variant(double v) : FType(varDouble) { FDouble = v; }
Variant::Variant(Currency v) : FType(varCurrency) { FInt = v.Raw; }
Variant::Variant(const char* v) : FType(varString), FStr(v ? v : "") {}
Variant::Variant(std::string_view v) : FType(varString), FStr(v) {}
Variant::Variant(const std::string& v) : FType(varString), FStr(v) {}
Variant::Variant(std::u16string_view v) : FType(varUString), FWStr(v) {}
Variant::Variant(const std::u16string& v) : FType(varUString), FWStr(v) {}
Variant::Variant(const char16_t* v) : FType(varUString), FWStr(v ? v : u"") {}

Variant Variant::FromDate(TDateTime value) {
  Variant v;
  v.FType = varDate;
  v.FDouble = value;
  return v;
}

Variant Variant::OleStr(std::u16string_view value) {
  Variant v(value);
  v.FType = varOleStr;
  return v;
}

Variant Variant::Array(int32_t low, int32_t high, TVarType elementType) {
  if (high < low - 1 || (elementType & ~varTypeMask) != 0 || elementType == varNull) {
    throw EVariantError("Invalid variant array bounds or element type");
  }
  Variant v;
  v.FType = static_cast<uint16_t>(varArray | elementType);
  v.FLow = low;
  Variant blank = elementType == varVariant ? Variant() : Variant().ChangeType(elementType);
  v.FItems.assign(static_cast<size_t>(static_cast<int64_t>(high) - low + 1), blank);
  return v;
}

Variant Variant::ArrayOf(std::initializer_list<Variant> values) {
  Variant v;
  v.FType = varArray | varVariant;
  v.FItems.assign(values.begin(), values.end());
  return v;
}

bool Variant::IsString() const { return IsStringKind(FType); }

bool Variant::IsNumeric() const {
  return IsSignedKind(FType) || IsUnsignedKind(FType) || IsFloatKind(FType) || FType == varCurrency;
}

const std::vector<Variant>& Variant::Items() const {
  if (!IsArray()) throw EVariantError("Variant is not an array");
  return FItems;
}

int32_t Variant::ArrayLowBound() const {
  Items();
  return FLow;
}

int32_t Variant::ArrayHighBound() const { return FLow + static_cast<int32_t>(Items().size()) - 1; }

const Variant& Variant::Element(int32_t index) const {
  const auto& items = Items();
  int64_t at = static_cast<int64_t>(index) - FLow;
  if (at < 0 || at >= static_cast<int64_t>(items.size())) {
    throw EVariantError(Format("Variant array index out of bounds (%d)", index));
  }
  return items[static_cast<size_t>(at)];
}

void Variant::SetElement(int32_t index, const Variant& value) {
  Element(index);  // bounds check
  uint16_t elementType = FType & varTypeMask;
  FItems[static_cast<size_t>(static_cast<int64_t>(index) - FLow)] =
      elementType == varVariant ? value : value.ChangeType(static_cast<TVarType>(elementType));
}

void Variant::OverflowError(uint16_t target) const {
  throw EVariantOverflowError(
      Format("Overflow while converting variant of type (%s) into type (%s)", VarTypeAsText(FType),
             VarTypeAsText(target)));
}

void Variant::CastError(uint16_t target) const {
  throw EVariantTypeCastError(Format("Could not convert variant of type (%s) into type (%s)",
                                     VarTypeAsText(FType), VarTypeAsText(target)));
}

long double Variant::AsLongDouble(uint16_t target) const {
  if (IsSignedKind(FType)) return static_cast<long double>(FInt);
  if (IsUnsignedKind(FType)) return static_cast<long double>(FUInt);
  switch (FType) {
    case varEmpty:
      return 0;
    case varSingle:
    case varDouble:
    case varDate:
      return FDouble;
    case varCurrency:
      return Currency::FromRaw(FInt).ToLongDouble();
    case varBoolean:
      return FBool ? -1 : 0;
    case varString:
    case varOleStr:
    case varUString: {
      std::string text = AsString();
      std::string upper = TrimmedUpper(text);
      if (upper == "TRUE") return -1;
      if (upper == "FALSE") return 0;
      int64_t i;
      if (TryStrToInt64(text, i)) return static_cast<long double>(i);
      long double f;
      if (TryStrToFloat(text, f, FormatSettings())) return f;
      CastError(target);
    }
    default:
      CastError(target);
  }
}

int64_t Variant::IntegerIn(int64_t min, int64_t max, uint16_t target) const {
  if (IsSignedKind(FType) || FType == varEmpty || FType == varBoolean) {
    int64_t v = FType == varEmpty ? 0 : FType == varBoolean ? (FBool ? -1 : 0) : FInt;
    if (v < min || v > max) OverflowError(target);
    return v;
  }
  if (IsUnsignedKind(FType)) {
    if (FUInt > static_cast<uint64_t>(max)) OverflowError(target);
    return static_cast<int64_t>(FUInt);
  }
  if (IsStringKind(FType)) {
    int64_t v;
    if (TryStrToInt64(AsString(), v)) {
      if (v < min || v > max) OverflowError(target);
      return v;
    }
  }
  long double f = std::nearbyint(AsLongDouble(target));  // halves to even
  if (!(f >= static_cast<long double>(min) && f <= static_cast<long double>(max))) {
    OverflowError(target);
  }
  return static_cast<int64_t>(f);
}

bool Variant::AsBoolean() const {
  if (IsStringKind(FType)) {
    std::string upper = TrimmedUpper(AsString());
    if (upper == "TRUE") return true;
    if (upper == "FALSE") return false;
  }
  if (FType == varBoolean) return FBool;
  return AsLongDouble(varBoolean) != 0;
}

int32_t Variant::AsInteger() const {
  return static_cast<int32_t>(IntegerIn(INT32_MIN, INT32_MAX, varInteger));
}

int64_t Variant::AsInt64() const { return IntegerIn(INT64_MIN, INT64_MAX, varInt64); }

double Variant::AsDouble() const { return static_cast<double>(AsLongDouble(varDouble)); }

Currency Variant::AsCurrency() const {
  if (FType == varCurrency) return Currency::FromRaw(FInt);
  if (IsStringKind(FType)) {
    Currency c;
    if (TryStrToCurr(AsString(), c, FormatSettings())) return c;
  }
  long double scaled = std::nearbyint(AsLongDouble(varCurrency) * Currency::Scale);
  if (!(scaled >= -9223372036854775808.0L && scaled < 9223372036854775808.0L)) {
    OverflowError(varCurrency);
  }
  return Currency::FromRaw(static_cast<int64_t>(scaled));
}

TDateTime Variant::AsDateTime() const {
  if (IsStringKind(FType)) {
    TDateTime value;
    if (TryStrToDateTime(AsString(), value, FormatSettings())) return value;
    CastError(varDate);
  }
  return static_cast<double>(AsLongDouble(varDate));
}

std::string Variant::AsString() const {
  if (IsSignedKind(FType)) return IntToStr(FInt);
  if (IsUnsignedKind(FType)) return UIntToStr(FUInt);
  switch (FType) {
    case varEmpty:
      return "";
    case varString:
      return FStr;
    case varOleStr:
    case varUString:
      return Utf16ToWin1252(FWStr);
    case varSingle:
      return FloatToStrF(FDouble, ffGeneral, 7, 0);
    case varDouble:
      return FloatToStr(FDouble);
    case varCurrency:
      return CurrToStr(Currency::FromRaw(FInt));
    case varDate:
      return DateTimeToStr(FDouble);
    case varBoolean:
      return FBool ? "True" : "False";
    default:
      CastError(varString);
  }
}

std::u16string Variant::AsWideString() const {
  if (FType == varOleStr || FType == varUString) return FWStr;
  try {
    return Win1252ToUtf16(AsString());
  } catch (const EVariantTypeCastError&) {
    CastError(varOleStr);
  }
}

Variant Variant::ChangeType(TVarType type) const {
  if (IsArray()) CastError(type);
  switch (type) {
    case varEmpty:
      return Variant();
    case varNull:
      return Null();
    case varSmallint:
      return static_cast<int16_t>(IntegerIn(INT16_MIN, INT16_MAX, type));
    case varInteger:
      return AsInteger();
    case varShortInt:
      return static_cast<int8_t>(IntegerIn(INT8_MIN, INT8_MAX, type));
    case varInt64:
      return AsInt64();
    case varByte:
      return static_cast<uint8_t>(IntegerIn(0, UINT8_MAX, type));
    case varWord:
      return static_cast<uint16_t>(IntegerIn(0, UINT16_MAX, type));
    case varLongWord:
      return static_cast<uint32_t>(IntegerIn(0, UINT32_MAX, type));
    case varUInt64: {
      if (FType == varUInt64) return *this;
      return static_cast<uint64_t>(IntegerIn(0, INT64_MAX, type));
    }
    case varSingle:
      return static_cast<float>(AsDouble());
    case varDouble:
      return AsDouble();
    case varCurrency:
      return AsCurrency();
    case varDate:
      return FromDate(AsDateTime());
    case varBoolean:
      return AsBoolean();
    case varString:
      return AsString();
    case varOleStr:
      return OleStr(AsWideString());
    case varUString:
      return AsWideString();
    default:
      CastError(type);
  }
}

std::string VarTypeAsText(uint16_t type) {
  std::string prefix;
  if (type & varArray) prefix = "Array ";
  switch (type & varTypeMask) {
    case varEmpty:
      return prefix + "Empty";
    case varNull:
      return prefix + "Null";
    case varSmallint:
      return prefix + "Smallint";
    case varInteger:
      return prefix + "Integer";
    case varSingle:
      return prefix + "Single";
    case varDouble:
      return prefix + "Double";
    case varCurrency:
      return prefix + "Currency";
    case varDate:
      return prefix + "Date";
    case varOleStr:
      return prefix + "OleStr";
    case varBoolean:
      return prefix + "Boolean";
    case varVariant:
      return prefix + "Variant";
    case varShortInt:
      return prefix + "ShortInt";
    case varByte:
      return prefix + "Byte";
    case varWord:
      return prefix + "Word";
    case varLongWord:
      return prefix + "LongWord";
    case varInt64:
      return prefix + "Int64";
    case varUInt64:
      return prefix + "UInt64";
    case varString:
      return prefix + "String";
    case varUString:
      return prefix + "UnicodeString";
    default:
      return prefix + "$" + IntToHex(type & varTypeMask, 4);
  }
}

std::string VarToStr(const Variant& value) { return value.IsNull() ? "" : value.AsString(); }

namespace {

template <class T>
TVariantRelationship Order(const T& a, const T& b) {
  if (a < b) return vrLessThan;
  if (b < a) return vrGreaterThan;
  return vrEqual;
}

bool IsIntegral(const Variant& v) {
  uint16_t t = v.VarType();
  return IsSignedKind(t) || IsUnsignedKind(t) || t == varBoolean || t == varEmpty;
}

}  // namespace

TVariantRelationship VarCompareValue(const Variant& a, const Variant& b) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() && b.IsNull() ? vrEqual : vrNotEqual;
  if (a.IsArray() || b.IsArray()) {
    if (!(a.IsArray() && b.IsArray()) || a.ArrayLowBound() != b.ArrayLowBound() ||
        a.ArrayHighBound() != b.ArrayHighBound()) {
      return vrNotEqual;
    }
    for (int32_t i = a.ArrayLowBound(); i <= a.ArrayHighBound(); ++i) {
      if (VarCompareValue(a.Element(i), b.Element(i)) != vrEqual) return vrNotEqual;
    }
    return vrEqual;
  }
  if (a.IsEmpty() && b.IsEmpty()) return vrEqual;
  bool aText = a.IsString() || a.IsEmpty();
  bool bText = b.IsString() || b.IsEmpty();
  if (aText && bText) {
    if (a.VarType() == varString && (b.VarType() == varString || b.IsEmpty())) {
      return Order(a.AsString(), b.AsString());
    }
    return Order(a.AsWideString(), b.AsWideString());
  }
  if (IsIntegral(a) && IsIntegral(b)) {
    bool aU = a.VarType() == varUInt64;
    bool bU = b.VarType() == varUInt64;
    if (!aU && !bU) return Order(a.AsInt64(), b.AsInt64());
    // An unsigned 64-bit value may exceed every signed one.
    auto wide = [](const Variant& v) {
      return v.VarType() == varUInt64 ? static_cast<__int128>(v.FUInt)
                                      : static_cast<__int128>(v.AsInt64());
    };
    return Order(wide(a), wide(b));
  }
  if (a.VarType() == varCurrency && (b.VarType() == varCurrency || IsIntegral(b))) {
    return Order(a.AsCurrency().Raw, b.AsCurrency().Raw);
  }
  if (b.VarType() == varCurrency && IsIntegral(a)) {
    return Order(a.AsCurrency().Raw, b.AsCurrency().Raw);
  }
  double x = a.AsDouble();
  double y = b.AsDouble();
  if (std::isnan(x) || std::isnan(y)) return vrNotEqual;
  return Order(x, y);
}

bool operator==(const Variant& a, const Variant& b) { return VarCompareValue(a, b) == vrEqual; }

}  // namespace rtl
