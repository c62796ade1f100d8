#include "sql/nodes/VEXExprFieldNode.h"

#include <algorithm>
#include <cstring>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXGuards.h"
#include "foundation/VEXStream.h"
#include "foundation/VEXTypes.h"
#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "sql/nodes/VEXExprFunctionNodes.h"
#include "sql/nodes/VEXExprLeafNodes.h"
#include "sql/expression/VEXExpression.h"
#include "sql/VEXRelationalAlgebra.h"
#include "storage/VEXCursor.h"
#include "storage/search/VEXScanConditions.h"

namespace vex {

namespace {

// Names of columns and tables compare ignoring ASCII case only.
std::string AsciiUpper(std::string Text) {
  for (char& c : Text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return Text;
}

}  // namespace

TVEXExprNodeField::TVEXExprNodeField(TVEXCursor* Cursor, const std::string& FieldName,
                                     const std::string& TableName)
    : TVEXExprNode(true, false), FTableName(TableName), FFieldName(FieldName) {
  if (Cursor != nullptr) AssignCursor(Cursor, nullptr, nullptr);
}

bool TVEXExprNodeField::CanBeAssigned(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                                      bool ForHavingClause) {
  FGetFromParent = false;
  bool found = false;
  if (AO != nullptr) {
    std::vector<int32_t> numbers;
    found = AO->FieldExists(FFieldName, FTableName, false, &numbers, ForHavingClause, false) == 1;
  }
  if (!found && ParentQueryAO != nullptr) {
    std::vector<int32_t> numbers;
    found = ParentQueryAO->FieldExists(FFieldName, FTableName, false, &numbers, ForHavingClause,
                                       false) == 1;
    FGetFromParent = found;
  }
  if (!found && ParentCursor != nullptr) {
    int32_t fieldNo = -1;
    found = FindFieldInCursor(ParentCursor, fieldNo);
    FGetFromParent = found;
  }
  if (found) FScanOnlyVisibleFieldsInAO = ForHavingClause;
  return found;
}

bool TVEXExprNodeField::TryAssignAO(TVEXAO* AOToAssign) {
  if (AOToAssign == nullptr) return false;
  std::vector<int32_t> numbers;
  AOToAssign->FieldExists(FFieldName, FTableName, !FScanOnlyVisibleFieldsInAO, &numbers, true,
                          FScanOnlyVisibleFieldsInAO);
  if (numbers.empty()) return false;
  FFieldNo = numbers[0];
  FFieldNameInAO = AOToAssign->GetFieldNameByColumnNo(FFieldNo);
  FFieldOffsetInBuffer = 0;
  FFieldType = AOToAssign->GetFieldType(FFieldNo);
  FBaseFieldType = AdvancedToBaseFieldType(FFieldType);
  FFieldSize = AOToAssign->GetFieldSize(FFieldNo);
  FFieldPrecision = AOToAssign->GetFieldPrecision(FFieldNo);
  return true;
}

void TVEXExprNodeField::AssignAO(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) {
  // A binding left from before must not survive a lookup that fails.
  LCursor = nullptr;
  LRecordBuffer = nullptr;
  LAO = nullptr;
  if (TryAssignAO(AO))
    LAO = AO;
  else if (TryAssignAO(ParentQueryAO))
    LAO = ParentQueryAO;
  else if (FGetFromParent)
    AssignCursor(ParentCursor, ParentQueryAO, ParentCursor);
  if (LAO == nullptr && LCursor == nullptr)
    throw EVEXException(30197, "Field '%s' not found", FTableName + "." + FFieldName);
}

bool TVEXExprNodeField::FindFieldInCursor(TVEXCursor* Cursor, int32_t& FieldNo) {
  if (Cursor == nullptr) return false;
  const TVEXFieldDefs& defs = Cursor->FieldDefs();
  const TVEXFieldDefs& visible = Cursor->VisibleFieldDefs();
  // A name is looked up among the table's fields, then among the visible
  // ones (an alias of a projection); the operator's own name for the column
  // is the second name tried.
  for (const std::string* name : {&FFieldName, &FFieldNameInAO}) {
    if (name->empty()) continue;
    const int32_t no = defs.GetDefNumberByName(*name);
    if (no >= 0) {
      FieldNo = no;
      return true;
    }
    const int32_t visibleNo = visible.GetDefNumberByName(*name);
    if (visibleNo >= 0) {
      FieldNo = visible.GetDef(visibleNo)->FieldNoReference;
      return true;
    }
  }
  return false;
}

void TVEXExprNodeField::AssignCursor(TVEXCursor* Cursor, TVEXAO* ParentQueryAO,
                                     TVEXCursor* ParentCursor) {
  if (Cursor == nullptr) throw EVEXException(30202, "Value is Null");
  if (ParentQueryAO != nullptr) LAO = nullptr;
  if (ParentCursor != nullptr) LCursor = nullptr;
  int32_t fieldNo = -1;
  if (FGetFromParent) {
    if (FindFieldInCursor(ParentCursor, fieldNo)) {
      LCursor = ParentCursor;
    } else if (TryAssignAO(ParentQueryAO)) {
      LAO = ParentQueryAO;
      // An operator's row is read through the operator, never from a buffer
      // of an earlier binding.
      LRecordBuffer = nullptr;
    } else {
      return;
    }
  } else {
    LAO = nullptr;
    LCursor = nullptr;
    if (FindFieldInCursor(Cursor, fieldNo))
      LCursor = Cursor;
    else if (FindFieldInCursor(ParentCursor, fieldNo))
      LCursor = ParentCursor;
  }
  if (LAO == nullptr && LCursor == nullptr)
    throw EVEXException(30115, "Field '%s' not found", FFieldName);
  if (LCursor != nullptr) {
    const TVEXFieldDef* def = LCursor->FieldDefs().GetDef(fieldNo);
    FFieldNo = fieldNo;
    FFieldOffsetInBuffer = def->MemoryOffset;
    FFieldType = def->AdvancedFieldType;
    FBaseFieldType = def->BaseFieldType;
    FFieldSize = def->MemoryDataSize;
    AssignCursorBuffer(LCursor->CurrentRecordBuffer(), FGetFromParent);
  }
}

void TVEXExprNodeField::AssignCursorBuffer(uint8_t* Buffer, bool ApplyToParentQueryFields) {
  if (ApplyToParentQueryFields == FGetFromParent) LRecordBuffer = Buffer;
}

TVEXVariant& TVEXExprNodeField::GetDataValue() {
  Value.SetNull();
  if (LRecordBuffer == nullptr) {
    if (LAO == nullptr || FFieldNo == -1) throw EVEXException(30196, "Dataset and AO not assigned");
    LAO->GetFieldValue(Value, FFieldNo, true, true);
    return Value;
  }
  if (GetBitFromBuffer(FFieldNo, LRecordBuffer)) return Value;
  if (FBaseFieldType == bftClob || FBaseFieldType == bftWideClob) {
    const std::string bytes = ReadClobBytes();
    // Wide CLOB bytes are UTF-16 code units; a value of this kind carries no
    // terminator either way.
    Value.SetData(bytes.data(), static_cast<int32_t>(bytes.size()), FBaseFieldType, true);
    return Value;
  }
  Value.SetData(LRecordBuffer + FFieldOffsetInBuffer, FFieldSize, FBaseFieldType, false);
  return Value;
}

std::string TVEXExprNodeField::ReadClobBytes() {
  if (LCursor == nullptr) throw EVEXException(30196, "Dataset and AO not assigned");
  TVEXCursor& cursor = *LCursor;
  // The cursor opens BLOBs of its current record and numbers them among its
  // visible fields.
  int32_t visibleNo = FFieldNo;
  const TVEXFieldDefs& visible = cursor.VisibleFieldDefs();
  for (int32_t i = 0; i < visible.Count(); ++i)
    if (visible.GetDef(i)->FieldNoReference == FFieldNo) {
      visibleNo = i;
      break;
    }
  uint8_t* const saved = cursor.CurrentRecordBuffer();
  cursor.SetCurrentRecordBuffer(LRecordBuffer);
  ScopeExit restore([&] { cursor.SetCurrentRecordBuffer(saved); });
  TVEXStream* stream = cursor.InternalCreateBlobStream(false, false, visibleNo, bomRead, false);
  if (stream == nullptr) return std::string();
  bool closed = false;
  ScopeExit close([&] {
    if (closed) return;
    try {
      cursor.InternalCloseBLOB(visibleNo);
    } catch (const std::exception& e) {
      ReportReleaseFault(e);
    }
  });
  const int64_t size = stream->Size();
  if (size > INT32_MAX)
    throw rtl::EInvalidOperation("a CLOB of more than 2 GiB cannot be read whole");
  std::string bytes(static_cast<size_t>(size), '\0');
  stream->SetPosition(0);
  if (size > 0) stream->ReadBuffer(bytes.data(), static_cast<int32_t>(size));
  closed = true;
  cursor.InternalCloseBLOB(visibleNo);
  return bytes;
}

TVEXAdvancedFieldType TVEXExprNodeField::GetDataType() {
  TVEXAdvancedFieldType type = aftUnknown;
  if (LCursor != nullptr)
    type = FFieldType;
  else if (LAO != nullptr)
    type = LAO->GetFieldType(FFieldNo);
  if (type == aftUnknown) throw EVEXException(30284, "Cannot determine expression type");
  return type;
}

void TVEXExprNodeField::FillItem(TVEXSelectListItem& Item) const {
  Item.TableName = FTableName;
  Item.FieldName = FFieldName;
}

void TVEXExprNodeField::ReplacePseudonyms(std::vector<TVEXSelectListItem>& SelectList) {
  // Every item is tried in turn, so an alias of the name just taken applies
  // as well.
  for (const TVEXSelectListItem& item : SelectList) {
    if (item.IsExpression) continue;
    if (AsciiUpper(FFieldName) != AsciiUpper(item.Pseudonym)) continue;
    if (!FTableName.empty() && AsciiUpper(FTableName) != AsciiUpper(item.TableName)) continue;
    FFieldName = item.FieldName;
    FTableName = item.TableName;
  }
}

bool TVEXExprNodeField::CanBeUsedInGroupBy(const std::string& GroupByFields) {
  std::vector<std::string> names;
  // The list's names come upper-cased by the locale; the column's name is
  // brought to the same form.
  SplitFieldNames(names, GroupByFields);
  return std::find(names.begin(), names.end(), rtl::AnsiUpperCase(FFieldName)) != names.end();
}

bool CanUseNodeAsField(const TVEXExprNode* Node) {
  if (const auto* field = dynamic_cast<const TVEXExprNodeField*>(Node))
    return !field->GetFromParent();
  const auto* function = dynamic_cast<const TVEXExprNodeStringFunction*>(Node);
  if (function == nullptr || (function->Operator != doUPPER && function->Operator != doLOWER) ||
      function->Children.empty())
    return false;
  const auto* field = dynamic_cast<const TVEXExprNodeField*>(function->Children[0].get());
  return field != nullptr && !field->GetFromParent();
}

bool CanUseNodeAsConst(const TVEXExprNode* Node) {
  if (dynamic_cast<const TVEXExprNodeConst*>(Node) != nullptr) return true;
  const auto* field = dynamic_cast<const TVEXExprNodeField*>(Node);
  return field != nullptr && field->GetFromParent();
}

void AddKeyValueToCondition(TVEXVariant& Value, TVEXCursor& Cursor,
                            TVEXScanSearchCondition& ScanCondition, TVEXBaseExpression* Expression,
                            TVEXExprNode* Node, int32_t FieldNo) {
  Cursor.SetFieldValue(Value, FieldNo, true, ScanCondition.KeyRecordBuffer);
  ++ScanCondition.KeyFieldCount;
  if (Node != nullptr) {
    ScanCondition.ParentExpressions.push_back(Expression);
    ScanCondition.ParentExpressionNodes.push_back(Node);
  }
}

}  // namespace vex
