// The relational operators that execute a SELECT plan, and the select-list
// item they are configured with.
//
// For now this holds what expression nodes need of an operator: the lookup of
// a column by name, its description and its value in the current row. The
// operators themselves (table, join, set, grouping, top-row) derive from
// TVEXAO and answer these lookups from their column links.
//
// Threads: an operator and its expressions are used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/VEXFieldTypes.h"

namespace vex {

class TVEXExpression;
class TVEXVariant;

// One item of a select list, GROUP BY list or join column list.
struct TVEXSelectListItem {
  std::string TableName;
  // The item is "*" or "t.*".
  bool AllFields = false;
  // Empty for a computed item.
  std::string FieldName;
  bool IsExpression = false;
  bool IsDuplicatedField = false;
  // The computed value; nullptr for a plain column. Not owned here.
  TVEXExpression* ValueExpr = nullptr;
  // The alias given with AS, or empty.
  std::string Pseudonym;
};

class TVEXAO {
 public:
  virtual ~TVEXAO() = default;

  // The number of output columns that FieldName (qualified by TableName when
  // it is not empty) names; their column numbers, in column order, are
  // appended to FieldNumbers when it is given. Unhide makes the matches
  // visible (along the path down when UnhideChildrenOnly is not set);
  // ScanOnlyVisibleFields looks at visible columns only.
  virtual int32_t FieldExists(const std::string& FieldName, const std::string& TableName,
                              bool Unhide, std::vector<int32_t>* FieldNumbers,
                              bool UnhideChildrenOnly, bool ScanOnlyVisibleFields) = 0;
  // The operator's own name of column ColumnNo.
  virtual std::string GetFieldNameByColumnNo(int32_t ColumnNo) = 0;
  // Column descriptions; a number outside the columns raises.
  virtual TVEXAdvancedFieldType GetFieldType(int32_t FieldNo) = 0;
  virtual int32_t GetFieldSize(int32_t FieldNo) = 0;
  virtual int32_t GetFieldPrecision(int32_t FieldNo) = 0;
  // Column FieldNo of the current row into Value (a copy with bCopy); hidden
  // columns are read only with AccessToHidden.
  virtual void GetFieldValue(TVEXVariant& Value, int32_t FieldNo, bool bCopy,
                             bool AccessToHidden) = 0;
};

}  // namespace vex
