#include "sql/expression/VEXExprParserNodes.h"

#include "foundation/VEXExcept.h"
#include "sql/nodes/VEXExprFieldNode.h"
#include "sql/nodes/VEXExprLeafNodes.h"

namespace vex {

TVEXExprNodePtr NewColumnNode(TVEXCursor* Cursor, const std::string& FieldName,
                              const std::string& TableName) {
  return std::make_unique<TVEXExprNodeField>(Cursor, FieldName, TableName);
}

bool IsColumnNode(const TVEXExprNode* Node) {
  return dynamic_cast<const TVEXExprNodeField*>(Node) != nullptr;
}

bool ColumnNodeNames(const TVEXExprNode* Node, std::string& TableName, std::string& FieldName) {
  const auto* field = dynamic_cast<const TVEXExprNodeField*>(Node);
  if (!field) return false;
  TableName = field->TableName();
  FieldName = field->FieldName();
  return true;
}

TVEXExprNodePtr NewMimeToBinNode(TVEXExprNodePtr Text) {
  return std::make_unique<TVEXExprNodeBlob>(std::move(Text));
}

TVEXExprNodePtr NewLastAutoIncNode(const std::string& SessionName, const std::string& DatabaseName,
                                   const std::string& TableName, const std::string& ColumnName,
                                   bool InMemory) {
  return std::make_unique<TVEXExprNodeSystem>(doLASTAUTOINC, SessionName, DatabaseName, TableName,
                                              ColumnName, InMemory);
}

}  // namespace vex
