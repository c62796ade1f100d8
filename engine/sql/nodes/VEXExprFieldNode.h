// The column reference of an expression tree, and the rules by which the
// comparison and index-scan code recognises columns and constants.
//
// A column node names a column (optionally qualified by a table name or
// alias) and, once bound, reads it from one of three places:
//   - a record buffer of a table cursor (AssignCursor, then AssignCursorBuffer
//     before each evaluation): the value points at the field's bytes in the
//     buffer, nothing is copied or allocated per record; only CLOB columns are
//     read in full through a BLOB stream;
//   - the current row of a relational operator (AssignAO): the value is a copy
//     that the operator hands out;
//   - the outer query of a correlated subquery (FGetFromParent): such a node
//     follows the outer record, which AssignCursorBuffer moves separately.
//
// Design notes
//   1. CanBeAssigned decides FGetFromParent and FScanOnlyVisibleFieldsInAO;
//      the binding that follows relies on them.
//   2. A value read from a record buffer is valid while that buffer holds the
//      record and until the node is evaluated again.
//   3. A node bound to a cursor keeps LCursor; the cursor must outlive every
//      evaluation of the node.
//
// Threads: a tree is used by one thread at a time; a CLOB read briefly
// replaces the cursor's current record buffer, so nothing else may use that
// cursor during an evaluation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sql/nodes/VEXExprNode.h"

namespace vex {

class TVEXStream;

class TVEXExprNodeField : public TVEXExprNode {
 public:
  // Case-insensitive, no partial key, unbound; with a Cursor bound to it at
  // once (AssignCursor (Cursor, nullptr, nullptr)).
  TVEXExprNodeField(TVEXCursor* Cursor, const std::string& FieldName, const std::string& TableName);

  // Whether the column can be found in AO (exactly one match), else in the
  // outer query's operator or cursor (which sets FGetFromParent).
  bool CanBeAssigned(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor,
                     bool ForHavingClause) override;
  // Binds to the first matching column of AOToAssign; False for nullptr or no
  // match.
  bool TryAssignAO(TVEXAO* AOToAssign);
  // Binds to AO, else to the outer operator, else (outer-query column) to the
  // outer cursor. Raises 30197 "Field '%s' not found" (table.column) when
  // nothing was bound.
  void AssignAO(TVEXAO* AO, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;
  // The field number of the column in Cursor's field definitions, by the
  // column's name among the table's fields and then the visible ones, and
  // then likewise by its name in the operator it was last bound to.
  bool FindFieldInCursor(TVEXCursor* Cursor, int32_t& FieldNo);
  // Raises 30202 "Value is Null" for a nullptr Cursor and 30115 "Field '%s'
  // not found" when the column is in neither cursor nor the outer operator.
  // Points the node at the bound cursor's current record buffer.
  void AssignCursor(TVEXCursor* Cursor, TVEXAO* ParentQueryAO, TVEXCursor* ParentCursor) override;
  // Takes Buffer only when ApplyToParentQueryFields equals FGetFromParent.
  void AssignCursorBuffer(uint8_t* Buffer, bool ApplyToParentQueryFields) override;
  // The column's value (design note 2). Raises 30196 "Dataset and AO not
  // assigned" without a record buffer and without an operator binding.
  TVEXVariant& GetDataValue() override;
  // Raises 30284 "Cannot determine expression type" when unbound or when the
  // column's type is unknown.
  TVEXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override { return FFieldSize; }
  // Copies the table and column name into Item (join column lists).
  void FillItem(TVEXSelectListItem& Item) const;
  // Redirects a reference to a select-list alias to the aliased column.
  void ReplacePseudonyms(std::vector<TVEXSelectListItem>& SelectList) override;
  // Whether the column's name (ASCII case ignored) is one of GroupByFields.
  bool CanBeUsedInGroupBy(const std::string& GroupByFields) override;

  const std::string& TableName() const { return FTableName; }
  const std::string& FieldName() const { return FFieldName; }
  int32_t FieldNo() const { return FFieldNo; }
  int32_t FieldSize() const { return FFieldSize; }
  TVEXBaseFieldType BaseFieldType() const { return FBaseFieldType; }
  TVEXCursor* Cursor() const { return LCursor; }
  TVEXAO* AO() const { return LAO; }
  bool GetFromParent() const { return FGetFromParent; }

 private:
  // The whole CLOB of field FFieldNo in the record of LRecordBuffer, as
  // bytes, read through a BLOB stream of the bound cursor, which stands on
  // that buffer meanwhile.
  std::string ReadClobBytes();

  TVEXCursor* LCursor = nullptr;
  TVEXAO* LAO = nullptr;
  uint8_t* LRecordBuffer = nullptr;
  std::string FTableName;
  std::string FFieldName;
  std::string FFieldNameInAO;
  int32_t FFieldNo = -1;
  int32_t FFieldOffsetInBuffer = 0;
  TVEXAdvancedFieldType FFieldType = aftUnknown;
  TVEXBaseFieldType FBaseFieldType = bftUnknown;
  int32_t FFieldSize = 0;
  int32_t FFieldPrecision = 0;
  bool FGetFromParent = false;
  bool FScanOnlyVisibleFieldsInAO = false;
};

// A column of the current query, or UPPER or LOWER of one: the column side of
// a comparison that an index may serve.
bool CanUseNodeAsField(const TVEXExprNode* Node);
// A constant, or a column of the outer query (a fixed value for one
// evaluation of a correlated subquery).
bool CanUseNodeAsConst(const TVEXExprNode* Node);
// Writes Value as the key value of Cursor's field FieldNo into ScanCondition's
// key buffer (a null Value sets the field's null bit), counts the key column
// and records Expression and Node, which the expression takes out of its tree
// while the index guarantees it. Raises 20056 "Buffer size exceeded" for a
// value longer than the field (as the cursor's SetFieldValue does).
void AddKeyValueToCondition(TVEXVariant& Value, TVEXCursor& Cursor,
                            TVEXScanSearchCondition& ScanCondition, TVEXBaseExpression* Expression,
                            TVEXExprNode* Node, int32_t FieldNo);

}  // namespace vex
