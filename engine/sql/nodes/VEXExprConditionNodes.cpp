#include "sql/nodes/VEXExprConditionNodes.h"

#include <algorithm>
#include <memory>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXOperationTypes.h"
#include "rtl/CodePage.h"
#include "rtl/Exception.h"
#include "sql/nodes/VEXExprFieldNode.h"
#include "sql/nodes/VEXExprFunctionNodes.h"
#include "sql/nodes/VEXExprLeafNodes.h"
#include "sql/nodes/VEXExprSubquery.h"
#include "sql/expression/VEXExpression.h"
#include "sql/VEXRelationalAlgebra.h"
#include "storage/VEXCursor.h"
#include "storage/VEXMetaDefs.h"
#include "storage/search/VEXScanConditions.h"

namespace vex {

namespace {

std::string AsciiUpper(std::string Text) {
  for (char& c : Text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return Text;
}

// Whether column IndexColumnNo of IndexDef is the column Field and may serve
// this session (a temporary index of another session may not, at column 0).
bool IsIndexColumn(const TVEXExprNodeField& Field, int32_t IndexColumnNo,
                   const TVEXIndexDef* IndexDef, int32_t SessionID) {
  if (IndexDef == nullptr || IndexColumnNo < 0 || IndexColumnNo >= IndexDef->ColumnCount())
    return false;
  if (AsciiUpper(Field.FieldName()) !=
      AsciiUpper(IndexDef->GetIndexColumn(IndexColumnNo)->FieldName))
    return false;
  return IndexColumnNo > 0 || !IndexDef->Temporary || IndexDef->SessionID == SessionID;
}

// A condition on IndexDef with a zeroed key buffer of the column's cursor.
void StartCondition(TVEXScanSearchCondition& Condition, TVEXCursor& Cursor,
                    const TVEXIndexDef& IndexDef, bool PartialKey) {
  const int32_t size =
      std::max(Cursor.RecordBufferSize(), Cursor.FieldDefs().GetMemoryRecordBufferSize());
  Condition.FOwnKeyRecordBuffer = std::make_unique<uint8_t[]>(size);
  Condition.KeyRecordBuffer = Condition.FOwnKeyRecordBuffer.get();
  Condition.KeyRecordBufferSize = size;
  Condition.KeyFieldCount = 0;
  Condition.IndexID = IndexDef.ObjectID;
  Condition.Expression = nullptr;
  Condition.CreatedFromExpression = true;
  Condition.PartialCompare = PartialKey;
}

// Null keys sort before every value: ascending they come first, descending
// last in index order. A condition on a null key of the column that keeps
// only the other keys.
void AddNotNullCondition(TVEXScanSearchConditionArray& ScanConditions, TVEXExprNodeField& Field,
                         const TVEXIndexDef& IndexDef, TVEXBaseExpression* Expression,
                         TVEXExprNode* Node, bool PartialKey) {
  TVEXScanSearchCondition condition;
  StartCondition(condition, *Field.Cursor(), IndexDef, PartialKey);
  condition.Condition = IndexDef.GetIndexColumn(0)->Descending ? scLower : scGreater;
  TVEXVariant nullKey(bftUnknown);
  AddKeyValueToCondition(nullKey, *Field.Cursor(), condition, Expression, Node, Field.FieldNo());
  ScanConditions.AddCondition(condition);
}

// The subquery operand of EXISTS, IN or a quantified comparison.
TVEXExprNodeSubquery& SubqueryOperand(TVEXExprNode* Node) {
  auto* subquery = dynamic_cast<TVEXExprNodeSubquery*>(Node);
  if (subquery == nullptr) RaiseNilPointer(30516);
  return *subquery;
}

TVEXExprNodeSubquery* AsSubquery(const std::vector<TVEXExprNodePtr>& Children, size_t I) {
  return Children.size() == I + 1 ? dynamic_cast<TVEXExprNodeSubquery*>(Children[I].get())
                                  : nullptr;
}

}  // namespace

TVEXExprNodeBoolean::TVEXExprNodeBoolean(bool CaseInsensitive, bool PartialKey)
    : TVEXExprNode(CaseInsensitive, PartialKey) {}

TVEXExprNodeBoolean::TVEXExprNodeBoolean(TVEXDataOperator Op, bool CaseInsensitive, bool PartialKey,
                                         const std::string& aEscapeStr)
    : TVEXExprNode(Op, CaseInsensitive, PartialKey), EscapeStr(aEscapeStr) {}

TVEXExprNodeBoolean::TVEXExprNodeBoolean(TVEXDataOperator Op, TVEXExprNodePtr Node,
                                         bool CaseInsensitive, bool PartialKey)
    : TVEXExprNode(Op, std::move(Node), CaseInsensitive, PartialKey) {}

TVEXExprNodeBoolean::TVEXExprNodeBoolean(TVEXDataOperator Op, TVEXExprNodePtr Node1,
                                         TVEXExprNodePtr Node2, bool CaseInsensitive,
                                         bool PartialKey)
    : TVEXExprNode(Op, std::move(Node1), std::move(Node2), CaseInsensitive, PartialKey) {}

TVEXExprNodeBoolean::TVEXExprNodeBoolean(TVEXDataOperator Op, TVEXExprNodePtr Node1,
                                         TVEXExprNodePtr Node2, TVEXExprNodePtr Node3,
                                         bool CaseInsensitive, bool PartialKey)
    : TVEXExprNode(Op, std::move(Node1), std::move(Node2), std::move(Node3), CaseInsensitive,
                   PartialKey) {}

void TVEXExprNodeBoolean::NegateResult() {
  if (!Value.IsNull()) Value.SetAsBoolean(!Value.AsBoolean());
}

TVEXVariant& TVEXExprNodeBoolean::GetDataValue() {
  Value.SetNull();
  switch (Operator) {
    case doNOT:
      TempVal.Assign(ChildValue(0), true);
      if (!TempVal.IsNull()) Value.SetAsBoolean(!TempVal.AsBoolean());
      break;
    case doAND:
    case doOR: {
      // AND looks for a False, OR for a True; a null on the way makes the
      // result null unless a deciding operand follows.
      const bool decisive = Operator == doOR;
      bool sawNull = false;
      bool decided = false;
      for (size_t i = 0; i < Children.size(); ++i) {
        TempVal.Assign(ChildValue(i), true);
        if (TempVal.IsNull()) {
          sawNull = true;
        } else if (TempVal.AsBoolean() == decisive) {
          decided = true;
          break;
        }
      }
      if (decided)
        Value.SetAsBoolean(decisive);
      else if (!sawNull)
        Value.SetAsBoolean(!decisive);
      break;
    }
    case doIN:
    case doNOTIN:
      EvaluateIn();
      if (Operator == doNOTIN) NegateResult();
      break;
    case doEXISTS:
      Value.SetAsBoolean(SubqueryOperand(Children.empty() ? nullptr : Children[0].get()).Exists());
      break;
    case doBETWEEN:
    case doNOTBETWEEN:
      EvaluateBetween();
      if (Operator == doNOTBETWEEN) NegateResult();
      break;
    case doLIKE:
    case doNOTLIKE:
      EvaluateLike();
      if (Operator == doNOTLIKE) NegateResult();
      break;
    case doISNULL:
      Value.SetAsBoolean(ChildValue(0).IsNull());
      break;
    case doISNOTNULL:
      Value.SetAsBoolean(!ChildValue(0).IsNull());
      break;
    default:
      throw EVEXException(30116, "Unknown operator: '%s'", GetOperatorName(Operator));
  }
  return Value;
}

void TVEXExprNodeBoolean::EvaluateIn() {
  // The list's values may be computed: each is evaluated before it is compared,
  // so the tested value is copied first.
  TVEXVariant tested;
  tested.Assign(ChildValue(0), true);
  if (tested.IsNull()) return;
  if (TVEXExprNodeSubquery* subquery = AsSubquery(Children, 1)) {
    Value.SetAsBoolean(subquery->IsValueIn(tested));
    return;
  }
  bool found = false;
  for (size_t i = 1; i < Children.size() && !found; ++i) {
    const TVEXVariant& item = ChildValue(i);
    if (item.IsNull()) continue;
    found = tested.Compare(item, true, true, false) == cmprEqual;
  }
  Value.SetAsBoolean(found);
}

void TVEXExprNodeBoolean::EvaluateBetween() {
  TVEXVariant tested, low, high;
  tested.Assign(ChildValue(0), true);
  low.Assign(ChildValue(1), true);
  high.Assign(ChildValue(2), true);
  if (tested.IsNull() || low.IsNull() || high.IsNull()) return;
  const TVEXCompareResult lo = tested.Compare(low, true, true, false);
  const TVEXCompareResult hi = tested.Compare(high, true, true, false);
  Value.SetAsBoolean((lo == cmprEqual || lo == cmprGreater) &&
                     (hi == cmprEqual || hi == cmprLower));
}

void TVEXExprNodeBoolean::EvaluateLike() {
  const TVEXVariant& tested = ChildValue(0);
  const TVEXVariant& patternCopy = ChildValue(1);
  if (patternCopy.IsNull()) return;
  // A null text is matched as the empty text of the pattern's kind.
  const TVEXBaseFieldType testedType = tested.IsNull() ? patternCopy.DataType() : tested.DataType();
  const TVEXBaseFieldType opType =
      GetOperationResultType(testedType, patternCopy.DataType(), false);
  if (!IsStringBaseFieldType(opType))
    throw EVEXException(30120, "Not string argument in function '%s'", "LIKE");
  const bool useEscape = !EscapeStr.empty();
  bool match;
  if (IsWideStringBaseFieldType(opType)) {
    const std::u16string text = tested.IsNull() ? std::u16string() : tested.AsWideString();
    const char16_t escape = useEscape ? rtl::Win1252ToUtf16(EscapeStr.substr(0, 1))[0] : u'\0';
    match =
        MatchLikePatternWide(text, patternCopy.AsWideString(), useEscape, escape, FCaseInsensitive);
  } else {
    const std::string text = tested.IsNull() ? std::string() : tested.AsAnsiString();
    match = MatchLikePattern(text, patternCopy.AsAnsiString(), useEscape,
                             useEscape ? EscapeStr[0] : '\0', FCaseInsensitive);
  }
  Value.SetAsBoolean(match);
}

bool TVEXExprNodeBoolean::CanUseIndex(int32_t IndexColumnNo,
                                      TVEXSearchCondition ConditionSearchOperator,
                                      const TVEXIndexDef* IndexDef, int32_t SessionID) {
  if (Operator != doISNULL && Operator != doISNOTNULL) return false;
  const auto* field =
      Children.empty() ? nullptr : dynamic_cast<TVEXExprNodeField*>(Children[0].get());
  if (field == nullptr || field->GetFromParent()) return false;
  if (!IsIndexColumn(*field, IndexColumnNo, IndexDef, SessionID)) return false;
  return IndexColumnNo == 0 || (Operator == doISNULL && ConditionSearchOperator == scEqual);
}

void TVEXExprNodeBoolean::AddAsIndexScanCondition(TVEXScanSearchConditionArray& ScanConditions,
                                                  const TVEXIndexDef* IndexDef,
                                                  TVEXBaseExpression* Expression) {
  if (Operator != doISNULL && Operator != doISNOTNULL) return;
  auto* field = Children.empty() ? nullptr : dynamic_cast<TVEXExprNodeField*>(Children[0].get());
  if (field == nullptr || field->Cursor() == nullptr) throw EVEXException(20254, "Pointer is nil");
  if (IndexDef == nullptr || IndexDef->ColumnCount() == 0)
    throw EVEXException(20255, "Invalid index for search");
  if (Operator == doISNOTNULL) {
    AddNotNullCondition(ScanConditions, *field, *IndexDef, Expression, this, FPartialKey);
    return;
  }
  TVEXScanSearchCondition condition;
  StartCondition(condition, *field->Cursor(), *IndexDef, FPartialKey);
  condition.Condition = scEqual;
  TVEXVariant nullKey(bftUnknown);
  AddKeyValueToCondition(nullKey, *field->Cursor(), condition, Expression, this, field->FieldNo());
  ScanConditions.AddCondition(condition);
}

void TVEXExprNodeBoolean::ExtendIndexScanCondition(TVEXScanSearchCondition& ScanCondition,
                                                   const TVEXIndexDef*,
                                                   TVEXBaseExpression* Expression) {
  auto* field = Children.empty() ? nullptr : dynamic_cast<TVEXExprNodeField*>(Children[0].get());
  if (field == nullptr || field->Cursor() == nullptr) return;
  TVEXVariant nullKey(bftUnknown);
  AddKeyValueToCondition(nullKey, *field->Cursor(), ScanCondition, Expression, this,
                         field->FieldNo());
}

TVEXExprNodeComparison::TVEXExprNodeComparison(TVEXDataOperator Op, TVEXExprNodePtr Node1,
                                               TVEXExprNodePtr Node2, bool TrueFalseNullLogic,
                                               bool CaseInsensitive, bool PartialKey)
    : TVEXExprNode(Op, std::move(Node1), std::move(Node2), CaseInsensitive, PartialKey),
      F3ValueLogic(TrueFalseNullLogic) {}

TVEXExprNodeComparison::TVEXExprNodeComparison(TVEXDataOperator Op, TVEXQuantifier Quantifier,
                                               TVEXExprNodePtr Node1, TVEXExprNodePtr Node2,
                                               bool TrueFalseNullLogic, bool CaseInsensitive,
                                               bool PartialKey)
    : TVEXExprNodeComparison(Op, std::move(Node1), std::move(Node2), TrueFalseNullLogic,
                             CaseInsensitive, PartialKey) {
  FQuantifier = Quantifier;
}

TVEXVariant& TVEXExprNodeComparison::GetDataValue() {
  if (FQuantifier != qUNDEFINED) {
    TVEXVariant tested;
    tested.Assign(ChildValue(0), true);
    const bool result =
        SubqueryOperand(Children[1].get()).QuantifiedCompare(Operator, FQuantifier, tested);
    Value.SetNull();
    Value.SetAsBoolean(result);
    return Value;
  }
  // Both sides are compared in place; the left one is evaluated first.
  const TVEXVariant& left = ChildValue(0);
  const TVEXVariant& right = ChildValue(1);
  const TVEXCompareResult r = left.Compare(right, F3ValueLogic, FCaseInsensitive, FPartialKey);
  bool result;
  switch (Operator) {
    case doEQ:
      result = r == cmprEqual;
      break;
    case doNE:
      result = F3ValueLogic ? (r == cmprLower || r == cmprGreater) : r != cmprEqual;
      break;
    case doGT:
      result = r == cmprGreater;
      break;
    case doLT:
      result = r == cmprLower;
      break;
    case doGE:
      result = r == cmprEqual || r == cmprGreater;
      break;
    case doLE:
      result = r == cmprEqual || r == cmprLower;
      break;
    default:
      throw EVEXException(30117, "Unknown operator: '%s'", GetOperatorName(Operator));
  }
  Value.SetNull();
  Value.SetAsBoolean(result);
  return Value;
}

}  // namespace vex

namespace vex {

void TVEXExprNodeComparison::AdjustConstantTypes() {
  TVEXExprNodeField* field = nullptr;
  TVEXExprNodeConst* constant = nullptr;
  for (auto& child : Children) {
    if (auto* f = dynamic_cast<TVEXExprNodeField*>(child.get())) field = f;
    if (auto* c = dynamic_cast<TVEXExprNodeConst*>(child.get())) constant = c;
  }
  if (field == nullptr || constant == nullptr) return;
  const TVEXBaseFieldType fieldType = field->BaseFieldType();
  if (IsStringBaseFieldType(fieldType) && !IsWideStringBaseFieldType(fieldType) &&
      IsWideStringBaseFieldType(constant->Value.DataType()))
    constant->Value.Cast(bftVarchar);
}

TVEXExprNodeField* TVEXExprNodeComparison::GetFieldNode(TVEXExprNode* Node) {
  if (auto* function = dynamic_cast<TVEXExprNodeStringFunction*>(Node))
    if (function->Operator == doUPPER || function->Operator == doLOWER)
      return dynamic_cast<TVEXExprNodeField*>(function->Children[0].get());
  return dynamic_cast<TVEXExprNodeField*>(Node);
}

void TVEXExprNodeComparison::GetFieldAndConstNodes(TVEXExprNodeField*& FieldNode,
                                                   TVEXExprNode*& ConstNode) {
  FieldNode = nullptr;
  ConstNode = nullptr;
  if (Children.size() < 2) return;
  for (auto& child : Children)
    if (CanUseNodeAsConst(child.get())) ConstNode = child.get();
  for (auto& child : Children) {
    if (!CanUseNodeAsField(child.get())) continue;
    const TVEXDataOperator op = child->Operator;
    if ((op == doUPPER || op == doLOWER) && ConstNode != nullptr) {
      // Only a constant's case is known before the scan; an outer-query value
      // under a case function is left to the evaluation.
      auto* constant = dynamic_cast<TVEXExprNodeConst*>(ConstNode);
      if (constant == nullptr ||
          (op == doUPPER ? !constant->IsUpperCase() : !constant->IsLowerCase())) {
        FieldNode = nullptr;
        ConstNode = nullptr;
        return;
      }
      FCaseInsensitive = true;
    }
    FieldNode = GetFieldNode(child.get());
  }
}

bool TVEXExprNodeComparison::CanUseIndex(int32_t IndexColumnNo,
                                         TVEXSearchCondition ConditionSearchOperator,
                                         const TVEXIndexDef* IndexDef, int32_t SessionID) {
  if (FQuantifier != qUNDEFINED) return false;
  TVEXExprNodeField* field = nullptr;
  TVEXExprNode* constant = nullptr;
  GetFieldAndConstNodes(field, constant);
  if (field == nullptr || constant == nullptr) return false;
  if (!IsIndexColumn(*field, IndexColumnNo, IndexDef, SessionID)) return false;
  const TVEXBaseFieldType type = field->BaseFieldType();
  if (IsBLOBBaseFieldType(type)) return false;
  const bool isText = IsStringBaseFieldType(type);
  if (isText && IndexDef->GetIndexColumn(IndexColumnNo)->CaseInsensitive != FCaseInsensitive)
    return false;
  if (FPartialKey) return false;
  if (Operator != doEQ && Operator != doGT && Operator != doLT && Operator != doGE &&
      Operator != doLE)
    return false;
  if (isText && constant->GetDataSize() >= field->FieldSize()) return false;
  if (IndexColumnNo > 0 && (ConditionSearchOperator != scEqual || Operator != doEQ)) return false;
  // Compared three-valued, a null matches no row, while a range on a null key
  // would return the null keys.
  if (F3ValueLogic && constant->GetDataValue().IsNull()) return false;
  return true;
}

void TVEXExprNodeComparison::AddAsIndexScanCondition(TVEXScanSearchConditionArray& ScanConditions,
                                                     const TVEXIndexDef* IndexDef,
                                                     TVEXBaseExpression* Expression) {
  TVEXExprNodeField* field = nullptr;
  TVEXExprNode* constant = nullptr;
  GetFieldAndConstNodes(field, constant);
  if (field == nullptr || constant == nullptr) throw EVEXException(20055, "Pointer is nil");
  if (field->Cursor() == nullptr) throw EVEXException(20054, "Pointer is nil");
  if (IndexDef == nullptr || IndexDef->ColumnCount() == 0)
    throw EVEXException(20057, "Invalid index for search");

  const bool fieldOnRight =
      CanUseNodeAsField(Children[1].get()) && GetFieldNode(Children[1].get()) == field;
  const TVEXDataOperator op = fieldOnRight ? MirrorComparisonOperator(Operator) : Operator;
  const bool descending = IndexDef->GetIndexColumn(0)->Descending;
  TVEXSearchCondition sc = scEqual;
  switch (op) {
    case doGT:
      sc = descending ? scLower : scGreater;
      break;
    case doLT:
      sc = descending ? scGreater : scLower;
      break;
    case doGE:
      sc = descending ? scLowerEqual : scGreaterEqual;
      break;
    case doLE:
      sc = descending ? scGreaterEqual : scLowerEqual;
      break;
    default:
      sc = scEqual;
      break;
  }
  // A range running towards the null keys would return rows that a
  // three-valued comparison rejects: it is bounded to the non-null keys, and
  // the comparison stays in its expression to test every row.
  const bool towardsNulls = descending ? (sc == scGreater || sc == scGreaterEqual)
                                       : (sc == scLower || sc == scLowerEqual);
  const bool boundNulls = F3ValueLogic && towardsNulls;

  TVEXScanSearchCondition condition;
  StartCondition(condition, *field->Cursor(), *IndexDef, FPartialKey);
  condition.Condition = sc;
  AddKeyValueToCondition(constant->GetDataValue(), *field->Cursor(), condition, Expression,
                         boundNulls ? nullptr : this, field->FieldNo());
  ScanConditions.AddCondition(condition);
  if (boundNulls)
    AddNotNullCondition(ScanConditions, *field, *IndexDef, Expression, nullptr, FPartialKey);
}

void TVEXExprNodeComparison::ExtendIndexScanCondition(TVEXScanSearchCondition& ScanCondition,
                                                      const TVEXIndexDef*,
                                                      TVEXBaseExpression* Expression) {
  if (Children.size() < 2) return;
  TVEXExprNode* left = Children[0].get();
  TVEXExprNode* right = Children[1].get();
  TVEXExprNode* fieldSide = CanUseNodeAsField(right)  ? right
                            : CanUseNodeAsField(left) ? left
                                                      : nullptr;
  TVEXExprNode* constant = CanUseNodeAsConst(right)  ? right
                           : CanUseNodeAsConst(left) ? left
                                                     : nullptr;
  if (fieldSide == nullptr || constant == nullptr) return;
  TVEXExprNodeField* field = GetFieldNode(fieldSide);
  if (field == nullptr || field->Cursor() == nullptr) return;
  AddKeyValueToCondition(constant->GetDataValue(), *field->Cursor(), ScanCondition, Expression,
                         this, field->FieldNo());
}

bool TVEXExprNodeComparison::IsJoinCondition(TVEXAO* AO1, TVEXAO* AO2) {
  if (Operator != doEQ || Children.size() < 2) return false;
  if (!CanUseNodeAsField(Children[0].get()) || !CanUseNodeAsField(Children[1].get())) return false;
  auto* left = dynamic_cast<TVEXExprNodeField*>(Children[0].get());
  auto* right = dynamic_cast<TVEXExprNodeField*>(Children[1].get());
  if (left == nullptr || right == nullptr) return false;
  const auto matches = [](TVEXAO* AO, const TVEXExprNodeField& Field) {
    if (AO == nullptr) return 0;
    std::vector<int32_t> numbers;
    return AO->FieldExists(Field.FieldName(), Field.TableName(), true, &numbers, false, false);
  };
  const int32_t leftIn1 = matches(AO1, *left), leftIn2 = matches(AO2, *left);
  const int32_t rightIn1 = matches(AO1, *right), rightIn2 = matches(AO2, *right);
  if (leftIn1 + leftIn2 > 1)
    throw EVEXException(10404, "Ambiguous field reference to '%s'", left->FieldName());
  if (rightIn1 + rightIn2 > 1)
    throw EVEXException(10405, "Ambiguous field reference to '%s'", right->FieldName());
  return leftIn1 + leftIn2 == 1 && rightIn1 + rightIn2 == 1 && leftIn1 != rightIn1;
}

}  // namespace vex
