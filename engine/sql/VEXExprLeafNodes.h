// The leaves of an expression tree that read no table: the constant and the
// row counter ROWNUM.
//
// A constant's value is the node's Value, filled by whoever built the node;
// evaluating it returns that value itself, never a copy.
#pragma once

#include <cstdint>
#include <string>

#include "sql/VEXExprNode.h"

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

// ROWNUM: every evaluation of the same node gives the next number, starting at
// 1, for whatever row and in whatever clause. LASTAUTOINC, the other system
// value, reads a table's state and is built with the table component.
class TVEXExprNodeSystem : public TVEXExprNode {
 public:
  TVEXExprNodeSystem(TVEXDataOperator Op, const std::string& TableName,
                     const std::string& ColumnName, bool InMemory);

  // ROWNUM: the counter plus one, as a 32-bit integer (rtl::EIntOverflow past
  // its range). Raises 30338 "Unknown operator: '%s'" for any other operator.
  TVEXVariant& GetDataValue() override;
  TVEXAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override { return 0; }

  std::string FTableName;
  std::string FColumnName;
  bool FInMemory;
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
