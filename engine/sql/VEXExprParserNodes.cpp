#include "sql/VEXExprParserNodes.h"

#include "foundation/VEXExcept.h"
#include "sql/VEXExprLeafNodes.h"

namespace vex {

TVEXExprNodeAggregated::TVEXExprNodeAggregated(TVEXDataOperator Op)
    : TVEXExprNode(Op, true, false) {}

TVEXExprNodeAggregated::TVEXExprNodeAggregated(TVEXDataOperator Op, bool Distinct,
                                               TVEXExprNodePtr Node)
    : TVEXExprNode(Op, std::move(Node), true, false), distinct(Distinct) {}

TVEXExprNodeSubquery::TVEXExprNodeSubquery(bool MustHaveOneField, bool MustHaveOneRow,
                                           db::TDataSet* Dataset, TVEXLexer* Lexer)
    : TVEXExprNode(true, false),
      FMustHaveOneField(MustHaveOneField),
      FMustHaveOneRow(MustHaveOneRow),
      LDataset(Dataset),
      LLexer(Lexer) {}

TVEXVariant& TVEXExprNodeSubquery::GetDataValue() {
  throw EVEXException(30510, "Subquery is not supported in this expression");
}

namespace {

// The column reference until the column node lands: it carries the names the
// grammar read, so that trees can be built, inspected and taken apart.
class TColumnRef : public TVEXExprNode {
 public:
  TColumnRef(std::string Field, std::string Table)
      : TVEXExprNode(true, false), FFieldName(std::move(Field)), FTableName(std::move(Table)) {}
  TVEXVariant& GetDataValue() override {
    throw EVEXException(30284, "Cannot determine expression type");
  }
  std::string FFieldName;
  std::string FTableName;
};

class TMimeToBin : public TVEXExprNode {
 public:
  explicit TMimeToBin(TVEXExprNodePtr Text) : TVEXExprNode(doMIMETOBIN, std::move(Text), true, false) {}
  TVEXVariant& GetDataValue() override {
    throw EVEXException(30127, "Unknown operator: '%s'", "MIMETOBIN");
  }
};

}  // namespace

TVEXExprNodePtr NewColumnNode(TVEXCursor* /*Cursor*/, const std::string& FieldName,
                              const std::string& TableName) {
  return std::make_unique<TColumnRef>(FieldName, TableName);
}

bool IsColumnNode(const TVEXExprNode* Node) {
  return dynamic_cast<const TColumnRef*>(Node) != nullptr;
}

bool ColumnNodeNames(const TVEXExprNode* Node, std::string& TableName, std::string& FieldName) {
  const auto* c = dynamic_cast<const TColumnRef*>(Node);
  if (!c) return false;
  TableName = c->FTableName;
  FieldName = c->FFieldName;
  return true;
}

TVEXExprNodePtr NewMimeToBinNode(TVEXExprNodePtr Text) {
  return std::make_unique<TMimeToBin>(std::move(Text));
}

TVEXExprNodePtr NewLastAutoIncNode(const std::string& /*SessionName*/,
                                   const std::string& /*DatabaseName*/,
                                   const std::string& TableName, const std::string& ColumnName,
                                   bool InMemory) {
  return std::make_unique<TVEXExprNodeSystem>(doLASTAUTOINC, TableName, ColumnName, InMemory);
}

}  // namespace vex
