// Comparison of typed payloads.
#include "foundation/VEXValueCompare.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "foundation/VEXConst.h"
#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXMemory.h"
#include "foundation/VEXOperationTypes.h"
#include "foundation/VEXTypesRoutines.h"
#include "foundation/VEXVariant.h"
#include "text/Text.h"

namespace vex {

namespace {

constexpr const char* kUnicodeNotSupported =
    "Unicode is not supported by your version of  Windows. Please download the Microsoft Layer "
    "for Unicode on Windows 95/98/Me Systems from "
    "http://www.microsoft.com/downloads"
    " and put "
    "\"unicows.dll\""
    " file to the folder with your application";

// Converts Data (of Size bytes, -1 unknown) in place of the caller's operand;
// the block answered holds the converted value.
TVEXMemBlock ConvertOperand(const void*& Data, int32_t& Size, TVEXBaseFieldType From,
                            TVEXBaseFieldType To) {
  int32_t size = 0;
  TVEXMemBlock block(ConvertValue(Data, Size, From, size, To));
  Data = block.Get();
  Size = size;
  return block;
}

template <class T>
T Load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof(T));
  return v;
}

long double LoadExtended(const void* p) {
  long double v = 0;
  std::memcpy(&v, p, 10);
  return v;
}

// Values that are neither lower nor greater are equal, so NaN equals anything.
template <class T>
TVEXCompareResult Order(T left, T right) {
  if (left < right) return cmprLower;
  if (right < left) return cmprGreater;
  return cmprEqual;
}

// The characters of an 8-bit text payload that take part: up to its terminator,
// never past its own size, and at most MaxLength of them.
std::string_view AnsiOperand(const void* data, int32_t size, int32_t maxLength) {
  const char* p = static_cast<const char*>(data);
  size_t n = size >= 0 ? strnlen(p, static_cast<size_t>(size)) : std::strlen(p);
  if (maxLength >= 0) n = std::min(n, static_cast<size_t>(maxLength));
  return std::string_view(p, n);
}

// The same for UTF-16 text. Payloads may sit at any address, so the characters
// are copied out into aligned storage: on the stack for the usual short
// texts, so that a comparison allocates nothing.
class WideOperand {
 public:
  WideOperand(const void* data, int32_t size, int32_t maxLength) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    int64_t limit = size >= 0 ? size / 2 : INT64_MAX;
    if (maxLength >= 0) limit = std::min<int64_t>(limit, maxLength);
    int64_t n = 0;
    for (; n < limit && n < kOnStack; ++n) {
      const char16_t c = Load<char16_t>(p + n * 2);
      if (c == 0) break;
      FStack[n] = c;
    }
    if (n < kOnStack || n == limit) {
      FView = std::u16string_view(FStack, static_cast<size_t>(n));
      return;
    }
    FHeap.assign(FStack, kOnStack);
    for (; n < limit; ++n) {
      const char16_t c = Load<char16_t>(p + n * 2);
      if (c == 0) break;
      FHeap.push_back(c);
    }
    FView = FHeap;
  }
  WideOperand(const WideOperand&) = delete;
  WideOperand& operator=(const WideOperand&) = delete;

  std::u16string_view View() const { return FView; }

 private:
  static constexpr int64_t kOnStack = 128;
  char16_t FStack[kOnStack];
  std::u16string FHeap;
  std::u16string_view FView;
};

TVEXCompareResult FromPlatformResult(int32_t result) {
  return result == 1 ? cmprLower : result == 2 ? cmprEqual : cmprGreater;
}

TVEXCompareResult CompareAnsi(std::string_view left, std::string_view right, bool caseInsensitive) {
  int32_t result = 0;
  try {
    switch (text::CompareAnsi(left, right, caseInsensitive)) {
      case text::Order::Less:
        result = 1;
        break;
      case text::Order::Equal:
        result = 2;
        break;
      case text::Order::Greater:
        result = 3;
        break;
    }
  } catch (const text::TextError&) {
    // A failed comparison gives the platform's 0, reported below.
  }
  if (result < 1 || result > 3) throw EVEXException(30045, "Unknown return code: %d", result);
  return FromPlatformResult(result);
}

// Wide text always sorts by the user's default locale, whatever locale the
// caller names for 8-bit text.
TVEXCompareResult CompareWide(const WideOperand& left, const WideOperand& right,
                              bool caseInsensitive) {
  const uint32_t flags = SORT_STRINGSORT | (caseInsensitive ? NORM_IGNORECASE : 0);
  const int32_t result = BoundTextFunctions().CompareStringW(
      LOCALE_USER_DEFAULT, flags, left.View().data(), static_cast<int32_t>(left.View().size()),
      right.View().data(), static_cast<int32_t>(right.View().size()));
  if (result < 1 || result > 3) throw EVEXException(30046, kUnicodeNotSupported);
  return FromPlatformResult(result);
}

}  // namespace

TVEXCompareResult CompareValues(const void* LeftData, const void* RightData,
                                TVEXBaseFieldType LeftType, TVEXBaseFieldType RightType,
                                bool LeftIsNull, bool RightIsNull, int32_t MaxLength,
                                bool CaseInsensitive, uint32_t /*Locale*/, int32_t LeftSize,
                                int32_t RightSize) {
  if (LeftIsNull && RightIsNull) return cmprBothNull;
  if (LeftIsNull) return cmprLeftNull;
  if (RightIsNull) return cmprRightNull;

  TVEXBaseFieldType type = LeftType;
  // CLOBs have no terminator and no order of their own: they compare as the
  // text type they convert to, also with each other.
  if (LeftType != RightType || LeftType == bftClob || LeftType == bftWideClob) {
    type = GetOperationResultType(LeftType, RightType, true);
    if (type == bftUnknown) {
      throw EVEXException(30044, "Cannot compare Incompatible DataTypes: '%s' and '%s'",
                          BaseFieldTypeToSQLName(LeftType), BaseFieldTypeToSQLName(RightType));
    }
  }
  if (LeftData == nullptr || RightData == nullptr) throw EVEXException(30140, sValueIsNull);

  TVEXMemBlock leftConverted;
  TVEXMemBlock rightConverted;
  if (LeftType != type) leftConverted = ConvertOperand(LeftData, LeftSize, LeftType, type);
  if (RightType != type) rightConverted = ConvertOperand(RightData, RightSize, RightType, type);

  switch (type) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
      return CompareAnsi(AnsiOperand(LeftData, LeftSize, MaxLength),
                         AnsiOperand(RightData, RightSize, MaxLength), CaseInsensitive);
    case bftWideChar:
    case bftWideVarchar:
      return CompareWide(WideOperand(LeftData, LeftSize, MaxLength),
                         WideOperand(RightData, RightSize, MaxLength), CaseInsensitive);
    case bftSignedInt8:
      return Order(Load<int8_t>(LeftData), Load<int8_t>(RightData));
    case bftSignedInt16:
      return Order(Load<int16_t>(LeftData), Load<int16_t>(RightData));
    case bftSignedInt32:
    case bftDate:
    case bftTime:
      return Order(Load<int32_t>(LeftData), Load<int32_t>(RightData));
    case bftSignedInt64:
      return Order(Load<int64_t>(LeftData), Load<int64_t>(RightData));
    case bftUnsignedInt8:
      return Order(Load<uint8_t>(LeftData), Load<uint8_t>(RightData));
    case bftUnsignedInt16:
      return Order(Load<uint16_t>(LeftData), Load<uint16_t>(RightData));
    case bftUnsignedInt32:
      return Order(Load<uint32_t>(LeftData), Load<uint32_t>(RightData));
    case bftSingle:
      return Order(Load<float>(LeftData), Load<float>(RightData));
    case bftDouble:
    case bftCurrency:
      return Order(Load<double>(LeftData), Load<double>(RightData));
    case bftExtended:
      return Order(LoadExtended(LeftData), LoadExtended(RightData));
    case bftDateTime: {
      const auto left = Load<TVEXDateTime>(LeftData);
      const auto right = Load<TVEXDateTime>(RightData);
      const TVEXCompareResult byDate = Order(left.Date, right.Date);
      return byDate != cmprEqual ? byDate : Order(left.Time, right.Time);
    }
    case bftLogical:
      return Order(Load<uint16_t>(LeftData) != 0, Load<uint16_t>(RightData) != 0);
    default:
      throw EVEXException(30047, sUnknownDataType, BaseFieldTypeToSQLName(type));
  }
}

int32_t CompareValuesAsInteger(const void* LeftData, const void* RightData,
                               TVEXBaseFieldType LeftType, TVEXBaseFieldType RightType,
                               bool LeftIsNull, bool RightIsNull, int32_t MaxLength,
                               bool CaseInsensitive, uint32_t Locale, int32_t LeftSize,
                               int32_t RightSize) {
  switch (CompareValues(LeftData, RightData, LeftType, RightType, LeftIsNull, RightIsNull,
                        MaxLength, CaseInsensitive, Locale, LeftSize, RightSize)) {
    case cmprLower:
    case cmprLeftNull:
      return -1;
    case cmprGreater:
    case cmprRightNull:
      return 1;
    default:
      return 0;
  }
}

TVEXCompareResult TVEXVariant::Compare(const TVEXVariant& Value, bool TrueFalseNullLogic,
                                       bool CaseInsensitive, bool PartialKey) const {
  // A partial key compares only as many characters as the right value has;
  // each side is still bounded by its own payload.
  const int32_t maxLength = PartialKey ? Value.StrLen() : -1;
  const TVEXCompareResult result =
      CompareValues(pData(), Value.pData(), DataType(), Value.DataType(), IsNull(), Value.IsNull(),
                    maxLength, CaseInsensitive, LOCALE_USER_DEFAULT, DataSize(), Value.DataSize());
  if (TrueFalseNullLogic) return result;
  switch (result) {
    case cmprLeftNull:
      return cmprLower;
    case cmprRightNull:
      return cmprGreater;
    case cmprBothNull:
      return cmprEqual;
    default:
      return result;
  }
}

}  // namespace vex
