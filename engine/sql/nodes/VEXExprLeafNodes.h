// The leaves of an expression tree that read no table: the constant and the
// row counter ROWNUM.
//
// A constant's value is the node's Value, filled by whoever built the node;
// evaluating it returns that value itself, never a copy.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sql/nodes/VEXExprNode.h"

namespace vex {

class TVEXExprNodeConst : public TVEXExprNode {
 public:
  using TVEXExprNode::TVEXExprNode;

  TVEXVariant& GetDataValue() override { return Value; }
  // The advanced type of the value's storage type; a null constant keeps the
  // storage type it was given.
  TVEXAdvancedFieldType GetDataType() override;
  // Characters of an 8-bit text, twice the characters of a wide text, else 0
  // (also for a null value).
  int32_t GetDataSize() override;
  bool CanBeAssigned(TVEXAO*, TVEXAO*, TVEXCursor*, bool) override { return true; }

  // True for a text of at least two characters whose first '%' is its last
  // character ('abc%'): such a LIKE can become a prefix comparison.
  bool IsLikePatternEqualToPartialComparePattern() const;
  // Drops the last character (the trailing '%'), keeping 8-bit or wide text.
  void TruncateForPartialCompare();
  // False for a value that is not text; else whether the text equals its upper-
  // (lower-) case form.
  bool IsUpperCase() const;
  bool IsLowerCase() const;
};

// What LASTAUTOINC reads of the table it names: the table, opened read-only
// when the node is made, kept open until the node is freed.
class TVEXLastAutoincTable {
 public:
  virtual ~TVEXLastAutoincTable() = default;
  // The declared type of the column; aftUnknown when the table has none.
  virtual TVEXAdvancedFieldType FindFieldType(const std::string& ColumnName) = 0;
  // The last autoincrement value the session generated or stored for it.
  virtual int64_t LastAutoincValue(const std::string& ColumnName) = 0;
};

// The system values ROWNUM and LASTAUTOINC.
//
// ROWNUM: every evaluation of the same node gives the next number, starting
// at 1, for whatever row and in whatever clause.
// LASTAUTOINC: the table's last autoincrement value of the column, as a
// 64-bit integer; the node's type is the column's.
class TVEXExprNodeSystem : public TVEXExprNode {
 public:
  // For LASTAUTOINC opens the table read-only through the table component
  // (which is not built yet: rtl::EInvalidOperation until it is).
  TVEXExprNodeSystem(TVEXDataOperator Op, const std::string& SessionName,
                     const std::string& DatabaseName, const std::string& TableName,
                     const std::string& ColumnName, bool InMemory);
  // The same in the session and database of the expression's own default.
  TVEXExprNodeSystem(TVEXDataOperator Op, const std::string& TableName,
                     const std::string& ColumnName, bool InMemory)
      : TVEXExprNodeSystem(Op, "", "", TableName, ColumnName, InMemory) {}
  // LASTAUTOINC over a table already opened. Raises 30337 "Field '%s' not
  // found" when the table has no such column.
  TVEXExprNodeSystem(TVEXDataOperator Op, std::unique_ptr<TVEXLastAutoincTable> Table,
                     const std::string& TableName, const std::string& ColumnName, bool InMemory);

  // ROWNUM: the counter plus one, as a 32-bit integer (rtl::EIntOverflow past
  // its range); LASTAUTOINC: the table's value. Raises 30338 "Unknown
  // operator: '%s'" for any other operator.
  TVEXVariant& GetDataValue() override;
  TVEXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override { return 0; }

  std::string FTableName;
  std::string FColumnName;
  bool FInMemory;
  std::unique_ptr<TVEXLastAutoincTable> FTable;
  TVEXAdvancedFieldType FFieldType = aftUnknown;
  int32_t FRowNumValue = 0;
};

// MIMETOBIN: its one operand, read as 8-bit Base64 text (null as empty text),
// decoded into a BLOB value of its own (no bytes: a BLOB value without data,
// which reads as null). Declared as text without a size, as
// the statements that store it convert it to the target column's type.
class TVEXExprNodeBlob : public TVEXExprNode {
 public:
  TVEXExprNodeBlob(TVEXExprNodePtr Node);

  // Raises what the Base64 decoder raises for text that is not Base64.
  TVEXVariant& GetDataValue() override;
  TVEXAdvancedFieldType GetDataType() override { return aftString; }
  int32_t GetDataSize() override { return 0; }
};

// 8-bit text in upper or lower case through the locale's case mapping of its
// Unicode form; wide text through the engine's wide case mapping.
std::string AnsiTextUpperCase(const std::string& Text);
std::string AnsiTextLowerCase(const std::string& Text);

}  // namespace vex
