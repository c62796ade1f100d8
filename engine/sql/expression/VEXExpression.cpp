#include "sql/expression/VEXExpression.h"

#include <algorithm>
#include <utility>

#include "foundation/VEXConverts.h"
#include "foundation/VEXExcept.h"
#include "foundation/VEXStartup.h"
#include "rtl/CodePage.h"
#include "sql/nodes/VEXExprConditionNodes.h"
#include "sql/nodes/VEXExprLeafNodes.h"
#include "sql/expression/VEXExprParser.h"
#include "sql/expression/VEXExprParserNodes.h"
#include "sql/VEXLexer.h"
#include "storage/VEXCursor.h"
#include "storage/VEXMetaDefCollections.h"
#include "storage/search/VEXScanConditions.h"

namespace vex {

namespace {

bool IsBooleanOp(const TVEXExprNode* Node, TVEXDataOperator Op) {
  return Node != nullptr && Node->Operator == Op &&
         dynamic_cast<const TVEXExprNodeBoolean*>(Node) != nullptr;
}

bool IsComparison(const TVEXExprNode* Node) {
  return dynamic_cast<const TVEXExprNodeComparison*>(Node) != nullptr;
}

// The nodes that can narrow an index scan on their own.
bool IsScanConditionNode(const TVEXExprNode* Node) {
  return IsComparison(Node) || IsBooleanOp(Node, doISNULL) || IsBooleanOp(Node, doISNOTNULL);
}

std::unique_ptr<TVEXExprNodeBoolean> NewAnd() {
  return std::make_unique<TVEXExprNodeBoolean>(doAND, true, false, "");
}

// Sets a flag for the length of a parse and clears it on every way out.
class TFlagScope {
 public:
  explicit TFlagScope(bool& Flag) : FFlag(Flag) { FFlag = true; }
  ~TFlagScope() { FFlag = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& FFlag;
};

}  // namespace

TVEXExpression::TVEXExpression() = default;

TVEXExpression::TVEXExpression(TVEXExprNodePtr RootNode) : FRootExprNode(std::move(RootNode)) {}

TVEXExpression::~TVEXExpression() = default;

// ------------------------------------------------------------ entry points

void TVEXExpression::PrepareParse(db::TDataSet* Dataset, TVEXLexer& Lexer) {
  LDataset = Dataset;
  LLex = &Lexer;
}

void TVEXExpression::ParseForFilter(TVEXCursor* Cursor, std::u16string_view Filter,
                                    bool CaseInsensitive, bool PartialKey) {
  ClearRootNode();
  LCursor = Cursor;
  FCaseInsensitive = CaseInsensitive;
  FPartialKey = PartialKey;
  TVEXLexer lexer(Filter, nullptr, false);
  if (!lexer.GetNextCommand()) throw EVEXException(30119, "Blank SQL command");
  TFlagScope ownLexer(FOwnLexer);
  ParseForBooleanExpression(nullptr, lexer);
  LLex = nullptr;
  // A filter is one condition: a token left over would otherwise silently
  // drop the rest of what was written ("Name = 'a' Age = 5").
  TToken rest;
  if (lexer.GetCurrentToken(rest)) {
    ClearRootNode();
    throw EVEXException(30514, "End of filter expected, but '%s' found at line %d, column %d",
                        rest.Text, rest.LineNum, rest.ColumnNum);
  }
}

void TVEXExpression::ParseForBooleanExpression(db::TDataSet* Dataset, TVEXLexer& Lexer) {
  ClearRootNode();
  PrepareParse(Dataset, Lexer);
  TVEXExprParser parser(*this, Lexer);
  if (!parser.ReadCurrentToken())
    throw EVEXException(30118, "Unexpected end of SQL command found at line %d, column %d",
                        parser.Token.LineNum, parser.Token.ColumnNum);
  FRootExprNode = parser.ParseSearchCondition();
  if (!FRootExprNode)
    throw EVEXException(30066, "Boolean expression expected, but '%s' found at line %d, column %d",
                        parser.Token.Text, parser.Token.LineNum, parser.Token.ColumnNum);
  MoveAndNodesToRoot();
  if (LCursor) FRootExprNode->AdjustConstantTypes();
}

void TVEXExpression::ParseForValueExpression(db::TDataSet* Dataset, TVEXLexer& Lexer) {
  ClearRootNode();
  PrepareParse(Dataset, Lexer);
  TVEXExprParser parser(*this, Lexer);
  if (!parser.ReadCurrentToken())
    throw EVEXException(30136, "Unexpected end of SQL command found at line %d, column %d",
                        parser.Token.LineNum, parser.Token.ColumnNum);
  FRootExprNode = parser.ParseValueExpression();
}

void TVEXExpression::ParseForRowSubqueryExpression(db::TDataSet* Dataset, TVEXLexer& Lexer) {
  ClearRootNode();
  PrepareParse(Dataset, Lexer);
  TVEXExprParser parser(*this, Lexer);
  if (!parser.ReadCurrentToken())
    throw EVEXException(30497, "Unexpected end of SQL command found at line %d, column %d",
                        parser.Token.LineNum, parser.Token.ColumnNum);
  FRootExprNode = parser.ParseSubquery(false, false);
}

bool TVEXExpression::ParseForDefaultValueExpression(std::u16string_view DefaultValue) noexcept {
  try {
    ClearRootNode();
    TVEXLexer lexer(DefaultValue, nullptr, true);
    if (lexer.NumCommands() != 1 || !lexer.GetNextCommand()) return false;
    {
      TFlagScope ownLexer(FOwnLexer);
      ParseForValueExpression(nullptr, lexer);
    }
    LLex = nullptr;
    // A text is a DEFAULT expression only when the expression is all of it:
    // "1 x" is no expression.
    TToken rest;
    if (!FRootExprNode || lexer.GetCurrentToken(rest)) {
      ClearRootNode();
      return false;
    }
    return true;
  } catch (...) {
    LLex = nullptr;
    ClearRootNode();
    return false;
  }
}

void TVEXExpression::ParseForLocate(TVEXCursor* Cursor, std::string_view FieldNames,
                                    const rtl::Variant& KeyValues, bool CaseInsensitive,
                                    bool PartialKey) {
  ClearRootNode();
  LCursor = Cursor;
  F3ValueLogic = false;
  std::vector<std::string> names;
  SplitFieldNames(names, FieldNames);
  const bool isArray = KeyValues.IsArray();
  const int32_t low = isArray ? KeyValues.ArrayLowBound() : 0;
  const int32_t count = isArray ? KeyValues.ArrayHighBound() - low + 1 : 1;
  if (count != static_cast<int32_t>(names.size()))
    throw EVEXException(30112, "Count of FieldNames (%d) not equal counts of KeyValues (%d)",
                        static_cast<int32_t>(names.size()), count);
  std::vector<TVEXExprNodePtr> comparisons;
  for (int32_t i = 0; i < count; ++i) {
    TVEXExprNodePtr column = NewColumnNode(Cursor, names[static_cast<size_t>(i)], "");
    TVEXExprNodePtr constant = std::make_unique<TVEXExprNodeConst>(true, false);
    // The array is read from its own low bound, whatever that is.
    const rtl::Variant& key = isArray ? KeyValues.Element(low + i) : KeyValues;
    const TVEXFieldDef* def =
        Cursor ? Cursor->FieldDefs().GetFieldDefByName(names[static_cast<size_t>(i)]) : nullptr;
    const uint16_t keyType = key.VarType();
    if (def && IsDateTimeBaseFieldType(def->BaseFieldType) &&
        (keyType == rtl::varInteger || keyType == rtl::varDouble))
      constant->Value.SetAsVariant(rtl::Variant::FromDate(key.AsDouble()));
    else
      constant->Value.SetAsVariant(key);
    comparisons.push_back(std::make_unique<TVEXExprNodeComparison>(
        doEQ, std::move(column), std::move(constant), false, CaseInsensitive, PartialKey));
  }
  if (isArray) {
    auto root = NewAnd();
    for (TVEXExprNodePtr& c : comparisons) root->Children.push_back(std::move(c));
    FRootExprNode = std::move(root);
  } else {
    FRootExprNode = std::move(comparisons.front());
  }
  AdjustConstantTypes();
}

void TVEXExpression::ParseForIsAnyRecordMatchCondition(TVEXCursor* Cursor,
                                                       std::string_view FieldName,
                                                       TVEXDataOperator Operator,
                                                       const TVEXVariant& Value) {
  ClearRootNode();
  LCursor = Cursor;
  F3ValueLogic = false;
  TVEXExprNodePtr constant = std::make_unique<TVEXExprNodeConst>(true, false);
  constant->Value.Assign(Value, true);
  FRootExprNode = std::make_unique<TVEXExprNodeComparison>(
      Operator, NewColumnNode(Cursor, std::string(FieldName), ""), std::move(constant), false,
      false, false);
  AdjustConstantTypes();
}

// ------------------------------------------------------------- evaluation

TVEXVariant* TVEXExpression::GetValue(bool TrueFalseNullLogic) {
  if (!FRootExprNode) return nullptr;
  TVEXVariant& value = FRootExprNode->GetDataValue();
  if (value.IsNull() && !TrueFalseNullLogic) {
    value.Clear(bftLogical);
    value.SetAsBoolean(false);
  }
  return &value;
}

bool TVEXExpression::GetResult() {
  if (!FRootExprNode) throw EVEXException(30110, sValueIsNull);
  return GetValue(false)->AsBoolean();
}

void TVEXExpression::ResetSubqueryFieldValues() {
  if (FRootExprNode) FRootExprNode->ResetSubqueryFieldValues();
}

TVEXVariant* TVEXExpression::GetSubqueryFieldValue(int32_t FieldNo) {
  return FRootExprNode ? FRootExprNode->GetSubqueryFieldValue(FieldNo) : nullptr;
}

bool TVEXExpression::IsAggregated() { return FRootExprNode && FRootExprNode->IsAggregated(); }

bool TVEXExpression::IsAggregatedCountAll() {
  return FRootExprNode && FRootExprNode->IsAggregatedCountAll();
}

void TVEXExpression::Init() {
  if (FRootExprNode) FRootExprNode->Init();
}

void TVEXExpression::Accumulate() {
  if (FRootExprNode) FRootExprNode->Accumulate();
}

void TVEXExpression::SetCountAll(int32_t RecordCount) {
  if (FRootExprNode) FRootExprNode->SetCountAll(RecordCount);
}

TVEXAdvancedFieldType TVEXExpression::GetDataType() {
  return FRootExprNode ? FRootExprNode->GetDataType() : aftUnknown;
}

int32_t TVEXExpression::GetDataSize() { return FRootExprNode ? FRootExprNode->GetDataSize() : 0; }

int32_t TVEXExpression::GetPrecision() { return FRootExprNode ? FRootExprNode->GetPrecision() : 0; }

bool TVEXExpression::CanBeUsedInGroupBy(const std::string& GroupByFields) {
  return !FRootExprNode || FRootExprNode->CanBeUsedInGroupBy(GroupByFields);
}

// ---------------------------------------------------------------- binding

void TVEXExpression::AdjustConstantTypes() {
  if (FRootExprNode) FRootExprNode->AdjustConstantTypes();
}

void TVEXExpression::AssignCursor(TVEXCursor* Cursor, TVEXAO* ParentQueryAO,
                                  TVEXCursor* ParentCursor) {
  if (!FRootExprNode) return;
  FRootExprNode->AssignCursor(Cursor, ParentQueryAO, ParentCursor);
  FRootExprNode->AdjustConstantTypes();
}

void TVEXExpression::AssignCursorBuffer(const uint8_t* Buffer, bool ApplyToParentQueryFields) {
  if (!FRootExprNode) return;
  // The nodes only read the record; their interface predates const buffers.
  FRootExprNode->AssignCursorBuffer(const_cast<uint8_t*>(Buffer), ApplyToParentQueryFields);
  FRootExprNode->AdjustConstantTypes();
}

void TVEXExpression::AssignAO(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) {
  if (!FRootExprNode) return;
  FRootExprNode->AssignAO(AO, ParentQueryAO, ParentCursor);
  FRootExprNode->AdjustConstantTypes();
}

// -------------------------------------------------------------- structure

bool TVEXExpression::IsEmpty() const {
  if (!FRootExprNode) return true;
  return dynamic_cast<const TVEXExprNodeBoolean*>(FRootExprNode.get()) != nullptr &&
         FRootExprNode->Children.empty();
}

bool TVEXExpression::IsField() const { return IsColumnNode(FRootExprNode.get()); }

bool TVEXExpression::IsFieldsExpression() const {
  if (!FRootExprNode) return false;
  if (IsColumnNode(FRootExprNode.get())) return true;
  return std::any_of(FRootExprNode->Children.begin(), FRootExprNode->Children.end(),
                     [](const TVEXExprNodePtr& c) { return IsColumnNode(c.get()); });
}

void TVEXExpression::GetFieldInfo(std::string& TableName, std::string& FieldName) const {
  if (!ColumnNodeNames(FRootExprNode.get(), TableName, FieldName))
    throw EVEXException(30198, "Node is not a field");
}

void TVEXExpression::MoveAndNodesToRoot() {
  if (!IsBooleanOp(FRootExprNode.get(), doAND)) return;
  std::vector<TVEXExprNodePtr>& children = FRootExprNode->Children;
  size_t i = 0;
  while (i < children.size()) {
    if (IsBooleanOp(children[i].get(), doAND)) {
      TVEXExprNodePtr nested = std::move(children[i]);
      children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
      for (TVEXExprNodePtr& grandchild : nested->Children)
        children.push_back(std::move(grandchild));
    } else {
      ++i;
    }
  }
}

std::unique_ptr<TVEXExpression> TVEXExpression::TakeAssignableParts(
    const std::function<bool(TVEXExprNode&)>& CanBeAssigned) {
  if (!FRootExprNode) return nullptr;
  TVEXExprNodePtr filterRoot;
  if (IsBooleanOp(FRootExprNode.get(), doAND)) {
    std::vector<TVEXExprNodePtr>& children = FRootExprNode->Children;
    for (TVEXExprNodePtr& child : children) {
      if (!child || !CanBeAssigned(*child)) continue;
      if (!filterRoot) {
        filterRoot = std::move(child);
      } else if (IsBooleanOp(filterRoot.get(), doAND)) {
        filterRoot->Children.push_back(std::move(child));
      } else {
        auto both = NewAnd();
        both->Children.push_back(std::move(filterRoot));
        both->Children.push_back(std::move(child));
        filterRoot = std::move(both);
      }
    }
    std::erase(children, nullptr);
    if (children.empty()) FRootExprNode.reset();
  } else if (CanBeAssigned(*FRootExprNode)) {
    filterRoot = std::move(FRootExprNode);
  }
  if (!filterRoot) return nullptr;
  return std::make_unique<TVEXExpression>(std::move(filterRoot));
}

int32_t TVEXExpression::ExtractJoinConditions(
    TVEXAO* AO1, TVEXAO* AO2,
    const std::function<void(TVEXExprNode& First, TVEXExprNode& Second)>& AddPair) {
  if (!FRootExprNode) return 0;
  int32_t count = 0;
  if (IsBooleanOp(FRootExprNode.get(), doAND)) {
    std::vector<TVEXExprNodePtr>& children = FRootExprNode->Children;
    for (TVEXExprNodePtr& child : children) {
      if (!child || !child->IsJoinCondition(AO1, AO2)) continue;
      AddPair(*child->Children[0], *child->Children[1]);
      ++count;
      child.reset();
    }
    std::erase(children, nullptr);
    if (children.empty()) FRootExprNode.reset();
  } else if (IsComparison(FRootExprNode.get()) && FRootExprNode->Operator == doEQ &&
             FRootExprNode->IsJoinCondition(AO1, AO2)) {
    AddPair(*FRootExprNode->Children[0], *FRootExprNode->Children[1]);
    count = 1;
    FRootExprNode.reset();
  }
  return count;
}

void TVEXExpression::ReplacePseudonyms(std::vector<TVEXSelectListItem>& SelectList) {
  if (FRootExprNode) FRootExprNode->ReplacePseudonyms(SelectList);
}

void TVEXExpression::AddAndMoveNodesFromExpression(TVEXExpression& Expr) {
  if (!FRootExprNode) {
    FRootExprNode = std::move(Expr.FRootExprNode);
    return;
  }
  if (!IsBooleanOp(FRootExprNode.get(), doAND)) {
    auto root = NewAnd();
    root->Children.push_back(std::move(FRootExprNode));
    FRootExprNode = std::move(root);
  }
  if (Expr.FRootExprNode) FRootExprNode->Children.push_back(std::move(Expr.FRootExprNode));
  MoveAndNodesToRoot();
}

// ------------------------------------------------- index-scan conditions

void TVEXExpression::CreateIndexScanConditions(const TVEXIndexDefs& IndexDefs,
                                               TVEXScanSearchConditionArray& ScanConditions,
                                               int32_t SessionID) {
  std::function<void(TVEXExprNode*)> walk = [&](TVEXExprNode* node) {
    if (IsScanConditionNode(node)) {
      TryCreateIndexScanConditionsFromNode(*node, IndexDefs, ScanConditions, SessionID);
    } else if (IsBooleanOp(node, doAND)) {
      for (TVEXExprNodePtr& child : node->Children) walk(child.get());
    }
  };
  walk(FRootExprNode.get());
}

void TVEXExpression::TryCreateIndexScanConditionsFromNode(
    TVEXExprNode& Node, const TVEXIndexDefs& IndexDefs,
    TVEXScanSearchConditionArray& ScanConditions, int32_t SessionID) {
  for (int32_t i = 0; i < IndexDefs.Count(); ++i) {
    TVEXIndexDef* def = IndexDefs.GetIndexDef(i);
    if (Node.CanUseIndex(0, scNone, def, SessionID))
      Node.AddAsIndexScanCondition(ScanConditions, def, this);
  }
}

bool TVEXExpression::ExtendMultiFieldIndexCondition(TVEXScanSearchCondition& ScanCondition,
                                                    const TVEXIndexDef& IndexDef) {
  std::function<bool(TVEXExprNode*)> walk = [&](TVEXExprNode* node) {
    if (IsScanConditionNode(node))
      return ExtendMultiFieldIndexConditionFromNode(*node, ScanCondition, IndexDef);
    if (IsBooleanOp(node, doAND))
      for (TVEXExprNodePtr& child : node->Children)
        if (walk(child.get())) return true;
    return false;
  };
  return walk(FRootExprNode.get());
}

bool TVEXExpression::ExtendMultiFieldIndexConditionFromNode(TVEXExprNode& Node,
                                                            TVEXScanSearchCondition& ScanCondition,
                                                            const TVEXIndexDef& IndexDef) {
  if (ScanCondition.KeyFieldCount >= IndexDef.ColumnCount()) return false;
  // The nodes' interface takes the definition as they found it in the list.
  auto* def = const_cast<TVEXIndexDef*>(&IndexDef);
  if (!Node.CanUseIndex(ScanCondition.KeyFieldCount, ScanCondition.Condition, def, -1))
    return false;
  Node.ExtendIndexScanCondition(ScanCondition, def, this);
  return true;
}

void TVEXExpression::RemoveExtractedNodes(TVEXScanSearchConditionArray& ScanConditions,
                                          int32_t ScanConditionNo, int32_t ScanEndConditionNo) {
  for (int32_t no : {ScanConditionNo, ScanEndConditionNo}) {
    if (no < 0 || no > 255 || no >= ScanConditions.Count()) continue;
    const TVEXScanSearchCondition& condition = ScanConditions[no];
    for (size_t k = 0; k < condition.ParentExpressions.size(); ++k) {
      if (condition.ParentExpressions[k] != this || k >= condition.ParentExpressionNodes.size())
        continue;
      TVEXExprNode* node = condition.ParentExpressionNodes[k];
      if (!FRootExprNode) continue;
      if (node == FRootExprNode.get()) {
        // Held by the scan condition until AddNode gives it back.
        (void)FRootExprNode.release();
        continue;
      }
      std::vector<TVEXExprNodePtr>& children = FRootExprNode->Children;
      for (auto it = children.begin(); it != children.end(); ++it)
        if (it->get() == node) {
          (void)it->release();
          children.erase(it);
          break;
        }
    }
  }
}

void TVEXExpression::AddNode(TVEXExprNode* Node) {
  if (Node == nullptr || Node == FRootExprNode.get()) return;
  if (!FRootExprNode) {
    FRootExprNode.reset(Node);
    return;
  }
  // A node named by two chosen conditions comes back twice; it joins once.
  for (const TVEXExprNodePtr& child : FRootExprNode->Children)
    if (child.get() == Node) return;
  FRootExprNode->Children.emplace_back(Node);
}

// ------------------------------------------------------------ free routines

void ExtractFieldName(std::string_view Text, size_t& Pos, std::string& Item) {
  const size_t end = std::min(Text.find(';', Pos), Text.size());
  Item.assign(Text.substr(Pos, end - Pos));
  Pos = end + 1;
}

void SplitFieldNames(std::vector<std::string>& List, std::string_view Text) {
  List.clear();
  size_t pos = 0;
  std::string item;
  while (pos < Text.size()) {
    ExtractFieldName(Text, pos, item);
    const size_t first = item.find_first_not_of(" \t\r\n");
    const size_t last = item.find_last_not_of(" \t\r\n");
    item = first == std::string::npos ? std::string() : item.substr(first, last - first + 1);
    List.push_back(rtl::AnsiUpperCase(item));
  }
}

TVEXDataOperator MirrorComparisonOperator(TVEXDataOperator Op) {
  switch (Op) {
    case doEQ:
    case doNE:
      return Op;
    case doGT:
      return doLT;
    case doLT:
      return doGT;
    case doGE:
      return doLE;
    case doLE:
      return doGE;
    default:
      return doUNDEFINED;
  }
}

TVEXDataOperator NegateComparisonOperator(TVEXDataOperator Op) {
  switch (Op) {
    case doEQ:
      return doNE;
    case doNE:
      return doEQ;
    case doGT:
      return doLE;
    case doLE:
      return doGT;
    case doLT:
      return doGE;
    case doGE:
      return doLT;
    default:
      return doUNDEFINED;
  }
}

bool IsDefaultValueExpression(const TVEXVariant& Value) noexcept {
  try {
    if (Value.IsNull() || !Value.IsStringDataType() || Value.AsAnsiString().empty()) return false;
    const std::u16string text = Value.AsWideString();
    TVEXExpression expression;
    if (!expression.ParseForDefaultValueExpression(text)) return false;
    if (expression.IsFieldsExpression()) return false;
    TVEXVariant* result = expression.GetValue(true);
    return result != nullptr && result->AsWideString() != text;
  } catch (...) {
    return false;
  }
}

TVEXAdvancedFieldType SQLTypeNameToAdvancedType(std::string_view Name) {
  const std::string upper = rtl::AnsiUpperCase(Name);
  for (const TSQLFieldType& row : SQLFieldTypes)
    if (row.SqlName == upper) return row.AdvancedFieldType;
  return aftUnknown;
}

// ------------------------------------------------------------------ the seam

bool TVEXSQLExpressionParser::IsDefaultValueExpression(const TVEXVariant& Value) {
  return vex::IsDefaultValueExpression(Value);
}

std::unique_ptr<TVEXBaseExpression> TVEXSQLExpressionParser::CreateDefaultValueExpression(
    std::u16string_view Text) {
  auto expression = std::make_unique<TVEXExpression>();
  if (!expression->ParseForDefaultValueExpression(Text)) return nullptr;
  return expression;
}

namespace {

constexpr const char* kExpressionParserStep = "sql.expression-parser";

// Created by the start-up step and freed by its stop.
std::unique_ptr<TVEXSQLExpressionParser> gExpressionParser;

}  // namespace

bool AddSqlStartupSteps() {
  const std::vector<std::string> order = StartupOrder();
  if (std::find(order.begin(), order.end(), kExpressionParserStep) != order.end()) return false;
  AddStartupStep(
      TVEXStartupLayer::Sql, kExpressionParserStep,
      [] {
        gExpressionParser = std::make_unique<TVEXSQLExpressionParser>();
        InstallExpressionParser(gExpressionParser.get());
      },
      [] {
        InstallExpressionParser(nullptr);
        gExpressionParser.reset();
      });
  return true;
}

bool RemoveSqlStartupSteps() { return RemoveStartupStep(kExpressionParserStep); }

}  // namespace vex
