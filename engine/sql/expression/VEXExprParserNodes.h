// The node classes the grammar builds beyond the conditions and values: the
// aggregate (sql/nodes/VEXExprAggregate.h) and subquery nodes
// (sql/nodes/VEXExprSubquery.h).
//
// The column reference, MIMETOBIN and LASTAUTOINC are made through the
// functions below, so that the grammar, Locate and the single comparison name
// those node classes in one place.
#pragma once

#include <memory>
#include <string>

#include "sql/nodes/VEXExprAggregate.h"
#include "sql/nodes/VEXExprNode.h"
#include "sql/nodes/VEXExprSubquery.h"

namespace db {
class TDataSet;
}

namespace vex {

class TVEXLexer;
class TVEXCursor;

// A column reference on Cursor (nullptr in SQL, bound later) named FieldName,
// qualified by TableName (empty when none).
TVEXExprNodePtr NewColumnNode(TVEXCursor* Cursor, const std::string& FieldName,
                              const std::string& TableName);
bool IsColumnNode(const TVEXExprNode* Node);
// The column's table and field name; false for another node.
bool ColumnNodeNames(const TVEXExprNode* Node, std::string& TableName, std::string& FieldName);
// MIMETOBIN over the constant holding the text.
TVEXExprNodePtr NewMimeToBinNode(TVEXExprNodePtr Text);
// LASTAUTOINC of a table's column, in the expression's session and database.
TVEXExprNodePtr NewLastAutoIncNode(const std::string& SessionName, const std::string& DatabaseName,
                                   const std::string& TableName, const std::string& ColumnName,
                                   bool InMemory);

}  // namespace vex
