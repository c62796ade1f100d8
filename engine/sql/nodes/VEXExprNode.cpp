#include "sql/nodes/VEXExprNode.h"

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXOperationTypes.h"
#include "rtl/Exception.h"

namespace vex {

TVEXExprNode::TVEXExprNode(bool CaseInsensitive, bool PartialKey)
    : Value(bftUnknown), FCaseInsensitive(CaseInsensitive), FPartialKey(PartialKey) {}

TVEXExprNode::TVEXExprNode(TVEXDataOperator Op, bool CaseInsensitive, bool PartialKey)
    : TVEXExprNode(CaseInsensitive, PartialKey) {
  Operator = Op;
}

TVEXExprNode::TVEXExprNode(TVEXDataOperator Op, TVEXExprNodePtr Node, bool CaseInsensitive,
                           bool PartialKey)
    : TVEXExprNode(Op, CaseInsensitive, PartialKey) {
  Children.push_back(std::move(Node));
}

TVEXExprNode::TVEXExprNode(TVEXDataOperator Op, TVEXExprNodePtr Node1, TVEXExprNodePtr Node2,
                           bool CaseInsensitive, bool PartialKey)
    : TVEXExprNode(Op, CaseInsensitive, PartialKey) {
  Children.push_back(std::move(Node1));
  Children.push_back(std::move(Node2));
}

TVEXExprNode::TVEXExprNode(TVEXDataOperator Op, TVEXExprNodePtr Node1, TVEXExprNodePtr Node2,
                           TVEXExprNodePtr Node3, bool CaseInsensitive, bool PartialKey)
    : TVEXExprNode(Op, CaseInsensitive, PartialKey) {
  Children.push_back(std::move(Node1));
  Children.push_back(std::move(Node2));
  Children.push_back(std::move(Node3));
}

TVEXExprNode::~TVEXExprNode() = default;

void TVEXExprNode::AdjustConstantTypes() {
  for (auto& c : Children)
    if (c) c->AdjustConstantTypes();
}

bool TVEXExprNode::IsAggregated() {
  for (auto& c : Children)
    if (c && c->IsAggregated()) return true;
  return false;
}

void TVEXExprNode::Init() {
  for (auto& c : Children)
    if (c) c->Init();
}

void TVEXExprNode::Accumulate() {
  for (auto& c : Children)
    if (c) c->Accumulate();
}

void TVEXExprNode::AssignAO(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) {
  for (auto& c : Children)
    if (c) c->AssignAO(AO, ParentQueryAO, ParentCursor);
}

void TVEXExprNode::AssignCursor(TVEXCursor* Cursor, TVEXAO* ParentQueryAO,
                                TVEXCursor* ParentCursor) {
  for (auto& c : Children)
    if (c) c->AssignCursor(Cursor, ParentQueryAO, ParentCursor);
}

void TVEXExprNode::AssignCursorBuffer(uint8_t* Buffer, bool ApplyToParentQueryFields) {
  for (auto& c : Children)
    if (c) c->AssignCursorBuffer(Buffer, ApplyToParentQueryFields);
}

TVEXAdvancedFieldType TVEXExprNode::FoldTypes(const std::vector<TVEXExprNode*>& Nodes) {
  if (Nodes.empty()) return aftUnknown;
  TVEXAdvancedFieldType result = Nodes[0]->GetDataType();
  for (size_t i = 1; i < Nodes.size(); ++i)
    result = GetAdvancedOperationResultType(result, Nodes[i]->GetDataType(), false);
  return result;
}

TVEXAdvancedFieldType TVEXExprNode::GetDataType() {
  std::vector<TVEXExprNode*> nodes;
  for (auto& c : Children) nodes.push_back(c.get());
  const TVEXAdvancedFieldType result = FoldTypes(nodes);
  if (result == aftUnknown) throw EVEXException(30283, "Cannot determine expression type");
  return result;
}

int32_t TVEXExprNode::GetDataSize() {
  if (!IsStringBaseFieldType(AdvancedToBaseFieldType(GetDataType()))) return 0;
  if (Operator != doADD && Operator != doCONCAT && Operator != doCAST) return 0;
  int32_t size = 0;
  for (auto& c : Children)
    if (__builtin_add_overflow(size, c->GetDataSize(), &size))
      throw rtl::EIntOverflow(sIntegerOverflow);
  return size;
}

bool TVEXExprNode::CanBeAssigned(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                                 bool ForHavingClause) {
  for (auto& c : Children)
    if (c && !c->CanBeAssigned(AO, ParentQueryAO, ParentCursor, ForHavingClause)) return false;
  return true;
}

bool TVEXExprNode::CanUseIndex(int32_t, TVEXSearchCondition, const TVEXIndexDef*, int32_t) {
  return false;
}

void TVEXExprNode::AddAsIndexScanCondition(TVEXScanSearchConditionArray&, const TVEXIndexDef*,
                                           TVEXBaseExpression*) {}

void TVEXExprNode::ExtendIndexScanCondition(TVEXScanSearchCondition&, const TVEXIndexDef*,
                                            TVEXBaseExpression*) {}

bool TVEXExprNode::IsJoinCondition(TVEXAO*, TVEXAO*) { return false; }

void TVEXExprNode::ReplacePseudonyms(std::vector<TVEXSelectListItem>& SelectList) {
  for (auto& c : Children)
    if (c) c->ReplacePseudonyms(SelectList);
}

bool TVEXExprNode::CanBeUsedInGroupBy(const std::string& GroupByFields) {
  for (auto& c : Children)
    if (c && !c->CanBeUsedInGroupBy(GroupByFields)) return false;
  return true;
}

std::string GetOperatorName(TVEXDataOperator Op) {
  switch (Op) {
    case doEQ:
      return "=";
    case doNE:
      return "<>";
    case doGT:
      return ">";
    case doLT:
      return "<";
    case doGE:
      return ">=";
    case doLE:
      return "<=";
    case doNOT:
      return "NOT";
    case doAND:
      return "AND";
    case doOR:
      return "OR";
    case doLIKE:
      return "LIKE";
    case doNOTLIKE:
      return "NOT LIKE";
    case doISNULL:
      return "IS NULL";
    case doISNOTNULL:
      return "IS NOT NULL";
    case doCOUNTALL:
      return "COUNT(*)";
    case doADD:
      return "+";
    case doSUB:
      return "-";
    case doMUL:
      return "*";
    case doDIV:
      return "/";
    case doCONCAT:
      return "||";
    case doUPPER:
      return "UPPER";
    case doLOWER:
      return "LOWER";
    case doTRIM:
      return "TRIM";
    case doLTRIM:
      return "LTRIM";
    case doRTRIM:
      return "RTRIM";
    case doSUM:
      return "SUM";
    case doAVG:
      return "AVG";
    case doMIN:
      return "MIN";
    case doMAX:
      return "MAX";
    case doCOUNT:
      return "COUNT";
    default:
      return "unknown";
  }
}

}  // namespace vex
