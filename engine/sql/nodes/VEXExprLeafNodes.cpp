#include "sql/nodes/VEXExprLeafNodes.h"

#include "foundation/VEXConverts.h"
#include "foundation/VEXDecUtil.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXWideText.h"
#include "rtl/CodePage.h"
#include "rtl/Exception.h"

namespace vex {

std::string AnsiTextUpperCase(const std::string& Text) {
  return rtl::Utf16ToWin1252(UpperCaseWideText(rtl::Win1252ToUtf16(Text)));
}

std::string AnsiTextLowerCase(const std::string& Text) {
  return rtl::Utf16ToWin1252(LowerCaseWideText(rtl::Win1252ToUtf16(Text)));
}

TVEXAdvancedFieldType TVEXExprNodeConst::GetDataType() {
  return BaseToAdvancedFieldType(Value.DataType());
}

int32_t TVEXExprNodeConst::GetDataSize() {
  if (Value.IsNull() || !Value.IsStringDataType()) return 0;
  return Value.IsWideStringDataType() ? Value.StrLen() * 2 : Value.StrLen();
}

bool TVEXExprNodeConst::IsLikePatternEqualToPartialComparePattern() const {
  if (Value.IsNull() || !Value.IsStringDataType()) return false;
  const std::u16string s = Value.AsWideString();
  return s.size() >= 2 && s.find(u'%') == s.size() - 1;
}

void TVEXExprNodeConst::TruncateForPartialCompare() {
  if (Value.IsNull() || !Value.IsStringDataType()) return;
  if (Value.IsWideStringDataType()) {
    std::u16string s = Value.AsWideString();
    if (!s.empty()) s.pop_back();
    Value.SetAsWideString(s);
  } else {
    std::string s = Value.AsAnsiString();
    if (!s.empty()) s.pop_back();
    Value.SetAsAnsiString(s);
  }
}

bool TVEXExprNodeConst::IsUpperCase() const {
  if (!Value.IsStringDataType()) return false;
  if (Value.IsWideStringDataType()) {
    const std::u16string s = Value.AsWideString();
    return s == UpperCaseWideText(s);
  }
  const std::string s = Value.AsAnsiString();
  return s == AnsiTextUpperCase(s);
}

bool TVEXExprNodeConst::IsLowerCase() const {
  if (!Value.IsStringDataType()) return false;
  if (Value.IsWideStringDataType()) {
    const std::u16string s = Value.AsWideString();
    return s == LowerCaseWideText(s);
  }
  const std::string s = Value.AsAnsiString();
  return s == AnsiTextLowerCase(s);
}

TVEXExprNodeSystem::TVEXExprNodeSystem(TVEXDataOperator Op, const std::string&, const std::string&,
                                       const std::string& TableName, const std::string& ColumnName,
                                       bool InMemory)
    : TVEXExprNode(Op, false, false),
      FTableName(TableName),
      FColumnName(ColumnName),
      FInMemory(InMemory) {
  // Until the table component exists no LASTAUTOINC node can be made, rather
  // than one that answers wrongly.
  if (Op == doLASTAUTOINC)
    throw rtl::EInvalidOperation("LASTAUTOINC needs the table component, which is not built yet");
}

TVEXExprNodeSystem::TVEXExprNodeSystem(TVEXDataOperator Op,
                                       std::unique_ptr<TVEXLastAutoincTable> Table,
                                       const std::string& TableName, const std::string& ColumnName,
                                       bool InMemory)
    : TVEXExprNode(Op, false, false),
      FTableName(TableName),
      FColumnName(ColumnName),
      FInMemory(InMemory),
      FTable(std::move(Table)) {
  if (Op != doLASTAUTOINC || FTable == nullptr) return;
  FFieldType = FTable->FindFieldType(ColumnName);
  if (FFieldType == aftUnknown) throw EVEXException(30337, "Field '%s' not found", ColumnName);
}

TVEXVariant& TVEXExprNodeSystem::GetDataValue() {
  if (Operator == doLASTAUTOINC && FTable != nullptr) {
    const int64_t last = FTable->LastAutoincValue(FColumnName);
    // The storage type is 64-bit whatever the column's declared type.
    Value.Clear(bftSignedInt64);
    Value.SetAsInt64(last);
    return Value;
  }
  if (Operator != doROWNUM)
    throw EVEXException(30338, "Unknown operator: '%s'", GetOperatorName(Operator));
  if (__builtin_add_overflow(FRowNumValue, 1, &FRowNumValue))
    throw rtl::EIntOverflow(sIntegerOverflow);
  Value.SetNull();
  Value.SetAsInteger(FRowNumValue);
  return Value;
}

TVEXExprNodeBlob::TVEXExprNodeBlob(TVEXExprNodePtr Node)
    : TVEXExprNode(doMIMETOBIN, std::move(Node), false, false) {}

TVEXVariant& TVEXExprNodeBlob::GetDataValue() {
  const TVEXVariant& text = ChildValue(0);
  const std::string encoded = text.IsNull() ? std::string() : text.AsAnsiString();
  const std::string bytes =
      TStringFormat_MIME64::Class()->ToStr(encoded.data(), static_cast<int32_t>(encoded.size()));
  // The value type has no empty payload: no bytes is a BLOB value without
  // data, which reads as null.
  if (bytes.empty())
    Value.Clear(bftBlob);
  else
    Value.SetData(bytes.data(), static_cast<int32_t>(bytes.size()), bftBlob, true);
  return Value;
}

TVEXAdvancedFieldType TVEXExprNodeSystem::GetDataType() {
  if (Operator == doLASTAUTOINC) return FFieldType;
  if (Operator == doROWNUM) return aftInteger;
  return aftUnknown;
}

}  // namespace vex
